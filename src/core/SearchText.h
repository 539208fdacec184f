#pragma once

#include <QStringView>

#include <string>
#include <vector>

// The text the find compares: letter case, accents and apostrophes are dropped, so that "forli" finds "Forlì" and
// "dangelo" finds "D'Angelo"; phone columns keep their digits only. Kept as UTF-8 bytes, which halves the memory of
// a key per row and lets a plain byte search find a word.
namespace SearchText {

// Appends text folded: case folded, accents and apostrophes removed.
void appendFolded(std::string& out, QStringView text);
// Appends the digits of text, nothing else.
void appendDigits(std::string& out, QStringView text);
// The words of what the user typed, each folded. A word made of digits and phone punctuation only ("(333)",
// "123-4567") keeps its digits, so it matches a number whatever its layout; several such words in a row make one.
std::vector<std::string> words(QStringView typed);

} // namespace SearchText

#pragma once

#include <QString>

class TextBox;

// True while code fills or clears the main window's fields: the fields then hand no focus on.
extern bool gblnPopulating;

// The application folder with exactly one trailing separator.
QString GetAppPath();
// The rule behind it: a folder ending in "\" or "/" is returned unchanged, any other gets the separator it uses.
QString withTrailingSeparator(const QString& folder);

void SelectTextBoxText(TextBox* textBox);
// The code itself for a digit or a control code, else 0.
int ValidKey(int keyAscii);
// Gives the focus to txtNext when txtCurrent holds exactly its maximum length of text.
void TabToNextTextBox(TextBox* txtCurrent, TextBox* txtNext);

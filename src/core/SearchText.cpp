#include "core/SearchText.h"

#include <QString>

#include <array>
#include <memory>

namespace {

constexpr char16_t kDrop = 0xffff;
constexpr char16_t kUnknown = 0;

bool isApostrophe(char16_t c)
{
    return c == u'\'' || c == u'`' || c == 0x00b4 || c == 0x2018 || c == 0x2019 || c == 0x02bc;
}

char16_t foldOne(char16_t code)
{
    if (isApostrophe(code))
        return kDrop;
    QChar c(code);
    // "ì" is "i" plus a grave accent; ǖ takes two steps to its base letter.
    while (c.decompositionTag() == QChar::Canonical) {
        const QString parts = c.decomposition();
        if (parts.isEmpty() || parts.at(0).isSurrogate())
            break;
        c = parts.at(0);
    }
    if (c.category() == QChar::Mark_NonSpacing)
        return kDrop;
    const char16_t folded = c.toCaseFolded().unicode();
    return folded == kUnknown || folded == kDrop ? code : folded;
}

// Each code unit is folded once per process, on first sight.
char16_t fold(char16_t code)
{
    static const auto table = std::make_unique<std::array<char16_t, 0x10000>>();
    char16_t& entry = (*table)[code];
    if (entry == kUnknown)
        entry = foldOne(code);
    return entry;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xc0 | (c >> 6));
        out += char(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += char(0xe0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    } else {
        out += char(0xf0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3f));
        out += char(0x80 | ((c >> 6) & 0x3f));
        out += char(0x80 | (c & 0x3f));
    }
}

bool isPhonePunctuation(char16_t c)
{
    return c == u'(' || c == u')' || c == u'-' || c == u'/' || c == u'.' || c == u'+';
}

} // namespace

namespace SearchText {

void appendFolded(std::string& out, QStringView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            if (c >= u'A' && c <= u'Z')
                out += char(c + 32);
            else if (c != u'\'' && c != u'`' && c >= 0x20)
                out += char(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(c, text[i + 1].unicode()));
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c))
            continue;
        const char16_t folded = fold(c);
        if (folded != kDrop)
            appendUtf8(out, folded);
    }
}

void appendDigits(std::string& out, QStringView text)
{
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9')
            out += char(c.unicode());
    }
}

std::vector<std::string> words(QStringView typed)
{
    std::vector<std::string> result;
    // Words in a row that are all number ("(333) 123-4567", "333 1234") are one number, typed as it is written.
    bool previousWasNumber = false;
    qsizetype i = 0;
    const qsizetype n = typed.size();
    while (i < n) {
        while (i < n && (typed[i].isSpace() || typed[i].unicode() < 0x20))
            ++i;
        const qsizetype start = i;
        while (i < n && !typed[i].isSpace() && typed[i].unicode() >= 0x20)
            ++i;
        if (i == start)
            continue;
        const QStringView word = typed.mid(start, i - start);
        bool digits = false;
        bool phoneLike = true;
        for (const QChar c : word) {
            if (c >= u'0' && c <= u'9')
                digits = true;
            else if (!isPhonePunctuation(c.unicode()))
                phoneLike = false;
        }
        const bool number = digits && phoneLike;
        std::string folded;
        if (number)
            appendDigits(folded, word);
        else
            appendFolded(folded, word);
        if (number && previousWasNumber)
            result.back() += folded;
        else if (!folded.empty())
            result.push_back(std::move(folded));
        previousWasNumber = number;
    }
    return result;
}

} // namespace SearchText

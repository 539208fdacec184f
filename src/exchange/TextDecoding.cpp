#include "exchange/TextDecoding.h"

#include <QStringDecoder>

#include <optional>

namespace {

// 0x80..0x9F of Windows-1252; the rest of the page is Latin-1.
const char16_t kHighControls[32]
    = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool decodesAs(QStringConverter::Encoding encoding, const QByteArray& bytes, QString* text)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

// UTF-16 without a byte-order mark, told by its zero bytes: text in a Latin script has a zero in the high byte of
// nearly every character, and UTF-8 or Windows-1252 text has none at all.
std::optional<QStringConverter::Encoding> unmarkedUtf16(const QByteArray& bytes)
{
    const qsizetype n = std::min<qsizetype>(bytes.size() & ~qsizetype(1), 4096);
    if (n < 4 || !bytes.contains('\0')) {
        return std::nullopt;
    }
    qsizetype evenZeros = 0;
    qsizetype oddZeros = 0;
    for (qsizetype i = 0; i < n; i += 2) {
        evenZeros += bytes.at(i) == '\0';
        oddZeros += bytes.at(i + 1) == '\0';
    }
    const qsizetype pairs = n / 2;
    if (oddZeros * 2 > pairs && evenZeros * 8 < pairs) {
        return QStringConverter::Utf16LE;
    }
    if (evenZeros * 2 > pairs && oddZeros * 8 < pairs) {
        return QStringConverter::Utf16BE;
    }
    return std::nullopt;
}

} // namespace

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const uchar b = uchar(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(kHighControls[b - 0x80]) : QChar(b);
    }
    return text;
}

QString decodeText(const QByteArray& bytes)
{
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        const QByteArray rest = bytes.mid(3);
        return decodesAs(QStringConverter::Utf8, rest, &text) ? text : fromWindows1252(rest);
    }
    if (bytes.startsWith("\xFF\xFE") && decodesAs(QStringConverter::Utf16LE, bytes.mid(2), &text)) {
        return text;
    }
    if (bytes.startsWith("\xFE\xFF") && decodesAs(QStringConverter::Utf16BE, bytes.mid(2), &text)) {
        return text;
    }
    if (const auto utf16 = unmarkedUtf16(bytes); utf16 && decodesAs(*utf16, bytes, &text)) {
        return text;
    }
    return decodesAs(QStringConverter::Utf8, bytes, &text) ? text : fromWindows1252(bytes);
}

QString decodeCharset(const QByteArray& bytes, const QString& charset)
{
    const QString name = charset.trimmed().toLower();
    if (name == QLatin1String("utf-8") || name == QLatin1String("utf8") || name.isEmpty()) {
        return decodeText(bytes);
    }
    // Latin-1 is Windows-1252 without the printable 0x80..0x9F, which real files labelled Latin-1 use anyway.
    if (name == QLatin1String("iso-8859-1") || name == QLatin1String("latin1") || name == QLatin1String("latin-1")
        || name == QLatin1String("windows-1252") || name == QLatin1String("cp1252") || name == QLatin1String("ascii")
        || name == QLatin1String("us-ascii")) {
        return fromWindows1252(bytes);
    }
    QStringDecoder decoder(name.toLatin1().constData(), QStringConverter::Flag::Stateless);
    if (decoder.isValid()) {
        const QString text = decoder.decode(bytes);
        if (!decoder.hasError()) {
            return text;
        }
    }
    return decodeText(bytes);
}

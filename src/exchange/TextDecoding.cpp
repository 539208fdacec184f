#include "TextDecoding.h"

#include <QStringDecoder>

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

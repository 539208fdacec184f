#pragma once

#include <QByteArray>
#include <QString>

// Text of a file as the programs that write contacts encode it: UTF-8 (with or without a byte-order mark), UTF-16
// with its mark, and anything that is not valid UTF-8 read as Windows-1252, as older programs wrote it.
QString decodeText(const QByteArray& bytes);

// Bytes in a named character set ("UTF-8", "ISO-8859-1", "windows-1252", ...); an unknown or empty name, or bytes
// that are not valid in it, fall back to the rule of decodeText().
QString decodeCharset(const QByteArray& bytes, const QString& charset);

// Windows-1252 bytes as text; the five unassigned bytes become the control characters of the same number.
QString fromWindows1252(const QByteArray& bytes);

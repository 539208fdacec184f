#include "exchange/ContactFile.h"

#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/SystemText.h"
#include "exchange/Csv.h"
#include "exchange/TextDecoding.h"
#include "exchange/VCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace {

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

ContactFormat formatOfPath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("vcf") || suffix == QLatin1String("vcard")) {
        return ContactFormat::VCard;
    }
    if (suffix == QLatin1String("csv")) {
        return ContactFormat::Csv;
    }
    return ContactFormat::Unknown;
}

DecodedContactFile openContactFile(const QString& path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir()) {
        throw ado::Error(QStringLiteral("'%1' è una cartella, non un file di contatti.").arg(shown(path)));
    }
    // Opening a pipe waits for a writer that may never come; a device may never end.
    if (info.exists() && !info.isFile()) {
        throw ado::Error(QStringLiteral("'%1' non è un file normale (è una pipe, un dispositivo o un socket): non "
                                        "viene letto come file di contatti.")
                             .arg(shown(path)));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw ado::Error(
            QStringLiteral("Impossibile leggere il file '%1': %2.").arg(shown(path), SystemText::fileError(file)));
    }
    if (file.size() > kLargestContactFile) {
        // In tenths of a megabyte rounded up, so that a file just over the limit never reads as the limit itself.
        const double megabytes = std::ceil(double(file.size()) * 10 / (1024 * 1024)) / 10;
        throw ado::Error(
            QStringLiteral("Il file '%1' è troppo grande (%2 MB) per essere una rubrica: il massimo è %3 MB.")
                .arg(shown(path),
                     QLocale(QLocale::Italian, QLocale::Italy)
                         .toString(megabytes, 'f', megabytes == std::floor(megabytes) ? 0 : 1))
                .arg(kLargestContactFile / (1024 * 1024)));
    }
    // As much as the file holds, not the limit: read(n) sets aside n bytes whatever the file's size.
    QByteArray bytes = file.read(std::min(file.size(), kLargestContactFile) + 1);
    if (file.error() != QFileDevice::NoError) {
        throw ado::Error(
            QStringLiteral("Impossibile leggere il file '%1': %2.").arg(shown(path), SystemText::fileError(file)));
    }
    file.close();
    DecodedContactFile reading;
    reading.path = path;
    reading.format = formatOfPath(path);
    QString& text = reading.text;
    text = reading.format == ContactFormat::VCard ? vCardText(bytes) : decodeText(bytes);
    if (reading.format == ContactFormat::Unknown) {
        reading.format = holdsVCards(text) ? ContactFormat::VCard : ContactFormat::Csv;
        if (reading.format == ContactFormat::VCard) {
            text = QString(); // not held beside the text that replaces it
            text = vCardText(bytes);
        }
    }
    // The text is all that is read from now on: the bytes need not stay in memory beside it.
    bytes = QByteArray();
    if (reading.format == ContactFormat::VCard) {
        if (!holdsVCards(text)) {
            throw ado::Error(QStringLiteral("Il file '%1' non contiene schede vCard (BEGIN:VCARD).").arg(shown(path)));
        }
    } else {
        bool understood = false;
        try {
            understood = checkCsv(text);
        } catch (const CsvTooWide& wide) {
            throw ado::Error(QStringLiteral("Il file '%1' ha più di %2 colonne alla riga %3: non è una rubrica che il "
                                            "programma possa leggere.")
                                 .arg(shown(path))
                                 .arg(QLocale(QLocale::Italian, QLocale::Italy).toString(kMostCsvColumns))
                                 .arg(wide.line));
        }
        if (!understood) {
            throw ado::Error(QStringLiteral("Il file '%1' non ha una riga di intestazione con colonne riconosciute. "
                                            "Intestazioni comprese: %2.")
                                 .arg(shown(path), understoodHeadings().join(QLatin1String(", "))));
        }
    }
    return reading;
}

bool DecodedContactFile::forEachContact(const std::function<bool(const ReadContact&, qsizetype)>& contact,
                                        QList<int>& unreadable,
                                        QStringList& unusedColumns) const
{
    if (format == ContactFormat::VCard) {
        return forEachVCardContact(text, contact, unreadable);
    }
    return forEachCsvContact(text, contact, unreadable, unusedColumns);
}

FileReading readContactFile(const QString& path)
{
    const DecodedContactFile file = openContactFile(path);
    FileReading reading;
    reading.path = file.path;
    reading.format = file.format;
    file.forEachContact(
        [&](const ReadContact& contact, qsizetype) {
            reading.result.contacts.append(contact);
            return true;
        },
        reading.result.unreadableLines,
        reading.result.unusedColumns);
    return reading;
}

bool writeContactFile(const QString& path, const QList<ExportContact>& contacts, const Progress& progress)
{
    const ContactFormat format = formatOfPath(path);
    if (format == ContactFormat::Unknown) {
        throw ado::Error(QStringLiteral("Formato non riconosciuto per '%1': il nome del file deve terminare in .vcf "
                                        "(vCard) o .csv (CSV).")
                             .arg(shown(path)));
    }
    const QByteArray bytes
        = format == ContactFormat::VCard ? writeVCards(contacts, progress) : writeCsv(contacts, progress);
    if (bytes.isEmpty() && !contacts.isEmpty()) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw ado::Error(
            QStringLiteral("Impossibile scrivere il file '%1': %2.").arg(shown(path), SystemText::fileError(file)));
    }
    const bool whole = file.write(bytes) == bytes.size();
    // A full disk shortens the write without an error of its own ("Unknown error").
    if (!whole || !file.commit()) {
        const QString reason = !whole && file.error() == QFileDevice::NoError
            ? SystemText::fileError(QFileDevice::ResourceError, qt_error_string(ENOSPC))
            : SystemText::fileError(file);
        file.cancelWriting();
        throw ado::Error(QStringLiteral("Impossibile scrivere il file '%1': %2.").arg(shown(path), reason));
    }
    return true;
}

QList<ExportContact> storedContacts(CustomerStore& store)
{
    // A contact another program added since the book was opened gets its UID now, kept for the next export and sync;
    // a book that cannot be written is exported all the same, such a contact with a UID of this export alone.
    try {
        ContactCards::prepare(store);
    } catch (const ado::Error&) {
    }
    const QHash<qint32, ContactCard> cards = ContactCards::loadAll(store);

    RecordsetRelease release {store};
    QList<ExportContact> contacts;
    ado::Recordset& rs = store.openQuery(ListQuery());
    while (!rs.isEOF()) {
        const qint32 key = rs.Fields(7).toInt();
        const ContactCard card = cards.value(key);
        contacts.append(
            {contactFieldsAt(rs), key, card.card, card.isNull() ? ContactCards::newUid() : card.uid, card.agreement});
        rs.MoveNext();
    }
    return contacts;
}

QString exportSummary(qsizetype count, const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    if (count == 1) {
        return QStringLiteral("Esportato 1 contatto in %1.").arg(name);
    }
    return QStringLiteral("Esportati %1 contatti in %2.").arg(count).arg(name);
}

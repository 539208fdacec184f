#include "data/SystemText.h"

#include <cerrno>

namespace {

struct Known
{
    int code;
    const char* italian;
};

// The errors a user meets with files: a full disk, a missing folder, a read-only drive, no permission.
const Known kErrnos[] = {
    {ENOENT, "file o cartella inesistente"},
    {EACCES, "permesso negato"},
    {EPERM, "operazione non permessa"},
    {ENOSPC, "spazio esaurito sul disco"},
#ifdef EDQUOT
    {EDQUOT, "spazio a disposizione dell'utente esaurito"},
#endif
    {EROFS, "disco in sola lettura"},
    {EISDIR, "è una cartella"},
    {ENOTDIR, "una parte del percorso non è una cartella"},
    {ENAMETOOLONG, "nome troppo lungo"},
    {EMFILE, "troppi file aperti"},
    {ENFILE, "troppi file aperti nel sistema"},
    {EIO, "errore del disco"},
    {EEXIST, "il file esiste già"},
    {EFBIG, "file troppo grande"},
    {EBUSY, "file in uso"},
    {ENXIO, "dispositivo non disponibile"},
    {ENODEV, "dispositivo non disponibile"},
    {ELOOP, "troppi collegamenti simbolici"},
};

// SQLite's primary result codes.
const Known kSqlite[] = {
    {3, "permesso negato"},
    {5, "la rubrica è occupata da un altro programma"},
    {6, "la rubrica è bloccata"},
    {7, "memoria esaurita"},
    {8, "file in sola lettura"},
    {10, "errore del disco"},
    {11, "il file è danneggiato"},
    {13, "spazio esaurito sul disco"},
    {14, "impossibile aprire il file"},
    {22, "file troppo grande"},
    {23, "permesso negato"},
    {26, "il file non è un database"},
};

QString withSystemText(const QString& italian, const QString& systemText)
{
    const QString text = systemText.trimmed();
    if (text.isEmpty() || text == QLatin1String("Unknown error") || text == italian) {
        return italian;
    }
    return italian + QStringLiteral(" (") + text + QLatin1Char(')');
}

// For a system text that names no cause ("Unknown error"), what the failed operation was.
QString byKind(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::ReadError:
        return QStringLiteral("errore di lettura");
    case QFileDevice::WriteError:
        return QStringLiteral("errore di scrittura (il disco potrebbe essere pieno)");
    case QFileDevice::ResourceError:
        return QStringLiteral("risorse esaurite (il disco potrebbe essere pieno)");
    case QFileDevice::OpenError:
        return QStringLiteral("impossibile aprire il file");
    case QFileDevice::PermissionsError:
        return QStringLiteral("permesso negato");
    case QFileDevice::RenameError:
        return QStringLiteral("impossibile rinominare il file");
    case QFileDevice::RemoveError:
        return QStringLiteral("impossibile eliminare il file");
    case QFileDevice::CopyError:
        return QStringLiteral("impossibile copiare il file");
    case QFileDevice::ResizeError:
        return QStringLiteral("impossibile cambiare la dimensione del file");
    case QFileDevice::AbortError:
        return QStringLiteral("operazione interrotta");
    case QFileDevice::TimeOutError:
        return QStringLiteral("tempo scaduto");
    default:
        return QStringLiteral("errore sconosciuto");
    }
}

} // namespace

namespace SystemText {

QString fileError(const QFileDevice& file)
{
    return fileError(file.error(), file.errorString());
}

QString fileError(QFileDevice::FileError error, const QString& systemText)
{
    // Qt words errno in English, or in the system's language; either way the same text as qt_error_string(),
    // alone or after what Qt was doing ("Cannot open destination file: No such file or directory").
    for (const Known& known : kErrnos) {
        const QString words = qt_error_string(known.code);
        if (systemText == words || systemText.endsWith(QStringLiteral(": ") + words)) {
            return withSystemText(QString::fromUtf8(known.italian), systemText);
        }
    }
    return withSystemText(byKind(error), systemText);
}

QString databaseError(const QSqlError& error)
{
    bool numeric = false;
    const int code = error.nativeErrorCode().toInt(&numeric) & 0xff;
    QString italian = QStringLiteral("errore del database");
    if (numeric) {
        for (const Known& known : kSqlite) {
            if (code == known.code) {
                italian = QString::fromUtf8(known.italian);
            }
        }
    }
    const QString system = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    return withSystemText(italian, system);
}

} // namespace SystemText

#include "core/BookBackup.h"

#include "core/AppInfo.h"
#include "data/DailyBackup.h"

#include <QDir>
#include <QTextStream>

// A copy that could not be made must not keep anyone from their contacts: it is only reported.
void backUpAddressBook(const QString& path)
{
    const DailyBackup::Result backup = DailyBackup::run(path, AppInfo::now().date());
    if (!backup.error.isEmpty()) {
        QTextStream(stderr) << AppInfo::title() << ": copia di sicurezza di " << QDir::toNativeSeparators(path)
                            << " non riuscita: " << backup.error << '\n';
    }
}

#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

// A copy of the address book a day, in a Backup folder beside it: Backup/Cust-2026-12-07.mdb, the newest ten kept.
// Each copy is SQLite's own consistent copy (VACUUM INTO), safe while another program uses the file.
namespace DailyBackup {

constexpr int kept = 10;

// The Backup folder beside databasePath.
QString folderFor(const QString& databasePath);

// The copies in folder, oldest first. Only names of the form Cust-YYYY-MM-DD.mdb with a real date count.
QStringList copiesIn(const QString& folder);

struct Result
{
    QString made; // path of the copy made, empty when none was due
    QString error; // why the copy or the clean-up failed, empty on success
};

// Copies databasePath when there is no copy dated today, then removes the oldest copies beyond kept. A copy dated
// later (a clock that was once wrong) does not stop the daily copies.
Result run(const QString& databasePath, const QDate& today);

} // namespace DailyBackup

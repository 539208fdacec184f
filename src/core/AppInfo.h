#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The application's identity, its folder and its clock. Folder and clock can be replaced for tests.
namespace AppInfo {

QString title(); // "Velmarin"
int major(); // 1
int minor(); // 0
int revision(); // 0

// The folder of the running program, as the platform reports it (no trailing separator).
QString folder();
// Points folder() elsewhere; an empty text restores the real folder.
void setFolderOverride(const QString& folder);

QDateTime now();
// Replaces the clock; an empty function restores the system clock.
void setClock(std::function<QDateTime()> clock);

} // namespace AppInfo

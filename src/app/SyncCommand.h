#pragma once

#include <QStringList>

class QTextStream;

// velmarin --sync [--accept-deletions] [URL]: the address book synced with its CardDAV address book without a window. A
// URL sets the server (and, with "https://user@server/", the user) and is kept for the next time; the password comes
// from VELMARIN_CARDDAV_PASSWORD or the keyring. A conflict is left for the window. A sync that would delete more than
// 10 contacts and more than a quarter of a side stops before deleting, unless --accept-deletions is given. Writes one
// line to out and returns 0, or writes the reason to err and returns 1 (2 for wrong arguments).
int runSyncCommand(QStringList arguments, QTextStream& out, QTextStream& err);

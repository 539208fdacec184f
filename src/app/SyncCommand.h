#pragma once

#include <QStringList>

class QTextStream;

// velmarin --sync [URL]: the address book synced with its CardDAV address book without a window. A URL sets the
// server (and, with "https://user@server/", the user) and is kept for the next time; the password comes from
// VELMARIN_CARDDAV_PASSWORD or the keyring. Conflicts keep both versions. Writes one line to out and returns 0, or
// writes the reason to err and returns 1 (2 for wrong arguments).
int runSyncCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

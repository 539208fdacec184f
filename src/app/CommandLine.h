#pragma once

#include <QStringList>

class CustomerStore;
class QTextStream;

namespace ado {
class Error;
}

// velmarin --import FILE..., velmarin --export FILE and velmarin --sync [URL]: the address book's contacts in and
// out without a window; --help and --version need no display either.

// True when the arguments ask for an import, an export or a sync; decided before any application object exists, so that
// such a run never needs a display.
bool isExchangeCommand(int argc, char** argv);

// A start that opens the window: the contact files given (existing files, in order), or the exit code when it must
// stop first: 2 with the usage on err for an unknown option or a missing file, 1 with one line on err when there is
// no display to open a window on (Qt would abort). A "--" ends the options.
struct WindowStart
{
    QStringList files;
    int exitCode = -1;
};
WindowStart windowStart(int argc, char** argv, QTextStream& err);

// Runs the command given by arguments (the program name excluded) on the Cust.mdb the window opens. Writes one line
// to out and returns 0 when it did what was asked; otherwise writes the reason to err and returns 1, or 2 when the
// arguments themselves are wrong.
int runExchangeCommand(const QStringList& arguments, QTextStream& out, QTextStream& err);

// The reason a command failed, on one line, as the command line tells it.
QString commandFailure(const ado::Error& error);
// Closes the store, writes that reason (and then, when given, what to do) to err; returns the exit code 1.
int commandFailed(CustomerStore& store, QTextStream& err, const ado::Error& error, const QString& then = {});

#pragma once

#include "data/ContactUndo.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

// The copies in Backup/ beside the book: listed, compared with the book, contacts brought back from one, or the whole
// book replaced by one. Every failure throws ado::Error with a description; nothing is changed then.
namespace BookRestore {

struct Copy
{
    QString path;
    QDate date;
    QDateTime modified;
    qint64 size = 0;
    int contacts = -1; // -1: the copy cannot be read
    bool beforeRestore = false; // saved by a restore, not a daily copy
};

// The copies of the book at bookPath, newest first: the daily ones and those saved before a restore.
QList<Copy> copies(const QString& bookPath);

struct Difference
{
    enum Kind { DeletedSince, ChangedSince, AddedSince };
    Kind kind = DeletedSince;
    qint32 key = 0;
    ContactFields inCopy; // empty for a contact added since
    ContactFields inBook; // empty for a contact deleted since
};

// The contacts that differ between the copy and the book: those only the copy has, those whose fields or card
// changed, those only the book has; each group sorted by key. Both files are read once, neither is changed.
QList<Difference> compare(const QString& bookPath, const QString& copyPath);

// The contacts under keys as the copy holds them, ready for ContactUndo::bringBack().
QList<KeptContact> contactsOfCopy(const QString& copyPath, const QList<qint32>& keys);

// Replaces the book with the copy. The book as it is is first saved in Backup/ as
// Cust-YYYY-MM-DD-prima-del-ripristino.mdb (not one of the daily copies); then the copy is written beside the book
// and renamed over it, owner-only, so the book is either the old one or the whole copy. Refused while another program
// holds the book's write lock, and for a copy that is not a readable address book. Returns the path the old book was
// saved under.
QString replaceBook(const QString& bookPath, const QString& copyPath, const QDate& today);

// "2026-12-07, 1.234 contatti, 2,1 MB" and the like, for lists.
QString describe(const Copy& copy);

} // namespace BookRestore

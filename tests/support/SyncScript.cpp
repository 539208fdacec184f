#include "support/SyncScript.h"

#include "support/TestDatabase.h"

ContactFields fieldsOf(const QString& text)
{
    const QStringList p = text.split(QLatin1Char(';'));
    return {p.value(0), p.value(1), p.value(2), p.value(3), p.value(4), p.value(5), p.value(6)};
}

QString textOf(const ContactFields& f)
{
    return QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
        QLatin1Char(';'));
}

mkdb::ContactRow rowOf(int key, const QString& text)
{
    const ContactFields f = fieldsOf(text);
    return {key, f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber};
}

QStringList contactsOf(const TestDatabase& db)
{
    QStringList contacts;
    for (const QStringList& row : db.rows()) {
        contacts.append(row.mid(1).join(QLatin1Char(';')));
    }
    contacts.sort();
    return contacts;
}

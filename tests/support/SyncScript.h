#pragma once

#include "mkdb/CustDatabase.h"
#include "sync/ContactSync.h"

#include <QStringList>

class TestDatabase;

// A contact written as one line, "Cognome;Nome;Indirizzo;Città;PR;Cellulare;Telefono", as the sync tests compare
// books and servers.
ContactFields fieldsOf(const QString& text);
QString textOf(const ContactFields& fields);
mkdb::ContactRow rowOf(int key, const QString& text);
// The book's contacts as such lines, sorted.
QStringList contactsOf(const TestDatabase& db);

// Answers every conflict with one choice and keeps what it was asked ("here | server").
class ScriptedResolver : public ConflictResolver
{
public:
    explicit ScriptedResolver(ConflictChoice choice)
        : m_choice(choice)
    {
    }
    ConflictChoice resolve(const ContactFields& here, const ContactFields& server) override
    {
        asked.append(textOf(here) + QLatin1String(" | ") + textOf(server));
        return m_choice;
    }
    QStringList asked;

private:
    ConflictChoice m_choice;
};

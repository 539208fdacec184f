#pragma once

#include <QString>

// The exact SQL text the main window sends. Values are quoted with every ' doubled; keys are plain decimals.

struct ContactFields
{
    QString firstName; // "Cognome"
    QString lastName; // "Nome"
    QString address;
    QString city;
    QString state; // "PR"
    QString zip; // "Cellulare"
    QString phoneNumber; // stored digits
};

QString quoted(const QString& value); // value with every ' doubled (no surrounding quotes)

QString ListQuery();
QString KeyQuery();
QString InsertStatement(qint32 custId, const ContactFields& fields);
QString UpdateStatement(const ContactFields& fields, qint32 custId);
QString DeleteStatement(qint32 custId);

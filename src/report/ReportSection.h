#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <stdexcept>

// A stored report that cannot be read or laid out; description() is the text shown to the user.
class ReportError : public std::runtime_error
{
public:
    explicit ReportError(const QString& description);
    QString description() const { return m_description; }

private:
    QString m_description;
};

// One printed line of a section: up to three texts, aligned left, centred and right. Texts may hold the fields
// {title}, {date}, {app}, {count}, {page} and {pages}. A size of 0 means the report's own size.
struct ReportLine
{
    QString left;
    QString center;
    QString right;
    double pointSize = 0;
    bool bold = false;
};

// One column of the detail section: a field of the contact list query and its heading.
struct ReportColumn
{
    QString field;
    QString heading;
    double width = 1; // share of the printable width
    bool phone = false; // stored digits shown as phone text
};

// A band of the report. Header and footer sections print lines; the detail section prints one row per contact in
// its columns; the page header may repeat the detail section's column headings.
class ReportSection
{
public:
    explicit ReportSection(const QString& name)
        : m_name(name)
    {
    }

    QString Name() const { return m_name; }

    // Reads the section's settings; throws ReportError for a malformed entry.
    void load(const QJsonObject& json);

    QList<ReportLine> lines;
    QList<ReportColumn> columns;
    bool columnHeadings = false;
    bool ruleAbove = false;
    bool ruleBelow = false;
    double spaceBeforeMm = 0;
    double spaceAfterMm = 0;
    double paddingMm = 0;

private:
    QString m_name;
};

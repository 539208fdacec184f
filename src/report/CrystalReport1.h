#pragma once

#include "report/ReportSection.h"

#include <QFont>
#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QStringList>

class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

// One text or rule placed on a page, in the device's own units.
struct ReportItem
{
    QString section;
    QRectF rect;
    QString text; // empty for a rule
    QFont font;
    Qt::Alignment alignment = Qt::AlignLeft;
    bool rule = false;
};

struct ReportPage
{
    QList<ReportItem> items;

    // The texts placed by one section (all sections when empty), top to bottom and left to right.
    QStringList texts(const QString& section = {}) const;
};

// The stored report: a contact directory of the address book Cust.mdb (where DataLocation says). The definition
// (page, font and the five sections) is a document stored with the program; the data is read when the report is about
// to be shown.
class CrystalReport1
{
public:
    // Loads the stored definition; throws ReportError when it is missing or malformed.
    explicit CrystalReport1(const QString& definitionPath = QStringLiteral(":/reports/CrystalReport1.json"));
    ~CrystalReport1();
    CrystalReport1(const CrystalReport1&) = delete;
    CrystalReport1& operator=(const CrystalReport1&) = delete;

    ReportSection ReportHeaderSection1 {QStringLiteral("ReportHeaderSection1")};
    ReportSection PageHeaderSection1 {QStringLiteral("PageHeaderSection1")};
    ReportSection DetailSection1 {QStringLiteral("DetailSection1")};
    ReportSection PageFooterSection1 {QStringLiteral("PageFooterSection1")};
    ReportSection ReportFooterSection1 {QStringLiteral("ReportFooterSection1")};

    QString title() const { return m_title; }
    QPageLayout pageLayout() const { return m_pageLayout; }

    // Reads the contacts through the contact list query and orders them by the definition's sort fields.
    // Throws ado::Error when the database cannot be opened or read; the records read before are then dropped.
    void ReadRecords();
    bool hasRecords() const { return m_recordsRead; }
    // One row per contact: the detail columns' texts, in report order.
    const QList<QStringList>& records() const { return m_records; }

    // The pages as they would print on device. Empty until the records have been read.
    QList<ReportPage> layoutPages(const QPaintDevice* device) const;
    // Sets the report's page layout on an idle device and paints every page. Returns the number of pages, 0 when
    // there is nothing read yet or the device cannot be painted on.
    int render(QPagedPaintDevice* device) const;

    // Report objects made since the program started.
    static int createdCount();

private:
    void loadDefinition(const QString& definitionPath);
    static void paintPage(QPainter& painter, const ReportPage& page);

    QString m_title;
    QPageLayout m_pageLayout;
    QFont m_font;
    QStringList m_sortBy;
    QList<QStringList> m_records;
    bool m_recordsRead = false;
};

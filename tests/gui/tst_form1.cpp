#include "common/Twips.h"
#include "core/AppInfo.h"
#include "data/Ado.h"
#include "data/Contact.h"
#include "report/CRViewer91.h"
#include "report/CrystalReport1.h"
#include "report/Form1.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAction>
#include <QCollator>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

namespace {

mkdb::ContactRow contact(int id, const QVariant& surname, const QVariant& name, const QVariant& phone)
{
    return mkdb::ContactRow {id,
                             surname,
                             name,
                             QStringLiteral("Via Po %1").arg(id),
                             QStringLiteral("Torino"),
                             QStringLiteral("TO"),
                             QStringLiteral("333100%1").arg(id, 4, 10, QLatin1Char('0')),
                             phone};
}

// Given names run against the surnames, so the list query's own order is not the directory's.
QList<mkdb::ContactRow> fiveContacts()
{
    return {contact(1, QStringLiteral("Rossi"), QStringLiteral("Anna"), QStringLiteral("0451234567")),
            contact(2, QStringLiteral("Bianchi"), QStringLiteral("Zeno"), QStringLiteral("0212345678")),
            contact(3, QStringLiteral("Esposito"), QStringLiteral("Bruno"), QVariant()),
            contact(4, QStringLiteral("Colombo"), QStringLiteral("Ugo"), QStringLiteral("0698765432")),
            contact(5, QStringLiteral("D'Angelo"), QStringLiteral("Carla"), QStringLiteral("0811112222"))};
}

// The report as printed to a PDF and read back, one text per page.
QStringList printedPages(CrystalReport1& report, int* pagesRendered = nullptr)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    report.ReadRecords();
    const int pages = report.render(&printer);
    if (pagesRendered) {
        *pagesRendered = pages;
    }

    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0) {
        return {};
    }
    QStringList texts = QString::fromUtf8(pdftotext.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!texts.isEmpty() && texts.last().trimmed().isEmpty()) {
        texts.removeLast();
    }
    return texts;
}

const QRegularExpression kPhoneText(QStringLiteral("\\(\\d{3}\\) \\d{3}-\\d{4}"));

// The printed detail rows: surname (first column) and phone text of every line that shows a phone.
QList<QPair<QString, QString>> detailRows(const QStringList& pages)
{
    QList<QPair<QString, QString>> rows;
    for (const QString& page : pages) {
        for (const QString& line : page.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch phone = kPhoneText.match(line);
            if (phone.hasMatch()) {
                const QString surname = line.trimmed().split(QRegularExpression(QStringLiteral("\\s{2,}"))).first();
                rows.append({surname, phone.captured()});
            }
        }
    }
    return rows;
}

// Records the pointer shape at the moment each box is asked.
class CursorCheckingBox : public ScriptedMessageBox
{
public:
    MessageBox::Answer ask(QWidget* parent, const MessageBox::Request& request) override
    {
        overrideCursorAtBox = QGuiApplication::overrideCursor() != nullptr;
        return ScriptedMessageBox::ask(parent, request);
    }
    bool overrideCursorAtBox = false;
};

} // namespace

class TestForm1 : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        AppInfo::setClock([] { return QDateTime(QDate(2026, 3, 14), QTime(10, 30)); });
    }
    void cleanup() { AppInfo::setClock({}); }

    void loadHandsTheReportToTheViewer()
    {
        TestDatabase db(fiveContacts());
        const int before = CrystalReport1::createdCount();
        QPointer<Form1> form = new Form1;

        QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
        QCOMPARE(CrystalReport1::createdCount(), before + 1);
        QVERIFY(!form->Report);
        const std::weak_ptr<CrystalReport1> report = form->CRViewer91->ReportSource();
        QCOMPARE(report.use_count(), 1);
        QCOMPARE(form->CRViewer91->pageCount(), 1);
        QVERIFY(!QGuiApplication::overrideCursor());

        // A second window loads a report of its own.
        QPointer<Form1> second = new Form1;
        QCOMPARE(CrystalReport1::createdCount(), before + 2);
        QVERIFY(second->CRViewer91->ReportSource() != report.lock());

        form->close();
        QTRY_VERIFY(form.isNull());
        QVERIFY(report.expired());
        second->close();
        QTRY_VERIFY(second.isNull());
    }

    void viewerCoversTheClientArea_data()
    {
        QTest::addColumn<int>("widthTwips");
        QTest::addColumn<int>("heightTwips");
        QTest::newRow("design size") << 4680 << 3195;
        QTest::newRow("9000 x 6000") << 9000 << 6000;
        QTest::newRow("smaller than the design") << 1500 << 900;
    }

    void viewerCoversTheClientArea()
    {
        QFETCH(int, widthTwips);
        QFETCH(int, heightTwips);
        TestDatabase db(fiveContacts());
        std::unique_ptr<Form1> form(new Form1);
        form->setAttribute(Qt::WA_DeleteOnClose, false);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        form->resize(twipsToPixels(widthTwips), twipsToPixels(heightTwips));
        QTRY_COMPARE(form->CRViewer91->geometry(), QRect(0, 0, twipsToPixels(widthTwips), twipsToPixels(heightTwips)));
        QCOMPARE(form->CRViewer91->Top(), 0.0);
        QCOMPARE(form->CRViewer91->Left(), 0.0);
        QCOMPARE(form->CRViewer91->Height(), double(heightTwips));
        QCOMPARE(form->CRViewer91->Width(), double(widthTwips));
    }

    void maximiseAndRestoreKeepTheViewerFitted()
    {
        TestDatabase db(fiveContacts());
        std::unique_ptr<Form1> form(new Form1);
        form->setAttribute(Qt::WA_DeleteOnClose, false);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QSize normal = form->size();

        form->showMaximized();
        QTRY_VERIFY(form->size() != normal);
        QTRY_COMPARE(form->CRViewer91->geometry(), form->rect());

        form->showNormal();
        QTRY_COMPARE(form->size(), normal);
        QTRY_COMPARE(form->CRViewer91->geometry(), form->rect());
    }

    void reportListsEveryContactOnceBySurname()
    {
        TestDatabase db(fiveContacts());
        CrystalReport1 report;
        int rendered = 0;
        const QStringList pages = printedPages(report, &rendered);
        QCOMPARE(rendered, 1);
        QCOMPARE(pages.size(), 1);
        const QString text = pages.first();

        QVERIFY(text.contains(report.title()));
        QVERIFY2(text.contains(QLocale().toString(QDate(2026, 3, 14), QLocale::ShortFormat)), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Pagina 1 di 1")));
        QVERIFY(text.contains(QStringLiteral("Numero di contatti: 5")));

        const QStringList bySurname {QStringLiteral("Bianchi"),
                                     QStringLiteral("Colombo"),
                                     QStringLiteral("D'Angelo"),
                                     QStringLiteral("Esposito"),
                                     QStringLiteral("Rossi")};
        qsizetype previous = -1;
        for (const QString& surname : bySurname) {
            QCOMPARE(text.count(surname), 1);
            QVERIFY2(text.indexOf(surname) > previous, qPrintable(surname));
            previous = text.indexOf(surname);
        }
        QVERIFY(text.contains(QStringLiteral("(045) 123-4567")));
        QVERIFY(!text.contains(QStringLiteral("()")));
    }

    // Data is printed as stored: no page number put into a name, no marker the list needs in front of a phone.
    void contactDataPrintedAsStored()
    {
        TestDatabase db({contact(1,
                                 QStringLiteral("Studio {page} di {pages}"),
                                 QStringLiteral("Anna"),
                                 QStringLiteral("(045) 123-4567")),
                         contact(2, QStringLiteral("Bianchi"), QStringLiteral("Zeno"), QStringLiteral("'abc"))});
        CrystalReport1 report;
        const QString text = printedPages(report).join(QLatin1Char('\n'));
        QVERIFY2(text.contains(QStringLiteral("Studio {page} di {pages}")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral(" (045) 123-4567")));
        QVERIFY(!text.contains(QStringLiteral("'(045)")));
        QVERIFY(text.contains(QStringLiteral(" 'abc")) && !text.contains(QStringLiteral("''abc")));
    }

    void longReportSplitsIntoNumberedPages_data()
    {
        QTest::addColumn<int>("contacts");
        QTest::newRow("no contacts") << 0;
        QTest::newRow("several pages") << 120;
    }

    void longReportSplitsIntoNumberedPages()
    {
        QFETCH(int, contacts);
        const QList<mkdb::ContactRow> rows = mkdb::generatedContacts(contacts, 7);
        TestDatabase db(rows);
        CrystalReport1 report;
        int rendered = 0;
        const QStringList pages = printedPages(report, &rendered);
        QCOMPARE(pages.size(), rendered);
        QVERIFY(contacts < 100 || rendered > 1);

        const QString count = QStringLiteral("Numero di contatti: %1").arg(contacts);
        for (int i = 0; i < pages.size(); ++i) {
            QVERIFY2(pages[i].contains(QStringLiteral("Pagina %1 di %2").arg(i + 1).arg(pages.size())),
                     qPrintable(pages[i]));
            QCOMPARE(pages[i].contains(count), i == pages.size() - 1);
        }

        // Every contact once across the page breaks, and the surnames never go backwards.
        const auto printed = detailRows(pages);
        QStringList expectedPhones;
        for (const mkdb::ContactRow& row : rows) {
            expectedPhones.append(FormatStoredPhone(row.phoneNumber));
        }
        QStringList printedPhones;
        for (const auto& [surname, phone] : printed) {
            printedPhones.append(phone);
        }
        expectedPhones.sort();
        printedPhones.sort();
        QCOMPARE(printedPhones, expectedPhones);
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        for (int i = 1; i < printed.size(); ++i) {
            QVERIFY2(collator.compare(printed[i - 1].first, printed[i].first) <= 0,
                     qPrintable(printed[i - 1].first + QStringLiteral(" > ") + printed[i].first));
        }
    }

    // A page breaks only when the next row would run into the page footer.
    void pagesAreFilledBeforeBreaking()
    {
        TestDatabase db(mkdb::generatedContacts(120, 7));
        CrystalReport1 report;
        report.ReadRecords();
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageLayout(report.pageLayout());
        const QList<ReportPage> pages = report.layoutPages(&printer);
        QVERIFY(pages.size() > 1);

        int rows = 0;
        for (int i = 0; i < pages.size(); ++i) {
            QList<double> tops;
            double footerTop = printer.height();
            for (const ReportItem& item : pages[i].items) {
                if (item.section == report.DetailSection1.Name() && !tops.contains(item.rect.top())) {
                    tops.append(item.rect.top());
                } else if (item.section == report.PageFooterSection1.Name()) {
                    footerTop = std::min(footerTop, item.rect.top());
                }
            }
            QVERIFY(tops.size() > 1);
            rows += int(tops.size());
            const double pitch = tops[1] - tops[0];
            QVERIFY(tops.last() + pitch <= footerTop);
            if (i < pages.size() - 1) {
                QVERIFY2(tops.last() + 3 * pitch > footerTop, qPrintable(QStringLiteral("page %1").arg(i + 1)));
            }
        }
        QCOMPARE(rows, 120);
    }

    void toolbarWalksThePages()
    {
        TestDatabase db(mkdb::generatedContacts(120, 7));
        std::unique_ptr<Form1> form(new Form1);
        form->setAttribute(Qt::WA_DeleteOnClose, false);
        form->resize(900, 600);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        CRViewer91* viewer = form->CRViewer91;
        const int pages = viewer->pageCount();
        QVERIFY(pages > 2);
        QCOMPARE(viewer->currentPage(), 1);
        QVERIFY(!viewer->actPreviousPage->isEnabled());

        const auto click = [viewer](QAction* action) {
            QTest::mouseClick(viewer->tlbViewer->widgetForAction(action), Qt::LeftButton);
        };
        click(viewer->actLastPage);
        QTRY_COMPARE(viewer->currentPage(), pages);
        QVERIFY(!viewer->actNextPage->isEnabled());
        QCOMPARE(viewer->lblPage->text(), QStringLiteral("%1 di %1").arg(pages));
        click(viewer->actPreviousPage);
        QTRY_COMPARE(viewer->currentPage(), pages - 1);
        click(viewer->actFirstPage);
        QTRY_COMPARE(viewer->currentPage(), 1);
        click(viewer->actNextPage);
        QTRY_COMPARE(viewer->currentPage(), 2);
    }

    void unreadableDatabaseLeavesTheWindowEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << QByteArray();
        QTest::newRow("not a database") << QByteArray("this is not a database file\n");
    }

    void unreadableDatabaseLeavesTheWindowEmpty()
    {
        QFETCH(QByteArray, content);
        TestDatabase db;
        QFile::remove(db.path());
        if (!content.isEmpty()) {
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        CursorCheckingBox box;
        box.expect(MessageBox::Ok);

        QPointer<Form1> form = new Form1;
        QCOMPARE(box.asked().size(), 1);
        QCOMPARE(box.last().icon, MessageBox::Critical);
        QCOMPARE(box.last().title, QStringLiteral("Velmarin"));
        QVERIFY2(box.last().text.contains(QStringLiteral("Cust.mdb"), Qt::CaseInsensitive),
                 qPrintable(box.last().text));
        QVERIFY(!box.overrideCursorAtBox);
        QVERIFY(!QGuiApplication::overrideCursor());

        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.data()));
        QVERIFY(form->isVisible());
        QCOMPARE(form->CRViewer91->pageCount(), 0);
        QTRY_COMPARE(form->CRViewer91->geometry(), form->rect());
        form->close();
        QTRY_VERIFY(form.isNull());
    }

    void failedRefreshDropsTheOldPages()
    {
        TestDatabase db(fiveContacts());
        CRViewer91 viewer;
        viewer.setReportSource(std::make_shared<CrystalReport1>());
        viewer.ViewReport();
        QCOMPARE(viewer.pageCount(), 1);

        QVERIFY(QFile::remove(db.path()));
        QVERIFY_THROWS_EXCEPTION(ado::Error, viewer.ViewReport());
        QCOMPARE(viewer.pageCount(), 0);
        QVERIFY(viewer.lblPage->text().isEmpty());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"

#include "common/ListView.h"
#include "core/AppInfo.h"
#include "print/Module5.h"
#include "print/PrinterDevice.h"
#include "support/PdfWords.h"
#include "support/ScriptedMessageBox.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const PdfWord* find(const QList<PdfWord>& words, int page, const QString& text, double nearY = -1)
{
    for (const PdfWord& w : words) {
        if (w.page == page && w.text == text && (nearY < 0 || qAbs(w.top - nearY) < 1.5))
            return &w;
    }
    return nullptr;
}

// Page 1 rendered in grey at 100 dots per inch, as a viewer shows it.
QImage renderFirstPage(const QString& pdf, const QString& prefix)
{
    QProcess run;
    run.start(QStringLiteral("pdftoppm"),
              {QStringLiteral("-gray"),
               QStringLiteral("-r"),
               QStringLiteral("100"),
               QStringLiteral("-singlefile"),
               pdf,
               prefix});
    if (!run.waitForFinished(120000) || run.exitCode() != 0) {
        return {};
    }
    return QImage(prefix + QStringLiteral(".pgm"));
}

// The share of a pixel row, between 2 and 98 grid units across, that is drawn dark.
double darkShare(const QImage& page, double margin, int row)
{
    const double width = page.width() - 2 * margin;
    const int from = int(margin + width * 0.02);
    const int to = int(margin + width * 0.98);
    int dark = 0;
    for (int x = from; x < to; ++x) {
        dark += qGray(page.pixel(x, row)) < 128 ? 1 : 0;
    }
    return double(dark) / (to - from);
}

} // namespace

class TestPrintPdf : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void contactListReadBack();

private:
    QTemporaryDir m_dir;
};

void TestPrintPdf::init()
{
    QVERIFY(m_dir.isValid());
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    AppInfo::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 30)); });
    const QString pdf = m_dir.filePath(QStringLiteral("elenco.pdf"));
    setPrinterFactory([pdf] { return createPdfPrinterDevice(pdf); });
}

void TestPrintPdf::cleanup()
{
    setPrinterFactory({});
    AppInfo::setClock({});
}

// The production drawing path writes a real PDF; what pdftotext reads back stands where the layout puts it.
void TestPrintPdf::contactListReadBack()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QFAIL("pdftotext is missing: scripts/install-deps installs poppler-utils");

    ListView list;
    const QStringList headings = {"Cognome", "Nome", "Indirizzo", "Città", "PR", "Cellulare", "Telefono"};
    const double widths[] = {800, 2000, 2000, 2000, 500, 1500, 1500};
    for (int i = 0; i < headings.size(); ++i)
        list.addColumnHeader(headings.at(i), widths[i]);
    QList<QStringList> rows;
    for (int i = 1; i <= 30; ++i) {
        rows.append({QStringLiteral("Rossi%1").arg(i),
                     QStringLiteral("Mario"),
                     QStringLiteral("Via Roma"),
                     QStringLiteral("Forlì"),
                     QStringLiteral("FC"),
                     QStringLiteral("3331234567"),
                     QStringLiteral("(054) 312-3456")});
    }
    list.setRows(rows);

    ScriptedMessageBox boxes; // any box here is a failure
    ImprimerListView(list, QStringLiteral("  Elenco  "), QStringLiteral("Velmarin"), QStringLiteral("Arial"), 10);

    int pages = 0;
    const QList<PdfWord> words = readPdfWords(m_dir.filePath(QStringLiteral("elenco.pdf")), &pages);
    QCOMPARE(pages, 2); // 22 rows on the first page, 8 on the second

    const double headingX[] = {0, 7.767, 27.417, 46.417, 65.417, 69.854, 84.563};
    for (int page = 1; page <= pages; ++page) {
        const PdfWord* title = find(words, page, QStringLiteral("ELENCO"), 3);
        QVERIFY2(title, qPrintable(QStringLiteral("title on page %1").arg(page)));
        const PdfWord* pageWord = find(words, page, QStringLiteral("Page"), 3);
        QVERIFY(pageWord);
        QVERIFY(qAbs(pageWord->left - 90) < 1);
        QVERIFY(find(words, page, QString::number(page), 3));
        QVERIFY(title->left < 50 && title->left > 45); // centred
        for (int i = 0; i < headings.size(); ++i) {
            const PdfWord* h = find(words, page, headings.at(i), 10);
            QVERIFY2(h, qPrintable(headings.at(i)));
            QVERIFY2(qAbs(h->left - headingX[i]) < 1, qPrintable(QStringLiteral("%1 at %2").arg(h->text).arg(h->left)));
        }
        const PdfWord* footer = find(words, page, QStringLiteral("Velmarin"), 93);
        QVERIFY(footer);
        QVERIFY(qAbs(footer->left - 5) < 1);
        QVERIFY(find(words, page, QStringLiteral("v1.0.0"), 93));
        const PdfWord* date = find(words, page, QStringLiteral("07/12/2026"), 93);
        QVERIFY2(date, "date in the footer");
        QVERIFY(qAbs(date->left - 85) < 1);
    }
    // The rows, each once and nowhere over the footer.
    for (int i = 1; i <= 30; ++i) {
        const QString name = QStringLiteral("Rossi%1").arg(i);
        const PdfWord* row = find(words, i <= 22 ? 1 : 2, name);
        QVERIFY2(row, qPrintable(name));
        QVERIFY(row->top > 13 && row->top < 90);
    }

    // The two rules are solid lines where the layout puts them, not a faint hairline.
    const QImage page
        = renderFirstPage(m_dir.filePath(QStringLiteral("elenco.pdf")), m_dir.filePath(QStringLiteral("page")));
    QVERIFY(!page.isNull());
    const double margin = kPdfMarginMillimetres / 25.4 * 100;
    const double height = page.height() - 2 * margin;
    for (const double ruleY : {13.0, 90.0}) {
        const int expected = qRound(margin + height * ruleY / 100);
        double best = 0;
        for (int row = expected - 2; row <= expected + 2; ++row) {
            best = std::max(best, darkShare(page, margin, row));
        }
        QVERIFY2(best > 0.95, qPrintable(QStringLiteral("rule at %1: %2 dark").arg(ruleY).arg(best)));
    }
}

QTEST_MAIN(TestPrintPdf)
#include "tst_printpdf.moc"

#include "benches.h"

#include "common/ListView.h"
#include "core/AppInfo.h"
#include "print/PrinterDevice.h"
#include "print/Visualizza.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>

namespace {

constexpr int kActivations = 5;
constexpr int kPrints = 3;
const QString kWindowQuery = QStringLiteral("Select * from Customer ");

// Shows the window and waits for the activation it queues for itself, as when the user opens it.
double firstActivationMs(Visualizza& window)
{
    return timedMs([&] {
        window.show();
        window.activateWindow();
        QElapsedTimer patience;
        patience.start();
        while (window.ListView3->itemCount() == 0 && patience.elapsed() < 10000)
            QApplication::processEvents();
    });
}

int pdfPageCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QString text = QString::fromLatin1(file.readAll());
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    int count = 0;
    for (auto it = page.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return count;
}

} // namespace

void benchVisualizza(Report& report, const GeneratedDatabase& db)
{
    db.makeApplicationFolder();
    YesToEverything answers;
    Visualizza window;
    QList<double> samples {firstActivationMs(window)};
    for (int r = 1; r < kActivations; ++r)
        samples.append(timedMs([&] { window.Form_Activate(); }));
    const int rows = window.ListView3->itemCount();
    window.hide();
    AppInfo::setFolderOverride({});
    if (answers.asked > 0)
        QTextStream(stderr) << "Visualizza: " << answers.lastText << '\n';

    report.add({QStringLiteral("print window Visualizza activation"),
                medianOf(samples),
                QStringLiteral("ms"),
                800,
                sqliteFloorMs(db.path(), kWindowQuery, kActivations),
                QStringLiteral("%1 rows listed; first activation %2 ms").arg(rows).arg(samples.first(), 0, 'f', 1)});
}

void benchPrint(Report& report)
{
    GeneratedDatabase db(kPrintedContacts);
    if (!db.isValid()) {
        QTextStream(stderr) << db.error() << '\n';
        return;
    }
    db.makeApplicationFolder();
    const QString pdf = QDir(db.folder()).filePath(QStringLiteral("Elenco.pdf"));
    setPrinterFactory([&pdf] { return createPdfPrinterDevice(pdf); });
    YesToEverything answers;

    Visualizza window;
    firstActivationMs(window);
    QList<double> samples;
    for (int r = 0; r < kPrints; ++r) {
        QFile::remove(pdf);
        samples.append(timedMs([&] { QTest::mouseClick(window.Command1, Qt::LeftButton); }));
    }
    const int rows = window.ListView3->itemCount();
    const qint64 bytes = QFileInfo(pdf).size();
    const int pages = pdfPageCount(pdf);
    window.hide();
    setPrinterFactory({});
    AppInfo::setFolderOverride({});
    if (answers.asked > 0)
        QTextStream(stderr) << "ImprimerListView: " << answers.lastText << '\n';

    report.add({QStringLiteral("print to PDF (Avvia, ImprimerListView)"),
                medianOf(samples),
                QStringLiteral("ms"),
                1500,
                sqliteFloorMs(db.path(), kWindowQuery, kPrints),
                QStringLiteral("%1 rows, %2 pages, %3 KB of PDF").arg(rows).arg(pages).arg(bytes / 1024)});
}

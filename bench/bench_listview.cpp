#include "benches.h"

#include "common/ListView.h"
#include "common/TextBox.h"
#include "maint/frmCustMaint.h"

#include <QHeaderView>
#include <QTest>
#include <QTextStream>
#include <QTreeView>

namespace {

constexpr int kSelections = 21;

ListView* listOf(frmCustMaint& window)
{
    return window.findChild<ListView*>(QStringLiteral("lvwCustomer"));
}

} // namespace

void clickHeader(frmCustMaint& window, int position)
{
    QHeaderView* header = listOf(window)->view()->header();
    const int x = header->sectionViewportPosition(position - 1) + header->sectionSize(position - 1) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void clickEveryHeader(frmCustMaint& window, HeaderSamples& samples)
{
    for (int c = 0; c < HeaderSamples::kColumns; ++c) {
        samples.names[c] = listOf(window)->columnHeaderText(c + 1);
        samples.first[c].append(timedMs([&] { clickHeader(window, c + 1); }));
        samples.flip[c].append(timedMs([&] { clickHeader(window, c + 1); }));
    }
}

void reportHeaderClicks(Report& report, const HeaderSamples& samples, double floorMs)
{
    // The slowest column is the figure; every column's medians follow the table.
    int worstFirst = 0;
    int worstFlip = 0;
    double first[HeaderSamples::kColumns];
    double flip[HeaderSamples::kColumns];
    QString detail = QStringLiteral("header clicks per column, median ms (first click / flip):");
    for (int c = 0; c < HeaderSamples::kColumns; ++c) {
        first[c] = medianOf(samples.first[c]);
        flip[c] = medianOf(samples.flip[c]);
        worstFirst = first[c] > first[worstFirst] ? c : worstFirst;
        worstFlip = flip[c] > flip[worstFlip] ? c : worstFlip;
        detail += QStringLiteral("\n  %1 %2 / %3")
                      .arg(QStringLiteral("%1. %2").arg(c + 1).arg(samples.names[c]), -16)
                      .arg(first[c], 8, 'f', 1)
                      .arg(flip[c], 6, 'f', 1);
    }
    report.add({QStringLiteral("header click, first on a column (slowest)"),
                first[worstFirst],
                QStringLiteral("ms"),
                100,
                floorMs,
                QStringLiteral("column %1 (%2); %3 windows")
                    .arg(worstFirst + 1)
                    .arg(samples.names[worstFirst])
                    .arg(samples.first[0].size())});
    report.add({QStringLiteral("header click, flip of the order (slowest)"),
                flip[worstFlip],
                QStringLiteral("ms"),
                100,
                floorMs,
                QStringLiteral("column %1 (%2)").arg(worstFlip + 1).arg(samples.names[worstFlip])});
    report.detail(detail);
}

void benchRowSelection(Report& report, frmCustMaint& window, double floorMs)
{
    ListView* list = listOf(window);
    QTreeView* view = list->view();
    auto* name = window.findChild<TextBox*>(QStringLiteral("txtLast"));
    const int top = view->indexAt(QPoint(4, 4)).row();
    QList<double> samples;
    int missed = 0;
    for (int i = 0; i < kSelections; ++i) {
        // Different rows one after another, all on screen, as a user goes down the list.
        const QModelIndex at = view->model()->index(top + i % 5, 0);
        samples.append(
            timedMs([&] { QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(at).center()); }));
        if (list->selectedIndex() != at.row() + 1 || name->text() != list->subItem(at.row() + 1, 1))
            ++missed;
    }
    if (missed > 0)
        QTextStream(stderr) << "ItemClick: " << missed << " clicks did not show their row\n";
    report.add({QStringLiteral("row selection: click, fields filled"),
                medianOf(samples),
                QStringLiteral("ms"),
                30,
                floorMs,
                QStringLiteral("%1 clicks on rows in view").arg(kSelections)});
}

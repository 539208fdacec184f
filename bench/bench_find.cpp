#include "benches.h"

#include "common/ListView.h"
#include "maint/frmCustMaint.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextStream>
#include <QTreeView>

#include <algorithm>

namespace {

// What users look for, typed key by key, then the last key taken back: a name with a city, a city without its accent,
// a name without its apostrophe, the first digits of a number, and a word nobody has.
const char* const kQueries[] = {"rossi milano", "forli", "damico", "3331", "zzz"};
constexpr int kRounds = 3;

} // namespace

void benchFind(Report& report, frmCustMaint& window)
{
    ListView* list = window.findChild<ListView*>(QStringLiteral("lvwCustomer"));
    const Memory before = memoryNow();
    const int all = list->itemCount();
    QList<double> keystrokes;
    QList<double> closings;
    double slowest = 0;
    QString slowestAt;
    QString counts;
    for (int round = 0; round < kRounds; ++round) {
        for (const char* query : kQueries) {
            list->view()->setFocus();
            QTest::keyClick(list->view(), Qt::Key_F, Qt::ControlModifier);
            QApplication::processEvents();
            auto* field = window.findChild<QLineEdit*>(QStringLiteral("txtFind"));
            if (!field || !field->isVisible()) {
                QTextStream(stderr) << "find: Ctrl+F did not open the find field\n";
                return;
            }
            QString typed;
            for (const char* c = query; *c; ++c) {
                typed += QLatin1Char(*c);
                const double ms = timedMs([&] { QTest::keyClick(field, *c); });
                keystrokes.append(ms);
                if (ms > slowest) {
                    slowest = ms;
                    slowestAt = QStringLiteral("\"%1\", %2 rows shown").arg(typed).arg(list->itemCount());
                }
            }
            if (round == 0) {
                counts += QStringLiteral("%1%2: %3")
                              .arg(counts.isEmpty() ? QString() : QStringLiteral("; "), QLatin1String(query))
                              .arg(window.findChild<QLabel*>(QStringLiteral("lblFindCount"))->text());
            }
            // A mistyped letter taken back widens the find again: every row is looked at.
            const double back = timedMs([&] { QTest::keyClick(field, Qt::Key_Backspace); });
            keystrokes.append(back);
            if (back > slowest) {
                slowest = back;
                slowestAt
                    = QStringLiteral("Backspace to \"%1\", %2 rows shown").arg(field->text()).arg(list->itemCount());
            }
            closings.append(timedMs([&] { QTest::keyClick(field, Qt::Key_Escape); }));
            if (list->itemCount() != all)
                QTextStream(stderr) << "find: closing left " << list->itemCount() << " of " << all << " rows\n";
        }
    }
    const Memory memory = memoryNow();

    QList<double> ordered = keystrokes;
    std::sort(ordered.begin(), ordered.end());
    report.add({QStringLiteral("find: keystroke narrowing, repaint"),
                medianOf(keystrokes),
                QStringLiteral("ms"),
                30,
                0,
                QStringLiteral("%1 keystrokes; 9 in 10 under %2 ms; slowest %3 ms, at %4")
                    .arg(keystrokes.size())
                    .arg(ordered.at(ordered.size() * 9 / 10), 0, 'f', 1)
                    .arg(slowest, 0, 'f', 1)
                    .arg(slowestAt)});
    report.detail(QStringLiteral("find counts: ") + counts);
    report.add({QStringLiteral("find: Esc, every row back, repaint"),
                medianOf(closings),
                QStringLiteral("ms"),
                50,
                0,
                QStringLiteral("%1 rows back; slowest of %2 closings %3 ms; VmHWM %4 MB before the finds, %5 MB after")
                    .arg(all)
                    .arg(closings.size())
                    .arg(*std::max_element(closings.begin(), closings.end()), 0, 'f', 1)
                    .arg(before.peakMb, 0, 'f', 1)
                    .arg(memory.peakMb, 0, 'f', 1)});
}

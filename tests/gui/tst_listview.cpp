#include "common/ListView.h"

#include <QApplication>
#include <QCollator>
#include <QHeaderView>
#include <QHelpEvent>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QTreeView>

namespace {

QStringList texts(const ListView& list, int k)
{
    QStringList out;
    for (int i = 1; i <= list.itemCount(); ++i)
        out << (k == 0 ? list.itemText(i) : list.subItem(i, k));
    return out;
}

QPoint rowCentre(const ListView& list, int index)
{
    QTreeView* view = list.view();
    return view->visualRect(view->model()->index(index - 1, 0)).center();
}

} // namespace

class TestListView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rowsAndSubItems();
    void sortByText_data();
    void sortByText();
    void addedRowTakesItsPlaceInASortedList();
    void resortAfterEditsKeepsCollationOrder_data();
    void resortAfterEditsKeepsCollationOrder();
    void refreshAfterAnAddOrEditIsAStableSort_data();
    void refreshAfterAnAddOrEditIsAStableSort();
    void userSelectionRaisesItemClick_data();
    void userSelectionRaisesItemClick();
    void selectionByCodeRaisesNothing();
    void headerClickAndHiddenColumn();
    void ensureVisibleScrollsTheRowIn();
    void disabledListTakesNoClicks();
    void aCutCellShowsItsWholeText_data();
    void aCutCellShowsItsWholeText();

private:
    ListView* m_list = nullptr;
};

void TestListView::init()
{
    m_list = new ListView();
    m_list->resize(400, 200);
    m_list->addColumnHeader(QStringLiteral("Cognome"), 2000);
    m_list->addColumnHeader(QStringLiteral("Nome"), 2000);
    m_list->addColumnHeader(QStringLiteral("ID"), 0);
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
}

void TestListView::cleanup()
{
    delete m_list;
    m_list = nullptr;
}

void TestListView::rowsAndSubItems()
{
    const int a = m_list->addItem(QStringLiteral("Rossi"), QStringLiteral("Custs"));
    m_list->setSubItem(a, 1, QStringLiteral("Mario"));
    const int b = m_list->addItem(QStringLiteral("Bianchi"));
    m_list->setSubItem(b, 2, QStringLiteral("7"));
    m_list->addItem(QStringLiteral("Verdi"));
    QCOMPARE(m_list->itemCount(), 3);
    QCOMPARE(texts(*m_list, 0), QStringList({"Rossi", "Bianchi", "Verdi"}));
    QCOMPARE(m_list->subItem(b, 1), QString()); // never written
    QCOMPARE(m_list->subItem(b, 2), QStringLiteral("7"));
    QCOMPARE(m_list->itemSmallIcon(a), QStringLiteral("Custs"));

    m_list->setSelectedIndex(3);
    m_list->removeItem(1);
    QCOMPARE(texts(*m_list, 0), QStringList({"Bianchi", "Verdi"}));
    QCOMPARE(m_list->subItem(1, 2), QStringLiteral("7"));
    QCOMPARE(m_list->selectedIndex(), 2); // the selection follows its row

    // A huge text is painted in part but kept whole.
    const QString huge(1 << 20, QLatin1Char('x'));
    m_list->setSubItem(1, 1, huge);
    QCOMPARE(m_list->subItem(1, 1), huge);
    QVERIFY(m_list->view()->model()->index(0, 1).data().toString().size() < 10000);

    m_list->setRows({{"Uno", "a"}, {"Due", "b", "x"}});
    QCOMPARE(texts(*m_list, 0), QStringList({"Uno", "Due"}));
    QCOMPARE(texts(*m_list, 1), QStringList({"a", "b"}));
    QCOMPARE(m_list->subItem(2, 2), QStringLiteral("x"));
    m_list->clearItems();
    QCOMPARE(m_list->itemCount(), 0);
    QCOMPARE(m_list->selectedIndex(), 0);
}

void TestListView::sortByText_data()
{
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("expected");

    const QStringList names = {"Esposito", "de Luca", "Colombo", "D'Angelo", "Élise", "esposito", "Emma", "ZANON", ""};
    QTest::newRow("Italian order, case and accents ignored")
        << names << int(ListView::lvwAscending)
        << QStringList({"", "Colombo", "D'Angelo", "de Luca", "Élise", "Emma", "Esposito", "esposito", "ZANON"});
    QTest::newRow("descending is the reverse")
        << names << int(ListView::lvwDescending)
        << QStringList({"ZANON", "esposito", "Esposito", "Emma", "Élise", "de Luca", "D'Angelo", "Colombo", ""});
    QTest::newRow("digits sort as text") << QStringList({"10", "9", "100"}) << int(ListView::lvwAscending)
                                         << QStringList({"10", "100", "9"});
}

void TestListView::sortByText()
{
    QFETCH(QStringList, given);
    QFETCH(int, order);
    QFETCH(QStringList, expected);
    for (const QString& name : given) {
        const int i = m_list->addItem(QStringLiteral("row"));
        m_list->setSubItem(i, 1, name);
    }
    m_list->setSortKey(1);
    m_list->setSortOrder(order);
    m_list->setSorted(true);
    m_list->refresh();
    // Keys equal but for case keep no particular order, so the texts are compared case-folded.
    const auto folded = [](const QStringList& l) { return l.join('|').toLower(); };
    QCOMPARE(folded(texts(*m_list, 1)), folded(expected));

    // Flipping the order of a sorted list reverses it.
    m_list->setSortOrder(order == ListView::lvwAscending ? ListView::lvwDescending : ListView::lvwAscending);
    m_list->refresh();
    QCOMPARE(folded(texts(*m_list, 1)), folded(QStringList(expected.rbegin(), expected.rend())));
}

void TestListView::addedRowTakesItsPlaceInASortedList()
{
    for (const char* name : {"Rossi", "Bianchi", "Verdi"})
        m_list->addItem(QString::fromLatin1(name));
    m_list->setSortKey(0);
    m_list->setSorted(true);
    m_list->refresh();
    m_list->setSelectedIndex(3); // Verdi
    const int at = m_list->addItem(QStringLiteral("Conti"));
    QCOMPARE(at, 2);
    QCOMPARE(texts(*m_list, 0), QStringList({"Bianchi", "Conti", "Rossi", "Verdi"}));
    QCOMPARE(m_list->itemText(m_list->selectedIndex()), QStringLiteral("Verdi"));
}

void TestListView::resortAfterEditsKeepsCollationOrder_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("edits");
    // Few edits are placed among the sorted texts one by one, many are merged with them in one pass.
    QTest::newRow("a few rows, every one rewritten") << 20 << 20;
    QTest::newRow("thousands of rows, a few rewritten") << 3000 << 5;
    QTest::newRow("thousands of rows, most rewritten") << 3000 << 2000;
}

// Whatever was sorted before, the rows end in the order of the collation keys, every text kept.
void TestListView::resortAfterEditsKeepsCollationOrder()
{
    QFETCH(int, rows);
    QFETCH(int, edits);
    const QStringList odd
        = {"",        "\u200B",   "Rossi",      "ROSSI", "rossi",          "Élise", "e\u0301lise", "Elise",
           "de Luca", "D'Angelo", "a-b",        "a(b",   "(012) 345-6789", "0123",  "Nicolò",      "Nicolos",
           "ß",       "ss",       "\U0001F600", "~"};
    QRandomGenerator rng(7);
    const auto text = [&] {
        const QString t = odd.at(rng.bounded(int(odd.size())));
        return rng.bounded(2) ? t : t + QString::number(rng.bounded(40));
    };
    QList<QStringList> given;
    for (int i = 0; i < rows; ++i)
        given.append({QStringLiteral("row"), text()});
    m_list->setRows(given);
    m_list->setSortKey(1);
    m_list->setSorted(true);
    m_list->refresh();
    for (int i = 0; i < edits; ++i)
        m_list->setSubItem(1 + rng.bounded(m_list->itemCount()), 1, text());
    m_list->setSubItem(m_list->addItem(QStringLiteral("row")), 1, text());

    QStringList before = texts(*m_list, 1);
    m_list->refresh();
    QStringList after = texts(*m_list, 1);
    QCollator collator(QLocale(QLocale::Italian, QLocale::Italy));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    for (int i = 1; i < after.size(); ++i) {
        if (collator.sortKey(after.at(i - 1)).compare(collator.sortKey(after.at(i))) > 0)
            QFAIL(qPrintable(QStringLiteral("\"%1\" before \"%2\"").arg(after.at(i - 1), after.at(i))));
    }
    before.sort();
    after.sort();
    QCOMPARE(after, before);
}

void TestListView::refreshAfterAnAddOrEditIsAStableSort_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("edited");
    QTest::addColumn<QString>("find");
    // One row out of place is moved alone; two or more send every row through the sort again. Either way the rows
    // end as a stable sort of what stood before the refresh would leave them, equal texts in their former order.
    for (const int order : {int(ListView::lvwAscending), int(ListView::lvwDescending)}) {
        const char* name = order == ListView::lvwAscending ? "ascending" : "descending";
        QTest::newRow(qPrintable(QStringLiteral("%1, one row added").arg(name))) << order << 1 << 0 << QString();
        QTest::newRow(qPrintable(QStringLiteral("%1, one row rewritten").arg(name))) << order << 0 << 1 << QString();
        QTest::newRow(qPrintable(QStringLiteral("%1, one added, one rewritten").arg(name)))
            << order << 1 << 1 << QString();
        QTest::newRow(qPrintable(QStringLiteral("%1, one added while a find is open").arg(name)))
            << order << 1 << 0 << QStringLiteral("ro");
    }
}

void TestListView::refreshAfterAnAddOrEditIsAStableSort()
{
    QFETCH(int, order);
    QFETCH(int, added);
    QFETCH(int, edited);
    QFETCH(QString, find);
    const QStringList odd = {"", "Rossi", "ROSSI", "rossi", "Élise", "Elise", "de Luca", "D'Angelo", "(012) 345", "~"};
    QCollator collator(QLocale(QLocale::Italian, QLocale::Italy));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QRandomGenerator rng(11);
    int nextId = 0;
    m_list->setSearchColumns({1}, {});
    for (int round = 0; round < 40; ++round) {
        cleanup();
        init();
        m_list->setSearchColumns({1}, {});
        QList<QStringList> given;
        for (int i = 0; i < 60; ++i)
            given.append({QStringLiteral("row"), odd.at(rng.bounded(int(odd.size()))), QString::number(nextId++)});
        m_list->setRows(given);
        m_list->setSortKey(1);
        m_list->setSortOrder(order);
        m_list->setSorted(true);
        m_list->refresh();
        m_list->setFilter(find);
        for (int i = 0; i < edited; ++i)
            m_list->setSubItem(1 + rng.bounded(m_list->itemCount()), 1, odd.at(rng.bounded(int(odd.size()))));
        QString selectedId;
        for (int i = 0; i < added; ++i) {
            const int row = m_list->addItem(QStringLiteral("row"));
            m_list->setSubItem(row, 1, odd.at(rng.bounded(int(odd.size()))));
            selectedId = QString::number(nextId++);
            m_list->setSubItem(row, 2, selectedId);
            m_list->setSelectedIndex(row);
        }

        QList<QStringList> expected;
        for (int i = 1; i <= m_list->itemCount(); ++i)
            expected.append({m_list->subItem(i, 1), m_list->subItem(i, 2)});
        std::stable_sort(expected.begin(), expected.end(), [&](const QStringList& a, const QStringList& b) {
            const int c = collator.sortKey(a.at(0)).compare(collator.sortKey(b.at(0)));
            return order == ListView::lvwAscending ? c < 0 : c > 0;
        });
        m_list->refresh();
        QStringList ids;
        for (int i = 1; i <= m_list->itemCount(); ++i)
            ids << m_list->subItem(i, 2);
        QStringList expectedIds;
        for (const QStringList& row : std::as_const(expected))
            expectedIds << row.at(1);
        QCOMPARE(ids, expectedIds);
        if (!selectedId.isEmpty())
            QCOMPARE(m_list->subItem(m_list->selectedIndex(), 2), selectedId);
    }
}

void TestListView::userSelectionRaisesItemClick_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("key"); // 0: a mouse click on row 2
    QTest::addColumn<int>("expected");

    QTest::newRow("mouse") << 1 << 0 << 2;
    QTest::newRow("click on the selected row") << 2 << 0 << 2;
    QTest::newRow("down arrow") << 1 << int(Qt::Key_Down) << 2;
    QTest::newRow("up arrow") << 3 << int(Qt::Key_Up) << 2;
    QTest::newRow("home") << 3 << int(Qt::Key_Home) << 1;
    QTest::newRow("end") << 1 << int(Qt::Key_End) << 3;
}

void TestListView::userSelectionRaisesItemClick()
{
    QFETCH(int, from);
    QFETCH(int, key);
    QFETCH(int, expected);
    m_list->setRows({{"Uno"}, {"Due"}, {"Tre"}});
    m_list->setSelectedIndex(from);
    m_list->view()->setCurrentIndex(m_list->view()->model()->index(from - 1, 0));
    QSignalSpy clicks(m_list, &ListView::ItemClick);
    if (key == 0) {
        QTest::mouseClick(m_list->view()->viewport(), Qt::LeftButton, {}, rowCentre(*m_list, 2));
    } else {
        m_list->view()->setFocus();
        QTest::keyClick(m_list->view(), Qt::Key(key));
    }
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().first().toInt(), expected);
    QCOMPARE(m_list->selectedIndex(), expected);
}

void TestListView::selectionByCodeRaisesNothing()
{
    m_list->setRows({{"Uno"}, {"Due"}, {"Tre"}});
    QSignalSpy clicks(m_list, &ListView::ItemClick);
    m_list->setSelectedIndex(2);
    m_list->setSortKey(0);
    m_list->setSorted(true);
    m_list->refresh(); // the selected row moves
    m_list->removeItem(1);
    m_list->setSelectedIndex(0);
    QCOMPARE(clicks.size(), 0);
    QCOMPARE(m_list->selectedIndex(), 0);
}

void TestListView::headerClickAndHiddenColumn()
{
    QHeaderView* header = m_list->view()->header();
    QVERIFY(header->isSectionHidden(2) || header->sectionSize(2) == 0); // "ID" has width 0
    QSignalSpy clicks(m_list, &ListView::ColumnClick);
    const QPoint second(header->sectionViewportPosition(1) + header->sectionSize(1) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().first().toInt(), 2);
    QVERIFY(!m_list->sorted()); // sorting is the window's business
}

void TestListView::ensureVisibleScrollsTheRowIn()
{
    QList<QStringList> rows;
    for (int i = 1; i <= 1000; ++i)
        rows.append({QString::number(i)});
    m_list->setRows(rows);
    QVERIFY(m_list->isItemVisible(1));
    QVERIFY(!m_list->isItemVisible(900));
    m_list->ensureVisible(900);
    QVERIFY(m_list->isItemVisible(900));
    m_list->ensureVisible(1);
    QVERIFY(m_list->isItemVisible(1));
}

void TestListView::disabledListTakesNoClicks()
{
    m_list->setRows({{"Uno"}, {"Due"}});
    m_list->setSelectedIndex(1);
    m_list->setEnabled(false);
    QSignalSpy items(m_list, &ListView::ItemClick);
    QSignalSpy columns(m_list, &ListView::ColumnClick);
    QTest::mouseClick(m_list->view()->viewport(), Qt::LeftButton, {}, rowCentre(*m_list, 2));
    QHeaderView* header = m_list->view()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(5, header->height() / 2));
    QTest::keyClick(m_list->view(), Qt::Key_Down);
    QCOMPARE(items.size(), 0);
    QCOMPARE(columns.size(), 0);
    QCOMPARE(m_list->selectedIndex(), 1);
}

void TestListView::aCutCellShowsItsWholeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("tip");

    QTest::newRow("fits: no tooltip") << "Rossi" << false;
    QTest::newRow("cut: the whole text") << "Abbondanza Castelfranchi Pellegrini" << true;
    QTest::newRow("empty") << "" << false;
}

// The tooltip a user sees when resting the pointer on the cell; the column keeps its width.
void TestListView::aCutCellShowsItsWholeText()
{
    QFETCH(QString, text);
    QFETCH(bool, tip);
    m_list->addItem(text);
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
    QTreeView* view = m_list->view();
    const int width = view->columnWidth(0);
    QToolTip::hideText();
    const QPoint at = rowCentre(*m_list, 1);
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);

    QCOMPARE(QToolTip::isVisible(), tip);
    QCOMPARE(QToolTip::text(), tip ? text : QString());
    QCOMPARE(view->columnWidth(0), width);
    QToolTip::hideText();
}

QTEST_MAIN(TestListView)
#include "tst_listview.moc"

#include "benches.h"

#include "CustDatabase.h"
#include "ListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <QTreeView>

namespace {

QList<QStringList> contactRows(int n)
{
    const QList<mkdb::ContactRow> contacts = mkdb::generatedContacts(n);
    QList<QStringList> rows;
    rows.reserve(contacts.size());
    for (const mkdb::ContactRow& c : contacts) {
        const QString phone = c.phoneNumber.toString();
        const QString phoneText =
            QStringLiteral("(%1) %2-%3").arg(phone.left(3), phone.mid(3, 3), phone.right(4));
        rows.append({c.firstName.toString(),
                     c.lastName.toString(),
                     c.address.toString(),
                     c.city.toString(),
                     c.state.toString(),
                     c.zip.toString(),
                     phoneText,
                     c.custId.toString()});
    }
    return rows;
}

void setupColumns(ListView& list)
{
    const char* const headers[] = {"Cognome", "Nome", "Indirizzo", "Città", "PR", "Cellulare", "Telefono"};
    const double fractions[] = {0.15, 0.12, 0.2, 0.15, 0.06, 0.1, 0.2};
    for (int i = 0; i < 7; ++i)
        list.addColumnHeader(QString::fromUtf8(headers[i]), double(float(list.widthTwips())) * fractions[i]);
    list.addColumnHeader(QStringLiteral("ID"), 0);
}

// Time of fn plus the events it leaves behind (the view's layout and paint).
template<typename Fn>
double timed(Fn fn)
{
    QElapsedTimer timer;
    timer.start();
    fn();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

// A header click as the main window handles it: flip when the column is the sort key, else ascending on it.
void columnClick(ListView& list, int k)
{
    if (list.sorted() && list.sortKey() == k) {
        list.setSortOrder(list.sortOrder() == ListView::lvwAscending ? ListView::lvwDescending
                                                                     : ListView::lvwAscending);
    } else {
        list.setSorted(true);
        list.setSortKey(k);
        list.setSortOrder(ListView::lvwAscending);
    }
    list.refresh();
    if (list.selectedIndex() > 0)
        list.ensureVisible(list.selectedIndex());
}

} // namespace

void benchListView()
{
    constexpr int n = 100000;
    QTextStream out(stdout);
    const QList<QStringList> rows = contactRows(n);

    ListView list;
    list.setGeometry(8, 40, 8895 / 15, 3855 / 15);
    setupColumns(list);

    out << "ListView, " << n << " rows of 8 columns (ms)\n";
    out << "  setRows + show:          " << timed([&] {
        list.setRows(rows);
        list.show();
        list.setSelectedIndex(1);
    }) << "\n";

    out << "  sort by column 1:        " << timed([&] { columnClick(list, 1); }) << "\n";
    out << "  flip column 1:           " << timed([&] { columnClick(list, 1); }) << "\n";
    out << "  sort by column 3:        " << timed([&] { columnClick(list, 3); }) << "\n";
    out << "  sort by column 6 (uniq): " << timed([&] { columnClick(list, 6); }) << "\n";
    out << "  back to column 1:        " << timed([&] { columnClick(list, 1); }) << "\n";
    out << "  sort by column 7 (ID):   " << timed([&] { columnClick(list, 7); }) << "\n";

    ListView added;
    added.setGeometry(8, 40, 8895 / 15, 3855 / 15);
    setupColumns(added);
    added.show();
    out << "  addItem x " << n << ":        " << timed([&] {
        for (const QStringList& row : rows) {
            const int index = added.addItem(row.at(0), QStringLiteral("Custs"));
            for (int k = 1; k < row.size(); ++k)
                added.setSubItem(index, k, row.at(k));
        }
    }) << "\n";
    out << "  clearItems:              " << timed([&] { added.clearItems(); }) << "\n";
    out.flush();
}

#pragma once

#include <QIcon>
#include <QStringList>
#include <QWidget>

class QTreeView;
class ListViewModel;

// A report-style list: column headers and rows of texts (the row text plus sub-items 1..n), a small icon per row,
// one selected row, sorting by the text of one column. Rows and columns are numbered from 1 as the windows count
// them; index 0 means "no row". It is a model plus a view, so it holds 100,000 rows without effort.
class ListView : public QWidget
{
    Q_OBJECT
public:
    enum SortOrderValue { lvwAscending = 0, lvwDescending = 1 };

    explicit ListView(QWidget* parent = nullptr);
    ~ListView() override;

    // Column headers. Widths are twips; a width of 0 hides the column.
    void clearColumnHeaders();
    int addColumnHeader(const QString& text, double widthTwips, const QString& key = {}); // returns its position
    int columnHeaderCount() const;
    QString columnHeaderText(int position) const;
    double columnHeaderWidth(int position) const;
    QString columnHeaderKey(int position) const;
    int columnHeaderSubItemIndex(int position) const; // 0 for the first column, k for sub-item k

    // Rows, in the list's current order.
    void clearItems();
    // Appends a row, or puts it in its place when the list is sorted; returns its index.
    int addItem(const QString& text, const QString& smallIconKey = {});
    int itemCount() const;
    void removeItem(int index);
    QString itemText(int index) const;
    void setItemText(int index, const QString& text);
    QString subItem(int index, int k) const; // a sub-item never written reads as empty text
    void setSubItem(int index, int k, const QString& text);
    QString itemSmallIcon(int index) const;
    // Fills the list in one go: each row is its text followed by its sub-items. Much faster than addItem per row.
    void setRows(QList<QStringList> rows, const QString& smallIconKey = {});

    // Find as you type: the rows above are the rows shown. The row columns (0 for the row text, k for sub-item k)
    // searched as text and by their digits; set before the rows.
    void setSearchColumns(const QList<int>& textColumns, const QList<int>& digitColumns);
    // Shows only the rows holding every word of text (all rows for empty text). The selected row stays selected when
    // it is still shown; otherwise the first row shown is selected (none when none is shown). Either way it is
    // scrolled into view. Returns true when the selection moved to another row or went.
    bool setFilter(const QString& text);
    bool filtered() const;
    int totalItemCount() const; // every row, shown or not
    // A widget laid along the bottom edge, inside the list's rectangle; the rows make room for it while it is shown.
    void addFooter(QWidget* widget);

    void ensureVisible(int index);
    bool isItemVisible(int index) const; // whether the row lies inside the viewport

    int selectedIndex() const; // 0 when no row is selected
    void setSelectedIndex(int index); // raises no ItemClick; 0 clears the selection

    bool sorted() const;
    void setSorted(bool sorted);
    int sortKey() const;
    void setSortKey(int key);
    int sortOrder() const;
    void setSortOrder(int order);
    void refresh(); // applies Sorted/SortKey/SortOrder
    // refresh(), following one row: returns where the row at index stands afterwards.
    int refreshFollowing(int index);

    void setSmallIcon(const QString& key, const QIcon& icon);
    double widthTwips() const;

    QTreeView* view() const { return m_view; }

signals:
    void ItemClick(int index); // the user selected a row (mouse or keyboard)
    void ColumnClick(int position); // the user clicked a header

private:
    QTreeView* m_view;
    ListViewModel* m_model;
};

#pragma once

#include <QAbstractTableModel>
#include <QCollator>
#include <QHash>
#include <QIcon>
#include <QStringList>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The rows and column headers behind ListView. A row is its texts (row text, then sub-items 1..n) and the key of
// its small icon, nothing more. Sorting keeps, per column, a dictionary of the distinct texts with their rank among
// each other: the collator places each distinct text once, and a sort is a dictionary look-up per row plus a
// counting sort on the ranks. A row whose text changes is simply looked up again. While the rows stand in order but
// for the one row added or rewritten last, a refresh only moves that row to its place.
class ListViewModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    struct Column
    {
        QString text;
        double widthTwips = 0;
        QString key;
    };

    explicit ListViewModel(QObject* parent = nullptr);
    ~ListViewModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void clearColumns();
    int addColumn(const Column& column); // returns its 0-based section
    const Column& column(int section) const { return m_columns.at(section); }
    void setColumnWidth(int section, double widthTwips);

    // The sort settings are only stored here; applySort() orders the rows by them.
    bool sorted() const { return m_sorted; }
    void setSorted(bool sorted) { m_sorted = sorted; }
    int sortKey() const { return m_sortKey; }
    void setSortKey(int k) { m_sortKey = k; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    void setSortOrder(Qt::SortOrder order) { m_sortOrder = order; }
    void applySort();
    // The column and order the rows were last sorted by, -1 when refresh() has not sorted them.
    int orderedBy() const { return m_orderedBy; }
    Qt::SortOrder orderedAs() const { return m_orderedAs; }

    void clearRows();
    // Appends the row, or inserts it where its text belongs when the list is sorted. Returns its 0-based row.
    int addRow(const QString& text, const QString& iconKey);
    void removeRow(int row);
    // Replaces every row; each row is its text followed by its sub-items. A sorted list is sorted afterwards.
    void setRows(QList<QStringList> rows, const QString& iconKey);

    // k is 0 for the row text, k for sub-item k; a text never written reads as empty.
    QString text(int row, int k) const;
    void setText(int row, int k, const QString& text);
    QString iconKey(int row) const { return m_rows[size_t(shownToAll(row))].iconKey; }

    // Find as you type. Every row number above counts the rows shown; while no filter is set they are all the rows.
    // The columns searched as text and the columns searched by their digits; each row's key is built when the row
    // arrives or changes, never per keystroke. Call before the rows are set.
    void setSearchColumns(const QList<int>& textColumns, const QList<int>& digitColumns);
    // Shows the rows holding every word of text in a searched column; empty text shows every row. A row added or
    // rewritten while a filter is set stays shown until the filter changes. Returns false when the words are the
    // ones already applied (nothing changed).
    bool setFilter(const QString& text);
    bool filtered() const { return m_filtering; }
    int allRowCount() const { return int(m_rows.size()); }
    // Row numbers between the rows shown and all the rows (the filter never reorders rows); -1 for a row not shown.
    int shownToAll(int row) const { return m_filtering ? m_shown[size_t(row)] : row; }
    int allToShown(int row) const;

    void setIcon(const QString& key, const QIcon& icon);

private:
    struct Row
    {
        QStringList texts;
        QString iconKey;
        // Where the row's search key lies in m_keys; kNoKey until it is built or after the row changed.
        quint32 keyAt = kNoKey;
        quint32 keyLength : 31;
        quint32 hidden : 1; // by the filter
    };
    static constexpr quint32 kNoKey = 0xffffffffu;

    // Every row's key, side by side in blocks of 256 KB: one string per row would cost more than the keys
    // themselves, and one growing string would be copied as it grows, doubling the peak memory of a load.
    class KeyBlocks
    {
    public:
        quint32 add(std::string_view key); // returns the key's place
        std::string_view at(quint32 place, quint32 length) const
        {
            return {m_blocks[place >> kShift].get() + (place & kMask), length};
        }
        void clear();
        size_t bytes() const { return m_bytes; }

    private:
        static constexpr int kShift = 18;
        static constexpr quint32 kMask = (1u << kShift) - 1;
        std::vector<std::unique_ptr<char[]>> m_blocks;
        size_t m_free = 0; // bytes left in the last block
        size_t m_bytes = 0;
    };

    // The distinct texts of one column seen so far. `rank` orders the entries as the collator does; texts the
    // collator finds equal share a rank, and entries added since the last sort wait unranked until the next one.
    struct Dictionary
    {
        struct Entry
        {
            QString text;
            quint32 rank = 0;
            quint32 hash = 0; // of the text
        };
        std::vector<Entry> entries;
        // The entries by their text's hash, open addressing: each place holds the hash and the slot + 1 (0 when
        // free), so a probe compares texts only when the hashes agree. QHash compared the texts at every probe, a
        // cache miss each for 100,000 phone numbers of one length, and took several megabytes per column.
        std::vector<quint64> places;
        int unranked = 0;
        // Each row's entry, row by row once the column has been sorted (empty before); -1 for a row added or
        // rewritten since, to be looked up at the next sort.
        std::vector<int> rowSlots;
    };
    static constexpr quint32 kUnranked = 0xffffffffu;

    static const QString& textOf(const Row& row, int k);

    Dictionary& dictionary(int k);
    int slotFor(Dictionary& dict, const QString& text);
    static void placeEntries(Dictionary& dict, size_t capacity);
    // The collator's order, with its collation keys' verdict where a text is empty.
    int collate(QStringView a, QStringView b) const;
    void rank(Dictionary& dict);
    void compact(Dictionary& dict);
    void sortByText(int k, Qt::SortOrder order);
    // The row at all-rows index `from` moves to `to`; the others keep their order.
    void moveRow(int from, int to);
    void placeStray();
    // A row added, or whose text in the column of the order changed, may stand out of order.
    void noteStray(int all);

    void buildKey(Row& row);
    bool matches(const Row& row) const;
    void forgetKey(Row& row);
    void collectShown();

    std::vector<Row> m_rows;
    QList<Column> m_columns;
    QHash<QString, QIcon> m_icons;
    std::vector<Dictionary> m_dictionaries; // by column k
    QCollator m_collator;
    bool m_sorted = false;
    int m_sortKey = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_orderedBy = -1;
    Qt::SortOrder m_orderedAs = Qt::AscendingOrder;
    // The rows stand in that order, except perhaps m_strayRow (an all-rows index, -1 for none).
    bool m_inOrder = false;
    int m_strayRow = -1;

    QList<int> m_textColumns;
    QList<int> m_digitColumns;
    // Every row's key side by side: one block instead of a string per row keeps 100,000 keys in a few megabytes.
    KeyBlocks m_keys;
    std::string m_keyScratch;
    size_t m_staleKeyBytes = 0;
    std::vector<std::string> m_words;
    bool m_filtering = false;
    std::vector<int> m_shown; // the rows shown, in order, while filtering
};

#include "common/ListViewModel.h"

#include "core/SearchText.h"

#include <QLocale>

#include <string_view>

#include <algorithm>
#include <numeric>

ListViewModel::ListViewModel(QObject* parent)
    : QAbstractTableModel(parent)
    , m_collator(QLocale(QLocale::Italian, QLocale::Italy))
{
    // Case is ignored, accents are not: "Élise" sorts among the E's, right after "Elise".
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(false);
    m_collator.setIgnorePunctuation(false);
}

ListViewModel::~ListViewModel() = default;

int ListViewModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_filtering ? int(m_shown.size()) : int(m_rows.size());
}

int ListViewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant ListViewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Row& row = m_rows[size_t(shownToAll(index.row()))];
    switch (role) {
    case Qt::DisplayRole: {
        // No column is wider than a few hundred characters; laying out a whole megabyte of text for every paint
        // would freeze the window. The row keeps its whole text.
        constexpr qsizetype kShown = 2000;
        const QString& text = textOf(row, index.column());
        if (text.size() <= kShown)
            return text;
        return text.left(text.at(kShown - 1).isHighSurrogate() ? kShown - 1 : kShown);
    }
    case Qt::DecorationRole:
        if (index.column() == 0 && !row.iconKey.isEmpty()) {
            const auto icon = m_icons.constFind(row.iconKey);
            if (icon != m_icons.constEnd())
                return *icon;
        }
        return {};
    default:
        return {};
    }
}

QVariant ListViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns.at(section).text;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ListViewModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ListViewModel::clearColumns()
{
    if (m_columns.isEmpty())
        return;
    beginRemoveColumns({}, 0, int(m_columns.size()) - 1);
    m_columns.clear();
    endRemoveColumns();
}

int ListViewModel::addColumn(const Column& column)
{
    const int section = int(m_columns.size());
    beginInsertColumns({}, section, section);
    m_columns.append(column);
    endInsertColumns();
    return section;
}

void ListViewModel::setColumnWidth(int section, double widthTwips)
{
    m_columns[section].widthTwips = widthTwips;
}

void ListViewModel::clearRows()
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_dictionaries.clear();
    m_keys.clear();
    m_staleKeyBytes = 0;
    m_shown.clear();
    m_inOrder = false;
    m_strayRow = -1;
    endResetModel();
}

int ListViewModel::addRow(const QString& text, const QString& iconKey)
{
    int at = int(m_rows.size());
    if (m_sorted) {
        // After every row that sorts before it or equal to it, where a stable sort would have put it. Only the row
        // text exists yet: a list sorted by a sub-item takes the new row among its empty texts.
        const QString key = m_sortKey == 0 ? text : QString();
        const bool ascending = m_sortOrder == Qt::AscendingOrder;
        const auto place = std::partition_point(m_rows.begin(), m_rows.end(), [&](const Row& other) {
            const int c = collate(textOf(other, m_sortKey), key);
            return ascending ? c <= 0 : c >= 0;
        });
        at = int(place - m_rows.begin());
    }
    // A row added while a filter is set is shown whatever it holds: the user sees what was saved.
    const int shownAt = m_filtering ? int(std::lower_bound(m_shown.begin(), m_shown.end(), at) - m_shown.begin()) : at;
    beginInsertRows({}, shownAt, shownAt);
    m_rows.insert(m_rows.begin() + at, Row {QStringList {text}, iconKey, kNoKey, 0, 0});
    for (Dictionary& dict : m_dictionaries) {
        if (!dict.rowSlots.empty())
            dict.rowSlots.insert(dict.rowSlots.begin() + at, -1);
    }
    if (m_filtering) {
        for (auto it = m_shown.begin() + shownAt; it != m_shown.end(); ++it)
            ++*it;
        m_shown.insert(m_shown.begin() + shownAt, at);
    }
    if (m_strayRow >= at)
        ++m_strayRow;
    noteStray(at);
    endInsertRows();
    return shownAt;
}

void ListViewModel::removeRow(int row)
{
    const int all = shownToAll(row);
    beginRemoveRows({}, row, row);
    forgetKey(m_rows[size_t(all)]);
    m_rows.erase(m_rows.begin() + all);
    if (m_strayRow == all)
        m_strayRow = -1;
    else if (m_strayRow > all)
        --m_strayRow;
    for (Dictionary& dict : m_dictionaries) {
        if (!dict.rowSlots.empty())
            dict.rowSlots.erase(dict.rowSlots.begin() + all);
    }
    if (m_filtering) {
        m_shown.erase(m_shown.begin() + row);
        for (auto it = m_shown.begin() + row; it != m_shown.end(); ++it)
            --*it;
    }
    endRemoveRows();
}

void ListViewModel::setRows(QList<QStringList> rows, const QString& iconKey)
{
    beginResetModel();
    m_rows.clear();
    m_dictionaries.clear();
    m_keys.clear();
    m_staleKeyBytes = 0;
    m_inOrder = false;
    m_strayRow = -1;
    // Room for the contacts added in a session, so that the first save does not move every row to a larger block.
    m_rows.reserve(size_t(rows.size()) + 1024);
    for (QStringList& texts : rows)
        m_rows.push_back(Row {std::move(texts), iconKey, kNoKey, 0, 0});
    rows = {};
    if (!m_textColumns.isEmpty() || !m_digitColumns.isEmpty() || m_filtering) {
        for (Row& row : m_rows)
            buildKey(row);
    }
    if (m_filtering) {
        for (Row& row : m_rows)
            row.hidden = !matches(row);
        collectShown();
    }
    endResetModel();
    if (m_sorted)
        applySort();
}

QString ListViewModel::text(int row, int k) const
{
    return textOf(m_rows[size_t(shownToAll(row))], k);
}

void ListViewModel::setText(int row, int k, const QString& text)
{
    const int all = shownToAll(row);
    Row& target = m_rows[size_t(all)];
    QStringList& texts = target.texts;
    if (k >= texts.size())
        texts.resize(k + 1);
    texts[k] = text;
    if (size_t(k) < m_dictionaries.size() && !m_dictionaries[size_t(k)].rowSlots.empty())
        m_dictionaries[size_t(k)].rowSlots[size_t(all)] = -1;
    if (k == m_orderedBy)
        noteStray(all);
    // Built again when the next filter needs it.
    if (m_textColumns.contains(k) || m_digitColumns.contains(k))
        forgetKey(target);
    if (k < m_columns.size()) {
        const QModelIndex cell = index(row, k);
        emit dataChanged(cell, cell, {Qt::DisplayRole});
    }
}

void ListViewModel::setIcon(const QString& key, const QIcon& icon)
{
    m_icons.insert(key, icon);
    if (rowCount() > 0 && !m_columns.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::DecorationRole});
}

void ListViewModel::applySort()
{
    const bool sameOrder = m_inOrder && m_sorted && m_orderedBy == m_sortKey && m_orderedAs == m_sortOrder;
    m_orderedBy = m_sorted ? m_sortKey : -1;
    m_orderedAs = m_sortOrder;
    m_inOrder = m_sorted && m_sortKey >= 0;
    if (!m_inOrder) {
        m_strayRow = -1;
        return;
    }
    // A stable sort of rows that stand in order but for one row moves that row alone: it is placed by bisection.
    if (!sameOrder)
        sortByText(m_sortKey, m_sortOrder);
    else if (m_strayRow >= 0)
        placeStray();
    m_strayRow = -1;
}

void ListViewModel::noteStray(int all)
{
    if (!m_inOrder || all == m_strayRow)
        return;
    if (m_strayRow < 0) {
        m_strayRow = all;
    } else {
        // Two rows out of place: the next refresh sorts every row.
        m_inOrder = false;
        m_strayRow = -1;
    }
}

void ListViewModel::placeStray()
{
    const int stray = m_strayRow;
    const int others = int(m_rows.size()) - 1;
    const int k = m_orderedBy;
    const QString& text = textOf(m_rows[size_t(stray)], k);
    const bool ascending = m_orderedAs == Qt::AscendingOrder;
    // Negative for a row that sorts before the stray one, 0 for one equal to it.
    const auto before = [&](int other) {
        const int c = collate(textOf(m_rows[size_t(other < stray ? other : other + 1)], k), text);
        return ascending ? c : -c;
    };
    const auto bisect = [&](int from, int to, auto goesFirst) {
        while (from < to) {
            const int middle = from + (to - from) / 2;
            if (goesFirst(middle))
                from = middle + 1;
            else
                to = middle;
        }
        return from;
    };
    const int firstEqual = bisect(0, others, [&](int other) { return before(other) < 0; });
    const int afterEqual = bisect(firstEqual, others, [&](int other) { return before(other) <= 0; });
    // Among equal texts a stable sort keeps the rows' order, so the row only moves past rows that differ.
    moveRow(stray, std::clamp(stray, firstEqual, afterEqual));
}

void ListViewModel::moveRow(int from, int to)
{
    if (from == to)
        return;
    const auto moved = [from, to](int all) {
        if (all == from)
            return to;
        if (from < to && all > from && all <= to)
            return all - 1;
        if (to < from && all >= to && all < from)
            return all + 1;
        return all;
    };
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const auto rotate = [from, to](auto& items) {
        const auto at = [&items](int i) { return items.begin() + i; };
        if (from < to)
            std::rotate(at(from), at(from + 1), at(to + 1));
        else
            std::rotate(at(to), at(from), at(from + 1));
    };
    rotate(m_rows);
    for (Dictionary& dict : m_dictionaries) {
        if (!dict.rowSlots.empty())
            rotate(dict.rowSlots);
    }
    std::vector<int> shownBefore;
    if (m_filtering) {
        shownBefore.swap(m_shown);
        collectShown();
    }
    const QModelIndexList persistent = persistentIndexList();
    QModelIndexList now;
    now.reserve(persistent.size());
    for (const QModelIndex& old : persistent) {
        const int all = m_filtering ? shownBefore[size_t(old.row())] : old.row();
        now.append(index(allToShown(moved(all)), old.column()));
    }
    changePersistentIndexList(persistent, now);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

const QString& ListViewModel::textOf(const Row& row, int k)
{
    static const QString empty;
    return k >= 0 && k < row.texts.size() ? row.texts.at(k) : empty;
}

ListViewModel::Dictionary& ListViewModel::dictionary(int k)
{
    if (m_dictionaries.size() <= size_t(k))
        m_dictionaries.resize(size_t(k) + 1);
    return m_dictionaries[size_t(k)];
}

namespace {

// Asks for memory that will be read a few steps on. The texts of 100,000 rows lie all over the heap: waiting for each
// in turn, not the work on it, is what a first sort on a column costs.
inline void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    Q_UNUSED(address);
#endif
}

quint32 hashOf(QStringView text)
{
    // FNV-1a over the code units, then mixed so that the low bits, which pick the place, depend on every unit.
    quint64 h = 14695981039346656037ull;
    for (const QChar c : text)
        h = (h ^ c.unicode()) * 1099511628211ull;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return quint32(h);
}

} // namespace

void ListViewModel::placeEntries(Dictionary& dict, size_t capacity)
{
    dict.places.assign(capacity, 0);
    const size_t mask = capacity - 1;
    for (size_t slot = 0; slot < dict.entries.size(); ++slot) {
        const quint32 hash = dict.entries[slot].hash;
        size_t at = hash & mask;
        while (dict.places[at] != 0)
            at = (at + 1) & mask;
        dict.places[at] = (quint64(hash) << 32) | quint64(slot + 1);
    }
}

int ListViewModel::slotFor(Dictionary& dict, const QString& text)
{
    // At most half the places taken, so a probe ends soon at a free one.
    if (dict.places.size() < 2 * (dict.entries.size() + 1))
        placeEntries(dict, std::max<size_t>(64, dict.places.size() * 2));
    const quint32 hash = hashOf(text);
    const size_t mask = dict.places.size() - 1;
    size_t at = hash & mask;
    for (; dict.places[at] != 0; at = (at + 1) & mask) {
        const quint64 place = dict.places[at];
        const size_t slot = size_t(place & 0xffffffffu) - 1;
        if (quint32(place >> 32) == hash && dict.entries[slot].text == text)
            return int(slot);
    }
    const int slot = int(dict.entries.size());
    dict.entries.push_back({text, kUnranked, hash});
    dict.places[at] = (quint64(hash) << 32) | quint64(slot + 1);
    ++dict.unranked;
    return slot;
}

int ListViewModel::collate(QStringView a, QStringView b) const
{
    // QCollator::compare puts an empty text before every other, where the collation keys find it equal to a text
    // of ignorable characters only; the keys decide there, as they do for the rest through the same collator.
    if (a.isEmpty() || b.isEmpty())
        return m_collator.sortKey(a.toString()).compare(m_collator.sortKey(b.toString()));
    return m_collator.compare(a, b);
}

namespace {

// The first eight code units of a text, each cut to a byte, in one number that orders as they do.
quint64 leadingUnits(QStringView text)
{
    quint64 value = 0;
    for (qsizetype i = 0; i < 8; ++i)
        value = (value << 8) | (i < text.size() ? std::min<quint64>(text[i].unicode(), 0xff) : 0);
    return value;
}

// Sorts items by compare (negative, zero or positive), finding the runs already in order and merging them
// pairwise: n comparisons when the items are in order, a few passes when they form a few runs. Returns whether they
// were in order; then sameAsNext[i] tells whether items i and i + 1 compare equal.
template<typename Compare>
bool naturalMergeSort(std::vector<int>& items, Compare compare, std::vector<bool>& sameAsNext)
{
    const size_t n = items.size();
    sameAsNext.assign(n, false);
    std::vector<size_t> runs {0};
    for (size_t i = 1; i < n; ++i) {
        const int c = compare(items[i - 1], items[i]);
        if (c > 0)
            runs.push_back(i);
        sameAsNext[i - 1] = c == 0;
    }
    runs.push_back(n);
    if (runs.size() <= 2)
        return true;
    const auto less = [&](int a, int b) { return compare(a, b) < 0; };
    std::vector<int> merged(n);
    while (runs.size() > 2) {
        std::vector<size_t> next {0};
        for (size_t r = 0; r + 1 < runs.size(); r += 2) {
            const auto first = items.begin() + qsizetype(runs[r]);
            const auto middle = items.begin() + qsizetype(runs[r + 1]);
            const size_t end = r + 2 < runs.size() ? runs[r + 2] : runs[r + 1];
            std::merge(
                first, middle, middle, items.begin() + qsizetype(end), merged.begin() + qsizetype(runs[r]), less);
            next.push_back(end);
        }
        items.swap(merged);
        runs.swap(next);
    }
    return false;
}

// Moves items[i] to items[newIndexOf[i]] in place, one cycle of the permutation at a time: a second block of
// 100,000 rows at every sort would be fresh memory, faulted in page by page, and would lose the room kept for new rows.
template<typename T>
void permute(std::vector<T>& items, const std::vector<int>& newIndexOf)
{
    std::vector<bool> placed(items.size(), false);
    for (size_t start = 0; start < items.size(); ++start) {
        if (placed[start] || size_t(newIndexOf[start]) == start)
            continue;
        T carried = std::move(items[start]);
        for (size_t to = size_t(newIndexOf[start]); to != start; to = size_t(newIndexOf[to])) {
            std::swap(carried, items[to]);
            placed[to] = true;
        }
        items[start] = std::move(carried);
        placed[start] = true;
    }
}

} // namespace

void ListViewModel::rank(Dictionary& dict)
{
    const size_t count = dict.entries.size();
    std::vector<int> known;
    std::vector<int> added;
    known.reserve(count - size_t(dict.unranked));
    added.reserve(size_t(dict.unranked));
    quint32 top = 0;
    for (int slot = 0; slot < int(count); ++slot) {
        const quint32 r = dict.entries[size_t(slot)].rank;
        if (r == kUnranked) {
            added.push_back(slot);
        } else {
            known.push_back(slot);
            top = std::max(top, r);
        }
    }

    // The entries ranked before keep their order: a counting sort on their ranks.
    if (!known.empty()) {
        std::vector<int> start(size_t(top) + 2, 0);
        for (int slot : known)
            ++start[size_t(dict.entries[size_t(slot)].rank) + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<int> byRank(known.size());
        for (int slot : known)
            byRank[size_t(start[size_t(dict.entries[size_t(slot)].rank)]++)] = slot;
        known.swap(byRank);
    }

    // The new texts side by side in one block, so that comparing them reads memory in order. They are put in code
    // unit order first, which is cheap and mostly the collator's order already, then the collator sorts the runs.
    std::vector<qsizetype> offsets(added.size() + 1, 0);
    for (size_t i = 0; i < added.size(); ++i)
        offsets[i + 1] = offsets[i] + dict.entries[size_t(added[i])].text.size();
    std::u16string block(size_t(offsets.back()), u'\0');
    for (size_t i = 0; i < added.size(); ++i) {
        if (i + 8 < added.size())
            prefetch(dict.entries[size_t(added[i + 8])].text.constData());
        const QString& text = dict.entries[size_t(added[i])].text;
        std::copy_n(text.utf16(), text.size(), block.begin() + offsets[i]);
    }
    std::vector<int> blockOf(count, -1);
    for (size_t i = 0; i < added.size(); ++i)
        blockOf[size_t(added[i])] = int(i);
    const auto textOfSlot = [&](int slot) {
        const int i = blockOf[size_t(slot)];
        return i < 0 ? QStringView(dict.entries[size_t(slot)].text)
                     : QStringView(block.data() + offsets[size_t(i)], offsets[size_t(i) + 1] - offsets[size_t(i)]);
    };
    {
        std::vector<std::pair<quint64, int>> keyed(added.size());
        for (size_t i = 0; i < added.size(); ++i)
            keyed[i] = {leadingUnits(textOfSlot(added[i])), added[i]};
        const auto less = [&](const std::pair<quint64, int>& a, const std::pair<quint64, int>& b) {
            return a.first != b.first ? a.first < b.first : textOfSlot(a.second) < textOfSlot(b.second);
        };
        std::sort(keyed.begin(), keyed.end(), less);
        for (size_t i = 0; i < added.size(); ++i)
            added[i] = keyed[i].second;
    }
    std::vector<bool> sameAsNext;
    const bool addedInOrder = naturalMergeSort(
        added, [&](int a, int b) { return collate(textOfSlot(a), textOfSlot(b)); }, sameAsNext);

    // Every ranked entry that does not sort after a new text goes before it. A few new texts find their place by
    // bisection; many are merged in one pass.
    std::vector<int> merged;
    merged.reserve(count);
    const bool bisect = added.size() * 32 < known.size();
    auto next = known.begin();
    for (int slot : added) {
        const QStringView text = textOfSlot(slot);
        const auto notAfter = [&](int other) { return collate(textOfSlot(other), text) <= 0; };
        const auto place = bisect ? std::partition_point(next, known.end(), notAfter)
                                  : std::find_if_not(next, known.end(), notAfter);
        merged.insert(merged.end(), next, place);
        merged.push_back(slot);
        next = place;
    }
    merged.insert(merged.end(), next, known.end());

    std::vector<quint32> ranks(merged.size());
    quint32 rank = 0;
    for (size_t i = 0; i < merged.size(); ++i) {
        if (i > 0) {
            const Dictionary::Entry& previous = dict.entries[size_t(merged[i - 1])];
            const Dictionary::Entry& current = dict.entries[size_t(merged[i])];
            bool equal = false;
            if (previous.rank != kUnranked && current.rank != kUnranked)
                equal = previous.rank == current.rank;
            else if (known.empty() && addedInOrder)
                equal = sameAsNext[i - 1]; // the new texts alone, compared pairwise while they were sorted
            else
                equal = collate(textOfSlot(merged[i - 1]), textOfSlot(merged[i])) == 0;
            if (!equal)
                ++rank;
        }
        ranks[i] = rank;
    }
    for (size_t i = 0; i < merged.size(); ++i)
        dict.entries[size_t(merged[i])].rank = ranks[i];
    dict.unranked = 0;
}

void ListViewModel::compact(Dictionary& dict)
{
    std::vector<int>& rowSlots = dict.rowSlots;
    // Texts that no row holds any more are dropped once they outnumber the live ones; the ranks keep their order.
    std::vector<int> newSlot(dict.entries.size(), -1);
    for (int slot : rowSlots)
        newSlot[size_t(slot)] = 0;
    const size_t live = size_t(std::count(newSlot.begin(), newSlot.end(), 0));
    if (dict.entries.size() < 1024 || dict.entries.size() - live <= live)
        return;

    std::vector<Dictionary::Entry> kept;
    kept.reserve(live);
    dict.unranked = 0;
    for (size_t slot = 0; slot < dict.entries.size(); ++slot) {
        if (newSlot[slot] < 0)
            continue;
        newSlot[slot] = int(kept.size());
        if (dict.entries[slot].rank == kUnranked)
            ++dict.unranked;
        kept.push_back(std::move(dict.entries[slot]));
    }
    dict.entries.swap(kept);
    size_t capacity = 64;
    while (capacity < 2 * (live + 1))
        capacity *= 2;
    placeEntries(dict, capacity);
    for (int& slot : rowSlots)
        slot = newSlot[size_t(slot)];
}

void ListViewModel::sortByText(int k, Qt::SortOrder order)
{
    if (k < 0)
        return;
    Dictionary& dict = dictionary(k);
    const size_t n = m_rows.size();
    std::vector<int>& rowSlots = dict.rowSlots;
    if (rowSlots.size() != n)
        rowSlots.assign(n, -1);
    const auto pending = size_t(std::count(rowSlots.begin(), rowSlots.end(), -1));
    // When most rows are looked up, two steps of reading ahead: a row's list of texts, then the text itself.
    const bool readAhead = pending * 2 > n;
    constexpr size_t ahead = 8;
    for (size_t i = 0; i < n && pending > 0; ++i) {
        if (readAhead && i + 2 * ahead < n)
            prefetch(m_rows[i + 2 * ahead].texts.constData());
        if (readAhead && i + ahead < n)
            prefetch(textOf(m_rows[i + ahead], k).constData());
        if (rowSlots[i] < 0)
            rowSlots[i] = slotFor(dict, textOf(m_rows[i], k));
    }
    compact(dict);
    if (dict.unranked > 0)
        rank(dict);

    // A counting sort on the ranks: linear, and stable, so rows with equal texts keep their relative order.
    quint32 top = 0;
    for (const Dictionary::Entry& entry : dict.entries)
        top = std::max(top, entry.rank);
    const auto bucketOf = [&](size_t row) {
        const quint32 r = dict.entries[size_t(rowSlots[row])].rank;
        return size_t(order == Qt::AscendingOrder ? r : top - r);
    };
    std::vector<int> start(size_t(top) + 2, 0);
    for (size_t i = 0; i < n; ++i)
        ++start[bucketOf(i) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<int> newRowOf(n);
    bool unchanged = true;
    for (size_t i = 0; i < n; ++i) {
        newRowOf[i] = start[bucketOf(i)]++;
        unchanged = unchanged && newRowOf[i] == int(i);
    }
    if (unchanged)
        return;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    permute(m_rows, newRowOf);
    std::vector<int> shownBefore;
    if (m_filtering) {
        shownBefore.swap(m_shown);
        collectShown();
    }
    for (Dictionary& other : m_dictionaries) {
        if (other.rowSlots.empty())
            continue;
        std::vector<int> moved(n);
        for (size_t i = 0; i < n; ++i)
            moved[size_t(newRowOf[i])] = other.rowSlots[i];
        other.rowSlots.swap(moved);
    }

    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
        const int all = m_filtering ? shownBefore[size_t(old.row())] : old.row();
        to.append(index(allToShown(newRowOf[size_t(all)]), old.column()));
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ListViewModel::allToShown(int row) const
{
    if (!m_filtering)
        return row;
    const auto it = std::lower_bound(m_shown.begin(), m_shown.end(), row);
    return it != m_shown.end() && *it == row ? int(it - m_shown.begin()) : -1;
}

void ListViewModel::setSearchColumns(const QList<int>& textColumns, const QList<int>& digitColumns)
{
    m_textColumns = textColumns;
    m_digitColumns = digitColumns;
    m_keys.clear();
    m_staleKeyBytes = 0;
    for (Row& row : m_rows)
        row.keyAt = kNoKey;
}

bool ListViewModel::setFilter(const QString& text)
{
    std::vector<std::string> words = SearchText::words(text);
    // The longest word first: it is the likeliest to turn a row down at once.
    std::stable_sort(
        words.begin(), words.end(), [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    if (words == m_words && m_filtering == !words.empty())
        return false;
    // Typing on narrows what is shown already: a row that lacked a word lacks any word holding it.
    const bool narrowing = m_filtering && std::all_of(m_words.begin(), m_words.end(), [&](const std::string& old) {
                               return std::any_of(words.begin(), words.end(), [&](const std::string& word) {
                                   return word.find(old) != std::string::npos;
                               });
                           });
    m_words = std::move(words);

    beginResetModel();
    if (m_words.empty()) {
        m_filtering = false;
        m_shown.clear();
        m_shown.shrink_to_fit();
        for (Row& row : m_rows)
            row.hidden = false;
    } else if (narrowing) {
        for (int i : m_shown) {
            Row& row = m_rows[size_t(i)];
            if (row.keyAt == kNoKey)
                buildKey(row);
            row.hidden = !matches(row);
        }
        collectShown();
    } else {
        if (m_staleKeyBytes > 65536 && m_staleKeyBytes * 2 > m_keys.bytes()) {
            // Keys of rows rewritten or removed since the load fill half the blocks: build them all again.
            m_keys.clear();
            m_staleKeyBytes = 0;
            for (Row& row : m_rows)
                row.keyAt = kNoKey;
        }
        for (Row& row : m_rows) {
            if (row.keyAt == kNoKey)
                buildKey(row);
            row.hidden = !matches(row);
        }
        m_filtering = true;
        collectShown();
    }
    endResetModel();
    return true;
}

void ListViewModel::buildKey(Row& row)
{
    std::string& key = m_keyScratch;
    key.clear();
    for (int k : std::as_const(m_textColumns)) {
        SearchText::appendFolded(key, textOf(row, k));
        key += '\x1f'; // no word holds it, so none runs from one column into the next
    }
    for (int k : std::as_const(m_digitColumns)) {
        SearchText::appendDigits(key, textOf(row, k));
        key += '\x1f';
    }
    // A key is cut at 2 GB; no text of a contact comes near.
    key.resize(std::min<size_t>(key.size(), 0x7fffffffu));
    row.keyAt = m_keys.add(key);
    row.keyLength = quint32(key.size());
}

void ListViewModel::forgetKey(Row& row)
{
    if (row.keyAt == kNoKey)
        return;
    m_staleKeyBytes += row.keyLength;
    row.keyAt = kNoKey;
}

quint32 ListViewModel::KeyBlocks::add(std::string_view key)
{
    constexpr size_t blockSize = size_t(1) << kShift;
    if (key.size() > m_free) {
        // A key longer than a block gets a block of its own.
        const size_t size = std::max(blockSize, key.size());
        m_blocks.push_back(std::make_unique<char[]>(size));
        m_free = size;
        m_bytes += size;
    }
    const size_t size = std::max(blockSize, key.size());
    const size_t offset = size - m_free;
    std::copy(key.begin(), key.end(), m_blocks.back().get() + offset);
    m_free -= key.size();
    if (size > blockSize)
        m_free = 0; // the next key starts a block of the usual size
    return quint32(((m_blocks.size() - 1) << kShift) | offset);
}

void ListViewModel::KeyBlocks::clear()
{
    m_blocks.clear();
    m_blocks.shrink_to_fit();
    m_free = 0;
    m_bytes = 0;
}

bool ListViewModel::matches(const Row& row) const
{
    if (row.keyAt == kNoKey)
        return false;
    const std::string_view key = m_keys.at(row.keyAt, row.keyLength);
    for (const std::string& word : m_words) {
        if (key.find(word) == std::string_view::npos)
            return false;
    }
    return true;
}

void ListViewModel::collectShown()
{
    m_shown.clear();
    for (size_t i = 0; i < m_rows.size(); ++i) {
        if (!m_rows[i].hidden)
            m_shown.push_back(int(i));
    }
}

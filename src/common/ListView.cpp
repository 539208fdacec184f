#include "common/ListView.h"

#include "common/ListViewModel.h"
#include "common/Twips.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include <functional>

namespace {

// A tree view that reports the rows the user selects. Only mouse and keyboard input count: selections made by code
// (setSelectedIndex, rows following a sort, a removed row) raise nothing.
class ListTreeView : public QTreeView
{
public:
    using QTreeView::QTreeView;

    std::function<void(int)> userSelected; // 0-based row
    bool resizingByCode = false;

    int selectedRow() const
    {
        const QItemSelection selection = selectionModel()->selection();
        return selection.isEmpty() ? -1 : selection.first().top();
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const int before = selectedRow();
        QTreeView::mousePressEvent(event);
        // A click on the row that is already selected is a selection too: the window shows that row again.
        const bool onRow = event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid();
        report(before, onRow);
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        const int before = selectedRow();
        QTreeView::mouseMoveEvent(event);
        report(before, false);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        const int before = selectedRow();
        QTreeView::mouseReleaseEvent(event);
        report(before, false);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const int before = selectedRow();
        QTreeView::keyPressEvent(event);
        report(before, false);
    }

    // A cell cut short by its column shows its whole text as a tooltip; one that fits shows none.
    bool viewportEvent(QEvent* event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QTreeView::viewportEvent(event);
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.data(Qt::DisplayRole).toString();
        if (index.isValid() && isCut(index, text)) {
            QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }

private:
    bool isCut(const QModelIndex& index, const QString& text) const
    {
        if (text.isEmpty())
            return false;
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        option.index = index;
        option.text = text;
        option.features |= QStyleOptionViewItem::HasDisplay;
        if (!index.data(Qt::DecorationRole).isNull())
            option.features |= QStyleOptionViewItem::HasDecoration;
        const QRect textRect = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
        // The style keeps a margin each side of the text inside its rectangle.
        const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1;
        return option.fontMetrics.horizontalAdvance(text) > textRect.width() - 2 * margin;
    }

    void report(int before, bool always)
    {
        const int after = selectedRow();
        if (after >= 0 && (after != before || always) && userSelected)
            userSelected(after);
    }
};

ListTreeView* treeOf(QTreeView* view)
{
    return static_cast<ListTreeView*>(view);
}

bool validIndex(const ListViewModel* model, int index)
{
    return index >= 1 && index <= model->rowCount();
}

bool validPosition(const ListViewModel* model, int position)
{
    return position >= 1 && position <= model->columnCount();
}

// The cell of a 1-based row in the first column that is shown: a hidden column has no place on screen to scroll to
// or to measure.
QModelIndex cellOf(const QTreeView* view, const ListViewModel* model, int index)
{
    const int columns = model->columnCount();
    int column = 0;
    while (column < columns - 1 && view->isColumnHidden(column))
        ++column;
    return model->index(index - 1, column);
}

// The arrow shows the order the rows stand in, which only refresh() changes.
void updateSortIndicator(QTreeView* view, const ListViewModel* model)
{
    QHeaderView* header = view->header();
    const int section = model->orderedBy();
    const bool shown = section >= 0 && section < model->columnCount();
    header->setSortIndicatorShown(shown);
    if (shown)
        header->setSortIndicator(section, model->orderedAs());
}

} // namespace

ListView::ListView(QWidget* parent)
    : QWidget(parent)
    , m_view(new ListTreeView(this))
    , m_model(new ListViewModel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);

    m_view->setObjectName(QStringLiteral("view"));
    m_view->setModel(m_model);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setExpandsOnDoubleClick(false);
    m_view->setUniformRowHeights(true);
    m_view->setAlternatingRowColors(false);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setAllColumnsShowFocus(true);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSortingEnabled(false);
    m_view->setIconSize(QSize(16, 16));
    m_view->setHeaderHidden(false);

    QHeaderView* header = m_view->header();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false); // positions are the columns' numbers; the print routine reads them in order
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSortIndicatorShown(false);

    auto* tree = treeOf(m_view);
    tree->userSelected = [this](int row) { emit ItemClick(row + 1); };
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) {
        emit ColumnClick(section + 1);
        updateSortIndicator(m_view, m_model);
    });
    // A width the user drags is the column's width from then on, as the print routine should see it.
    connect(header, &QHeaderView::sectionResized, this, [this, tree](int section, int, int newSize) {
        if (!tree->resizingByCode && newSize > 0 && section < m_model->columnCount())
            m_model->setColumnWidth(section, pixelsToTwips(newSize));
    });
}

ListView::~ListView() = default;

void ListView::clearColumnHeaders()
{
    treeOf(m_view)->resizingByCode = true;
    m_model->clearColumns();
    treeOf(m_view)->resizingByCode = false;
    updateSortIndicator(m_view, m_model);
}

int ListView::addColumnHeader(const QString& text, double widthTwips, const QString& key)
{
    auto* tree = treeOf(m_view);
    tree->resizingByCode = true;
    const int section = m_model->addColumn({text, widthTwips, key});
    const int pixels = twipsToPixels(widthTwips);
    // A zero-width column carries data that nobody sees; hidden, it cannot be dragged open either.
    m_view->setColumnHidden(section, pixels <= 0);
    if (pixels > 0)
        m_view->header()->resizeSection(section, pixels);
    tree->resizingByCode = false;
    updateSortIndicator(m_view, m_model);
    return section + 1;
}

int ListView::columnHeaderCount() const
{
    return m_model->columnCount();
}

QString ListView::columnHeaderText(int position) const
{
    return validPosition(m_model, position) ? m_model->column(position - 1).text : QString();
}

double ListView::columnHeaderWidth(int position) const
{
    return validPosition(m_model, position) ? m_model->column(position - 1).widthTwips : 0.0;
}

QString ListView::columnHeaderKey(int position) const
{
    return validPosition(m_model, position) ? m_model->column(position - 1).key : QString();
}

int ListView::columnHeaderSubItemIndex(int position) const
{
    return validPosition(m_model, position) ? position - 1 : 0;
}

void ListView::clearItems()
{
    m_model->clearRows();
}

int ListView::addItem(const QString& text, const QString& smallIconKey)
{
    return m_model->addRow(text, smallIconKey) + 1;
}

int ListView::itemCount() const
{
    return m_model->rowCount();
}

void ListView::removeItem(int index)
{
    if (validIndex(m_model, index))
        m_model->removeRow(index - 1);
}

QString ListView::itemText(int index) const
{
    return validIndex(m_model, index) ? m_model->text(index - 1, 0) : QString();
}

void ListView::setItemText(int index, const QString& text)
{
    if (validIndex(m_model, index))
        m_model->setText(index - 1, 0, text);
}

QString ListView::subItem(int index, int k) const
{
    return validIndex(m_model, index) && k >= 1 ? m_model->text(index - 1, k) : QString();
}

void ListView::setSubItem(int index, int k, const QString& text)
{
    if (validIndex(m_model, index) && k >= 1)
        m_model->setText(index - 1, k, text);
}

QString ListView::itemSmallIcon(int index) const
{
    return validIndex(m_model, index) ? m_model->iconKey(index - 1) : QString();
}

void ListView::setRows(QList<QStringList> rows, const QString& smallIconKey)
{
    m_model->setRows(std::move(rows), smallIconKey);
}

void ListView::setSearchColumns(const QList<int>& textColumns, const QList<int>& digitColumns)
{
    m_model->setSearchColumns(textColumns, digitColumns);
}

bool ListView::setFilter(const QString& text)
{
    const int selected = treeOf(m_view)->selectedRow();
    const int selectedOfAll = selected >= 0 ? m_model->shownToAll(selected) : -1;
    if (!m_model->setFilter(text))
        return false;
    int row = selectedOfAll >= 0 ? m_model->allToShown(selectedOfAll) : -1;
    const bool kept = row >= 0;
    if (!kept && m_model->rowCount() > 0)
        row = 0;
    if (row >= 0) {
        setSelectedIndex(row + 1);
        ensureVisible(row + 1);
    }
    return !kept;
}

bool ListView::filtered() const
{
    return m_model->filtered();
}

int ListView::totalItemCount() const
{
    return m_model->allRowCount();
}

void ListView::addFooter(QWidget* widget)
{
    static_cast<QVBoxLayout*>(layout())->addWidget(widget);
}

void ListView::ensureVisible(int index)
{
    if (validIndex(m_model, index))
        m_view->scrollTo(cellOf(m_view, m_model, index), QAbstractItemView::EnsureVisible);
}

bool ListView::isItemVisible(int index) const
{
    if (!validIndex(m_model, index))
        return false;
    const QRect rect = m_view->visualRect(cellOf(m_view, m_model, index));
    if (rect.isEmpty())
        return false;
    const QRect viewport = m_view->viewport()->rect();
    return rect.bottom() >= viewport.top() && rect.top() <= viewport.bottom();
}

int ListView::selectedIndex() const
{
    return treeOf(m_view)->selectedRow() + 1;
}

void ListView::setSelectedIndex(int index)
{
    QItemSelectionModel* selection = m_view->selectionModel();
    if (index == 0) {
        selection->clear();
        return;
    }
    if (!validIndex(m_model, index))
        return;
    selection->setCurrentIndex(cellOf(m_view, m_model, index),
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool ListView::sorted() const
{
    return m_model->sorted();
}

void ListView::setSorted(bool sorted)
{
    m_model->setSorted(sorted);
}

int ListView::sortKey() const
{
    return m_model->sortKey();
}

void ListView::setSortKey(int key)
{
    m_model->setSortKey(qMax(0, key));
}

int ListView::sortOrder() const
{
    return m_model->sortOrder() == Qt::AscendingOrder ? lvwAscending : lvwDescending;
}

void ListView::setSortOrder(int order)
{
    m_model->setSortOrder(order == lvwDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void ListView::refresh()
{
    m_model->applySort();
    updateSortIndicator(m_view, m_model);
}

int ListView::refreshFollowing(int index)
{
    // Followed by a persistent index, not by selecting it: a selection made now would lay out every row at once,
    // and again after the sort.
    const QPersistentModelIndex row = validIndex(m_model, index) ? m_model->index(index - 1, 0) : QModelIndex();
    refresh();
    return row.isValid() ? row.row() + 1 : 0;
}

void ListView::setSmallIcon(const QString& key, const QIcon& icon)
{
    m_model->setIcon(key, icon);
}

double ListView::widthTwips() const
{
    return pixelsToTwips(width());
}

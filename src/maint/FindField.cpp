#include "maint/FindField.h"

#include "common/ListView.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QShortcut>
#include <QStyle>
#include <QTreeView>

namespace {

// The columns of a contact row: the five texts, then the mobile and the telephone number.
const QList<int> kTextColumns {0, 1, 2, 3, 4};
const QList<int> kDigitColumns {5, 6};

bool movesSelection(int key)
{
    return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown;
}

} // namespace

FindField::FindField(ListView* list)
    : QLineEdit(list)
    , m_list(list)
    , lblFindCount(new QLabel(this))
    , m_escapeOnList(new QShortcut(QKeySequence(Qt::Key_Escape), list->view(), nullptr, nullptr, Qt::WidgetShortcut))
{
    setObjectName(QStringLiteral("txtFind"));
    setPlaceholderText(QStringLiteral("Trova: cognome, nome, città, telefono…"));
    setClearButtonEnabled(false);
    hide();
    lblFindCount->setObjectName(QStringLiteral("lblFindCount"));
    // The count is part of the field: its colours, never a warning of its own.
    lblFindCount->setForegroundRole(QPalette::PlaceholderText);
    lblFindCount->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblFindCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_list->setSearchColumns(kTextColumns, kDigitColumns);
    m_list->addFooter(this);
    m_escapeOnList->setEnabled(false);
    connect(m_escapeOnList, &QShortcut::activated, this, &FindField::closeFind);
    connect(this, &QLineEdit::textChanged, this, &FindField::narrow);

    QAbstractItemModel* model = m_list->view()->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
        connect(model, signal, this, &FindField::updateCount);
    }
    connect(model, &QAbstractItemModel::modelReset, this, &FindField::updateCount);
}

void FindField::openFind()
{
    if (!isVisible()) {
        show();
        m_escapeOnList->setEnabled(true);
        updateCount();
    }
    setFocus(Qt::ShortcutFocusReason);
    selectAll();
}

void FindField::closeFind()
{
    dismiss();
    m_list->setFocus(Qt::OtherFocusReason);
}

void FindField::dismiss()
{
    clear();
    hide();
    m_escapeOnList->setEnabled(false);
}

void FindField::narrow(const QString& text)
{
    if (m_list->setFilter(text))
        emit selectionMoved(m_list->selectedIndex());
    updateCount();
}

void FindField::updateCount()
{
    if (!isVisible())
        return;
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    const int shown = m_list->itemCount();
    lblFindCount->setText(
        shown == 0
            ? QStringLiteral("Nessun contatto")
            : QStringLiteral("%1 di %2").arg(italian.toString(shown), italian.toString(m_list->totalItemCount())));
    placeCount();
}

void FindField::placeCount()
{
    const int margin = style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, this);
    const int width = lblFindCount->sizeHint().width();
    lblFindCount->setGeometry(rect().width() - width - qMax(margin, 4), 0, width, rect().height());
    // Typed text never runs under the count.
    setTextMargins(0, 0, width + qMax(margin, 4), 0);
}

bool FindField::event(QEvent* event)
{
    // Esc belongs to the field while it has the focus, not to the window's keys.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void FindField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        closeFind();
        return;
    }
    if (movesSelection(event->key()) && event->modifiers() == Qt::NoModifier) {
        // The list moves its selection and reports it as the user's, as if the keys were pressed on it.
        QApplication::sendEvent(m_list->view(), event);
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        m_list->setFocus(Qt::OtherFocusReason);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void FindField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Left empty, the field goes; a menu or another window taking the focus for a moment is not leaving it.
    const bool leaving = event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason;
    if (leaving && text().isEmpty() && isVisible() && isEnabled())
        dismiss();
}

void FindField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeCount();
}

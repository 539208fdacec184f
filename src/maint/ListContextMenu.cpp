#include "maint/ListContextMenu.h"

#include "common/ListView.h"
#include "report/Form1.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QShortcut>
#include <QToolButton>
#include <QTreeView>

ListContextMenu::ListContextMenu(
    ListView* list, QToolButton* add, QToolButton* update, QToolButton* remove, QToolButton* print, QWidget* window)
    : QObject(window)
    , m_list(list)
    , m_add(add)
    , m_update(update)
    , m_remove(remove)
    , m_print(print)
    , m_window(window)
    , m_menu(new QMenu(window))
{
    m_menu->setObjectName(QStringLiteral("mnuList"));
    actAdd = m_menu->addAction(QStringLiteral("Aggiungi"));
    actUpdate = m_menu->addAction(QStringLiteral("Aggiorna"));
    actDelete = m_menu->addAction(QStringLiteral("Elimina"));
    actCopy = m_menu->addAction(QStringLiteral("Copia contatto"));
    m_menu->addSeparator();
    actFind = m_menu->addAction(QStringLiteral("Trova…"));
    m_moreEnd = m_menu->addSeparator();
    actPrint = m_menu->addAction(QStringLiteral("Stampa…"));
    actPreview = m_menu->addAction(QStringLiteral("Anteprima rubrica…"));
    actAdd->setObjectName(QStringLiteral("actAdd"));
    actUpdate->setObjectName(QStringLiteral("actUpdate"));
    actDelete->setObjectName(QStringLiteral("actDelete"));
    actCopy->setObjectName(QStringLiteral("actCopy"));
    actFind->setObjectName(QStringLiteral("actFind"));
    actPrint->setObjectName(QStringLiteral("actPrint"));
    actPreview->setObjectName(QStringLiteral("actPreview"));
    // The menu names the keys that do the same from the window; bound to the menu alone, they never fire twice.
    const QList<QPair<QAction*, QKeySequence>> keys {{actAdd, QKeySequence(Qt::CTRL | Qt::Key_N)},
                                                     {actUpdate, QKeySequence(Qt::Key_F2)},
                                                     {actDelete, QKeySequence::Delete},
                                                     {actFind, QKeySequence::Find},
                                                     {actPrint, QKeySequence(Qt::CTRL | Qt::Key_P)}};
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
    }

    // The button is asked again when the action runs: the menu may have stayed open across a change of state.
    for (const auto& [action, button] : {QPair<QAction*, QToolButton*> {actAdd, m_add},
                                         {actUpdate, m_update},
                                         {actDelete, m_remove},
                                         {actPrint, m_print}}) {
        connect(action, &QAction::triggered, button, [button = button] {
            if (button->isEnabled())
                button->click();
        });
    }
    connect(actCopy, &QAction::triggered, this, &ListContextMenu::copyContact);
    connect(actFind, &QAction::triggered, this, [this] {
        if (m_list->isEnabled())
            emit findRequested();
    });
    connect(actPreview, &QAction::triggered, this, &ListContextMenu::openPreview);

    // An item view reports the request with a place in its viewport.
    m_list->view()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list->view(), &QWidget::customContextMenuRequested, this, &ListContextMenu::popup);
    // The other key that opens a context menu; Qt turns only the Menu key into a request.
    auto* shiftF10
        = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), m_list->view(), nullptr, nullptr, Qt::WidgetShortcut);
    connect(shiftF10, &QShortcut::activated, this, &ListContextMenu::popupAtSelection);
}

ListContextMenu::~ListContextMenu()
{
    delete m_preview.data();
}

void ListContextMenu::addActions(const QList<QAction*>& actions)
{
    m_menu->insertActions(m_moreEnd, actions);
    m_window->addActions(actions);
}

Form1* ListContextMenu::previewWindow() const
{
    return m_preview.data();
}

void ListContextMenu::popup(const QPoint& at)
{
    // The right button has selected the row under it already (the list reports it as a click); the menu follows
    // the state the buttons are in now.
    actAdd->setEnabled(m_add->isEnabled());
    actUpdate->setEnabled(m_update->isEnabled());
    actDelete->setEnabled(m_remove->isEnabled());
    actCopy->setEnabled(m_list->isEnabled() && m_list->selectedIndex() > 0);
    actFind->setEnabled(m_list->isEnabled());
    actPrint->setEnabled(m_print->isEnabled());
    m_menu->popup(m_list->view()->viewport()->mapToGlobal(at));
}

void ListContextMenu::popupAtSelection()
{
    const QTreeView* view = m_list->view();
    const QRect row = view->visualRect(view->currentIndex());
    popup(row.isValid() ? row.center() : QPoint(0, 0));
}

QString ListContextMenu::contactText(const ListView* list, int index)
{
    const auto join = [](const QStringList& parts) {
        QStringList kept;
        for (const QString& part : parts) {
            if (!part.trimmed().isEmpty())
                kept.append(part.trimmed());
        }
        return kept.join(QLatin1Char(' '));
    };
    const QString province = list->subItem(index, 4).trimmed();
    QStringList lines {join({list->subItem(index, 1), list->itemText(index)}),
                       list->subItem(index, 2).trimmed(),
                       join({list->subItem(index, 3), province.isEmpty() ? QString() : '(' + province + ')'})};
    if (!list->subItem(index, 5).trimmed().isEmpty())
        lines.append(QStringLiteral("Cellulare: ") + list->subItem(index, 5).trimmed());
    if (!list->subItem(index, 6).trimmed().isEmpty())
        lines.append(QStringLiteral("Telefono: ") + list->subItem(index, 6).trimmed());
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
}

void ListContextMenu::copyContact()
{
    const int index = m_list->selectedIndex();
    if (index > 0)
        QGuiApplication::clipboard()->setText(contactText(m_list, index));
}

void ListContextMenu::openPreview()
{
    // One viewer at a time; a second request brings it forward.
    if (!m_preview)
        m_preview = new Form1();
    m_preview->show();
    m_preview->raise();
    m_preview->activateWindow();
}

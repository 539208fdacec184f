#include "maint/CommandKeys.h"

#include <QAbstractButton>
#include <QEvent>
#include <QShortcut>

CommandKeys::CommandKeys(QWidget* window)
    : QObject(window)
    , m_window(window)
{
}

void CommandKeys::bind(QAbstractButton* button, const QList<QKeySequence>& keys, const QString& tip)
{
    for (const QKeySequence& key : keys)
        add(m_window, button, key, Qt::WindowShortcut, [button] { button->click(); });
    button->setToolTip(tip);
}

void CommandKeys::bindOn(QWidget* scope, QAbstractButton* button, const QList<QKeySequence>& keys)
{
    for (const QKeySequence& key : keys)
        add(scope, button, key, Qt::WidgetShortcut, [button] { button->click(); });
}

void CommandKeys::bind(QWidget* follows, const QList<QKeySequence>& keys, const std::function<void()>& action)
{
    for (const QKeySequence& key : keys)
        add(m_window, follows, key, Qt::WindowShortcut, action);
}

void CommandKeys::add(
    QWidget* parent, QWidget* follows, const QKeySequence& key, int context, std::function<void()> action)
{
    auto* shortcut = new QShortcut(key, parent, nullptr, nullptr, Qt::ShortcutContext(context));
    shortcut->setAutoRepeat(false);
    shortcut->setEnabled(follows->isEnabled());
    connect(shortcut, &QShortcut::activated, this, [follows, action = std::move(action)] {
        if (follows->isEnabled())
            action();
    });
    m_shortcuts.append({follows, shortcut});
    follows->installEventFilter(this);
}

bool CommandKeys::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange) {
        for (const auto& [follows, shortcut] : std::as_const(m_shortcuts)) {
            if (follows == watched)
                shortcut->setEnabled(follows->isEnabled());
        }
    }
    return QObject::eventFilter(watched, event);
}

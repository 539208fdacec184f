#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>

#include <functional>

class QAbstractButton;
class QShortcut;
class QWidget;

// The window's keys. A key bound to a button clicks it, and is live only while the button is enabled, so it does
// exactly what the click does and nothing when the click could not happen; a key the window leaves unused reaches
// the focused widget as usual. Each binding's context is the window, or one widget for keys that mean something
// else elsewhere (Enter on the list).
class CommandKeys : public QObject
{
    Q_OBJECT
public:
    explicit CommandKeys(QWidget* window);

    // The keys click button anywhere in the window; its tooltip becomes tip.
    void bind(QAbstractButton* button, const QList<QKeySequence>& keys, const QString& tip);
    // The keys click button while scope has the focus.
    void bindOn(QWidget* scope, QAbstractButton* button, const QList<QKeySequence>& keys);
    // The keys run action anywhere in the window while follows is enabled.
    void bind(QWidget* follows, const QList<QKeySequence>& keys, const std::function<void()>& action);

private:
    void add(QWidget* parent, QWidget* follows, const QKeySequence& key, int context, std::function<void()> action);
    bool eventFilter(QObject* watched, QEvent* event) override;

    QWidget* m_window;
    QList<std::pair<QWidget*, QShortcut*>> m_shortcuts; // each with the widget whose enabled state it follows
};

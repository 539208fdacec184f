#pragma once

#include "data/ContactUndo.h"
#include "maint/RestoreDialog.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QAction;
class QWidget;

// "Annulla" (Ctrl+Z) and "Ripristina da una copia…" for the main window's list menu. The window tells it each change
// it makes; the steps of this run are kept on one stack, where other features push their own (UndoEntry). Allowed
// while browsing only.
class UndoActions : public QObject
{
    Q_OBJECT
public:
    // What the window lends: its widget, the open store, whether it browses, how to read the list again with a key
    // selected (0: the first row), how to show a few contacts added without reading it all again, and how to open the
    // book again after it was replaced.
    struct Window
    {
        QWidget* widget = nullptr;
        CustomerStore* store = nullptr;
        std::function<bool()> browsing;
        std::function<void(qint32)> reloadSelecting;
        // Puts the rows of the contacts added under keys in the list, in their places, the first selected.
        std::function<void(const QList<qint32>&)> showAdded;
        std::function<void()> reconnect;
    };

    UndoActions(const Window& window, QObject* parent = nullptr);

    QList<QAction*> actions() const;
    QAction* undoAction() const { return actUndo; }
    QAction* restoreAction() const { return actRestore; }

    void setBrowsing(bool browsing);

    // The window changed the book (a save, a sync): the steps that hold only until then go.
    void bookChanged();
    // The window deleted this contact.
    void deleted(const KeptContact& contact);
    // An import added these contacts from these files.
    void imported(const QStringList& paths, const QList<qint32>& keys);
    // Any other step that can be taken back; it counts as a change to the book.
    void push(UndoEntry entry);
    const UndoStack& stack() const { return m_stack; }

    void undo();
    void openRestore();
    RestoreDialog* restoreDialog() const { return m_dialog.data(); }

private:
    void refresh();
    void bringBack(const QString& copyPath, const QList<qint32>& keys);
    void replaceBook(const QString& copyPath);
    QString bookPath() const;

    Window m_window;
    UndoStack m_stack;
    QAction* actUndo;
    QAction* actRestore;
    bool m_browsing = true;
    QPointer<RestoreDialog> m_dialog;
};

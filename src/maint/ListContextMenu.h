#pragma once

#include <QObject>
#include <QPointer>

class Form1;
class ListView;
class QAction;
class QMenu;
class QPoint;
class QToolButton;
class QWidget;

// The contact list's context menu: "Aggiungi", "Aggiorna", "Elimina", "Copia contatto", "Trova…", then the section of
// further actions (addActions), then "Stampa…" and "Anteprima rubrica…". A right click on a row selects it first, as
// a click does; the Menu key and Shift+F10 open it at the selected row. Each entry that stands for a button is
// enabled when the button is and does what its click does.
class ListContextMenu : public QObject
{
    Q_OBJECT
public:
    ListContextMenu(ListView* list,
                    QToolButton* add,
                    QToolButton* update,
                    QToolButton* remove,
                    QToolButton* print,
                    QWidget* window);
    ~ListContextMenu() override;

    // Puts actions in the menu, after "Trova…", and on the window so that their shortcuts work anywhere in it.
    // An action keeps its own enabled state.
    void addActions(const QList<QAction*>& actions);

    QMenu* menu() const { return m_menu; }
    Form1* previewWindow() const;

    // The contact of a list row as a person pastes it in a mail: name, address, city and province, the numbers.
    static QString contactText(const ListView* list, int index);

signals:
    void findRequested();

private:
    void popup(const QPoint& at);
    void popupAtSelection();
    void copyContact();
    void openPreview();

    ListView* m_list;
    QToolButton* m_add;
    QToolButton* m_update;
    QToolButton* m_remove;
    QToolButton* m_print;
    QWidget* m_window;
    QMenu* m_menu;
    QAction* actAdd;
    QAction* actUpdate;
    QAction* actDelete;
    QAction* actCopy;
    QAction* actFind;
    QAction* m_moreEnd; // the separator that closes the section of further actions
    QAction* actPrint;
    QAction* actPreview;
    QPointer<Form1> m_preview;
};

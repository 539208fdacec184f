#pragma once

#include <QLineEdit>

class ListView;
class QLabel;
class QShortcut;

// Find as you type over a list: a field along the bottom edge of the list, inside its rectangle, hidden until
// opened. Each change of its text narrows the list to the rows holding every word typed; the field says how many
// rows are shown. Esc, or leaving it empty, closes it and shows every row again. The arrow and page keys move the
// list's selection while the field keeps the focus. Being a child of the list, it is disabled with it.
class FindField : public QLineEdit
{
    Q_OBJECT
public:
    explicit FindField(ListView* list);

    // Shows the field, or selects its text when it is shown already, and gives it the focus.
    void openFind();
    // Empties the field, shows every row, hides the field and gives the focus to the list.
    void closeFind();

signals:
    // The selection moved to another row because of the find, as if the user had clicked it: index is the row
    // selected, 0 when no row is shown.
    void selectionMoved(int index);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void dismiss();
    void narrow(const QString& text);
    void updateCount();
    void placeCount();

    ListView* m_list;
    QLabel* lblFindCount;
    QShortcut* m_escapeOnList;
};

#pragma once

#include <QClipboard>
#include <QLineEdit>

// A text field with the events the windows are written against: KeyPress receives each typed character as a
// Windows-1252 code (or a control code below 32) and may replace it or discard it with 0; Change follows every change
// of the text; GotFocus follows focus-in from another control, not the return from a context menu or from another
// program. Characters committed by an input method go through KeyPress like typed ones. MaxLength limits typing and
// pasting only: text set by code is never cut.
class TextBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit TextBox(QWidget* parent = nullptr);

    int MaxLength() const { return m_maxLength; }
    void setMaxLength(int length); // 0: no limit

    // Windows-1252 code of a character; characters outside the code page give '?' (63).
    static int toCodePage(QChar c);
    static QChar fromCodePage(int code);

signals:
    void KeyPress(int& KeyAscii);
    void Change();
    void GotFocus();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString fitted(QString text, int room) const;
    bool pasteWithinLimit(QClipboard::Mode mode = QClipboard::Clipboard);
    bool fullFor(int units, int pending) const;
    int m_maxLength = 0;
    int m_committedLength = 0;
};

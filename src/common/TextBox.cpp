#include "common/TextBox.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QValidator>

#include <limits>

namespace {

// The upper half of Windows-1252 that differs from Latin-1 (0x80..0x9F); 0 marks an unused code.
constexpr char16_t kCp1252High[32]
    = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
       0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
       0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Refuses any other user edit that makes the text longer than the limit (every way of pasting is cut to fit before it
// gets here), but never an edit that shortens an overlong text. The line edit has already applied the edit when it
// validates, so the length to compare with is the one of the last accepted text.
class LengthLimit : public QValidator
{
public:
    LengthLimit(QObject* parent, const int* committedLength, int limit)
        : QValidator(parent)
        , m_committedLength(committedLength)
        , m_limit(limit)
    {
    }
    State validate(QString& input, int&) const override
    {
        if (input.size() > m_limit && input.size() > *m_committedLength) {
            return Invalid;
        }
        return Acceptable;
    }

private:
    const int* m_committedLength;
    int m_limit;
};

// The control code a key produces in a Windows text field, or -1 when the key types no character.
int controlCode(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    default:
        break;
    }
    // Ctrl+Alt is AltGr on Windows: it types a character ("€", "[") rather than a control code.
    const bool control = (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == Qt::ControlModifier;
    if (control && event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z) {
        return event->key() - Qt::Key_A + 1;
    }
    return -1;
}

// Whether a key's text is a typed character rather than a control code: anything from a space up, other than DEL and
// the C1 controls, so a surrogate pair or a format character is filtered like a letter.
bool typesCharacter(const QKeyEvent* event)
{
    const QString typed = event->text();
    if (typed.isEmpty()) {
        return false;
    }
    const char16_t u = typed.at(0).unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F)) {
        return false;
    }
    // Some platforms give arrow and function keys text in U+F700..U+F8FF: those keys still move or edit.
    const bool specialKey = event->key() >= Qt::Key_Escape && event->key() < Qt::Key_unknown;
    return !(specialKey && u >= 0xF700 && u <= 0xF8FF);
}

// Ctrl+Shift+Insert pastes the mouse selection where the system keeps one, as the line edit itself does.
QClipboard::Mode pasteMode(const QKeyEvent* event)
{
    const bool selection = event->key() == Qt::Key_Insert
        && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)
        && QGuiApplication::clipboard()->supportsSelection();
    return selection ? QClipboard::Selection : QClipboard::Clipboard;
}

} // namespace

TextBox::TextBox(QWidget* parent)
    : QLineEdit(parent)
{
    // The line edit's own limit (32767 by default) would cut longer texts, set by code or pasted, without a word.
    QLineEdit::setMaxLength(std::numeric_limits<int>::max());
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_committedLength = int(text.size());
        emit Change();
    });
}

void TextBox::setMaxLength(int length)
{
    m_maxLength = qMax(0, length);
    delete validator();
    setValidator(m_maxLength > 0 ? new LengthLimit(this, &m_committedLength, m_maxLength) : nullptr);
}

int TextBox::toCodePage(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        return u;
    }
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] != 0 && kCp1252High[i] == u) {
            return 0x80 + i;
        }
    }
    return '?';
}

QChar TextBox::fromCodePage(int code)
{
    if (code >= 0x80 && code <= 0x9F) {
        const char16_t u = kCp1252High[code - 0x80];
        return u ? QChar(u) : QChar(char16_t(code));
    }
    return QChar(char16_t(code & 0xFF));
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    int code = controlCode(event);
    const bool printable = code < 0 && typesCharacter(event);
    if (code < 0 && !printable) {
        // Shift+Insert and the like paste without a character of their own: they get what Ctrl+V gets.
        if (event->matches(QKeySequence::Paste) && m_maxLength > 0) {
            pasteWithinLimit(pasteMode(event));
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (printable) {
        code = toCodePage(event->text().at(0));
    }
    const int original = code;
    emit KeyPress(code);
    if (code == 0) {
        event->accept();
        return;
    }
    if (code >= 32 && fullFor(1, 0)) {
        // A full field takes no more typed characters, even when code set a longer text.
        event->accept();
        return;
    }
    if (code != original) {
        // The handler replaced the character: type the replacement instead.
        if (code >= 32) {
            QKeyEvent replaced(event->type(), event->key(), event->modifiers(), QString(fromCodePage(code)));
            QLineEdit::keyPressEvent(&replaced);
        }
        return;
    }
    if (event->matches(QKeySequence::Paste) && m_maxLength > 0) {
        pasteWithinLimit(pasteMode(event));
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// A dead key, a compose sequence or an IME hands over finished characters here, not as key presses: each one gets
// the same KeyPress and length check as a typed key, and only what passes is committed. Composition in progress
// (preedit only) is shown as it comes.
void TextBox::inputMethodEvent(QInputMethodEvent* event)
{
    const QString committed = event->commitString();
    if (committed.isEmpty() || isReadOnly()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QString accepted;
    for (int i = 0; i < committed.size(); ++i) {
        const bool pair
            = committed.at(i).isHighSurrogate() && i + 1 < committed.size() && committed.at(i + 1).isLowSurrogate();
        const QString character = committed.mid(i, pair ? 2 : 1);
        i += pair ? 1 : 0;
        if (character.at(0).isSurrogate() && !pair) {
            continue; // half a character: nothing the database could store
        }
        int code = pair ? int('?') : toCodePage(character.at(0));
        const int original = code;
        emit KeyPress(code);
        if (code < 32) {
            // Discarded, or a control code: a committed text has no key to act on.
            continue;
        }
        const QString piece = code == original ? character : QString(fromCodePage(code));
        if (fullFor(int(piece.size()), int(accepted.size()) - event->replacementLength())) {
            break;
        }
        accepted += piece;
    }
    QInputMethodEvent filtered(event->preeditString(), event->attributes());
    filtered.setCommitString(accepted, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&filtered);
    event->setAccepted(filtered.isAccepted());
}

// Whether typing `units` more UTF-16 units, after `pending` ones not yet in the text, overflows MaxLength; typing
// replaces the selection.
bool TextBox::fullFor(int units, int pending) const
{
    return m_maxLength > 0 && text().size() - selectedText().size() + pending + units > m_maxLength;
}

// As much of a text as fits in `room` UTF-16 units, never half of a character made of two: the database cannot store
// a lone half.
QString TextBox::fitted(QString text, int room) const
{
    if (text.size() > room) {
        text.truncate(room > 0 && text.at(room - 1).isHighSurrogate() ? room - 1 : qMax(0, room));
    }
    return text;
}

// Pasting into a limited field inserts as much of the clipboard as fits, like typing it would.
bool TextBox::pasteWithinLimit(QClipboard::Mode mode)
{
    if (isReadOnly()) {
        return false;
    }
    const int room = m_maxLength - (text().size() - selectedText().size());
    if (room <= 0) {
        return false;
    }
    insert(fitted(QGuiApplication::clipboard()->text(mode), room));
    return true;
}

// The menu's "Incolla" would paste the whole clipboard, which the length check then refuses outright.
void TextBox::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_maxLength == 0) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    QMenu* menu = createStandardContextMenu();
    const QString pasteText = QCoreApplication::translate("QLineEdit", "&Paste");
    for (QAction* action : menu->actions()) {
        if (action->text().section(QLatin1Char('\t'), 0, 0) == pasteText) {
            disconnect(action, &QAction::triggered, this, nullptr);
            connect(action, &QAction::triggered, this, [this] { pasteWithinLimit(); });
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// A middle click pastes the mouse selection where the system keeps one.
void TextBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && m_maxLength > 0 && !isReadOnly()
        && QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        pasteWithinLimit(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

// A drop inserts at the drop point without replacing a selection.
void TextBox::dropEvent(QDropEvent* event)
{
    const QString dropped = event->mimeData()->text();
    if (m_maxLength == 0 || isReadOnly() || dropped.isNull()) {
        QLineEdit::dropEvent(event);
        return;
    }
    const QString fits = fitted(dropped, m_maxLength - int(text().size()));
    if (fits.isEmpty()) {
        event->ignore();
        return;
    }
    QMimeData cut;
    cut.setText(fits);
    QDropEvent within(event->position(), event->possibleActions(), &cut, event->buttons(), event->modifiers());
    within.setDropAction(event->dropAction());
    QLineEdit::dropEvent(&within);
    event->setDropAction(within.dropAction());
    event->setAccepted(within.isAccepted());
}

void TextBox::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // Closing a context menu gives the focus back before its action runs, and a return from another program never
    // left the field: selecting all here would make "Incolla" replace the whole text.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason) {
        emit GotFocus();
    }
}

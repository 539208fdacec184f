#include "maint/UndoActions.h"

#include "common/MessageBox.h"
#include "maint/RestoreDialog.h"

#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QWidget>

namespace {

const QString kUndoTitle = QStringLiteral("Annulla");
const QString kRestoreTitle = QStringLiteral("Ripristina da una copia");

} // namespace

UndoActions::UndoActions(const Window& window, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , actUndo(new QAction(kUndoTitle, this))
    , actRestore(new QAction(QStringLiteral("Ripristina da una copia…"), this))
{
    actUndo->setObjectName(QStringLiteral("actUndo"));
    actUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    actUndo->setShortcutContext(Qt::WindowShortcut);
    actRestore->setObjectName(QStringLiteral("actRestore"));
    actRestore->setToolTip(QStringLiteral("Confronta la rubrica con una delle copie salvate e recupera i contatti"));
    connect(actUndo, &QAction::triggered, this, &UndoActions::undo);
    connect(actRestore, &QAction::triggered, this, &UndoActions::openRestore);
    refresh();
}

QList<QAction*> UndoActions::actions() const
{
    return {actUndo, actRestore};
}

void UndoActions::setBrowsing(bool browsing)
{
    m_browsing = browsing;
    refresh();
}

void UndoActions::refresh()
{
    const QString label = m_stack.label();
    // A name's "&" is no mnemonic.
    actUndo->setText(label.isEmpty() ? kUndoTitle : QString(label).replace(QLatin1Char('&'), QLatin1String("&&")));
    actUndo->setToolTip((label.isEmpty() ? QStringLiteral("Niente da annullare") : label)
                        + QStringLiteral(" (Ctrl+Z)"));
    actUndo->setEnabled(m_browsing && !m_stack.isEmpty());
    actRestore->setEnabled(m_browsing);
}

void UndoActions::bookChanged()
{
    m_stack.bookChanged();
    refresh();
}

void UndoActions::deleted(const KeptContact& contact)
{
    push(ContactUndo::deleteEntry(contact));
}

void UndoActions::imported(const QStringList& paths, const QList<qint32>& keys)
{
    m_stack.bookChanged();
    if (keys.isEmpty()) {
        refresh();
        return;
    }
    QStringList names;
    for (const QString& path : paths) {
        names.append(QFileInfo(path).fileName());
    }
    try {
        push(ContactUndo::importEntry(
            names.join(QStringLiteral(", ")), keys, ContactUndo::digest(*m_window.store, keys)));
    } catch (const ado::Error& error) {
        // Without what the import added as it stands, its undo could take away a contact changed since.
        qWarning("import undo not kept: %s", qUtf8Printable(error.description()));
        refresh();
    }
}

void UndoActions::push(UndoEntry entry)
{
    m_stack.bookChanged();
    m_stack.push(std::move(entry));
    refresh();
}

void UndoActions::undo()
{
    if (!m_browsing || m_stack.isEmpty() || (m_window.browsing && !m_window.browsing())) {
        return;
    }
    QList<qint32> select;
    bool onlyAdds = false;
    QString said;
    try {
        said = m_stack.undo(*m_window.store, &select, &onlyAdds);
    } catch (const ado::Error& error) {
        refresh();
        QString text = QStringLiteral("Impossibile annullare.\n") + error.description();
        const bool replaced = dynamic_cast<const ado::FileReplaced*>(&error) != nullptr;
        if (replaced) {
            text += QStringLiteral("\nL'elenco viene letto di nuovo dal file.");
        }
        MessageBox::show(m_window.widget, text, kUndoTitle, MessageBox::OkOnly, MessageBox::Critical);
        if (replaced) {
            m_window.reloadSelecting(0);
        }
        return;
    }
    // Undoing is a change too: an import's step does not outlive it.
    m_stack.bookChanged();
    refresh();
    // A few rows are placed in the list as a save places one; anything more reads the list again.
    constexpr qsizetype fewRows = 20;
    try {
        if (onlyAdds && !select.isEmpty() && select.size() <= fewRows) {
            m_window.showAdded(select);
        } else {
            m_window.reloadSelecting(select.isEmpty() ? 0 : select.first());
        }
    } catch (const ado::Error&) {
        m_window.reloadSelecting(select.isEmpty() ? 0 : select.first());
    }
    if (!said.isEmpty()) {
        MessageBox::show(m_window.widget, said, kUndoTitle, MessageBox::OkOnly, MessageBox::Information);
    }
}

QString UndoActions::bookPath() const
{
    return m_window.store->mcnnCust ? m_window.store->mcnnCust->filePath() : QString();
}

void UndoActions::openRestore()
{
    if (!m_browsing || m_dialog || bookPath().isEmpty()) {
        return;
    }
    m_dialog = new RestoreDialog(bookPath(), m_window.widget);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_dialog, &RestoreDialog::bringBackRequested, this, &UndoActions::bringBack);
    connect(m_dialog, &RestoreDialog::replaceRequested, this, &UndoActions::replaceBook);
    m_dialog->open();
}

void UndoActions::bringBack(const QString& copyPath, const QList<qint32>& keys)
{
    QList<BroughtBack> brought;
    try {
        brought = ContactUndo::bringBack(*m_window.store, BookRestore::contactsOfCopy(copyPath, keys));
    } catch (const ado::Error& error) {
        MessageBox::show(m_dialog,
                         QStringLiteral("Impossibile recuperare i contatti: la rubrica non è stata modificata.\n")
                             + error.description(),
                         kRestoreTitle,
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        return;
    }
    bookChanged();
    m_window.reloadSelecting(brought.isEmpty() ? 0 : brought.first().key);
    int moved = 0;
    for (const BroughtBack& contact : std::as_const(brought)) {
        moved += contact.key != contact.wanted ? 1 : 0;
    }
    QString text = brought.size() == 1 ? QStringLiteral("Recuperato 1 contatto.")
                                       : QStringLiteral("Recuperati %1 contatti.").arg(brought.size());
    if (moved > 0) {
        text += QStringLiteral(" %1 con un codice nuovo, perché il loro era già stato dato a un altro contatto.")
                    .arg(moved);
    }
    if (m_dialog) {
        m_dialog->reload();
    }
    MessageBox::show(m_dialog, text, kRestoreTitle, MessageBox::OkOnly, MessageBox::Information);
}

void UndoActions::replaceBook(const QString& copyPath)
{
    MessageBox::Request confirm;
    confirm.text = QStringLiteral("Sostituire tutta la rubrica con la copia '%1'?\nLa rubrica attuale viene prima "
                                  "salvata nella cartella Backup.")
                       .arg(QFileInfo(copyPath).fileName());
    confirm.title = kRestoreTitle;
    confirm.buttons = MessageBox::YesNo;
    confirm.icon = MessageBox::Question;
    confirm.defaultButton = MessageBox::No;
    if (MessageBox::show(m_dialog, confirm) != MessageBox::Yes) {
        return;
    }
    QString saved;
    try {
        saved = BookRestore::replaceBook(bookPath(), copyPath, QDate::currentDate());
    } catch (const ado::Error& error) {
        MessageBox::show(m_dialog,
                         QStringLiteral("Impossibile ripristinare la copia.\n") + error.description(),
                         kRestoreTitle,
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        return;
    }
    // The steps taken here were steps in the book now gone.
    m_stack.clear();
    refresh();
    QString text = QStringLiteral("La rubrica è stata sostituita con la copia '%1'. Quella di prima è salvata in '%2'.")
                       .arg(QFileInfo(copyPath).fileName(), QDir::toNativeSeparators(saved));
    try {
        m_window.reconnect();
    } catch (const ado::Error& error) {
        text += QStringLiteral("\nImpossibile leggere la rubrica ripristinata: ") + error.description();
    }
    if (m_dialog) {
        m_dialog->reload();
    }
    MessageBox::show(m_dialog, text, kRestoreTitle, MessageBox::OkOnly, MessageBox::Information);
}

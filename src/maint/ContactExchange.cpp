#include "maint/ContactExchange.h"

#include "common/ListView.h"
#include "common/MessageBox.h"
#include "core/AppInfo.h"
#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "exchange/ContactImport.h"
#include "maint/ContactFileDialog.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QProgressDialog>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace {

const QString kImportTitle = QStringLiteral("Importa contatti");
const QString kExportTitle = QStringLiteral("Esporta contatti");
const QString kVCardFilter = QStringLiteral("vCard (*.vcf)");
const QString kCsvFilter = QStringLiteral("CSV per fogli di calcolo (*.csv)");

// Where a user keeps or has just downloaded contact files; never the program's or the book's folder.
QString documentsFolder()
{
    for (const auto location : {QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation}) {
        const QString folder = QStandardPaths::writableLocation(location);
        if (!folder.isEmpty() && QDir(folder).exists())
            return folder;
    }
    return QDir::homePath();
}

// The local .vcf and .csv files a drag carries; empty when it carries anything else.
QStringList droppedFiles(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile() || formatOfPath(url.toLocalFile()) == ContactFormat::Unknown) {
            return {};
        }
        paths.append(url.toLocalFile());
    }
    return paths;
}

// A progress dialog that appears only once the work has lasted the delay; its "Annulla" stops the work.
class ProgressBox
{
public:
    ProgressBox(QWidget* parent, const QString& label, int delay)
        : m_dialog(label, QStringLiteral("Annulla"), 0, 1000, parent)
    {
        m_dialog.setObjectName(QStringLiteral("progressDialog"));
        m_dialog.setWindowTitle(AppInfo::title());
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(delay);
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
        m_dialog.setValue(0);
    }

    Progress callback()
    {
        return [this](qint64 done, qint64 total) {
            m_dialog.setValue(total > 0 ? int(done * 1000 / total) : 0);
            return !m_dialog.wasCanceled();
        };
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

ContactExchange::ContactExchange(const Window& window, QObject* parent)
    : QObject(parent)
    , m_window(window)
{
    actImportContacts = new QAction(QStringLiteral("Importa contatti…"), this);
    actImportContacts->setObjectName(QStringLiteral("actImportContacts"));
    actImportContacts->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    actImportContacts->setShortcutContext(Qt::WindowShortcut);
    actExportContacts = new QAction(QStringLiteral("Esporta contatti…"), this);
    actExportContacts->setObjectName(QStringLiteral("actExportContacts"));
    actExportContacts->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    actExportContacts->setShortcutContext(Qt::WindowShortcut);
    connect(actImportContacts, &QAction::triggered, this, &ContactExchange::chooseAndImport);
    connect(actExportContacts, &QAction::triggered, this, &ContactExchange::chooseAndExport);

    m_window.widget->addAction(actImportContacts);
    m_window.widget->addAction(actExportContacts);
    m_window.widget->setAcceptDrops(true);
    m_window.widget->installEventFilter(this);
}

void ContactExchange::setBrowsing(bool browsing)
{
    m_browsing = browsing;
    actImportContacts->setEnabled(browsing);
    actExportContacts->setEnabled(browsing);
}

bool ContactExchange::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window.widget) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (m_browsing && !droppedFiles(drag->mimeData()).isEmpty()) {
                drag->acceptProposedAction();
            } else {
                drag->ignore();
            }
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const QStringList paths = droppedFiles(drop->mimeData());
            if (!m_browsing || paths.isEmpty()) {
                drop->ignore();
                return true;
            }
            drop->acceptProposedAction();
            importFiles(paths);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ContactExchange::chooseAndImport()
{
    if (!m_browsing) {
        return;
    }
    ContactFileDialog::Request request;
    request.mode = ContactFileDialog::Open;
    request.caption = kImportTitle;
    request.proposedPath = documentsFolder();
    request.filters = QStringList {QStringLiteral("Contatti (*.vcf *.csv)"), kVCardFilter, kCsvFilter};
    const ContactFileDialog::Answer answer = ContactFileDialog::choose(m_window.widget, request);
    if (!answer.paths.isEmpty()) {
        importFiles(answer.paths);
    }
}

void ContactExchange::chooseAndExport()
{
    if (!m_browsing) {
        return;
    }
    ContactFileDialog::Request request;
    request.mode = ContactFileDialog::Save;
    request.caption = kExportTitle;
    request.proposedPath = QDir(documentsFolder()).filePath(QStringLiteral("rubrica.vcf"));
    request.filters = QStringList {kVCardFilter, kCsvFilter};
    const ContactFileDialog::Answer answer = ContactFileDialog::choose(m_window.widget, request);
    if (answer.paths.isEmpty()) {
        return;
    }
    // The filter chooses the format; a name that says another one, or none, takes the filter's extension.
    const bool csv = answer.filter == kCsvFilter;
    QString path = answer.paths.first();
    if (formatOfPath(path) != (csv ? ContactFormat::Csv : ContactFormat::VCard)) {
        path += csv ? QStringLiteral(".csv") : QStringLiteral(".vcf");
    }
    exportTo(path);
}

void ContactExchange::importFiles(const QStringList& paths)
{
    if (!m_browsing || paths.isEmpty()) {
        return;
    }
    ImportOutcome outcome;
    try {
        ProgressBox progress(m_window.widget, QStringLiteral("Importazione dei contatti…"), m_progressDelay);
        const Progress step = progress.callback();
        QList<DecodedContactFile> files;
        for (const QString& path : paths) {
            files.append(openContactFile(path));
            if (!step(0, 1)) {
                return;
            }
        }
        outcome = importContacts(*m_window.store, files, step);
    } catch (const ado::Error& error) {
        tell(QStringLiteral("Impossibile importare i contatti: la rubrica non è stata modificata.\n")
                 + error.description(),
             kImportTitle,
             true);
        return;
    }
    if (outcome.cancelled) {
        tell(QStringLiteral("Importazione annullata: la rubrica non è stata modificata."), kImportTitle, false);
        return;
    }
    emit imported(paths, outcome.addedKeys);
    try {
        m_window.reloadList();
    } catch (const ado::Error& error) {
        tell(outcome.summary() + QStringLiteral("\nImpossibile rileggere l'elenco: ") + error.description(),
             kImportTitle,
             true);
        return;
    }
    selectFirstOf(outcome.addedKeys);
    tell(outcome.summary(), kImportTitle, false);
}

void ContactExchange::exportTo(const QString& path)
{
    if (!m_browsing) {
        return;
    }
    QList<ExportContact> contacts;
    try {
        contacts = shownContacts();
        ProgressBox progress(m_window.widget, QStringLiteral("Esportazione dei contatti…"), m_progressDelay);
        if (!writeContactFile(path, contacts, progress.callback())) {
            tell(QStringLiteral("Esportazione annullata: nessun file è stato scritto."), kExportTitle, false);
            return;
        }
    } catch (const ado::Error& error) {
        tell(QStringLiteral("Impossibile esportare i contatti.\n") + error.description(), kExportTitle, true);
        return;
    }
    tell(exportSummary(contacts.size(), path), kExportTitle, false);
}

QList<ExportContact> ContactExchange::shownContacts() const
{
    // The cards are read here, when an export needs them, never when the list fills.
    // A contact another program added since the book was opened gets its UID now, as the command line's export does.
    try {
        ContactCards::prepare(*m_window.store);
    } catch (const ado::Error&) {
    }
    const QHash<qint32, ContactCard> cards = ContactCards::loadAll(*m_window.store);
    const ListView* list = m_window.list;
    QList<ExportContact> contacts;
    const int n = list->itemCount();
    contacts.reserve(n);
    for (int i = 1; i <= n; ++i) {
        const PhoneFields phone = SplitPhoneText(list->subItem(i, 6));
        const qint32 key = list->subItem(i, 7).toInt();
        const ContactCard card = cards.value(key);
        contacts.append({{list->itemText(i),
                          list->subItem(i, 1),
                          list->subItem(i, 2),
                          list->subItem(i, 3),
                          list->subItem(i, 4),
                          list->subItem(i, 5),
                          JoinPhoneFields(phone.area, phone.prefix, phone.line)},
                         key,
                         card.card,
                         card.isNull() ? ContactCards::newUid() : card.uid,
                         card.agreement});
    }
    return contacts;
}

// The new contact highest in the list is selected, as a click on it would.
void ContactExchange::selectFirstOf(const QList<qint32>& keys)
{
    if (keys.isEmpty()) {
        return;
    }
    const QSet<qint32> added(keys.cbegin(), keys.cend());
    const ListView* list = m_window.list;
    for (int i = 1; i <= list->itemCount(); ++i) {
        if (added.contains(list->subItem(i, 7).toInt())) {
            m_window.selectRow(i);
            return;
        }
    }
}

void ContactExchange::tell(const QString& text, const QString& title, bool failure) const
{
    MessageBox::show(
        m_window.widget, text, title, MessageBox::OkOnly, failure ? MessageBox::Critical : MessageBox::Information);
}

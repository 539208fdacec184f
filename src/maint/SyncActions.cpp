#include "SyncActions.h"

#include "DataLocation.h"
#include "MessageBox.h"
#include "Startup.h"
#include "SyncSession.h"

#include <QAction>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Sincronizzazione");

QString shown(const ContactFields& f)
{
    QStringList lines;
    lines << (f.lastName + QLatin1Char(' ') + f.firstName).trimmed() << f.address
          << (f.city + (f.state.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(f.state))).trimmed();
    if (!f.zip.isEmpty()) {
        lines << QStringLiteral("Cellulare: ") + f.zip;
    }
    if (!f.phoneNumber.isEmpty()) {
        lines << QStringLiteral("Telefono: ") + f.phoneNumber;
    }
    lines.removeAll(QString());
    return lines.join(QLatin1Char('\n'));
}

class DialogResolver : public ConflictResolver
{
public:
    explicit DialogResolver(QWidget* parent)
        : m_parent(parent)
    {
    }
    ConflictChoice resolve(const ContactFields& here, const ContactFields& server) override
    {
        SyncConflictDialog dialog(here, server, m_parent);
        dialog.exec();
        return dialog.choice();
    }

private:
    QWidget* m_parent;
};

// The address book's store, opened for one sync where the window found it.
struct OpenStore
{
    CustomerStore store;
    OpenStore() { store.ConnectToDatabase(DataLocation::connectionText()); }
    ~OpenStore() { store.CloseDatabase(); }
};

} // namespace

SyncActions::SyncActions(QWidget* window, QMenu* menu, std::function<bool()> browsing, std::function<void()> reload)
    : QObject(window)
    , m_window(window)
    , m_browsing(std::move(browsing))
    , m_reload(std::move(reload))
{
    actSyncSetup = new QAction(QStringLiteral("Sincronizzazione…"), this);
    actSyncSetup->setObjectName(QStringLiteral("actSyncSetup"));
    actSyncNow = new QAction(QStringLiteral("Sincronizza ora"), this);
    actSyncNow->setObjectName(QStringLiteral("actSyncNow"));
    actSyncNow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    actSyncNow->setShortcutContext(Qt::WindowShortcut);
    connect(actSyncSetup, &QAction::triggered, this, &SyncActions::openSetup);
    connect(actSyncNow, &QAction::triggered, this, [this] { syncNow(); });
    connect(menu, &QMenu::aboutToShow, this, [this] {
        actSyncSetup->setEnabled(m_browsing());
        actSyncNow->setEnabled(m_browsing());
    });
}

QList<QAction*> SyncActions::actions() const
{
    return {actSyncSetup, actSyncNow};
}

void SyncActions::syncAtStart()
{
    try {
        OpenStore open;
        if (!loadSyncSettings(open.store).isSet()) {
            return;
        }
    } catch (const ado::Error&) {
        return; // the window reports a database it cannot open on its own
    }
    syncNow(true);
}

bool SyncActions::syncNow(bool quiet)
{
    if (m_running || !m_browsing()) {
        return false;
    }
    m_running = true;
    QProgressDialog progress(
        QStringLiteral("Sincronizzazione in corso…"), QStringLiteral("Interrompi"), 0, 0, m_window);
    progress.setObjectName(QStringLiteral("dlgSyncProgress"));
    progress.setWindowTitle(kTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    bool synced = false;
    try {
        OpenStore open;
        const SyncSettings settings = loadSyncSettings(open.store);
        if (!settings.isSet()) {
            m_running = false;
            openSetup();
            return false;
        }
        QString password;
        try {
            password = syncPassword(settings);
        } catch (const ado::Error&) {
            // At start nobody asked: without a password (no keyring) the sync waits for "Sincronizza ora".
            if (quiet) {
                m_running = false;
                return false;
            }
            throw;
        }
        // The day's copy before the sync changes anything, also when the window has stayed open since yesterday.
        backUpAddressBook(open.store.mcnnCust->filePath());
        DialogResolver resolver(m_window);
        const DeletionGuard guard = [this](const MassDeletion& deletion) {
            SyncDeletionDialog dialog(deletion, m_window);
            dialog.exec();
            return dialog.choice();
        };
        const SyncOutcome outcome = runSync(
            open.store,
            settings,
            password,
            &resolver,
            [&](qint64 done, qint64 total) {
                progress.setMaximum(int(total));
                progress.setValue(int(done));
                return !progress.wasCanceled();
            },
            guard);
        progress.reset();
        synced = true;
        m_reload();
        if (!quiet) {
            MessageBox::show(m_window, outcome.summary(), kTitle, MessageBox::OkOnly, MessageBox::Information);
        }
    } catch (const DeletionsHeld& held) {
        progress.reset();
        m_reload();
        MessageBox::show(m_window,
                         held.description()
                             + QStringLiteral(" La domanda sarà ripetuta alla prossima sincronizzazione."),
                         kTitle,
                         MessageBox::OkOnly,
                         MessageBox::Information);
    } catch (const ado::Error& error) {
        progress.reset();
        m_reload(); // what was stored before the failure is shown
        // At start, a server out of reach (no network yet, a laptop away from home) is no news: the next sync
        // carries on. A refusal or a fault is shown.
        const auto* network = dynamic_cast<const CardDavError*>(&error);
        if (!quiet || !network || network->status() != 0) {
            MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        }
    }
    m_running = false;
    return synced;
}

void SyncActions::openSetup()
{
    if (m_running || !m_browsing()) {
        return;
    }
    SyncSettings current;
    try {
        OpenStore open;
        current = loadSyncSettings(open.store);
    } catch (const ado::Error& error) {
        MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        return;
    }
    SyncSetupDialog dialog(current, m_window);
    const int result = dialog.exec();
    if (result == SyncSetupDialog::Disabled) {
        try {
            OpenStore open;
            clearSyncSettings(open.store);
            forgetSyncPassword(current);
            MessageBox::show(m_window,
                             QStringLiteral("Sincronizzazione disattivata: i contatti restano in questa rubrica e sul "
                                            "server."),
                             kTitle,
                             MessageBox::OkOnly,
                             MessageBox::Information);
        } catch (const ado::Error& error) {
            MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        }
        return;
    }
    if (result != QDialog::Accepted) {
        return;
    }
    try {
        const SyncSettings chosen = dialog.settings();
        QString why;
        if (!keepSyncPassword(chosen, dialog.password(), &why)) {
            MessageBox::show(m_window,
                             why
                                 + QStringLiteral("\nLa password vale fino alla chiusura del programma: andrà "
                                                  "inserita di nuovo da Sincronizzazione… al prossimo avvio."),
                             kTitle,
                             MessageBox::OkOnly,
                             MessageBox::Exclamation);
        }
        OpenStore open;
        saveSyncSettings(open.store, chosen);
    } catch (const ado::Error& error) {
        MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        return;
    }
    syncNow();
}

SyncSetupDialog::SyncSetupDialog(const SyncSettings& settings, QWidget* parent)
    : QDialog(parent)
    , m_accepted(settings.accepted)
{
    setObjectName(QStringLiteral("dlgSyncSetup"));
    setWindowTitle(kTitle);
    txtServer = new QLineEdit(settings.server.toString(), this);
    txtServer->setObjectName(QStringLiteral("txtServer"));
    txtServer->setPlaceholderText(QStringLiteral("https://server.esempio.it/"));
    txtUser = new QLineEdit(settings.user, this);
    txtUser->setObjectName(QStringLiteral("txtUser"));
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdFind = new QPushButton(QStringLiteral("Cerca rubriche"), this);
    cmdFind->setObjectName(QStringLiteral("cmdFind"));
    cboBook = new QComboBox(this);
    cboBook->setObjectName(QStringLiteral("cboBook"));
    if (settings.isSet()) {
        cboBook->addItem(settings.book.toDisplayString(), settings.book);
    }
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdCancel = new QPushButton(QStringLiteral("Annulla"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdDisable = new QPushButton(QStringLiteral("Disattiva"), this);
    cmdDisable->setObjectName(QStringLiteral("cmdDisable"));
    cmdDisable->setToolTip(QStringLiteral("Non sincronizzare più: i contatti restano qui e sul server"));
    cmdDisable->setVisible(settings.isSet());

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server:"), txtServer);
    form->addRow(QStringLiteral("Utente:"), txtUser);
    form->addRow(QStringLiteral("Password:"), txtPassword);
    form->addRow(QString(), cmdFind);
    form->addRow(QStringLiteral("Rubrica:"), cboBook);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdDisable);
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    const auto update = [this] { cmdOK->setEnabled(cboBook->currentIndex() >= 0 && !txtPassword->text().isEmpty()); };
    update();
    connect(cboBook, &QComboBox::currentIndexChanged, this, update);
    connect(txtPassword, &QLineEdit::textChanged, this, update);
    // Another server or user makes the address books found before meaningless.
    const auto forget = [this] {
        cboBook->clear();
        m_accepted.clear();
    };
    connect(txtServer, &QLineEdit::textEdited, this, forget);
    connect(txtUser, &QLineEdit::textEdited, this, forget);
    connect(cmdFind, &QPushButton::clicked, this, &SyncSetupDialog::findBooks);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdDisable, &QPushButton::clicked, this, [this] { done(Disabled); });
}

SyncSettings SyncSetupDialog::settings() const
{
    return {QUrl(txtServer->text().trimmed()), txtUser->text().trimmed(), cboBook->currentData().toUrl(), m_accepted};
}

QString SyncSetupDialog::password() const
{
    return txtPassword->text();
}

void SyncSetupDialog::findBooks()
{
    cboBook->clear();
    try {
        const QUrl server(txtServer->text().trimmed(), QUrl::StrictMode);
        CardDavClient client(server, txtUser->text().trimmed(), txtPassword->text());
        for (const QUrl& address : std::as_const(m_accepted)) {
            client.trust(address);
        }
        // A provider may keep the address books on another server: the user says whether it gets the password.
        client.setRedirectApproval([this](const QUrl& from, const QUrl& to) {
            MessageBox::Request request;
            request.text = QStringLiteral("Il server %1 rimanda a un altro server: %2.\nInviare nome utente e "
                                          "password anche a %3?")
                               .arg(from.toDisplayString(QUrl::RemoveUserInfo),
                                    to.toDisplayString(QUrl::RemoveUserInfo),
                                    CardDavClient::origin(to));
            request.title = kTitle;
            request.buttons = MessageBox::YesNo;
            request.icon = MessageBox::Question;
            request.defaultButton = MessageBox::No;
            return MessageBox::show(this, request) == MessageBox::Yes;
        });
        const QList<AddressBook> books = client.discover();
        m_accepted += client.accepted();
        if (books.isEmpty()) {
            MessageBox::show(this,
                             QStringLiteral("Il server non ha rubriche per questo utente."),
                             kTitle,
                             MessageBox::OkOnly,
                             MessageBox::Exclamation);
        }
        for (const AddressBook& book : books) {
            cboBook->addItem(book.name, book.url);
        }
    } catch (const ado::Error& error) {
        MessageBox::show(this, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
    }
}

SyncConflictDialog::SyncConflictDialog(const ContactFields& here, const ContactFields& server, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgSyncConflict"));
    setWindowTitle(QStringLiteral("Contatto modificato in due posti"));
    auto* intro = new QLabel(QStringLiteral("Questo contatto è stato modificato qui e sul server dall'ultima "
                                            "sincronizzazione. Quale versione tenere?"),
                             this);
    intro->setWordWrap(true);
    lblHere = new QLabel(shown(here), this);
    lblHere->setObjectName(QStringLiteral("lblHere"));
    lblServer = new QLabel(shown(server), this);
    lblServer->setObjectName(QStringLiteral("lblServer"));
    cmdKeepHere = new QPushButton(QStringLiteral("Tieni questa"), this);
    cmdKeepHere->setObjectName(QStringLiteral("cmdKeepHere"));
    cmdKeepServer = new QPushButton(QStringLiteral("Tieni quella del server"), this);
    cmdKeepServer->setObjectName(QStringLiteral("cmdKeepServer"));
    cmdKeepBoth = new QPushButton(QStringLiteral("Tieni entrambe"), this);
    cmdKeepBoth->setObjectName(QStringLiteral("cmdKeepBoth"));

    auto* versions = new QFormLayout;
    versions->addRow(QStringLiteral("In questa rubrica:"), lblHere);
    versions->addRow(QStringLiteral("Sul server:"), lblServer);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdKeepHere);
    buttons->addWidget(cmdKeepServer);
    buttons->addWidget(cmdKeepBoth);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(versions);
    layout->addLayout(buttons);

    const auto choose = [this](ConflictChoice choice) {
        m_choice = choice;
        accept();
    };
    connect(cmdKeepHere, &QPushButton::clicked, this, [=] { choose(ConflictChoice::KeepHere); });
    connect(cmdKeepServer, &QPushButton::clicked, this, [=] { choose(ConflictChoice::KeepServer); });
    connect(cmdKeepBoth, &QPushButton::clicked, this, [=] { choose(ConflictChoice::KeepBoth); });
    cmdKeepBoth->setDefault(true);
}

SyncDeletionDialog::SyncDeletionDialog(const MassDeletion& deletion, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgSyncDeletion"));
    setWindowTitle(kTitle);
    const bool here = deletion.side == MassDeletion::Side::Here;
    lblQuestion = new QLabel(here ? QStringLiteral("Il server ha eliminato %1 contatti su %2. Eliminarli anche qui?")
                                        .arg(deletion.count)
                                        .arg(deletion.total)
                                  : QStringLiteral("In questa rubrica sono stati eliminati %1 contatti su %2. "
                                                   "Eliminarli anche sul server?")
                                        .arg(deletion.count)
                                        .arg(deletion.total),
                             this);
    lblQuestion->setObjectName(QStringLiteral("lblQuestion"));
    lblQuestion->setWordWrap(true);
    cmdDelete = new QPushButton(QStringLiteral("Sì, eliminarli"), this);
    cmdDelete->setObjectName(QStringLiteral("cmdDelete"));
    cmdKeep = new QPushButton(QStringLiteral("No"), this);
    cmdKeep->setObjectName(QStringLiteral("cmdKeep"));
    cmdUploadAgain = new QPushButton(QStringLiteral("Ricaricarli sul server"), this);
    cmdUploadAgain->setObjectName(QStringLiteral("cmdUploadAgain"));
    cmdUploadAgain->setVisible(here);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdUploadAgain);
    buttons->addStretch();
    buttons->addWidget(cmdDelete);
    buttons->addWidget(cmdKeep);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblQuestion);
    layout->addLayout(buttons);

    const auto choose = [this](DeletionChoice choice) {
        m_choice = choice;
        accept();
    };
    connect(cmdDelete, &QPushButton::clicked, this, [=] { choose(DeletionChoice::Delete); });
    connect(cmdKeep, &QPushButton::clicked, this, [=] { choose(DeletionChoice::Keep); });
    connect(cmdUploadAgain, &QPushButton::clicked, this, [=] { choose(DeletionChoice::UploadAgain); });
    cmdKeep->setDefault(true);
    cmdKeep->setFocus();
}

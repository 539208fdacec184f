#include "maint/SyncActions.h"

#include "common/MessageBox.h"
#include "core/BookBackup.h"
#include "core/DataLocation.h"
#include "sync/SyncSession.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMutex>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>

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

} // namespace

// One sync, shared by the window's thread and the sync's.
struct SyncRun
{
    std::atomic<bool> stop {false};
    QMutex mutex;
    CardDavClient* client = nullptr; // while the sync uses it, under mutex
    QSemaphore answered;
    ConflictChoice conflict = ConflictChoice::Later;
    DeletionChoice deletion = DeletionChoice::Keep;
    bool accepted = false; // another server for the password
    QPointer<QDialog> question; // the window's thread only
};

struct SyncActions::Result
{
    bool synced = false;
    SyncOutcome outcome;
    QString error;
    bool held = false; // stopped before many deletions
    bool unreachable = false; // no answer from the server
};

namespace {

// Asks a question in the window's thread (ask opens a dialog there, which releases run.answered with the answer kept)
// and waits for it in the sync's; false when the sync was stopped meanwhile.
template<typename Ask>
bool askInWindow(QObject* window, SyncRun& run, Ask ask)
{
    if (run.stop) {
        return false;
    }
    QMetaObject::invokeMethod(window, ask, Qt::QueuedConnection);
    while (!run.answered.tryAcquire(1, 50)) {
        if (run.stop) {
            return false;
        }
    }
    return !run.stop;
}

// Opens the dialog in the window's thread; its choice is the answer.
template<typename Dialog, typename Keep>
void openQuestion(const std::shared_ptr<SyncRun>& run, Dialog* dialog, Keep keep)
{
    run->question = dialog;
    QObject::connect(dialog, &QDialog::finished, dialog, [run, dialog, keep] {
        keep(*run, dialog->choice());
        run->answered.release();
        dialog->deleteLater();
    });
    dialog->open();
}

class WindowResolver : public ConflictResolver
{
public:
    WindowResolver(QObject* context, QWidget* parent, std::shared_ptr<SyncRun> run)
        : m_context(context)
        , m_parent(parent)
        , m_run(std::move(run))
    {
    }
    ConflictChoice resolve(const ContactFields& here, const ContactFields& server) override
    {
        const std::shared_ptr<SyncRun> run = m_run;
        QWidget* parent = m_parent;
        const bool answered = askInWindow(m_context, *run, [run, parent, here, server] {
            openQuestion(run, new SyncConflictDialog(here, server, parent), [](SyncRun& r, ConflictChoice choice) {
                r.conflict = choice;
            });
        });
        // Stopped: nothing decided, the next sync asks again.
        return answered ? run->conflict : ConflictChoice::Later;
    }

private:
    QObject* m_context;
    QWidget* m_parent;
    std::shared_ptr<SyncRun> m_run;
};

// Asks whether the password may go to the other server the server set up leads to; No is the default.
bool acceptsServerElsewhere(QWidget* parent, const QUrl& from, const QUrl& to)
{
    MessageBox::Request request;
    request.text = QStringLiteral("Il server %1 rimanda a un altro server: %2.\nInviare nome utente e password anche "
                                  "a %3?")
                       .arg(from.toDisplayString(QUrl::RemoveUserInfo),
                            to.toDisplayString(QUrl::RemoveUserInfo),
                            CardDavClient::origin(to));
    request.title = kTitle;
    request.buttons = MessageBox::YesNo;
    request.icon = MessageBox::Question;
    request.defaultButton = MessageBox::No;
    return MessageBox::show(parent, request) == MessageBox::Yes;
}

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
        actSyncSetup->setEnabled(!m_running && m_browsing());
        actSyncNow->setEnabled(!m_running && m_browsing());
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

SyncActions::~SyncActions()
{
    if (m_thread) {
        stop();
        m_thread->wait();
        delete m_thread;
        qApp->removeEventFilter(this);
    }
}

bool SyncActions::syncNow(bool quiet)
{
    if (m_running || !m_browsing()) {
        return false;
    }
    SyncSettings settings;
    QString password;
    QString connection;
    try {
        OpenStore open;
        settings = loadSyncSettings(open.store);
        connection = DataLocation::connectionText();
    } catch (const ado::Error& error) {
        MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        return false;
    }
    if (!settings.isSet()) {
        openSetup();
        return false;
    }
    try {
        password = syncPassword(settings);
    } catch (const ado::Error& error) {
        // At start nobody asked: without a password (no keyring) the sync waits for "Sincronizza ora".
        if (!quiet) {
            MessageBox::show(m_window, error.description(), kTitle, MessageBox::OkOnly, MessageBox::Critical);
        }
        return false;
    }

    m_quiet = quiet;
    setRunning(true);
    m_progress = new QProgressDialog(
        QStringLiteral("Sincronizzazione in corso…"), QStringLiteral("Interrompi"), 0, 0, m_window);
    m_progress->setObjectName(QStringLiteral("dlgSyncProgress"));
    m_progress->setWindowTitle(kTitle);
    // Not modal: a modal progress would run the window's events inside each setValue().
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setAutoReset(false);
    m_progress->setAutoClose(false);
    m_progress->setMinimumDuration(300);
    connect(m_progress, &QProgressDialog::canceled, this, &SyncActions::stop);

    const auto run = std::make_shared<SyncRun>();
    m_run = run;
    m_thread = QThread::create([this, run, settings, password, connection] {
        auto result = std::make_shared<Result>();
        try {
            // A connection of this thread's own: a connection belongs to the thread that opened it.
            CustomerStore store;
            store.ConnectToDatabase(connection);
            struct Close
            {
                CustomerStore& store;
                ~Close() { store.CloseDatabase(); }
            } close {store};
            // The day's copy before the sync changes anything, also when the window has stayed open since yesterday.
            backUpAddressBook(store.mcnnCust->filePath());
            const std::unique_ptr<CardDavClient> client = syncClient(settings, password);
            struct Publish
            {
                SyncRun& run;
                Publish(SyncRun& shared, CardDavClient* client)
                    : run(shared)
                {
                    QMutexLocker lock(&run.mutex);
                    run.client = client;
                }
                ~Publish()
                {
                    QMutexLocker lock(&run.mutex);
                    run.client = nullptr;
                }
            } publish(*run, client.get());
            if (run->stop) {
                client->abort();
            }
            // A server that moved the book elsewhere since it was set up: asked here as in "Cerca rubriche".
            client->setRedirectApproval([this, run](const QUrl& from, const QUrl& to) {
                QWidget* parent = m_window;
                const bool answered = askInWindow(this, *run, [run, parent, from, to] {
                    run->accepted = acceptsServerElsewhere(parent, from, to);
                    run->answered.release();
                });
                return answered && run->accepted;
            });
            // Kept with the account as soon as the sync ends, whatever its end.
            struct Remember
            {
                CustomerStore& store;
                const SyncSettings& settings;
                CardDavClient& client;
                ~Remember()
                {
                    if (client.accepted().isEmpty()) {
                        return;
                    }
                    SyncSettings updated = settings;
                    updated.accepted += client.accepted();
                    try {
                        saveSyncSettings(store, updated);
                    } catch (const ado::Error&) {
                        // Not kept: the next sync asks again.
                    }
                }
            } remember {store, settings, *client};
            WindowResolver resolver(this, m_window, run);
            ContactSync sync(store, *client, settings.book);
            sync.setResolver(&resolver);
            sync.setDeletionGuard([this, run](const MassDeletion& deletion) {
                QWidget* parent = m_window;
                const bool answered = askInWindow(this, *run, [run, parent, deletion] {
                    openQuestion(run, new SyncDeletionDialog(deletion, parent), [](SyncRun& r, DeletionChoice choice) {
                        r.deletion = choice;
                    });
                });
                return answered ? run->deletion : DeletionChoice::Keep;
            });
            sync.setProgress([this, run](qint64 done, qint64 total) {
                QMetaObject::invokeMethod(
                    this,
                    [this, done, total] {
                        if (m_progress) {
                            m_progress->setMaximum(int(total));
                            m_progress->setValue(int(done));
                        }
                    },
                    Qt::QueuedConnection);
                return !run->stop;
            });
            result->outcome = runNoted(store, sync);
            result->synced = true;
        } catch (const DeletionsHeld& held) {
            result->held = true;
            result->error = held.description();
        } catch (const CardDavError& error) {
            result->error = error.description();
            result->unreachable = error.status() == 0;
        } catch (const ado::Error& error) {
            result->error = error.description();
        } catch (const std::exception& error) {
            result->error = QStringLiteral("Errore imprevisto durante la sincronizzazione (%1).")
                                .arg(QString::fromLocal8Bit(error.what()));
        }
        QMetaObject::invokeMethod(
            this, [this, result] { finishSync(result); }, Qt::QueuedConnection);
    });
    m_thread->start();
    return true;
}

void SyncActions::stop()
{
    if (!m_run) {
        return;
    }
    m_run->stop = true;
    {
        QMutexLocker lock(&m_run->mutex);
        if (m_run->client) {
            m_run->client->abort();
        }
    }
    if (m_run->question) {
        m_run->question->reject();
    }
}

void SyncActions::finishSync(const std::shared_ptr<Result>& result)
{
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    const bool stopped = m_run->stop;
    m_run.reset();
    if (m_progress) {
        m_progress->close();
        m_progress->deleteLater();
    }
    setRunning(false);
    m_reload(); // what was stored, also before a failure, is shown
    if (result->synced) {
        if (!m_quiet) {
            MessageBox::show(m_window, result->outcome.summary(), kTitle, MessageBox::OkOnly, MessageBox::Information);
        }
    } else if (stopped) {
        if (!m_quiet) {
            MessageBox::show(m_window,
                             QStringLiteral("Sincronizzazione interrotta: quanto già sincronizzato è salvato, il "
                                            "resto seguirà alla prossima sincronizzazione."),
                             kTitle,
                             MessageBox::OkOnly,
                             MessageBox::Information);
        }
    } else if (result->held) {
        MessageBox::show(m_window,
                         result->error + QStringLiteral(" La domanda sarà ripetuta alla prossima sincronizzazione."),
                         kTitle,
                         MessageBox::OkOnly,
                         MessageBox::Information);
    } else if (!m_quiet || !result->unreachable) {
        // At start, a server out of reach (no network yet, a laptop away from home) is no news: the next sync
        // carries on. A refusal or a fault is shown.
        MessageBox::show(m_window, result->error, kTitle, MessageBox::OkOnly, MessageBox::Critical);
    }
    emit finished(result->synced);
}

void SyncActions::setRunning(bool running)
{
    m_running = running;
    actSyncSetup->setEnabled(!running);
    actSyncNow->setEnabled(!running);
    if (running) {
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
    }
}

// While the sync runs the window takes no clicks, keys, drops nor shortcuts: nothing starts an edit of the book.
bool SyncActions::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
        break;
    default:
        return false;
    }
    const auto inWindow = [this](QObject* object) {
        auto* widget = qobject_cast<QWidget*>(object);
        return widget && widget->window() == m_window;
    };
    if (inWindow(watched)) {
        return true;
    }
    if (auto* action = qobject_cast<QAction*>(watched)) {
        const QList<QObject*> owners = action->associatedObjects();
        return std::any_of(owners.cbegin(), owners.cend(), inWindow);
    }
    if (qobject_cast<QShortcut*>(watched)) {
        return inWindow(watched->parent());
    }
    return false;
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
    lblIntro = new QLabel(QStringLiteral("Tiene uguali i contatti di questa rubrica e quelli di una rubrica su un "
                                         "server CardDAV, condivisa con il telefono o con altri computer: ciò che si "
                                         "aggiunge, cambia o elimina da una parte passa anche dall'altra, all'avvio e "
                                         "con «Sincronizza ora» (Ctrl+R)."),
                          this);
    lblIntro->setObjectName(QStringLiteral("lblIntro"));
    lblIntro->setWordWrap(true);
    txtServer = new QLineEdit(settings.server.toString(), this);
    txtServer->setObjectName(QStringLiteral("txtServer"));
    txtServer->setPlaceholderText(QStringLiteral("https://server.esempio.it/"));
    txtServer->setToolTip(QStringLiteral("L'indirizzo del server o della rubrica, come lo indica il fornitore"));
    // Room for a whole address as providers give them, the path to the user's address book included.
    txtServer->setMinimumWidth(txtServer->fontMetrics().horizontalAdvance(QStringLiteral(
                                   "https://dav.esempio.it/remote/dav/addressbooks/users/nome.cognome/contatti/"))
                               + 2 * txtServer->fontMetrics().averageCharWidth());
    txtUser = new QLineEdit(settings.user, this);
    txtUser->setObjectName(QStringLiteral("txtUser"));
    txtPassword = new QLineEdit(this);
    txtPassword->setObjectName(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdFind = new QPushButton(QStringLiteral("Cerca rubriche"), this);
    cmdFind->setObjectName(QStringLiteral("cmdFind"));
    cmdFind->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cboBook = new QComboBox(this);
    cboBook->setObjectName(QStringLiteral("cboBook"));
    cboBook->setSizeAdjustPolicy(QComboBox::AdjustToContents);
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
    lblLastSync = new QLabel(this);
    lblLastSync->setObjectName(QStringLiteral("lblLastSync"));
    lblLastSync->setWordWrap(true);
    lblLastSync->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblPassword = new QLabel(this);
    lblPassword->setObjectName(QStringLiteral("lblPassword"));
    lblPassword->setWordWrap(true);
    if (settings.isSet()) {
        LastSync last;
        try {
            OpenStore open;
            last = loadLastSync(open.store);
        } catch (const ado::Error& error) {
            last.result = error.description();
        }
        const QLocale italian(QLocale::Italian, QLocale::Italy);
        lblLastSync->setText(
            !last.when.isValid()
                ? QStringLiteral("Ultima sincronizzazione: nessuna finora.")
                : QStringLiteral("Ultima sincronizzazione: %1, %2\n%3")
                      .arg(italian.toString(last.when.toLocalTime(), QStringLiteral("d/M/yyyy 'alle' HH:mm")),
                           last.ok ? QStringLiteral("riuscita.") : QStringLiteral("non riuscita:"),
                           last.result));
        switch (syncPasswordPlace(settings)) {
        case PasswordPlace::Keyring:
            lblPassword->setText(QStringLiteral("La password è conservata nel portachiavi del sistema."));
            break;
        case PasswordPlace::ThisRun:
            lblPassword->setText(QStringLiteral("La password è tenuta solo fino alla chiusura del programma (il "
                                                "portachiavi non l'ha accettata): al prossimo avvio andrà inserita "
                                                "di nuovo."));
            break;
        case PasswordPlace::Environment:
            lblPassword->setText(QStringLiteral("La password è presa da VELMARIN_CARDDAV_PASSWORD."));
            break;
        case PasswordPlace::None:
            lblPassword->setText(QStringLiteral("Nessuna password conservata: inserirla qui per sincronizzare."));
            break;
        }
    }
    lblLastSync->setVisible(settings.isSet());
    lblPassword->setVisible(settings.isSet());

    auto* form = new QFormLayout;
    // Fields take the width the dialog gives them, also where the style would keep them at their size hint.
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
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
    layout->addWidget(lblIntro);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addLayout(form);
    if (settings.isSet()) {
        layout->addSpacing(fontMetrics().height() / 2);
    }
    layout->addWidget(lblLastSync);
    layout->addWidget(lblPassword);
    layout->addLayout(buttons);
    // Word-wrapped labels take their height from the width; without this the dialog opens squeezed.
    layout->setSizeConstraint(QLayout::SetMinimumSize);

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
        client.setRedirectApproval(
            [this](const QUrl& from, const QUrl& to) { return acceptsServerElsewhere(this, from, to); });
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

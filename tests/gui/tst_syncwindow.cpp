// The window side of the sync, driven as a user does: setting it up from the list's menu, Ctrl+R with a conflict
// answered in its dialog, no sync while a contact is edited, and the sync at start once set up.
#include "data/DailyBackup.h"
#include "maint/ListContextMenu.h"
#include "maint/SyncActions.h"
#include "support/DavServer.h"
#include "support/HttpRecorder.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"
#include "sync/PasswordStore.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace {

class MemoryPasswords : public PasswordStore
{
public:
    MemoryPasswords() { PasswordStore::setCurrent(this); }
    ~MemoryPasswords() override { PasswordStore::setCurrent(nullptr); }
    QString password(const QString& account) override { return kept.value(account); }
    void setPassword(const QString& account, const QString& password) override { kept.insert(account, password); }
    void removePassword(const QString& account) override { kept.remove(account); }
    QHash<QString, QString> kept;
};

// A desktop without a keyring: nothing can be kept or read.
class NoKeyring : public PasswordStore
{
public:
    NoKeyring() { PasswordStore::setCurrent(this); }
    ~NoKeyring() override { PasswordStore::setCurrent(nullptr); }
    QString password(const QString&) override
    {
        throw ado::Error(QStringLiteral("Impossibile leggere la password dal portachiavi: su questo sistema non c'è "
                                        "un portachiavi."));
    }
    void setPassword(const QString&, const QString&) override
    {
        throw ado::Error(QStringLiteral("Impossibile conservare la password nel portachiavi: su questo sistema non "
                                        "c'è un portachiavi."));
    }
    void removePassword(const QString&) override { }
};

// Acts on the next modal dialog of the type as soon as it is up (dialogs run their own event loop).
template<typename Dialog, typename Act>
void whenShown(Act act)
{
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        }
    });
    timer->start();
}

// The sync set up in the address book as the dialog leaves it.
void setUpSync(TestDatabase& db, const SyncSettings& settings)
{
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
    saveSyncSettings(store, settings);
    store.CloseDatabase();
}

QStringList listed(const MainWindowDriver& driver)
{
    QStringList rows;
    for (int i = 1; i <= driver.list()->itemCount(); ++i) {
        rows.append(driver.row(i).mid(0, 4).join(QLatin1Char('|')));
    }
    rows.sort();
    return rows;
}

} // namespace

class tst_SyncWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qunsetenv("VELMARIN_CARDDAV_PASSWORD");
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        m_book = m_server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        m_server.addAddressBook(QStringLiteral("lavoro"), QStringLiteral("Lavoro"));
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        phone.createCard(m_book,
                         QStringLiteral("neri.vcf"),
                         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:neri\r\nN:Neri;Giulia;;;\r\nFN:Giulia Neri\r\n"
                         "TEL;TYPE=CELL:3337778888\r\nEND:VCARD\r\n");
    }

    void setUpSyncAndResolveAConflict()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Torino", "TO", "3331234567", "011123456"}});
        MainWindowDriver driver;
        auto* setup = driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"));
        auto* now = driver.window()->findChild<QAction*>(QStringLiteral("actSyncNow"));
        QVERIFY(setup && now);
        QVERIFY(driver.window()->listMenu()->menu()->actions().contains(now));
        QCOMPARE(now->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));

        // The user types the server, finds the address books and picks one; the sync follows at once.
        bool filled = false;
        whenShown<SyncSetupDialog>([&](SyncSetupDialog* dialog) {
            dialog->txtServer->setText(m_server.url().toString());
            dialog->txtUser->setText(m_server.user());
            dialog->txtPassword->setText(m_server.password());
            QVERIFY(!dialog->cmdOK->isEnabled());
            dialog->cmdFind->click();
            QCOMPARE(dialog->cboBook->count(), 2);
            dialog->cboBook->setCurrentIndex(dialog->cboBook->findText(QStringLiteral("Rubrica")));
            filled = true;
            dialog->cmdOK->click();
        });
        boxes.expect(MessageBox::Ok);
        setup->trigger();
        QVERIFY(filled);
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Sincronizzazione completata: in rubrica 1 aggiunto")),
                 qPrintable(boxes.last().text));
        QCOMPARE(listed(driver),
                 QStringList({QStringLiteral("Neri|Giulia||"), QStringLiteral("Rossi|Mario|Via Po 1|Torino")}));
        QCOMPARE(passwords.kept.value(QStringLiteral("anna@127.0.0.1")), m_server.password());

        // Changed here and on the phone: the conflict shows both, and the server's version is kept.
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano' WHERE CustID = 1")), QString());
        {
            CardDavClient phone(m_book, m_server.user(), m_server.password());
            for (const Card& card : phone.fetchCards(m_book, {[&] {
                                                         for (const CardEntry& entry : phone.listCards(m_book)) {
                                                             if (!entry.href.endsWith(QLatin1String("neri.vcf")))
                                                                 return entry.href;
                                                         }
                                                         return QString();
                                                     }()})) {
                phone.updateCard(card.href, card.etag, QByteArray(card.data).replace("Via Po 1", "Corso Francia 9"));
            }
        }
        QString here;
        QString server;
        whenShown<SyncConflictDialog>([&](SyncConflictDialog* dialog) {
            here = dialog->lblHere->text();
            server = dialog->lblServer->text();
            dialog->cmdKeepServer->click();
        });
        boxes.expect(MessageBox::Ok);
        driver.window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(driver.window()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, Qt::ControlModifier);
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(here.contains(QLatin1String("Via Po 1")) && here.contains(QLatin1String("Milano")), qPrintable(here));
        QVERIFY2(server.contains(QLatin1String("Corso Francia 9")) && server.contains(QLatin1String("Torino")),
                 qPrintable(server));
        QCOMPARE(listed(driver),
                 QStringList({QStringLiteral("Neri|Giulia||"), QStringLiteral("Rossi|Mario|Corso Francia 9|Torino")}));

        // While a contact is being edited there is no sync: no box, no change.
        driver.click("cmdAdd");
        QVERIFY(driver.editing());
        QTest::keyClick(driver.field("txtFirst"), Qt::Key_R, Qt::ControlModifier);
        QVERIFY(!driver.window()->syncActions()->syncNow());
        QCOMPARE(boxes.asked().size(), 2);
        driver.click("cmdCancel");
    }

    void syncsAtStartOnceSetUp()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db;
        setUpAccount(db, passwords);
        MainWindowDriver driver;
        // Silent when it works: no box is asked.
        QTRY_VERIFY(listed(driver).contains(QStringLiteral("Neri|Giulia||")));
        QCOMPARE(boxes.asked().size(), 0);
    }

    // Turned off, the sync forgets the account and no longer runs at start; the contacts stay on both sides, and a
    // contact deleted meanwhile is not deleted on the server when the sync is set up again.
    void turningTheSyncOff()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db;
        setUpAccount(db, passwords);
        {
            MainWindowDriver driver;
            QTRY_VERIFY(listed(driver).contains(QStringLiteral("Neri|Giulia||")));
            whenShown<SyncSetupDialog>([](SyncSetupDialog* dialog) {
                QVERIFY(dialog->cmdDisable->isVisible());
                dialog->cmdDisable->click();
            });
            boxes.expect(MessageBox::Ok);
            driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"))->trigger();
            QCOMPARE(
                boxes.last().text,
                QStringLiteral("Sincronizzazione disattivata: i contatti restano in questa rubrica e sul server."));
            QVERIFY(passwords.kept.isEmpty());
        }
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer")), QString());
        MainWindowDriver again;
        QTest::qWait(300);
        QCOMPARE(again.list()->itemCount(), 0);
        QCOMPARE(boxes.asked().size(), 1);
        whenShown<SyncSetupDialog>([this](SyncSetupDialog* dialog) {
            QVERIFY(!dialog->cmdDisable->isVisible());
            dialog->txtServer->setText(m_server.url().toString());
            dialog->txtUser->setText(m_server.user());
            dialog->txtPassword->setText(m_server.password());
            dialog->cmdFind->click();
            dialog->cboBook->setCurrentIndex(dialog->cboBook->findText(QStringLiteral("Rubrica")));
            dialog->cmdOK->click();
        });
        boxes.expect(MessageBox::Ok);
        again.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"))->trigger();
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti, 0 modificati, 0 eliminati")),
                 qPrintable(boxes.last().text));
        QVERIFY(listed(again).contains(QStringLiteral("Neri|Giulia||")));
    }

    // Out of reach at start, the sync says nothing; asked for, it says why.
    void aServerOutOfReachAtStartIsNoNews()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db({{1, "Rossi", "Mario", "", "", "", "", ""}});
        DavServer gone;
        QVERIFY2(gone.start(), qPrintable(gone.error()));
        const QUrl book = gone.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        gone.stop();
        setUpSync(db, {gone.url(), gone.user(), book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), gone.password());
        MainWindowDriver driver;
        QTest::qWait(300);
        QTRY_VERIFY(!driver.window()->syncActions()->isRunning());
        QCOMPARE(boxes.asked().size(), 0);
        QCOMPARE(driver.list()->itemCount(), 1);

        boxes.expect(MessageBox::Ok);
        QVERIFY(driver.window()->syncActions()->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QCOMPARE(boxes.last().icon, MessageBox::Critical);
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Impossibile raggiungere il server 127.0.0.1")),
                 qPrintable(boxes.last().text));
    }

    // A card rich in what the window does not show: each field changed in the window changes only its own line on
    // the server, and everything else on the card stays as the phone wrote it.
    void aChangeInTheWindowChangesOnlyItsLine()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db;
        const QUrl book = m_server.addAddressBook(QStringLiteral("righe"), QStringLiteral("Righe"));
        CardDavClient phone(book, m_server.user(), m_server.password());
        phone.createCard(book,
                         QStringLiteral("galli.vcf"),
                         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:galli-1\r\nN:Galli;Marta;;;\r\nFN:Marta Galli\r\n"
                         "TEL;TYPE=CELL:333 1111111\r\nTEL;TYPE=CELL:347 2222222\r\nTEL;TYPE=HOME:06 5551234\r\n"
                         "TEL;TYPE=WORK:02 5557654\r\nTEL;TYPE=PAGER:0335 999888\r\n"
                         "EMAIL;TYPE=HOME:marta@example.org\r\nEMAIL;TYPE=WORK:m.galli@example.com\r\n"
                         "ADR;TYPE=HOME:;;Via Roma 5;Roma;RM;00100;Italia\r\nNOTE:Cugina di Paolo\r\n"
                         "BDAY:1985-04-12\r\nEND:VCARD\r\n");
        const auto serverLines = [&] {
            QStringList lines;
            for (const CardEntry& entry : phone.listCards(book)) {
                for (const Card& card : phone.fetchCards(book, {entry.href})) {
                    // Servers give their own line ends and order of lines.
                    lines += QString::fromUtf8(card.data)
                                 .remove(QLatin1Char('\r'))
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                }
            }
            return lines;
        };
        // The lines only before, then the lines only after.
        const auto changed = [](const QStringList& before, const QStringList& after) {
            QStringList gone = before;
            QStringList come;
            for (const QString& line : after) {
                if (!gone.removeOne(line)) {
                    come.append(line);
                }
            }
            return QPair<QStringList, QStringList> {gone, come};
        };
        setUpSync(db, {m_server.url(), m_server.user(), book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());
        MainWindowDriver driver;
        QTRY_COMPARE(listed(driver), QStringList {QStringLiteral("Galli|Marta|Via Roma 5|Roma")});

        struct Step
        {
            QList<const char*> fields;
            QString text;
            QStringList gone;
            QStringList come;
        };
        const QList<Step> steps {
            {{"txtZip"}, QString(), {QStringLiteral("TEL;TYPE=CELL:333 1111111")}, {}},
            {{"txtArea", "txtPrfx", "txtLine"}, QString(), {QStringLiteral("TEL;TYPE=HOME:06 5551234")}, {}},
            {{"txtAddr"},
             QStringLiteral("Via Milano 7"),
             {QStringLiteral("ADR;TYPE=HOME:;;Via Roma 5;Roma;RM;00100;Italia")},
             {QStringLiteral("ADR;TYPE=HOME:;;Via Milano 7;Roma;RM;00100;Italia")}},
        };
        for (const Step& step : steps) {
            const QStringList before = serverLines();
            driver.clickRow(1);
            driver.click("cmdUpdate");
            for (const char* field : step.fields) {
                driver.type(field, step.text);
            }
            driver.click("cmdSave");
            QVERIFY(driver.browsing());
            boxes.expect(MessageBox::Ok);
            QVERIFY(driver.window()->syncActions()->syncNow());
            QTRY_COMPARE(boxes.pending(), 0);
            QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti, 1 modificato, 0 eliminati")),
                     qPrintable(boxes.last().text));
            const auto [gone, come] = changed(before, serverLines());
            QCOMPARE(gone, step.gone);
            QCOMPARE(come, step.come);
        }
        // "Sincronizza ora" made the day's copy first (the window in this test did not start through the program's
        // start, which makes it too).
        QCOMPARE(DailyBackup::copiesIn(DailyBackup::folderFor(db.path())).size(), 1);
    }

    // Once set up, the dialog says when the last sync ended, how, and where the password is.
    void theDialogShowsTheLastSync_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("result");
        QTest::newRow("a sync that worked")
            << QStringLiteral("segreta") << QStringLiteral(", riuscita.\nSincronizzazione completata: in rubrica ");
        QTest::newRow("a sync the server refused")
            << QStringLiteral("sbagliata") << QStringLiteral(", non riuscita:\n");
    }
    void theDialogShowsTheLastSync()
    {
        QFETCH(QString, password);
        QFETCH(QString, result);
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db;
        setUpSync(db, {m_server.url(), m_server.user(), m_book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), password);
        if (password != m_server.password()) {
            boxes.expect(MessageBox::Ok); // a refusal at start is shown
        }
        MainWindowDriver driver;
        auto* setup = driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"));
        // The sync at start ends: the contact from the server shown, or the refusal.
        if (password == m_server.password()) {
            QTRY_VERIFY(listed(driver).contains(QStringLiteral("Neri|Giulia||")));
        } else {
            QTRY_COMPARE(boxes.pending(), 0);
        }
        QString lastSync;
        QString kept;
        int room = 0;
        int needed = 0;
        whenShown<SyncSetupDialog>([&](SyncSetupDialog* dialog) {
            lastSync = dialog->lblLastSync->isVisibleTo(dialog) ? dialog->lblLastSync->text() : QString();
            kept = dialog->lblPassword->text();
            // A whole usual address fits in the field.
            room = dialog->txtServer->contentsRect().width();
            needed = dialog->txtServer->fontMetrics().horizontalAdvance(
                QStringLiteral("https://dav.example.org/remote.php/dav/addressbooks/users/anna/contacts/"));
            dialog->cmdCancel->click();
        });
        setup->trigger();
        QVERIFY2(
            QRegularExpression(QStringLiteral("^Ultima sincronizzazione: \\d{1,2}/\\d{1,2}/\\d{4} alle \\d\\d:\\d\\d"))
                .match(lastSync)
                .hasMatch(),
            qPrintable(lastSync));
        QVERIFY2(lastSync.contains(result), qPrintable(lastSync));
        if (password != m_server.password()) {
            QVERIFY2(lastSync.endsWith(boxes.last().text), qPrintable(lastSync));
        }
        QCOMPARE(kept, QStringLiteral("La password è conservata nel portachiavi del sistema."));
        QVERIFY2(room > needed, qPrintable(QStringLiteral("%1 px for %2").arg(room).arg(needed)));
    }

    // The address leads to another server (another host name, another port): "Cerca rubriche", or the sync of a book
    // whose server moved it since, asks once, and the answer is kept with the account, so later syncs send the
    // password there without asking.
    void aServerElsewhereIsAcceptedOnceAndRemembered_data()
    {
        QTest::addColumn<QString>("book");
        QTest::addColumn<bool>("duringSync");
        QTest::newRow("found by Cerca rubriche") << "altrove" << false;
        QTest::newRow("met by a sync") << "spostata" << true;
    }
    void aServerElsewhereIsAcceptedOnceAndRemembered()
    {
        QFETCH(QString, book);
        QFETCH(bool, duringSync);
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Torino", "TO", "3331234567", "011123456"}});
        m_server.addAddressBook(book, book);
        QUrl real = m_server.url();
        real.setHost(QStringLiteral("localhost"));
        HttpRecorder front([&](const HttpRecorder::Request& request) {
            return HttpRecorder::redirect(307, real.resolved(QUrl(QString::fromUtf8(request.path))));
        });
        const QUrl address = front.url().resolved(QUrl(QStringLiteral("/anna/%1/").arg(book)));
        MainWindowDriver driver;
        boxes.expect(MessageBox::Yes);
        boxes.expect(MessageBox::Ok);
        if (duringSync) {
            setUpSync(db, {address, m_server.user(), address});
            passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());
            QVERIFY(driver.window()->syncActions()->syncNow());
        } else {
            whenShown<SyncSetupDialog>([&](SyncSetupDialog* dialog) {
                dialog->txtServer->setText(address.toString());
                dialog->txtUser->setText(m_server.user());
                dialog->txtPassword->setText(m_server.password());
                dialog->cmdFind->click();
                QCOMPARE(dialog->cboBook->count(), 1);
                dialog->cmdOK->click();
            });
            driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"))->trigger();
        }
        QTRY_COMPARE(boxes.asked().size(), 2);
        const MessageBox::Request question = boxes.asked().first();
        QCOMPARE(question.defaultButton, MessageBox::No);
        QVERIFY2(question.text.contains(front.url().authority()) && question.text.contains(real.authority()),
                 qPrintable(question.text));
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 1 aggiunto")), qPrintable(boxes.last().text));
        QCOMPARE(m_server.cardFiles(book).size(), 1);

        // Remembered: the next sync goes there with the password, and nobody is asked again.
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano'")), QString());
        boxes.expect(MessageBox::Ok);
        QVERIFY(driver.window()->syncActions()->syncNow());
        QTRY_COMPARE(boxes.asked().size(), 3);
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti, 1 modificato")),
                 qPrintable(boxes.last().text));
    }

    // The server emptied: the window asks before deleting anything here, and can send the contacts up again.
    void aWipedServerAsksAndCanBeFilledAgain()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= 15; ++i) {
            rows.append({i, QStringLiteral("Cognome%1").arg(i), "Nome", "", "Torino", "TO", "", ""});
        }
        TestDatabase db(rows);
        const QUrl book = m_server.addAddressBook(QStringLiteral("svuotata"), QStringLiteral("Svuotata"));
        MainWindowDriver driver;
        setUpSync(db, {m_server.url(), m_server.user(), book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());
        boxes.expect(MessageBox::Ok);
        driver.window()->syncActions()->syncNow();
        QTRY_COMPARE(boxes.asked().size(), 1);
        QCOMPARE(m_server.cardFiles(QStringLiteral("svuotata")).size(), 15);
        CardDavClient phone(book, m_server.user(), m_server.password());
        for (const CardEntry& entry : phone.listCards(book)) {
            phone.deleteCard(entry.href, entry.etag);
        }
        QString question;
        whenShown<SyncDeletionDialog>([&](SyncDeletionDialog* dialog) {
            question = dialog->lblQuestion->text();
            QVERIFY(dialog->cmdKeep->isDefault());
            dialog->cmdUploadAgain->click();
        });
        boxes.expect(MessageBox::Ok);
        driver.window()->syncActions()->syncNow();
        QTRY_COMPARE(boxes.asked().size(), 2);
        QCOMPARE(question, QStringLiteral("Il server ha eliminato 15 contatti su 15. Eliminarli anche qui?"));
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 15 aggiunti")), qPrintable(boxes.last().text));
        QCOMPARE(driver.list()->itemCount(), 15);
        QCOMPARE(m_server.cardFiles(QStringLiteral("svuotata")).size(), 15);
    }

    // A server that keeps a card's upload waiting: the window goes on drawing and takes no edit meanwhile, and
    // "Interrompi" ends the sync there and then. What was stored stays, and the next sync completes it exactly.
    void aSyncInFlightLeavesTheWindowAliveAndStops()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= 30; ++i) {
            rows.append({i, QStringLiteral("Lento%1").arg(i), "Nome", "", "Torino", "TO", "", ""});
        }
        TestDatabase db(rows);
        const QUrl real = m_server.addAddressBook(QStringLiteral("lenta"), QStringLiteral("Lenta"));
        int puts = 0;
        bool holding = true;
        HttpRecorder front([&](const HttpRecorder::Request& request) {
            if (request.method == "PUT" && ++puts == 7 && holding) {
                return HttpRecorder::hold();
            }
            return HttpRecorder::forward();
        });
        front.forwardTo(m_server.url());
        const QUrl book = front.url().resolved(QUrl(real.path()));
        MainWindowDriver driver;
        setUpSync(db, {book, m_server.user(), book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());

        SyncActions* sync = driver.window()->syncActions();
        QVERIFY(sync->syncNow());
        QTRY_COMPARE(front.held(), 1);
        QVERIFY(sync->isRunning());
        // The window's thread is free: the list repaints and the progress comes up on its own.
        int paints = 0;
        struct Paints : QObject
        {
            int& count;
            explicit Paints(int& n)
                : count(n)
            {
            }
            bool eventFilter(QObject*, QEvent* event) override
            {
                count += event->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } filter(paints);
        driver.list()->view()->viewport()->installEventFilter(&filter);
        driver.list()->view()->viewport()->update();
        QTRY_VERIFY(paints > 0);
        auto* progress = driver.window()->findChild<QProgressDialog*>(QStringLiteral("dlgSyncProgress"));
        QVERIFY(progress);
        QTRY_VERIFY(progress->isVisible());
        // No edit starts on the book being synced.
        driver.click("cmdAdd");
        QVERIFY(driver.browsing());

        boxes.expect(MessageBox::Ok);
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
        QTRY_VERIFY(!sync->isRunning());
        QCOMPARE(front.held(), 0);
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Sincronizzazione interrotta")),
                 qPrintable(boxes.last().text));
        QCOMPARE(db.count(), 30);
        const int sent = int(m_server.cardFiles(QStringLiteral("lenta")).size());
        QVERIFY2(sent >= 6 && sent < 30, qPrintable(QString::number(sent)));

        holding = false;
        boxes.expect(MessageBox::Ok);
        QVERIFY(sync->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QStringLiteral("sul server %1 aggiunti").arg(30 - sent)),
                 qPrintable(boxes.last().text));
        QCOMPARE(m_server.cardFiles(QStringLiteral("lenta")).size(), 30);
        QCOMPARE(db.count(), 30);

        // A window closed while its sync waits stops the sync and waits for it; the next sync sends the rest.
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano'")), QString());
        puts = 0;
        holding = true;
        {
            MainWindowDriver closing;
            QTRY_COMPARE(front.held(), 1);
        }
        QTRY_COMPARE(front.held(), 0);
        holding = false;
        boxes.expect(MessageBox::Ok);
        QVERIFY(sync->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti")), qPrintable(boxes.last().text));
        boxes.expect(MessageBox::Ok);
        QVERIFY(sync->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti, 0 modificati, 0 eliminati")),
                 qPrintable(boxes.last().text));
    }

    // Cards with a photo of about a megabyte, in a book with contacts of its own: the book growing in the sync's own
    // transactions is no other program, at start and from "Sincronizza ora".
    void largeCardsSyncFromTheWindow()
    {
        MemoryPasswords passwords;
        ScriptedMessageBox boxes;
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= 30; ++i) {
            rows.append({i, QStringLiteral("Cognome%1").arg(i), "Nome", "Via Po 1", "Torino", "TO", "", ""});
        }
        TestDatabase db(rows);
        const QUrl book = m_server.addAddressBook(QStringLiteral("grandi"), QStringLiteral("Grandi"));
        CardDavClient phone(book, m_server.user(), m_server.password());
        const QByteArray photo = QByteArray(1024 * 1024, 'A').toBase64();
        QByteArray folded;
        for (qsizetype i = 0; i < photo.size(); i += 74) {
            folded += (i ? " " : "") + photo.mid(i, 74) + "\r\n";
        }
        for (const char* name : {"Bruni", "Conti"}) {
            phone.createCard(book,
                             QString::fromLatin1(name) + QLatin1String(".vcf"),
                             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + QByteArray(name) + "\r\nN:" + name
                                 + ";Lia;;;\r\nFN:Lia " + name + "\r\nPHOTO;ENCODING=b;TYPE=JPEG:" + folded
                                 + "END:VCARD\r\n");
        }
        setUpSync(db, {m_server.url(), m_server.user(), book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());
        MainWindowDriver driver;
        QTRY_VERIFY(listed(driver).contains(QStringLiteral("Conti|Lia||")));
        QCOMPARE(boxes.asked().size(), 0);

        driver.clickRow(1);
        driver.click("cmdUpdate");
        driver.type("txtCity", QStringLiteral("Lecce"));
        driver.click("cmdSave");
        QVERIFY(driver.browsing());
        boxes.expect(MessageBox::Ok);
        QVERIFY(driver.window()->syncActions()->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QLatin1String("sul server 0 aggiunti, 1 modificato, 0 eliminati")),
                 qPrintable(boxes.last().text));
        QCOMPARE(phone.listCards(book).size(), 32);

        // The command line, another process, syncs a third such card while the window has the book open; the
        // window's next sync finds nothing amiss.
        phone.createCard(book,
                         QStringLiteral("zeta.vcf"),
                         "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:zeta\r\nN:Zeta;Ada;;;\r\nFN:Ada Zeta\r\n"
                         "PHOTO;ENCODING=b;TYPE=JPEG:"
                             + folded + "END:VCARD\r\n");
        const QString program = db.folder() + QStringLiteral("/velmarin");
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin"), program));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMARIN_CARDDAV_PASSWORD"), m_server.password());
        process.setProcessEnvironment(env);
        process.start(program, {QStringLiteral("--sync")});
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 120000);
        const QString out = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        QVERIFY2(process.exitCode() == 0 && out.contains(QLatin1String("in rubrica 1 aggiunto")), qPrintable(out));
        boxes.expect(MessageBox::Ok);
        QVERIFY(driver.window()->syncActions()->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Sincronizzazione completata")),
                 qPrintable(boxes.last().text));
        QTRY_VERIFY(listed(driver).contains(QStringLiteral("Zeta|Ada||")));
    }

    // Last: the password it types stays with the process, as it does with the program until it ends.
    void withoutAKeyringThePasswordLastsTheRun()
    {
        NoKeyring keyring;
        ScriptedMessageBox boxes;
        TestDatabase db;
        // Set up earlier by another user of the account, whose password this run never had: no sync at
        // start, and no box about it.
        setUpSync(db, {m_server.url(), QStringLiteral("altro"), m_book});
        MainWindowDriver driver;
        QTest::qWait(200);
        QCOMPARE(boxes.asked().size(), 0);
        QCOMPARE(driver.list()->itemCount(), 0);

        whenShown<SyncSetupDialog>([&](SyncSetupDialog* dialog) {
            dialog->txtUser->setText(m_server.user());
            dialog->txtPassword->setText(m_server.password());
            dialog->cmdOK->click();
        });
        boxes.expect(MessageBox::Ok);
        boxes.expect(MessageBox::Ok);
        driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"))->trigger();
        QTRY_COMPARE(boxes.pending(), 0);
        QCOMPARE(boxes.asked().first().icon, MessageBox::Exclamation);
        QVERIFY2(boxes.asked().first().text.contains(QStringLiteral("non c'è un portachiavi"))
                     && boxes.asked().first().text.contains(QLatin1String("fino alla chiusura del programma")),
                 qPrintable(boxes.asked().first().text));
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Sincronizzazione completata")),
                 qPrintable(boxes.last().text));
        QVERIFY(listed(driver).contains(QStringLiteral("Neri|Giulia||")));

        // Later in the same run the password is still at hand.
        boxes.expect(MessageBox::Ok);
        QVERIFY(driver.window()->syncActions()->syncNow());
        QTRY_COMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.startsWith(QLatin1String("Sincronizzazione completata")),
                 qPrintable(boxes.last().text));

        // The dialog says so.
        QString kept;
        whenShown<SyncSetupDialog>([&](SyncSetupDialog* dialog) {
            kept = dialog->lblPassword->text();
            dialog->cmdCancel->click();
        });
        driver.window()->findChild<QAction*>(QStringLiteral("actSyncSetup"))->trigger();
        QVERIFY2(kept.contains(QLatin1String("solo fino alla chiusura del programma")), qPrintable(kept));
    }

private:
    // The sync set up with the test server's account and its password kept.
    void setUpAccount(TestDatabase& db, MemoryPasswords& passwords)
    {
        setUpSync(db, {m_server.url(), m_server.user(), m_book});
        passwords.setPassword(QStringLiteral("anna@127.0.0.1"), m_server.password());
    }

    DavServer m_server;
    QUrl m_book;
};

QTEST_MAIN(tst_SyncWindow)
#include "tst_syncwindow.moc"

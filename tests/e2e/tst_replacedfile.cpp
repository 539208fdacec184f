// Another program puts another address book at Cust.mdb while this one writes: copied over it (the same file
// rewritten) or moved over it (another file at the path), at each step of the write. The window's save and delete,
// an import from the command line and a sync all say that the book was replaced and name the day's copy; none of
// them reports success, writes into the other book or leaves a journal to be played into it.
#include "app/CommandLine.h"
#include "core/AppInfo.h"
#include "data/Ado.h"
#include "data/DailyBackup.h"
#include "support/DavServer.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTextStream>

#include <cstdio>

#include <unistd.h>

namespace {

// A sync writes the contacts the server sends, then notes the cards it sent.
enum Operation { Save, Delete, Import, SyncReceiving, SyncSending };
enum How { CopiedOver, MovedOver };

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// PRAGMA integrity_check through a connection that cannot write: a journal left beside the file makes it fail
// rather than be played into the file.
QString integrityOf(const QString& path)
{
    QString result = QStringLiteral("cannot open");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("integrity"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            result = query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next() ? query.value(0).toString()
                                                                                          : query.lastError().text();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("integrity"));
    return result;
}

const QByteArray kCard = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nN:Neri;%1;;;\r\nFN:%1 Neri\r\nEND:VCARD\r\n";

} // namespace

class TestReplacedFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void replacedWhileWriting_data();
    void replacedWhileWriting();

private:
    DavServer m_server;
    int m_books = 0;
};

void TestReplacedFile::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.error()));
}

void TestReplacedFile::cleanup()
{
    ado::setWriteStepHook({});
}

void TestReplacedFile::replacedWhileWriting_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("how");

    const QList<std::pair<ado::WriteStep, const char*>> steps {{ado::WriteStep::Begun, "before the first statement"},
                                                               {ado::WriteStep::Written, "between statements"},
                                                               {ado::WriteStep::Committing, "just before the commit"},
                                                               {ado::WriteStep::Committed, "just after the commit"}};
    for (const auto& [operation, name] : {std::pair {Save, "save"},
                                          std::pair {Delete, "delete"},
                                          std::pair {Import, "import"},
                                          std::pair {SyncReceiving, "sync receiving"},
                                          std::pair {SyncSending, "sync sending"}}) {
        for (const auto& [step, when] : steps) {
            for (const auto& [how, verb] : {std::pair {CopiedOver, "copied"}, std::pair {MovedOver, "moved"}}) {
                QTest::addRow("%s, another book %s over it %s", name, verb, when)
                    << int(operation) << int(step) << int(how);
            }
        }
    }
}

void TestReplacedFile::replacedWhileWriting()
{
    QFETCH(int, operation);
    QFETCH(int, step);
    QFETCH(int, how);

    TestDatabase db({{1, "Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "0212345678"},
                     {2, "Bianchi", "Bruno", "Via 2", "Como", "CO", "3330000002", ""},
                     {5, "Verdi", "Carla", "Via 5", "Lecco", "LC", "3330000005", ""}});
    {
        // Each contact's card row is made once here, so that opening the book later writes nothing.
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        store.CloseDatabase();
    }
    QVERIFY(DailyBackup::run(db.path(), AppInfo::now().date()).error.isEmpty());
    const QString copy = DailyBackup::copiesIn(DailyBackup::folderFor(db.path())).value(0);
    QVERIFY(!copy.isEmpty());

    const QString otherBook = QDir(db.folder()).filePath(QStringLiteral("other.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(otherBook), QString());
    // Enough contacts that its pages outnumber the book's: a copy of the same size and commit count as the commit
    // just made would be that commit to anyone looking at the file.
    QCOMPARE(mkdb::insertContacts(otherBook, mkdb::generatedContacts(400, 2)), QString());
    {
        // Another user's book, synced too: it has every table this program would write into.
        CustomerStore other;
        other.ConnectToDatabase(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + otherBook);
        saveSyncSettings(other,
                         {QUrl(QStringLiteral("https://altro.example/")),
                          QStringLiteral("ugo"),
                          QUrl(QStringLiteral("https://altro.example/ugo/rubrica/"))});
        other.CloseDatabase();
    }
    const QByteArray otherBytes = readAll(otherBook);
    // The book this program opened, still reachable after another file is moved over its name.
    const QString kept = QDir(db.folder()).filePath(QStringLiteral("kept.mdb"));
    const QList<QStringList> before = db.rows();

    bool armed = operation != SyncReceiving && operation != SyncSending;
    int swaps = 0;
    ado::setWriteStepHook([&](ado::WriteStep at, const QString& path) {
        if (!armed || swaps > 0 || at != ado::WriteStep(step)) {
            return;
        }
        ++swaps;
        if (how == MovedOver) {
            QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()), 0);
            QCOMPARE(std::rename(QFile::encodeName(otherBook).constData(), QFile::encodeName(path).constData()), 0);
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::ExistingOnly));
            QCOMPARE(file.write(otherBytes), otherBytes.size());
        }
    });

    QString told; // what the user reads
    switch (Operation(operation)) {
    case Save:
    case Delete: {
        ScriptedMessageBox boxes;
        MainWindowDriver main;
        main.clickRow(2);
        if (operation == Save) {
            main.click("cmdUpdate");
            main.type("txtCity", QStringLiteral("Bergamo"));
        } else {
            boxes.expect(MessageBox::Yes);
        }
        boxes.expect(MessageBox::Ok);
        main.click(operation == Save ? "cmdSave" : "cmdDelete");
        QCOMPARE(boxes.pending(), 0);
        QCOMPARE(boxes.last().icon, MessageBox::Critical);
        told = boxes.last().text;
        QVERIFY(told.contains(QStringLiteral("L'elenco viene letto di nuovo")));
        if (operation == Save) {
            QVERIFY(main.window()->editPending());
            QCOMPARE(main.field("txtCity")->text(), QStringLiteral("Bergamo"));
        }
        break;
    }
    case Import: {
        const QString vcf = QDir(db.folder()).filePath(QStringLiteral("nuovi.vcf"));
        QFile file(vcf);
        QVERIFY(file.open(QIODevice::WriteOnly));
        // More changed pages than the engine keeps in memory by default (2 MB): where it may write them into the
        // file before the commit, a rollback writes them back into whatever the file now holds.
        const QString street = QStringLiteral("ADR:;;Via %1 ") + QStringLiteral("lunga ").repeated(250)
            + QStringLiteral(";Roma;;;\r\nEND:VCARD");
        for (int n = 0; n < 2000; ++n) {
            QString card = QString::fromLatin1(kCard).arg(n);
            card.replace(QStringLiteral("END:VCARD"), street.arg(n));
            file.write(card.toUtf8());
        }
        file.close();
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        QCOMPARE(runExchangeCommand({QStringLiteral("--import"), vcf}, outStream, errStream), 1);
        QCOMPARE(out, QString());
        QVERIFY(!err.contains(QStringLiteral("elenco")));
        QVERIFY2(err.contains(QStringLiteral("ripetere il comando")), qPrintable(err));
        told = err;
        break;
    }
    case SyncReceiving:
    case SyncSending: {
        const QUrl book
            = m_server.addAddressBook(QStringLiteral("rubrica%1").arg(++m_books), QStringLiteral("Rubrica"));
        CardDavClient phone(book, m_server.user(), m_server.password());
        for (const char* name : {"Ugo", "Ida"}) {
            phone.createCard(book, QLatin1String(name), QString::fromLatin1(kCard).arg(QLatin1String(name)).toUtf8());
        }
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        CardDavClient client(book, m_server.user(), m_server.password());
        ContactSync sync(store, client, book);
        sync.setBatchSize(1);
        // From the first contact the server sends on (two of them), or from the first of the three sent: the sync's
        // own tables are set up by then.
        sync.setProgress([&](qint64, qint64 total) {
            armed = armed || total == (operation == SyncReceiving ? 2 : 3);
            return true;
        });
        bool succeeded = false;
        try {
            sync.run();
            succeeded = true;
        } catch (const ado::Error& error) {
            told = error.description();
        }
        store.CloseDatabase();
        QVERIFY(!succeeded);
        break;
    }
    }

    QCOMPARE(swaps, 1);
    QVERIFY2(told.contains(QStringLiteral("sostituito o modificato da un altro programma")), qPrintable(told));
    QVERIFY2(told.contains(QDir::toNativeSeparators(copy)), qPrintable(told));
    if (step == int(ado::WriteStep::Committed)) {
        QVERIFY2(told.contains(QStringLiteral("non è stata salvata nella rubrica")), qPrintable(told));
    }
    // The other book is exactly as it was put there, with no journal beside it to be played into it.
    QVERIFY(!QFile::exists(db.path() + QStringLiteral("-journal")));
    QVERIFY(readAll(db.path()) == otherBytes);
    QCOMPARE(integrityOf(db.path()), QStringLiteral("ok"));
    if (how == MovedOver) {
        QCOMPARE(integrityOf(kept), QStringLiteral("ok"));
        if (step != int(ado::WriteStep::Committed) && operation != SyncSending) {
            // Given up before its commit, the change left the book it was meant for as it was. (A sync sending has
            // already stored, for good, the contacts it received.)
            QFile::remove(db.path());
            QVERIFY(QFile::rename(kept, db.path()));
            QCOMPARE(db.rows(), before);
        }
    }
}

QTEST_MAIN(TestReplacedFile)
#include "tst_replacedfile.moc"

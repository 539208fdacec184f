// "Annulla" and "Ripristina da una copia…" through the real window: deletes and an import taken back, contacts and a
// whole book brought back from a copy in Backup/.
#include "data/DailyBackup.h"
#include "maint/ContactExchange.h"
#include "maint/RestoreDialog.h"
#include "maint/UndoActions.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAction>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTreeWidget>

using mkdb::ContactRow;

namespace {

// The CustomerCard rows by key ("uid|card"), read on a connection of their own.
QMap<int, QString> storedCards(const QString& path)
{
    QMap<int, QString> cards;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(path);
        if (sql.open()) {
            QSqlQuery query(sql);
            query.exec(QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard"));
            while (query.next()) {
                cards.insert(query.value(0).toInt(),
                             query.value(1).toString() + QLatin1Char('|') + query.value(2).toString());
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
    return cards;
}

void keepCard(const TestDatabase& db, int key, const QByteArray& card)
{
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(db.path());
        QVERIFY(sql.open());
        QSqlQuery query(sql);
        query.prepare(QStringLiteral("UPDATE CustomerCard SET Card = ? WHERE CustID = ?"));
        query.addBindValue(card);
        query.addBindValue(key);
        QVERIFY2(query.exec() && query.numRowsAffected() == 1, qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
}

QByteArray cardOf(const QString& surname)
{
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + surname.toUtf8() + ";;;;\r\nEMAIL:" + surname.toLower().toUtf8()
        + "@example.org\r\nNOTE:solo nella scheda\r\nEND:VCARD\r\n";
}

QList<ContactRow> fourContacts()
{
    return {{1, "Verdi", "Carla", "Via 3", "Milano", "MI", "3330000003", QVariant()},
            {2, "Bianchi", "Bruno", "Via 2", "Milano", "MI", "3330000002", "0212345679"},
            {3, "Rossi", "Anna", "Via 1", "Torino", "TO", "3330000001", "0112345678"},
            {4, "Neri", "Dario", "Via 4", "Roma", "RM", QVariant(), "0612345678"}};
}

// The window once opened (so every contact has its card row), each contact then given a card of its own.
void prepareCards(const TestDatabase& db)
{
    {
        MainWindowDriver opened;
    }
    for (const ContactRow& row : fourContacts()) {
        keepCard(db, row.custId.toInt(), cardOf(row.firstName.toString()));
    }
}

int rowOfKey(const MainWindowDriver& main, int key)
{
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        if (main.list()->subItem(i, 7) == QString::number(key)) {
            return i;
        }
    }
    return 0;
}

int selectedKey(const MainWindowDriver& main)
{
    return main.list()->subItem(main.list()->selectedIndex(), 7).toInt();
}

void deleteKey(const MainWindowDriver& main, ScriptedMessageBox& boxes, int key)
{
    main.clickRow(rowOfKey(main, key));
    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");
    QCOMPARE(rowOfKey(main, key), 0);
}

void pressUndo(const MainWindowDriver& main)
{
    QTest::keyClick(main.list()->view(), Qt::Key_Z, Qt::ControlModifier);
}

QList<QStringList> rowsOf(const QString& path)
{
    QList<QStringList> rows;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
        sql.setDatabaseName(path);
        if (sql.open()) {
            QSqlQuery query(sql);
            query.exec(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber "
                                      "FROM Customer ORDER BY CustID"));
            while (query.next()) {
                QStringList row;
                for (int i = 0; i < 8; ++i) {
                    row.append(query.value(i).isNull() ? QStringLiteral("<null>") : query.value(i).toString());
                }
                rows.append(row);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
    return rows;
}

QByteArray fileDigest(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    void deletesComeBackInOrder();
    void undoAfterAnotherProgram_data();
    void undoAfterAnotherProgram();
    void importTakenBack_data();
    void importTakenBack();
    void restoreFromACopy();
};

// Three deletes, two undos: the last two come back newest first, each with its key and its whole card, in its place
// in the sorted list, selected; the first stays deleted and is next on the stack.
void TestUndo::deletesComeBackInOrder()
{
    TestDatabase db(fourContacts());
    prepareCards(db);
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    const QMap<int, QString> cards = storedCards(db.path());
    QAction* undo = main.window()->undoActions()->undoAction();
    QVERIFY(!undo->isEnabled());
    main.clickHeader(1); // "Cognome"

    deleteKey(main, boxes, 2);
    deleteKey(main, boxes, 4);
    deleteKey(main, boxes, 3);
    QCOMPARE(undo->text(), QStringLiteral("Annulla eliminazione di Rossi Anna"));
    QVERIFY(undo->toolTip().contains(QStringLiteral("Rossi Anna")));
    QVERIFY(undo->isEnabled());
    // Not while an edit is open.
    main.click("cmdAdd");
    QVERIFY(!undo->isEnabled());
    main.click("cmdCancel");
    QVERIFY(undo->isEnabled());

    pressUndo(main);
    QCOMPARE(selectedKey(main), 3);
    pressUndo(main);
    QCOMPARE(selectedKey(main), 4);
    QCOMPARE(main.fields().mid(0, 2), (QStringList {QStringLiteral("Neri"), QStringLiteral("Dario")}));
    QCOMPARE(boxes.pending(), 0);
    QCOMPARE(undo->text(), QStringLiteral("Annulla eliminazione di Bianchi Bruno"));

    const QList<QStringList> expected = db.rows();
    QCOMPARE(expected.size(), 3);
    QCOMPARE(expected.at(0).mid(0, 2), (QStringList {QStringLiteral("1"), QStringLiteral("Verdi")}));
    QCOMPARE(expected.at(1).mid(0, 2), (QStringList {QStringLiteral("3"), QStringLiteral("Rossi")}));
    QCOMPARE(expected.at(2), (QStringList {"4", "Neri", "Dario", "Via 4", "Roma", "RM", "<null>", "0612345678"}));
    const QMap<int, QString> after = storedCards(db.path());
    QCOMPARE(after.value(3), cards.value(3));
    QCOMPARE(after.value(4), cards.value(4));
    QVERIFY(!after.contains(2));
    // In its place in the list sorted by surname.
    QStringList surnames;
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        surnames.append(main.list()->itemText(i));
    }
    QCOMPARE(surnames, (QStringList {"Neri", "Rossi", "Verdi"}));
}

void TestUndo::undoAfterAnotherProgram_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("key"); // where the contact comes back; 0: it does not
    QTest::addColumn<QString>("box");

    QTest::newRow("nothing") << "" << 4 << "";
    QTest::newRow("its key taken") << "INSERT INTO Customer (CustID, FirstName) VALUES (4, 'Gialli')" << 5
                                   << "Il codice 4 del contatto Neri Dario nel frattempo è stato dato a un altro "
                                      "contatto: il contatto è tornato con il codice 5.";
    QTest::newRow("book replaced") << "replace" << 0 << "Impossibile annullare.";
}

// Another program's change is seen at the undo: a key taken gives the contact a new one, and the box says so; a book
// replaced meanwhile is refused and left as it is.
void TestUndo::undoAfterAnotherProgram()
{
    QFETCH(QString, meanwhile);
    QFETCH(int, key);
    QFETCH(QString, box);

    TestDatabase db(fourContacts());
    prepareCards(db);
    const QMap<int, QString> cards = storedCards(db.path());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    deleteKey(main, boxes, 4);
    if (meanwhile == QLatin1String("replace")) {
        QVERIFY(DailyBackup::run(db.path(), QDate(2026, 12, 1)).error.isEmpty());
        const QString copy = DailyBackup::copiesIn(DailyBackup::folderFor(db.path())).first();
        QVERIFY(QFile::remove(db.path()));
        QVERIFY(QFile::copy(copy, db.path()));
    } else if (!meanwhile.isEmpty()) {
        QCOMPARE(db.exec(meanwhile), QString());
    }
    const QList<QStringList> before = db.rows();
    if (!box.isEmpty()) {
        boxes.expect(MessageBox::Ok);
    }
    pressUndo(main);
    QCOMPARE(boxes.pending(), 0);
    if (!box.isEmpty()) {
        QVERIFY2(boxes.last().text.startsWith(box), qPrintable(boxes.last().text));
    }
    if (key == 0) {
        QCOMPARE(db.rows(), before);
        QCOMPARE(main.list()->itemCount(), 3);
        return;
    }
    QCOMPARE(db.count(), before.size() + 1);
    QCOMPARE(db.rows().last(),
             (QStringList {QString::number(key), "Neri", "Dario", "Via 4", "Roma", "RM", "<null>", "0612345678"}));
    QCOMPARE(storedCards(db.path()).value(key), cards.value(4));
    QCOMPARE(selectedKey(main), key);
}

void TestUndo::importTakenBack_data()
{
    QTest::addColumn<QString>("between");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<bool>("undone");

    QTest::newRow("right after") << "" << true << true;
    QTest::newRow("after a save in the window") << "save" << false << false;
    QTest::newRow("an imported contact changed by another program")
        << "UPDATE Customer SET City = 'Pisa' WHERE FirstName = 'Importato1'" << true << false;
    QTest::newRow("an imported contact's card changed by another program")
        << "UPDATE CustomerCard SET Card = X'00' WHERE CustID = 5" << true << false;
}

// An import is taken back whole, and nothing else, until the next change to the book.
void TestUndo::importTakenBack()
{
    QFETCH(QString, between);
    QFETCH(bool, offered);
    QFETCH(bool, undone);

    TestDatabase db(fourContacts());
    prepareCards(db);
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    deleteKey(main, boxes, 2);
    const QList<QStringList> before = db.rows();
    const QMap<int, QString> cards = storedCards(db.path());

    const QString path = db.folder() + QStringLiteral("/rubrica.vcf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Importato1;Ugo;;;\r\nEND:VCARD\r\n"
               "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Importato2;Ivo;;;\r\nEMAIL:ivo@example.org\r\nEND:VCARD\r\n");
    file.close();
    main.window()->exchange()->setProgressDelay(0);
    boxes.expect(MessageBox::Ok);
    main.window()->exchange()->importFiles({path});
    QCOMPARE(db.count(), before.size() + 2);
    QAction* undo = main.window()->undoActions()->undoAction();
    QCOMPARE(undo->text(), QStringLiteral("Annulla importazione di rubrica.vcf (2 contatti)"));

    if (between == QLatin1String("save")) {
        main.clickRow(rowOfKey(main, 1));
        main.click("cmdUpdate");
        main.type("txtAddr", QStringLiteral("Via 33"));
        main.click("cmdSave");
    } else if (!between.isEmpty()) {
        QCOMPARE(db.exec(between), QString());
    }
    QCOMPARE(undo->text().startsWith(QStringLiteral("Annulla importazione")), offered);
    const QList<QStringList> beforeUndo = db.rows();
    if (offered) {
        if (!undone) {
            boxes.expect(MessageBox::Ok);
        }
        pressUndo(main);
        QCOMPARE(boxes.pending(), 0);
    }
    if (undone) {
        QCOMPARE(db.rows(), before);
        QCOMPARE(storedCards(db.path()), cards);
        QCOMPARE(main.list()->itemCount(), before.size());
    } else {
        QCOMPARE(db.rows(), beforeUndo);
    }
    // The delete before the import is still there to take back.
    QCOMPARE(undo->text(), QStringLiteral("Annulla eliminazione di Bianchi Bruno"));
}

// The dialog lists the copies newest first and what differs; a contact deleted since comes back with its card; the
// whole book is replaced only without another program's write lock, after the book as it was is saved beside the
// daily copies.
void TestUndo::restoreFromACopy()
{
    TestDatabase db(fourContacts());
    prepareCards(db);
    QVERIFY(DailyBackup::run(db.path(), QDate(2026, 11, 30)).error.isEmpty());
    QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Genova' WHERE CustID = 1")), QString());
    QVERIFY(DailyBackup::run(db.path(), QDate(2026, 12, 1)).error.isEmpty());
    const QString folder = DailyBackup::folderFor(db.path());
    const QString copy = QDir(folder).filePath(QStringLiteral("Cust-2026-12-01.mdb"));
    const QMap<int, QString> cards = storedCards(db.path());
    // Since the copy: one deleted, one changed only in case, one only in its card, one added.
    QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 2")), QString());
    QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET LastName = 'ANNA' WHERE CustID = 3")), QString());
    keepCard(db, 4, cardOf(QStringLiteral("Altro")));
    QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (5, 'Gialli')")), QString());

    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.window()->undoActions()->restoreAction()->trigger();
    RestoreDialog* dialog = main.window()->undoActions()->restoreDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->lstCopies->count(), 2);
    QVERIFY(dialog->lstCopies->item(0)->text().startsWith(QStringLiteral("1 dicembre 2026 — 4 contatti")));
    QCOMPARE(dialog->chosenCopy(), copy);
    const auto keysOf = [&](BookRestore::Difference::Kind kind) {
        QStringList keys;
        for (int i = 0; i < dialog->group(kind)->childCount(); ++i) {
            keys.append(dialog->group(kind)->child(i)->text(4));
        }
        return keys;
    };
    QCOMPARE(keysOf(BookRestore::Difference::DeletedSince), QStringList {"2"});
    QCOMPARE(keysOf(BookRestore::Difference::ChangedSince), (QStringList {"3", "4"}));
    QCOMPARE(keysOf(BookRestore::Difference::AddedSince), QStringList {"5"});

    // Chosen contacts.
    QVERIFY(!dialog->cmdBringBack->isEnabled());
    dialog->group(BookRestore::Difference::DeletedSince)->child(0)->setCheckState(0, Qt::Checked);
    boxes.expect(MessageBox::Ok);
    QTest::mouseClick(dialog->cmdBringBack, Qt::LeftButton);
    QCOMPARE(boxes.last().text, QStringLiteral("Recuperato 1 contatto."));
    QCOMPARE(db.rows().at(1),
             (QStringList {"2", "Bianchi", "Bruno", "Via 2", "Milano", "MI", "3330000002", "0212345679"}));
    QCOMPARE(storedCards(db.path()).value(2), cards.value(2));
    QCOMPARE(selectedKey(main), 2);
    QCOMPARE(dialog->group(BookRestore::Difference::DeletedSince)->childCount(), 0);

    // The whole book, refused while another program writes to it.
    const QByteArray held = fileDigest(db.path());
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(db.path());
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
        boxes.expect(MessageBox::Yes);
        boxes.expect(MessageBox::Ok);
        QTest::mouseClick(dialog->cmdReplace, Qt::LeftButton);
        QVERIFY2(boxes.last().text.contains(QStringLiteral("Un altro programma sta modificando la rubrica")),
                 qPrintable(boxes.last().text));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(fileDigest(db.path()), held);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);

    const QList<QStringList> current = db.rows();
    boxes.expect(MessageBox::Yes);
    boxes.expect(MessageBox::Ok);
    QTest::mouseClick(dialog->cmdReplace, Qt::LeftButton);
    QCOMPARE(boxes.asked().at(boxes.asked().size() - 2).defaultButton, MessageBox::No);
    QVERIFY2(boxes.last().text.startsWith(QStringLiteral("La rubrica è stata sostituita")),
             qPrintable(boxes.last().text));
    QCOMPARE(db.rows().at(2).at(2), QStringLiteral("Anna"));
    QCOMPARE(db.count(), 4);
    QCOMPARE(storedCards(db.path()), cards);
    QCOMPARE(QFile::permissions(db.path()) & 0x0077, QFile::Permissions());
    QCOMPARE(main.list()->itemCount(), 4);
    QCOMPARE(main.list()->subItem(rowOfKey(main, 3), 1), QStringLiteral("Anna"));
    // The book as it was, saved, and not one of the ten daily copies.
    const QString saved = QDir(folder).filePath(
        QStringLiteral("Cust-%1-prima-del-ripristino.mdb").arg(QDate::currentDate().toString(Qt::ISODate)));
    QVERIFY(QFile::exists(saved));
    QCOMPARE(DailyBackup::copiesIn(folder).size(), 2);
    QCOMPARE(dialog->lstCopies->count(), 3);
    QCOMPARE(rowsOf(saved), current);
}

QTEST_MAIN(TestUndo)
#include "tst_undo.moc"

// Each contact's whole card and UID beside it, through the store's changes, the import and the export's reading, on
// real Cust.mdb files.
#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "exchange/ContactFile.h"
#include "exchange/ContactImport.h"
#include "exchange/ImportRules.h"
#include "exchange/VCard.h"
#include "mkdb/CustDatabase.h"
#include "support/OpenBook.h"

#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const ContactFields kAnna {QStringLiteral("Rossi"),
                           QStringLiteral("Anna"),
                           QStringLiteral("Via Roma 1"),
                           QStringLiteral("Milano"),
                           QStringLiteral("MI"),
                           QStringLiteral("3331234567"),
                           QString()};

// What the list shows of kAnna under key 1.
QStringList annaShown()
{
    return {kAnna.firstName, kAnna.lastName, kAnna.address, kAnna.city, kAnna.state, kAnna.zip, QString(), "1"};
}

const QByteArray kAnnaCard = "BEGIN:VCARD\r\n"
                             "VERSION:3.0\r\n"
                             "N:Rossi;Anna;;;\r\n"
                             "FN:Anna Rossi\r\n"
                             "ADR;TYPE=HOME:;;Via Roma 1;Milano;MI;20121;Italia\r\n"
                             "TEL;TYPE=CELL:3331234567\r\n"
                             "EMAIL;TYPE=INTERNET:anna@example.org\r\n"
                             "NOTE:Conosciuta a Bologna\\, nel 2019\r\n"
                             "X-ANNIVERSARIO;X-TIPO=matrimonio:2015-06-20\r\n"
                             "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD\r\n"
                             " /2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8UHRofHh0aHBwg\r\n"
                             "UID:anna-1\r\n"
                             "END:VCARD\r\n";

QList<QByteArray> linesOf(const QByteArray& card)
{
    QList<QByteArray> lines = card.split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(ContactFields)

class TestContactCards : public QObject
{
    Q_OBJECT

private slots:
    void uidsAreRandomAndNeverReused();
    void updateEditsOnlyTheLinesOfChangedFields_data();
    void updateEditsOnlyTheLinesOfChangedFields();
    void aClearedNumberNeverTakesTheNextOne();
    void importKeepsCardsAndOwnUids();
    void exportReadsEveryCardAndUid();
    void exportCopiesOnlyCardsThatAgree_data();
    void exportCopiesOnlyCardsThatAgree();
};

// Two books made the same way never share a UID, and a key freed by a delete comes back with a new one.
void TestContactCards::uidsAreRandomAndNeverReused()
{
    const QList<mkdb::ContactRow> rows = mkdb::generatedContacts(20);
    OpenBook first(rows);
    OpenBook second(rows);
    QSet<QString> seen;
    for (OpenBook* book : {&first, &second}) {
        book->store.insert(21, kAnna);
        const QList<ExportContact> contacts = storedContacts(book->store);
        QCOMPARE(contacts.size(), 21);
        for (const ExportContact& contact : contacts) {
            QVERIFY(!contact.uid.isEmpty());
            QCOMPARE(contact.uid, ContactCards::load(book->store, contact.custId).uid);
            seen.insert(contact.uid);
        }
    }
    QCOMPARE(seen.size(), 42);

    QStringList shown = annaShown();
    shown.last() = QStringLiteral("21");
    first.store.remove(21, shown);
    QVERIFY(ContactCards::load(first.store, 21).isNull());
    first.store.insert(21, kAnna);
    const QString again = ContactCards::load(first.store, 21).uid;
    QVERIFY(!again.isEmpty());
    QVERIFY2(!seen.contains(again), qPrintable(again));

    // Another program's delete and insert under the same key give the new contact a UID of its own as well.
    seen.insert(again);
    first.otherProgram(QStringLiteral("DELETE FROM Customer WHERE CustID = 21"));
    first.otherProgram(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (21, 'Neri')"));
    const QString theirs = ContactCards::load(first.store, 21).uid;
    QVERIFY(!theirs.isEmpty());
    QVERIFY2(!seen.contains(theirs), qPrintable(theirs));
}

void TestContactCards::updateEditsOnlyTheLinesOfChangedFields_data()
{
    QTest::addColumn<ContactFields>("fields");
    QTest::addColumn<QList<int>>("changedLines");

    ContactFields fields = kAnna;
    QTest::newRow("nothing changed") << fields << QList<int>();
    fields.address = QStringLiteral("Corso Italia 7");
    QTest::newRow("address") << fields << QList<int> {4};
    fields = kAnna;
    fields.zip = QStringLiteral("3479876543");
    QTest::newRow("mobile") << fields << QList<int> {5};
    fields = kAnna;
    fields.firstName = QStringLiteral("Rossi-Bianchi");
    QTest::newRow("surname") << fields << QList<int> {2, 3};
}

void TestContactCards::updateEditsOnlyTheLinesOfChangedFields()
{
    QFETCH(ContactFields, fields);
    QFETCH(QList<int>, changedLines);

    OpenBook book;
    book.store.insert(1, kAnna);
    const QString uid = ContactCards::load(book.store, 1).uid;
    ContactCards::save(book.store, 1, {uid, kAnnaCard});

    book.store.update(1, fields, annaShown());

    const ContactCard stored = ContactCards::load(book.store, 1);
    QCOMPARE(stored.uid, uid);
    ContactFields read;
    QVERIFY(fieldsOfCard(stored.card, read));
    QCOMPARE(fieldsDigest(read), fieldsDigest(fields));
    const QList<QByteArray> before = linesOf(kAnnaCard);
    const QList<QByteArray> after = linesOf(stored.card);
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        if (changedLines.contains(i)) {
            QVERIFY2(after.at(i) != before.at(i), before.at(i).constData());
        } else {
            QCOMPARE(after.at(i), before.at(i));
        }
    }
    if (fields.address != kAnna.address) {
        // The postal code and the country stand beside the address on its line; they are not the address.
        QVERIFY2(after.at(4).contains(";20121;Italia"), after.at(4).constData());
    }
}

// Cleared, the mobile lets the card read its second mobile; later saves of other fields, and the details, keep it.
void TestContactCards::aClearedNumberNeverTakesTheNextOne()
{
    OpenBook book;
    book.store.insert(1, kAnna);
    const QString uid = ContactCards::load(book.store, 1).uid;
    QByteArray card = kAnnaCard;
    card.replace("TEL;TYPE=CELL:3331234567\r\n", "TEL;TYPE=CELL:3331234567\r\nTEL;TYPE=CELL:3470000001\r\n");
    ContactCards::save(book.store, 1, {uid, card});
    // Kept in the card, and in what the export writes of it.
    const auto second = [&] {
        return ContactCards::load(book.store, 1).card.contains("TEL;TYPE=CELL:3470000001")
            && writeVCards(storedContacts(book.store)).contains("3470000001");
    };

    ContactFields fields = kAnna;
    fields.zip.clear();
    book.store.update(1, fields, annaShown());
    QVERIFY(!ContactCards::load(book.store, 1).card.contains("3331234567"));
    QVERIFY(second());

    QStringList shown = annaShown();
    shown[5].clear();
    fields.city = QStringLiteral("Bergamo");
    book.store.update(1, fields, shown);
    QVERIFY(second());
    QVERIFY(ContactCards::load(book.store, 1).card.contains(";Bergamo;"));

    shown[3] = fields.city;
    CardDetails details = cardDetails(ContactCards::load(book.store, 1).card);
    details.emails.append(QStringLiteral("anna@lavoro.example"));
    book.store.updateDetails(1, shown, details);
    QVERIFY(second());
    QVERIFY(ContactCards::load(book.store, 1).card.contains("anna@lavoro.example"));
}

// The import keeps each card whole and its UID, unless another contact of the book (or of the same import) holds it.
void TestContactCards::importKeepsCardsAndOwnUids()
{
    OpenBook book({{1, "Verdi", "Carla", "Via Po 3", "Torino", "TO", "3400000001", QVariant()}});
    const QString held = ContactCards::load(book.store, 1).uid;
    QVERIFY(!held.isEmpty());

    const auto card = [](const QByteArray& name, const QString& uid) {
        return "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + name + ";;;;\r\nEMAIL:x@example.org\r\nUID:" + uid.toUtf8()
            + "\r\nEND:VCARD\r\n";
    };
    FileReading file;
    file.path = QStringLiteral("rubrica.vcf");
    file.format = ContactFormat::VCard;
    const ContactFields a {"Alfa", "", "", "", "", "", ""};
    const ContactFields b {"Beta", "", "", "", "", "", ""};
    const ContactFields c {"Gamma", "", "", "", "", "", ""};
    const ContactFields d {"Delta", "", "", "", "", "", ""};
    file.result.contacts = {{a, 1, card("Alfa", held), held},
                            {b, 7, card("Beta", "beta-uid"), "beta-uid"},
                            {c, 13, QByteArray(), QString()},
                            {d, 19, card("Delta", "beta-uid"), "beta-uid"}};
    // Enough more for the cards to go in several writes.
    for (int i = 0; i < 250; ++i) {
        const QString name = QStringLiteral("Zeta%1").arg(i);
        file.result.contacts.append({{name, "", "", "", "", "", ""}, 25 + i, card(name.toUtf8(), name), name});
    }
    const ImportOutcome outcome = importContacts(book.store, {file});
    QCOMPARE(outcome.addedKeys.mid(0, 4), (QList<qint32> {2, 3, 4, 5}));
    QCOMPARE(outcome.addedKeys.size(), 254);

    const QHash<qint32, ContactCard> cards = ContactCards::loadAll(book.store);
    // A card whose UID was taken carries its new one; every other byte is as it came.
    QCOMPARE(cards.value(3).uid, QStringLiteral("beta-uid"));
    QCOMPARE(cards.value(3).card, card("Beta", "beta-uid"));
    QCOMPARE(cards.value(2).card, card("Alfa", cards.value(2).uid));
    QCOMPARE(cards.value(5).card, card("Delta", cards.value(5).uid));
    ContactFields made;
    QVERIFY(fieldsOfCard(cards.value(4).card, made));
    QCOMPARE(made.firstName, QStringLiteral("Gamma"));
    QVERIFY(cards.value(4).card.contains("UID:" + cards.value(4).uid.toUtf8()));
    QCOMPARE(cards.value(255).card, card("Zeta249", "Zeta249"));
    QSet<QString> uids;
    for (auto stored = cards.cbegin(); stored != cards.cend(); ++stored) {
        QCOMPARE(stored.value().card.isEmpty(), stored.key() == 1);
        uids.insert(stored.value().uid);
    }
    QCOMPARE(uids.size(), 255);
}

// The export reads each contact's card and UID; one another program added since the opening gets a UID that stays.
void TestContactCards::exportReadsEveryCardAndUid()
{
    OpenBook book({{1, "Verdi", "Carla", "", "", "", "", ""}});
    ContactCards::save(book.store, 1, {QStringLiteral("carla"), kAnnaCard});
    book.otherProgram(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (2, 'Neri')"));

    const QList<ExportContact> first = storedContacts(book.store);
    QCOMPARE(first.size(), 2);
    QCOMPARE(first.at(1).custId, 1);
    QCOMPARE(first.at(1).uid, QStringLiteral("carla"));
    QCOMPARE(first.at(1).card, kAnnaCard);
    QCOMPARE(first.at(0).custId, 2);
    QVERIFY(!first.at(0).uid.isEmpty());
    QVERIFY(first.at(0).card.isEmpty());
    QCOMPARE(storedContacts(book.store).at(0).uid, first.at(0).uid);
}

void TestContactCards::exportCopiesOnlyCardsThatAgree_data()
{
    QTest::addColumn<QStringList>("otherProgram");
    QTest::addColumn<QString>("surname");
    QTest::addColumn<QString>("uid");
    QTest::addColumn<bool>("copied"); // the card written as it was stored

    const QString rossi = QStringLiteral("Rossi");
    const QString anna = QStringLiteral("anna-1");
    QTest::newRow("nothing changed") << QStringList() << rossi << anna << true;
    QTest::newRow("surname changed behind the card")
        << QStringList {"UPDATE Customer SET FirstName = 'Bianchi' WHERE CustID = 1"} << QStringLiteral("Bianchi")
        << anna << false;
    QTest::newRow("mobile changed behind the card")
        << QStringList {"UPDATE Customer SET Zip = '347 0000000' WHERE CustID = 1"} << rossi << anna << false;
    // The card now says Gialli and Modena, the contact still Rossi.
    QTest::newRow("card rewritten behind the program")
        << QStringList {"UPDATE CustomerCard SET Card = replace(replace(Card, 'N:Rossi;', 'N:Gialli;'), 'Bologna', "
                        "'Modena') WHERE CustID = 1"}
        << rossi << anna << false;
    QTest::newRow("UID changed behind the program")
        << QStringList {"UPDATE CustomerCard SET Uid = 'altro' WHERE CustID = 1"} << rossi << QStringLiteral("altro")
        << false;
    QTest::newRow("table from before the agreements")
        << QStringList {"DROP TRIGGER CustomerCardRewritten", "ALTER TABLE CustomerCard DROP COLUMN Agrees"} << rossi
        << anna << true;
}

// A stored card is copied into the export only while the contact and the card are as they were when it was stored;
// whatever another program changed since, the export writes what reading the card the long way writes.
void TestContactCards::exportCopiesOnlyCardsThatAgree()
{
    QFETCH(QStringList, otherProgram);
    QFETCH(QString, surname);
    QFETCH(QString, uid);
    QFETCH(bool, copied);
    OpenBook book({{1, "Rossi", "Anna", "Via Roma 1", "Milano", "MI", "3331234567", ""}});
    ContactCards::save(book.store, 1, {QStringLiteral("anna-1"), kAnnaCard});
    QVERIFY(!ContactCards::load(book.store, 1).agreement.isEmpty());
    for (const QString& sql : std::as_const(otherProgram)) {
        book.otherProgram(sql);
    }
    // As on the next opening.
    ContactCards::prepare(book.store);

    const QList<ExportContact> contacts = storedContacts(book.store);
    QCOMPARE(contacts.size(), 1);
    const ExportContact& contact = contacts.first();
    const QByteArray exported = writeVCards(contacts);
    QCOMPARE(exported, exportedCard(contact.card, contact.fields, contact.uid));
    ContactFields read;
    QVERIFY(fieldsOfCard(exported, read));
    QCOMPARE(duplicateKey(importedFields(read)), duplicateKey(importedFields(contact.fields)));
    QCOMPARE(read.firstName, surname);
    QVERIFY(exported.contains("\r\nUID:" + uid.toUtf8() + "\r\n"));
    QVERIFY(exported.contains("\r\nEMAIL;TYPE=INTERNET:anna@example.org\r\n"));
    QCOMPARE(exported == kAnnaCard, copied);

    // A card saved again gets its agreement back.
    ContactCards::save(book.store, 1, {uid, exported});
    QVERIFY(!ContactCards::load(book.store, 1).agreement.isEmpty());
    QCOMPARE(writeVCards(storedContacts(book.store)), exported);
}

QTEST_GUILESS_MAIN(TestContactCards)
#include "tst_contactcards.moc"

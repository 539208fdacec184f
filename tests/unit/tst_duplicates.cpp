// Duplicates on real Cust.mdb files: which pairs are found and which are not, the merge that keeps every number and
// e-mail, its undo, and pairs marked as not one person.
#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "data/Duplicates.h"
#include "exchange/CardDetails.h"
#include "mkdb/CustDatabase.h"
#include "support/OpenBook.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "Cognome|Nome|Indirizzo|Città|PR|Cellulare|Telefono" under a key.
mkdb::ContactRow row(int key, const QString& text)
{
    const QStringList f = text.split(QLatin1Char('|'));
    return {key, f.value(0), f.value(1), f.value(2), f.value(3), f.value(4), f.value(5), f.value(6)};
}

QByteArray cardWith(const QString& name, const QStringList& lines)
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + name.toUtf8() + ";;;;\r\nFN:" + name.toUtf8() + "\r\n";
    for (const QString& line : lines) {
        card += line.toUtf8() + "\r\n";
    }
    return card + "END:VCARD\r\n";
}

QList<QList<qint32>> groupKeys(const QList<DuplicateGroup>& groups)
{
    QList<QList<qint32>> keys;
    for (const DuplicateGroup& g : groups) {
        QList<qint32> k;
        for (const DuplicateContact& c : g.contacts) {
            k.append(c.key);
        }
        keys.append(k);
    }
    return keys;
}

} // namespace

class tst_Duplicates : public QObject
{
    Q_OBJECT

private slots:
    void pairs_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("emailA");
        QTest::addColumn<QString>("emailB");
        QTest::addColumn<QString>("reason"); // empty: not a pair

        QTest::newRow("swapped names, same city")
            << "Rossi|Mario|Via Roma 1|Roma|RM||"
            << "Mario|ROSSI||roma|||" << QString() << QString() << "stesso nome e città";
        QTest::newRow("accents and apostrophes")
            << QStringLiteral("D’Angelo|Nicolò||Forlì|FC|3331112222|") << "DANGELO|Nicolo\u0300||FORLI|||" << QString()
            << QString() << "stesso nome e città";
        QTest::newRow("0039 and spaces") << "Rossi|Mario||Roma||0039 333 123 4567|"
                                         << "Rosi|Mario||Milano||333-1234567|" << QString() << QString()
                                         << "nome simile: Rosi / Rossi";
        QTest::newRow("+39 on a mobile starting with 39")
            << "Bianchi|Anna||||+39 393 1234567|"
            << "Verdi|Anna||||3931234567|" << QString() << QString() << "stesso cellulare";
        QTest::newRow("a mobile as another's land line")
            << "Neri|Ugo||||+39 06 1234567|"
            << "Neri|Ugo|||||061234567" << QString() << QString() << "stesso numero";
        QTest::newRow("e-mail in another case") << "Gallo|Sara||Bari|||"
                                                << "Galli|Sara||Bologna|||"
                                                << "Sara.Gallo@Example.ORG"
                                                << "sara.gallo@example.org"
                                                << "stessa e-mail";
        QTest::newRow("e-mail on a folded line") << "Gallo|Sara||Bari|||"
                                                 << "Galli|Sara||Bologna|||"
                                                 << "sara.gallo@example.org"
                                                 << "SARA.GALLO@exa\r\n mple.org"
                                                 << "stessa e-mail";
        QTest::newRow("namesakes in different cities")
            << "Rossi|Mario||Roma||3331234567|"
            << "Rossi|Mario||Milano||3479876543|" << QString() << QString() << QString();
        QTest::newRow("namesakes of one city, two mobiles")
            << "Rossi|Mario||Roma||3331234567|"
            << "Rossi|Mario||Roma||3479876543|" << QString() << QString() << QString();
        QTest::newRow("namesakes of one city, two addresses")
            << "Rossi|Mario|Via Po 1|Roma|||"
            << "Rossi|Mario|Via Tevere 9|Roma|||" << QString() << QString() << QString();
        QTest::newRow("De Luca and Luca") << "De Luca|Marco||Roma|||"
                                          << "Luca|Marco||Roma|||" << QString() << QString() << QString();
        QTest::newRow("one letter apart, nothing shared")
            << "Rosi|Mario||Roma|||"
            << "Rossi|Mario||Roma|||" << QString() << QString() << QString();
        QTest::newRow("39 not a prefix without +") << "Bianchi|Anna||||3931234567|"
                                                   << "Verdi|Anna||||31234567|" << QString() << QString() << QString();
    }

    void pairs()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, emailA);
        QFETCH(QString, emailB);
        QFETCH(QString, reason);
        OpenBook book({row(1, a), row(2, b)});
        if (!emailA.isEmpty()) {
            ContactCards::save(book.store, 1, {ContactCards::newUid(), cardWith("A", {"EMAIL:" + emailA})});
            ContactCards::save(book.store, 2, {ContactCards::newUid(), cardWith("B", {"EMAIL;TYPE=HOME:" + emailB})});
        }
        const QList<DuplicateGroup> groups = Duplicates::find(book.store);
        if (reason.isEmpty()) {
            QVERIFY2(groups.isEmpty(), qPrintable(groups.value(0).reasons.join(", ")));
            return;
        }
        QCOMPARE(groupKeys(groups), QList<QList<qint32>>({{1, 2}}));
        QVERIFY2(groups.first().reasons.contains(reason), qPrintable(groups.first().reasons.join(", ")));
    }

    // The mobile and the e-mail are the surest signs; a land line a family shares comes last.
    void mostCertainFirst()
    {
        OpenBook book({row(1, "Conti|Elena|||||0511234567"),
                       row(2, "Conti|Piero|||||0511234567"),
                       row(3, "Rossi|Mario||Roma||3331234567|"),
                       row(4, "Mario|Rossi||Roma||+39 333 1234567|")});
        const QList<DuplicateGroup> groups = Duplicates::find(book.store);
        QCOMPARE(groupKeys(groups), QList<QList<qint32>>({{3, 4}, {1, 2}}));
        QCOMPARE(groups.at(1).reasons, QStringList {QStringLiteral("stesso telefono")});
    }

    // A marked pair is not proposed again: a group of that pair alone goes, a larger one keeps the rest.
    void notDuplicatesStayApart()
    {
        OpenBook book({row(1, "Rossi|Mario||||3331234567|"),
                       row(2, "Rossi|Maria||||3331234567|"),
                       row(3, "Rossi|Mario||||333 1234567|"),
                       row(4, "Verdi|Ugo||||3470000001|"),
                       row(5, "Verde|Ugo||||3470000001|")});
        QCOMPARE(groupKeys(Duplicates::find(book.store)), QList<QList<qint32>>({{1, 2, 3}, {4, 5}}));

        Duplicates::markNotDuplicates(book.store, {5, 4});
        Duplicates::markNotDuplicates(book.store, {2, 1});
        // Maria may still be Mario's namesake with his number, but never in a group with him.
        const QList<QList<qint32>> groups = groupKeys(Duplicates::find(book.store));
        QCOMPARE(groups, QList<QList<qint32>>({{1, 3}}));
    }

    // The same contact imported 25 times: groups stay small enough to be shown side by side.
    void manyCopiesInBoundedGroups()
    {
        QList<mkdb::ContactRow> rows;
        for (int key = 1; key <= 25; ++key) {
            rows.append(row(key, "Rossi|Mario|Via Po 1|Roma|RM|3331234567|"));
        }
        OpenBook book(rows);
        const QList<DuplicateGroup> groups = Duplicates::find(book.store);
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups.at(0).contacts.size() + groups.at(1).contacts.size(), 25);
        QVERIFY(groups.at(0).contacts.size() <= 20 && groups.at(1).contacts.size() <= 20);
    }

    // Every number and e-mail of both ends in the kept card, the other goes; the undo gives back both as they were.
    void mergeAndUndo()
    {
        OpenBook book({row(1, "Rossi|Mario|Via Roma 1|Roma|RM|3331234567|"),
                       row(2, "Mario|Rossi||Roma||3479876543|061234567"),
                       row(3, "Verdi|Ugo||Bari|||")});
        const QByteArray card1 = cardWith(
            "Rossi;Mario",
            {"TEL;TYPE=CELL:3331234567", "EMAIL:mario@example.org", "TEL;TYPE=WORK:02 5550001", "NOTE:collega"});
        const QByteArray card2 = cardWith(
            "Mario;Rossi",
            {"TEL;TYPE=CELL:3479876543", "EMAIL:MARIO@example.org", "EMAIL:m.rossi@lavoro.it", "TEL:02 5550001"});
        ContactCards::save(book.store, 1, {QStringLiteral("uid-1"), card1});
        ContactCards::save(book.store, 2, {QStringLiteral("uid-2"), card2});
        const ContactCard before1 = ContactCards::load(book.store, 1);
        const ContactCard before2 = ContactCards::load(book.store, 2);

        const QList<DuplicateGroup> groups = Duplicates::find(book.store);
        QCOMPARE(groups.size(), 1);
        const DuplicateGroup& group = groups.first();
        QCOMPARE(Duplicates::keptKey(group), 1);
        // The later contact's mobile where both have one; the only land line.
        ContactFields chosen = Duplicates::proposedFields(group);
        QCOMPARE(chosen.zip, QStringLiteral("3479876543"));
        QCOMPARE(chosen.phoneNumber, QStringLiteral("061234567"));
        chosen.firstName = QStringLiteral("Rossi");
        chosen.lastName = QStringLiteral("Mario");
        const MergeRecord record = Duplicates::merge(book.store, group, 1, chosen);

        QCOMPARE(book.keys(), QList<qint32>({1, 3}));
        const ContactCard kept = ContactCards::load(book.store, 1);
        QCOMPARE(kept.uid, QStringLiteral("uid-1"));
        const CardDetails details = cardDetails(kept.card);
        QCOMPARE(details.emails, QStringList({"mario@example.org", "m.rossi@lavoro.it"}));
        QStringList others;
        for (const CardPhone& phone : details.otherPhones) {
            others.append(QString::fromStdString(Duplicates::comparedNumber(phone.number)));
        }
        // Mario's old mobile gave way to the other's, and his card's land line to the chosen one: both stay, once.
        QCOMPARE(others, QStringList({"3331234567", "025550001"}));
        QCOMPARE(details.note, QStringLiteral("collega"));
        ContactFields read;
        QVERIFY(fieldsOfCard(kept.card, read));
        QCOMPARE(read.zip, chosen.zip);
        QVERIFY(Duplicates::find(book.store).isEmpty());

        const QList<qint32> back = Duplicates::undoMerge(book.store, record);
        QCOMPARE(back, QList<qint32>({2}));
        QCOMPARE(book.keys(), QList<qint32>({1, 2, 3}));
        QCOMPARE(ContactCards::load(book.store, 1).card, before1.card);
        QCOMPARE(ContactCards::load(book.store, 2).card, before2.card);
        QCOMPARE(ContactCards::load(book.store, 2).uid, QStringLiteral("uid-2"));
        QCOMPARE(groupKeys(Duplicates::find(book.store)), QList<QList<qint32>>({{1, 2}}));
        QCOMPARE(Duplicates::find(book.store).first().contacts, group.contacts);
    }

    // A key given to someone else since the merge is not taken back: the contact returns under the next free one.
    void undoAfterTheKeyWasGivenAgain()
    {
        OpenBook book({row(1, "Rossi|Mario||Roma||3331234567|"), row(2, "Rossi|Mario||Roma||333 1234567|")});
        ContactCards::save(book.store, 2, {QStringLiteral("uid-2"), QByteArray()});
        const DuplicateGroup group = Duplicates::find(book.store).value(0);
        const MergeRecord record = Duplicates::merge(book.store, group, 1, Duplicates::proposedFields(group));
        book.otherProgram(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (2, 'Verdi')"));
        QCOMPARE(Duplicates::undoMerge(book.store, record), QList<qint32>({3}));
        QCOMPARE(book.keys(), QList<qint32>({1, 2, 3}));
        QCOMPARE(ContactCards::load(book.store, 3).uid, QStringLiteral("uid-2"));
    }

    // Like "Salva": a contact another program changed stops the merge, and nothing is changed.
    void mergeRefusedAfterAnotherProgram()
    {
        OpenBook book({row(1, "Rossi|Mario||Roma||3331234567|"), row(2, "Rossi|Mario||Roma||3331234567|")});
        const DuplicateGroup group = Duplicates::find(book.store).value(0);
        QCOMPARE(group.contacts.size(), 2);
        book.otherProgram(QStringLiteral("UPDATE Customer SET Address = 'Via Nuova 2' WHERE CustID = 2"));
        QVERIFY_THROWS_EXCEPTION(ContactChanged,
                                 Duplicates::merge(book.store, group, 1, Duplicates::proposedFields(group)));
        QCOMPARE(book.keys(), QList<qint32>({1, 2}));
    }
};

QTEST_GUILESS_MAIN(tst_Duplicates)
#include "tst_duplicates.moc"

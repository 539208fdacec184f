// Velmarin and a second client on one address book of a real server: vdirsyncer keeps khard's folder of cards in
// step with it, as a phone would. Contacts made with khard reach both books; contacts added, changed and deleted in
// Velmarin reach khard as they are; what khard keeps that Velmarin does not show stays on the card; khard's own
// changes and deletions come back.
#include "data/CustomerStore.h"
#include "support/DavServer.h"
#include "support/PeerClient.h"
#include "support/SyncScript.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"

#include <QTest>

namespace {

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

const QString kRossi = QStringLiteral("Rossi;Mario;Via Po 1;Torino;TO;3331234567;011123456");
const QString kVerdi = QStringLiteral("Verdi;Anna;;Asti;AT;;");
const QString kGialli = QStringLiteral("Gialli;Ugo;Via Roma 3;Alba;CN;3409876543;");
const QString kFerri = QStringLiteral("Ferri;Carla;Via Garibaldi 7;Milano;MI;3475551234;");

const QByteArray kFerriYaml = "First name : Carla\n"
                              "Last name : Ferri\n"
                              "Phone :\n"
                              "    cell : 347 555 1234\n"
                              "Email :\n"
                              "    home : carla@example.org\n"
                              "Address :\n"
                              "    home :\n"
                              "        Street : Via Garibaldi 7\n"
                              "        Code : 20121\n"
                              "        City : Milano\n"
                              "        Region : MI\n"
                              "        Country : Italia\n"
                              "Organisation : Ferri Srl\n"
                              "Birthday : 1980-05-17\n"
                              "Private :\n"
                              "    Skype : carla.ferri\n"
                              "Note : Amica di Anna\n";

} // namespace

class tst_PeerClient : public QObject
{
    Q_OBJECT

private:
    DavServer m_server;
    QUrl m_book;

    SyncOutcome sync(TestDatabase& db)
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        CardDavClient client(m_book, m_server.user(), m_server.password());
        ContactSync sync(store, client, m_book);
        struct Close
        {
            CustomerStore& store;
            ~Close() { store.CloseDatabase(); }
        } close {store};
        return sync.run();
    }

    static QStringList here(const TestDatabase& db) { return contactsOf(db); }

    // khard's contacts as the seven fields, its numbers without spaces (types in either case, as vCard has them).
    static QStringList seen(PeerClient& peer)
    {
        QStringList contacts;
        for (const QString& uid : peer.uids()) {
            const QMap<QString, QString> c = peer.contact(uid);
            QString cell;
            QString home;
            for (auto value = c.cbegin(); value != c.cend(); ++value) {
                const QString key = value.key().toLower();
                if (key == QLatin1String("phone.cell")) {
                    cell = value.value();
                } else if (key.startsWith(QLatin1String("phone."))) {
                    home = value.value();
                }
            }
            contacts.append(QStringList {c.value(QStringLiteral("Last name")),
                                         c.value(QStringLiteral("First name")),
                                         c.value(QStringLiteral("Address.home.Street")),
                                         c.value(QStringLiteral("Address.home.City")),
                                         c.value(QStringLiteral("Address.home.Region")),
                                         cell.remove(QLatin1Char(' ')),
                                         home.remove(QLatin1Char(' '))}
                                .join(QLatin1Char(';')));
        }
        return sorted(contacts);
    }

    static QString uidOf(PeerClient& peer, const QString& surname)
    {
        for (const QString& uid : peer.uids()) {
            if (peer.contact(uid).value(QStringLiteral("Last name")) == surname) {
                return uid;
            }
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        const QString missing = PeerClient::missing();
        if (!missing.isEmpty()) {
            QSKIP(qPrintable(missing));
        }
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        m_book = m_server.addAddressBook(QStringLiteral("famiglia"), QStringLiteral("Famiglia"));
    }

    void twoBooksAndKhardSeeTheSame()
    {
        PeerClient peer(m_server, m_book);
        QVERIFY2(peer.setUp(), qPrintable(peer.error()));
        QVERIFY2(
            !peer.khard({QStringLiteral("new"), QStringLiteral("-a"), QStringLiteral("famiglia")}, kFerriYaml).isNull(),
            qPrintable(peer.error()));
        QVERIFY2(peer.sync(), qPrintable(peer.error()));

        TestDatabase a({rowOf(1, kRossi)});
        TestDatabase b({rowOf(1, kVerdi)});
        sync(a);
        sync(b);
        sync(a);
        QCOMPARE(here(a), sorted({kRossi, kVerdi, kFerri}));
        QCOMPARE(here(b), here(a));
        QVERIFY2(peer.sync(), qPrintable(peer.error()));
        QCOMPARE(seen(peer), here(a));

        // Added, changed and deleted in Velmarin.
        QCOMPARE(a.exec(QStringLiteral("UPDATE Customer SET City = 'Monza' WHERE FirstName = 'Ferri'")), QString());
        QCOMPARE(a.exec(QStringLiteral("UPDATE Customer SET Zip = '3400000000' WHERE FirstName = 'Rossi'")), QString());
        QCOMPARE(a.exec(QStringLiteral("DELETE FROM Customer WHERE FirstName = 'Verdi'")), QString());
        QCOMPARE(a.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, City, "
                                       "State, Zip, PhoneNumber) VALUES (9, 'Gialli', 'Ugo', 'Via Roma 3', 'Alba', "
                                       "'CN', '3409876543', '')")),
                 QString());
        const QString ferriMonza = QString(kFerri).replace(QLatin1String("Milano"), QLatin1String("Monza"));
        const QString rossiCell = QString(kRossi).replace(QLatin1String("3331234567"), QLatin1String("3400000000"));
        sync(a);
        QVERIFY2(peer.sync(), qPrintable(peer.error()));
        QCOMPARE(seen(peer), sorted({rossiCell, ferriMonza, kGialli}));
        sync(b);
        QCOMPARE(here(b), sorted({rossiCell, ferriMonza, kGialli}));

        // What khard keeps that Velmarin does not show is still there.
        const QMap<QString, QString> ferri = peer.contact(uidOf(peer, QStringLiteral("Ferri")));
        for (const auto& [key, value] : {std::pair {"Email.home", "carla@example.org"},
                                         std::pair {"Note", "Amica di Anna"},
                                         std::pair {"Birthday", "1980-05-17"},
                                         std::pair {"Organisation", "Ferri Srl"},
                                         std::pair {"Private.Skype", "carla.ferri"},
                                         std::pair {"Address.home.Code", "20121"},
                                         std::pair {"Address.home.Country", "Italia"}}) {
            QCOMPARE(ferri.value(QString::fromLatin1(key)), QString::fromLatin1(value));
        }

        // Changed and deleted with khard: both books follow.
        const QString ferriUid = uidOf(peer, QStringLiteral("Ferri"));
        QByteArray edited = peer.khard({QStringLiteral("show"),
                                        QStringLiteral("--format"),
                                        QStringLiteral("yaml"),
                                        QStringLiteral("uid:") + ferriUid});
        QVERIFY(edited.contains("cell: 347 555 1234"));
        edited.replace("cell: 347 555 1234", "cell: 347 555 9999");
        QVERIFY2(peer.edit(ferriUid, edited), qPrintable(peer.error()));
        QVERIFY2(!peer.khard({QStringLiteral("remove"),
                              QStringLiteral("--force"),
                              QStringLiteral("uid:") + uidOf(peer, QStringLiteral("Gialli"))})
                      .isNull(),
                 qPrintable(peer.error()));
        QVERIFY2(peer.sync(), qPrintable(peer.error()));
        const QString ferriCell = QString(ferriMonza).replace(QLatin1String("3475551234"), QLatin1String("3475559999"));
        const SyncOutcome atA = sync(a);
        QCOMPARE(atA.changedHere, 1);
        QCOMPARE(atA.deletedHere, 1);
        sync(b);
        QCOMPARE(here(a), sorted({rossiCell, ferriCell}));
        QCOMPARE(here(b), here(a));
        QVERIFY2(peer.sync(), qPrintable(peer.error()));
        QCOMPARE(seen(peer), here(a));
        QCOMPARE(peer.contact(ferriUid).value(QStringLiteral("Private.Skype")), QStringLiteral("carla.ferri"));
    }
};

QTEST_GUILESS_MAIN(tst_PeerClient)

#include "tst_peerclient.moc"

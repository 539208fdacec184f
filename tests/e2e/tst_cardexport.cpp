// Contacts made, imported and detailed in the real window, exported by it, and read back by another program's reader
// (Python's vobject): every contact has a UID of its own, in one book and across books, and its whole card.
#include "maint/ContactDetailsDialog.h"
#include "maint/ContactExchange.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QList<mkdb::ContactRow> twoContacts()
{
    return {{1, "Rossi", "Anna", "Via Roma 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Bianchi", "Bruno", "Via Po 2", "Torino", "TO", QVariant(), QVariant()}};
}

// A phone's card without a UID: what the program does not show must come out as it went in.
const QByteArray kPhoneCard = "BEGIN:VCARD\r\n"
                              "VERSION:3.0\r\n"
                              "N:Verdi;Carla;;;\r\n"
                              "FN:Carla Verdi\r\n"
                              "TEL;TYPE=CELL:3471234567\r\n"
                              "EMAIL;TYPE=INTERNET:carla@example.org\r\n"
                              "NOTE:Chiamare dopo le 18\\, non prima\r\n"
                              "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQAB\r\n"
                              "X-GIORNO-PREFERITO:giovedì\r\n"
                              "END:VCARD\r\n";

int rowOf(const MainWindowDriver& main, const QString& surname)
{
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        if (main.list()->itemText(i) == surname) {
            return i;
        }
    }
    return 0;
}

// A book made the same way each time: two contacts stored, a phone's card imported, an e-mail address given to one
// in "Dettagli…", a contact added in the window, deleted, and added again under the same key; then the whole list
// exported to path.
void makeAndExport(const QString& path, const QString& phoneFile)
{
    TestDatabase db(twoContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    boxes.expect(MessageBox::Ok);
    main.window()->exchange()->importFiles({phoneFile});

    main.clickRow(rowOf(main, QStringLiteral("Rossi")));
    QTest::keyClick(main.window(), Qt::Key_D, Qt::ControlModifier);
    ContactDetailsDialog* details = main.window()->detailsDialog();
    QVERIFY(details);
    auto* emails = details->findChild<QPlainTextEdit*>(QStringLiteral("txtEmails"));
    emails->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(emails, QStringLiteral("anna.rossi@example.org"));
    QTest::mouseClick(details->findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QTRY_VERIFY(!main.window()->detailsDialog());

    for (int round = 0; round < 2; ++round) {
        main.click("cmdAdd");
        main.type("txtFirst", QStringLiteral("Neri"));
        main.type("txtLast", QStringLiteral("Luca"));
        main.click("cmdSave");
        QCOMPARE(main.row(main.list()->selectedIndex()).at(7), QStringLiteral("4"));
        if (round == 0) {
            boxes.expect(MessageBox::Yes);
            main.click("cmdDelete");
        }
    }
    boxes.expect(MessageBox::Ok);
    main.window()->exchange()->exportTo(path);
    QCOMPARE(boxes.last().text, QStringLiteral("Esportati 4 contatti in %1.").arg(QFileInfo(path).fileName()));
}

// Each card of the file as vobject reads it: UID, surname, given name.
QJsonArray readBack(const QString& path)
{
    static const char* const script = R"(
import json, sys, vobject
cards = []
with open(sys.argv[1], encoding='utf-8', newline='') as f:
    for card in vobject.readComponents(f.read()):
        cards.append({'uid': card.uid.value, 'family': card.n.value.family, 'given': card.n.value.given,
                      'email': [e.value for e in card.contents.get('email', [])],
                      'note': card.note.value if hasattr(card, 'note') else '',
                      'photo': card.photo.value.hex() if hasattr(card, 'photo') else '',
                      'day': card.contents['x-giorno-preferito'][0].value
                             if 'x-giorno-preferito' in card.contents else ''})
print(json.dumps(cards))
)";
    QProcess python;
    // Debian's own interpreter, where python3-vobject installs the module.
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        qWarning("vobject: %s", python.readAllStandardError().constData());
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

} // namespace

class TestCardExport : public QObject
{
    Q_OBJECT

private slots:
    void everyContactExportsItsOwnUid();
};

void TestCardExport::everyContactExportsItsOwnUid()
{
    QTemporaryDir files;
    const QString phone = files.filePath(QStringLiteral("telefono.vcf"));
    QFile phoneFile(phone);
    QVERIFY(phoneFile.open(QIODevice::WriteOnly));
    phoneFile.write(kPhoneCard);
    phoneFile.close();
    const QString first = files.filePath(QStringLiteral("prima.vcf"));
    const QString second = files.filePath(QStringLiteral("seconda.vcf"));
    makeAndExport(first, phone);
    makeAndExport(second, phone);

    QSet<QString> uids;
    for (const QString& path : {first, second}) {
        const QJsonArray cards = readBack(path);
        QCOMPARE(cards.size(), 4);
        QStringList names;
        for (const QJsonValue& value : cards) {
            const QJsonObject card = value.toObject();
            names.append(card.value("family").toString() + QLatin1Char(' ') + card.value("given").toString());
            QVERIFY(!card.value("uid").toString().isEmpty());
            uids.insert(card.value("uid").toString());
        }
        QCOMPARE(names, (QStringList {"Rossi Anna", "Bianchi Bruno", "Verdi Carla", "Neri Luca"}));
        QCOMPARE(cards.at(0).toObject().value("email").toArray(), (QJsonArray {"anna.rossi@example.org"}));
        const QJsonObject carla = cards.at(2).toObject();
        QCOMPARE(carla.value("email").toArray(), (QJsonArray {"carla@example.org"}));
        QCOMPARE(carla.value("note").toString(), QStringLiteral("Chiamare dopo le 18, non prima"));
        QCOMPARE(carla.value("photo").toString(),
                 QString::fromLatin1(QByteArray::fromBase64("/9j/4AAQSkZJRgABAQAAAQAB").toHex()));
        QCOMPARE(carla.value("day").toString(), QStringLiteral("giovedì"));
    }
    QCOMPARE(uids.size(), 8);
}

QTEST_MAIN(TestCardExport)
#include "tst_cardexport.moc"

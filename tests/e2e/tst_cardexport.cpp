// Contacts made in the real window, exported by it, and read back by another program's reader (Python's vobject):
// every contact has a UID of its own, in one book and across books.
#include "ContactExchange.h"
#include "MainWindowDriver.h"
#include "ScriptedMessageBox.h"
#include "TestDatabase.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QList<mkdb::ContactRow> twoContacts()
{
    return {{1, "Rossi", "Anna", "Via Roma 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Bianchi", "Bruno", "Via Po 2", "Torino", "TO", QVariant(), QVariant()}};
}

// A book made the same way each time: two contacts stored, a third added in the window, deleted, and added again
// under the same key; then the whole list exported to path.
void makeAndExport(const QString& path)
{
    TestDatabase db(twoContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    for (int round = 0; round < 2; ++round) {
        main.click("cmdAdd");
        main.type("txtFirst", QStringLiteral("Neri"));
        main.type("txtLast", QStringLiteral("Luca"));
        main.click("cmdSave");
        QCOMPARE(main.row(main.list()->selectedIndex()).at(7), QStringLiteral("3"));
        if (round == 0) {
            boxes.expect(MessageBox::Yes);
            main.click("cmdDelete");
        }
    }
    boxes.expect(MessageBox::Ok);
    main.window()->exchange()->exportTo(path);
    QCOMPARE(boxes.last().text, QStringLiteral("Esportati 3 contatti in %1.").arg(QFileInfo(path).fileName()));
}

// Each card of the file as vobject reads it: UID, surname, given name.
QJsonArray readBack(const QString& path)
{
    static const char* const script = R"(
import json, sys, vobject
cards = []
with open(sys.argv[1], encoding='utf-8', newline='') as f:
    for card in vobject.readComponents(f.read()):
        cards.append({'uid': card.uid.value, 'family': card.n.value.family, 'given': card.n.value.given})
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
    const QString first = files.filePath(QStringLiteral("prima.vcf"));
    const QString second = files.filePath(QStringLiteral("seconda.vcf"));
    makeAndExport(first);
    makeAndExport(second);

    QSet<QString> uids;
    for (const QString& path : {first, second}) {
        const QJsonArray cards = readBack(path);
        QCOMPARE(cards.size(), 3);
        QStringList names;
        for (const QJsonValue& value : cards) {
            const QJsonObject card = value.toObject();
            names.append(card.value("family").toString() + QLatin1Char(' ') + card.value("given").toString());
            QVERIFY(!card.value("uid").toString().isEmpty());
            uids.insert(card.value("uid").toString());
        }
        QCOMPARE(names, (QStringList {"Rossi Anna", "Bianchi Bruno", "Neri Luca"}));
    }
    QCOMPARE(uids.size(), 6);
}

QTEST_MAIN(TestCardExport)
#include "tst_cardexport.moc"

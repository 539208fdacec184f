// Contact files through the real program and an independent reader: velmarin --import/--export run without a
// display on the Cust.mdb beside the program, and Python's vobject reads back every card the export writes.
#include "data/ContactCards.h"
#include "exchange/ContactFile.h"
#include "exchange/ContactImport.h"
#include "exchange/ImportRules.h"
#include "exchange/VCard.h"
#include "mkdb/CustDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestExchangeFiles : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void anotherReaderReadsEveryCard();
    void everyPropertyGoesThroughTheBook_data();
    void everyPropertyGoesThroughTheBook();
};

namespace {

QString sample(const QString& name)
{
    return qEnvironmentVariable("VELMARIN_SOURCE_DIR") + QStringLiteral("/tests/samples/exchange/") + name;
}

int rowCount(const QString& path)
{
    int n = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT COUNT(*) FROM Customer")) && q.next()) {
                n = q.value(0).toInt();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return n;
}

} // namespace

void TestExchangeFiles::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("database");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // stdout when it succeeds, otherwise the start of stderr
    QTest::addColumn<int>("rows");

    QTest::newRow("export vCard") << QStringList {"--export", "out.vcf"} << true << 0
                                  << "Esportati 20 contatti in out.vcf.\n"
                                  << 20;
    QTest::newRow("export CSV") << QStringList {"--export", "out.CSV"} << true << 0
                                << "Esportati 20 contatti in out.CSV.\n"
                                << 20;
    QTest::newRow("import two files") << QStringList {"--import", sample("mail-3.0.vcf"), sample("rubrica.csv")} << true
                                      << 0
                                      << "Importati 2 contatti da mail-3.0.vcf (2 con altri dati oltre ai sette campi, "
                                         "conservati nelle loro schede). "
                                         "Importati 2 contatti da rubrica.csv; 1 riga non leggibile (riga 5).\n"
                                      << 24;
    QTest::newRow("one refused file, nothing added")
        << QStringList {"--import", sample("mail-3.0.vcf"), sample("unknown.csv")} << true << 1 << "velmarin: Il file '"
        << 20;
    QTest::newRow("export to an unknown format")
        << QStringList {"--export", "out.txt"} << true << 1 << "velmarin: Formato non riconosciuto" << 20;
    QTest::newRow("no address book") << QStringList {"--export", "out.vcf"} << false << 1
                                     << "velmarin: Impossibile trovare il file" << -1;
    QTest::newRow("import without a file")
        << QStringList {"--import"} << true << 2 << "velmarin: --import richiede il nome di un file." << 20;
    QTest::newRow("help") << QStringList {"--help"} << true << 0 << "Uso: velmarin [--import FILE... | --export" << 20;
    QTest::newRow("version") << QStringList {"--version"} << false << 0 << "Velmarin 1.0.0\n" << -1;
    QTest::newRow("both at once") << QStringList {"--import", "a.vcf", "--export", "b.vcf"} << true << 2
                                  << "velmarin: --import e --export" << 20;
    QTest::newRow("export to two files") << QStringList {"--export", "a.vcf", "b.vcf"} << true << 2
                                         << "velmarin: --export scrive un solo file." << 20;
    QTest::newRow("unknown option") << QStringList {"--frobnicate"} << true << 2
                                    << "velmarin: opzione sconosciuta '--frobnicate'.\nUso: velmarin" << 20;
    QTest::newRow("a file that is not there")
        << QStringList {"nowhere.vcf"} << true << 2 << "velmarin: 'nowhere.vcf' non è un file esistente." << 20;
    QTest::newRow("the window without a display") << QStringList {} << true << 1 << "velmarin: nessuno schermo" << 20;
    QTest::newRow("a file for the window without a display")
        << QStringList {sample("mail-3.0.vcf")} << true << 1 << "velmarin: nessuno schermo" << 20;
}

// The program is copied into a folder of its own, so the Cust.mdb it finds beside itself is the test's.
void TestExchangeFiles::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, database);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("velmarin"));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin"), program));
    if (database) {
        QCOMPARE(mkdb::createCustomerDatabase(dir.filePath(QStringLiteral("Cust.mdb"))), QString());
        QCOMPARE(mkdb::insertContacts(dir.filePath(QStringLiteral("Cust.mdb")), mkdb::demoContacts()), QString());
    }

    QProcess run;
    run.setWorkingDirectory(dir.path());
    // No display of any kind: a program that made a QApplication would stop here.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        env.remove(QLatin1String(name));
    }
    run.setProcessEnvironment(env);
    run.start(program, arguments);
    QVERIFY(run.waitForFinished(30000));
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), exitCode);
    if (exitCode == 0 && arguments.value(0) == QLatin1String("--help")) {
        QVERIFY2(out.startsWith(output) && out.contains(QLatin1String("--sync")), qPrintable(out));
        QVERIFY(out.endsWith(QLatin1String("\n")));
        QCOMPARE(err, QString());
    } else if (exitCode == 0) {
        QCOMPARE(out, output);
        QCOMPARE(err, QString());
    } else {
        QCOMPARE(out, QString());
        QVERIFY2(err.startsWith(output), qPrintable(err));
    }
    QCOMPARE(rowCount(dir.filePath(QStringLiteral("Cust.mdb"))), database ? rows : -1);
    if (arguments.value(0) == QLatin1String("--export") && exitCode == 0) {
        const FileReading back = readContactFile(dir.filePath(arguments.at(1)));
        QCOMPARE(back.result.contacts.size(), 20);
        QCOMPARE(back.result.contacts.first().fields.firstName, QStringLiteral("Colombo")); // Andrea, first by name
    }
}

// Python's vobject parses the exported file and gives back, card by card, the fields the export was given.
void TestExchangeFiles::anotherReaderReadsEveryCard()
{
    QList<ExportContact> contacts;
    const auto add = [&contacts](qint32 key, const QStringList& f) {
        contacts.append({{f.value(0), f.value(1), f.value(2), f.value(3), f.value(4), f.value(5), f.value(6)},
                         key,
                         {},
                         QStringLiteral("uid-%1").arg(key)});
    };
    add(1, {"Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "0212345678"});
    add(2, {"Bassi; Neri", "Anna, Maria", "Via A\\B, 3; int. 2", "Forlì", "FC", "", ""});
    add(3, {"D'Angelo", "Lucia", "Via dell'Indipendenza 8\nScala B", "L'Aquila", "AQ", "", "+442079460958"});
    add(4,
        {QStringLiteral("Àèìòù Città Perché Così Già Più Né Sé Là Lì Giù Però Ciò Ahimè Poiché Cioè Caffè €€€"),
         "Niccolò",
         QStringLiteral("Località Ca' Nova di Sotto, frazione Sant'Eufemia della Fonte 12345 € 日本語"),
         "Sant'Eufemia a Maiella",
         "PE",
         "3331234567",
         "085123456"});
    add(5, {"", "", "", "", "", "3471234567", ""});
    int key = 100;
    for (const mkdb::ContactRow& row : mkdb::generatedContacts(500, 3)) {
        add(key++,
            {row.firstName.toString(),
             row.lastName.toString(),
             row.address.toString(),
             row.city.toString(),
             row.state.toString(),
             row.zip.toString(),
             row.phoneNumber.toString()});
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rubrica.vcf"));
    QVERIFY(writeContactFile(path, contacts));

    static const char* const script = R"(
import json, sys, vobject
cards = []
with open(sys.argv[1], encoding='utf-8', newline='') as f:
    for card in vobject.readComponents(f.read()):
        adr = card.adr.value if hasattr(card, 'adr') else None
        cards.append({
            'version': card.version.value,
            'family': card.n.value.family, 'given': card.n.value.given, 'fn': card.fn.value,
            'street': adr.street if adr else '', 'city': adr.city if adr else '', 'region': adr.region if adr else '',
            'tel': [[','.join(t.params.get('TYPE', [])).upper(), t.value] for t in card.contents.get('tel', [])],
            'uid': card.uid.value})
print(json.dumps(cards))
)";
    QProcess python;
    // Debian's own interpreter, where python3-vobject installs the module.
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), path});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonArray cards = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    QCOMPARE(cards.size(), contacts.size());
    for (int i = 0; i < cards.size(); ++i) {
        const QJsonObject card = cards.at(i).toObject();
        const ContactFields& f = contacts.at(i).fields;
        QCOMPARE(card.value("version").toString(), QStringLiteral("3.0"));
        QCOMPARE(card.value("family").toString(), f.firstName);
        QCOMPARE(card.value("given").toString(), f.lastName);
        QCOMPARE(card.value("fn").toString(), (f.lastName + QLatin1Char(' ') + f.firstName).trimmed());
        QCOMPARE(card.value("street").toString(), f.address);
        QCOMPARE(card.value("city").toString(), f.city);
        QCOMPARE(card.value("region").toString(), f.state);
        QJsonArray tel;
        if (!f.zip.isEmpty()) {
            tel.append(QJsonArray {"CELL", internationalPhone(f.zip)});
        }
        if (!f.phoneNumber.isEmpty()) {
            tel.append(QJsonArray {"HOME,VOICE", internationalPhone(f.phoneNumber)});
        }
        QCOMPARE(card.value("tel").toArray(), tel);
        QCOMPARE(card.value("uid").toString(), contacts.at(i).uid);
    }
}

void TestExchangeFiles::everyPropertyGoesThroughTheBook_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("summary");

    QTest::newRow("2.1 quoted-printable, Latin-1, photo")
        << "phone-2.1.vcf"
        << "Importati 2 contatti da phone-2.1.vcf (2 con altri dati oltre ai sette campi, conservati "
           "nelle loro schede).";
    QTest::newRow("2.1 Windows-1252, label, commas")
        << "outlook-2.1.vcf"
        << "Importato 1 contatto da outlook-2.1.vcf, con altri dati oltre ai sette campi, "
           "conservati nella sua scheda.";
    QTest::newRow("3.0 grouped, labels, photo, company")
        << "iphone-3.0.vcf"
        << "Importati 2 contatti da iphone-3.0.vcf (2 con altri dati oltre ai sette campi, "
           "conservati nelle loro schede).";
    QTest::newRow("3.0 folded, escaped") << "mail-3.0.vcf"
                                         << "Importati 2 contatti da mail-3.0.vcf (2 con altri dati oltre ai sette "
                                            "campi, conservati nelle loro schede).";
    QTest::newRow("4.0 tel: with ext, e-mail only")
        << "contacts-4.0.vcf"
        << "Importati 3 contatti da contacts-4.0.vcf (3 con altri dati oltre ai sette campi, "
           "conservati nelle loro schede).";
    QTest::newRow("companies and e-mail-only cards")
        << "companies.vcf"
        << "Importati 5 contatti da companies.vcf (5 con altri dati oltre ai sette campi, "
           "conservati nelle loro schede).";
    QTest::newRow("UTF-16 without a mark")
        << "utf16le-nobom.vcf"
        << "Importato 1 contatto da utf16le-nobom.vcf, con altri dati oltre ai sette campi, "
           "conservati nella sua scheda.";
    QTest::newRow("Google CSV") << "google.csv"
                                << "Importati 3 contatti da google.csv (3 con altri dati oltre ai sette campi, "
                                   "conservati nelle loro schede); colonne non importate: Nickname, Group Membership, "
                                   "Organization 1 - Title.";
    QTest::newRow("Google CSV, newer headings")
        << "google-2023.csv"
        << "Importato 1 contatto da google-2023.csv, con altri dati oltre ai sette campi, "
           "conservati nella sua scheda; colonne non importate: Nickname, Labels.";
    QTest::newRow("Outlook CSV") << "outlook.csv"
                                 << "Importato 1 contatto da outlook.csv, con altri dati oltre ai sette campi, "
                                    "conservati nella sua scheda; colonne non importate: Title, Initials, Categories.";
    QTest::newRow("Thunderbird CSV") << "thunderbird.csv"
                                     << "Importato 1 contatto da thunderbird.csv, con altri dati oltre ai sette campi, "
                                        "conservati nella sua scheda; colonna non importata: Web Page 1.";
}

// A file imported into a real book and the book exported as vCard: Python's vobject finds every property of every
// input card (every filled cell of every row the import reads) in the exported cards, all of them vCard 3.0, and
// the import reads the export back to the same contacts.
void TestExchangeFiles::everyPropertyGoesThroughTheBook()
{
    QFETCH(QString, file);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    QCOMPARE(mkdb::createCustomerDatabase(dir.filePath(QStringLiteral("Cust.mdb"))), QString());
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(dir.path() + QLatin1Char('/')));

    const FileReading reading = readContactFile(sample(file));
    const ImportOutcome outcome = importContacts(store, {reading});
    QCOMPARE(outcome.summary(), summary);
    QCOMPARE(outcome.addedKeys.size(), reading.result.contacts.size());
    // Each added contact's card kept beside it, as the import keeps it.
    for (qsizetype i = 0; i < outcome.addedKeys.size(); ++i) {
        const ReadContact& contact = reading.result.contacts.at(i);
        ContactCards::save(store,
                           outcome.addedKeys.at(i),
                           {contact.uid.isEmpty() ? ContactCards::newUid() : contact.uid, contact.card});
    }
    QList<ExportContact> contacts = storedContacts(store);
    const QHash<qint32, ContactCard> cards = ContactCards::loadAll(store);
    for (ExportContact& contact : contacts) {
        QVERIFY(cards.contains(contact.custId));
        contact.card = cards.value(contact.custId).card;
        contact.uid = cards.value(contact.custId).uid;
    }
    const QString exported = dir.filePath(QStringLiteral("rubrica.vcf"));
    QVERIFY(writeContactFile(exported, contacts));
    store.CloseDatabase();

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {qEnvironmentVariable("VELMARIN_SOURCE_DIR") + QStringLiteral("/tests/e2e/check_properties.py"),
                  sample(file),
                  exported});
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonObject checked = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QCOMPARE(checked.value("cards").toInt(), int(contacts.size()));
    QCOMPARE(checked.value("missing").toArray(), QJsonArray());

    QStringList before;
    for (const ReadContact& contact : reading.result.contacts) {
        const ContactFields f = importedFields(contact.fields);
        before.append(QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
            QLatin1Char('|')));
    }
    QStringList after;
    for (const ReadContact& contact : readContactFile(exported).result.contacts) {
        const ContactFields f = importedFields(contact.fields);
        after.append(QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
            QLatin1Char('|')));
    }
    before.sort();
    after.sort();
    QCOMPARE(after, before);
}

QTEST_GUILESS_MAIN(TestExchangeFiles)
#include "tst_exchangefiles.moc"

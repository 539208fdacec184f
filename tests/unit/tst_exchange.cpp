#include "data/ContactCards.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "exchange/ContactImport.h"
#include "exchange/Csv.h"
#include "exchange/ImportRules.h"
#include "exchange/VCard.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include "../support/SmallDisk.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// vCard and CSV files in and out: real-world-shaped samples, refusals, what the writers put on disk, and the import
// as one transaction on a real Cust.mdb.
class TestExchange : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readsSamples_data();
    void readsSamples();
    void refusesFiles_data();
    void refusesFiles();
    void hostileInputEndsQuickly_data();
    void hostileInputEndsQuickly();
    void phoneRules_data();
    void phoneRules();
    void namesFromDisplayNames_data();
    void namesFromDisplayNames();
    void writesVCardsOthersRead_data();
    void writesVCardsOthersRead();
    void writesCsvForSpreadsheets();
    void failedWriteSaysWhy_data();
    void failedWriteSaysWhy();
    void roundTripThroughEmptyFile_data();
    void roundTripThroughEmptyFile();
    void skipsDuplicatesAndSaysWhatHappened();
    void importLandsWholeOrNotAtAll_data();
    void importLandsWholeOrNotAtAll();
    void importReadsFilesOneContactAtATime();

private:
    QString databasePath() const { return m_dir->filePath(QStringLiteral("Cust.mdb")); }
    void openStore(const QList<mkdb::ContactRow>& rows);
    QString writeFile(const QString& name, const QByteArray& bytes) const;
    QList<QStringList> storedRows() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    CustomerStore m_store;
};

namespace {

QString sample(const QString& name)
{
    return qEnvironmentVariable("VELMARIN_SOURCE_DIR") + QStringLiteral("/tests/samples/exchange/") + name;
}

// "Cognome|Nome|Indirizzo|Città|PR|Cellulare|Telefono"
QString joined(const ContactFields& f)
{
    return QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
        QLatin1Char('|'));
}

QStringList importedTexts(const ReadResult& result)
{
    QStringList texts;
    for (const ReadContact& contact : result.contacts) {
        texts.append(joined(importedFields(contact.fields)));
    }
    return texts;
}

ContactFields fieldsOf(const QString& text)
{
    const QStringList p = text.split(QLatin1Char('|'));
    return {p.value(0), p.value(1), p.value(2), p.value(3), p.value(4), p.value(5), p.value(6)};
}

mkdb::ContactRow rowOf(int id, const QString& text)
{
    const ContactFields f = fieldsOf(text);
    return {id, f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber};
}

} // namespace

void TestExchange::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestExchange::cleanup()
{
    m_store.CloseDatabase();
    m_dir.reset();
}

void TestExchange::openStore(const QList<mkdb::ContactRow>& rows)
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    if (!rows.isEmpty()) {
        QCOMPARE(mkdb::insertContacts(databasePath(), rows), QString());
    }
    m_store.ConnectToDatabase(CustomerStore::connectionText(m_dir->path() + QLatin1Char('/')));
}

QString TestExchange::writeFile(const QString& name, const QByteArray& bytes) const
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// Every stored row in key order, NULL read as empty: "CustID|Cognome|...|Telefono".
QList<QStringList> TestExchange::storedRows() const
{
    QList<QStringList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(databasePath());
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber "
                                  "FROM Customer ORDER BY CustID"));
            while (q.next()) {
                QStringList row;
                for (int i = 0; i < 8; ++i) {
                    row.append(q.value(i).toString());
                }
                rows.append(row);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

void TestExchange::readsSamples_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("contacts");
    QTest::addColumn<QList<int>>("unreadable");
    QTest::addColumn<QStringList>("unused"); // headings of columns with values the import does not read

    QTest::newRow("2.1 quoted-printable, Latin-1, bare types, photo")
        << "phone-2.1.vcf"
        << QStringList {QStringLiteral("Nicolò|Gianluca|Via San Nicolò 3, Scala B|Forlì|FC|3471234567|0212345678"),
                        QStringLiteral("Verdi|Anna||||3334445566|")}
        << QList<int> {} << QStringList {};
    QTest::newRow("3.0 folded, grouped, escaped")
        << "mail-3.0.vcf"
        << QStringList {QStringLiteral("D'Amico|Maria Grazia|Corso Vittorio Emanuele II, 12; int. 4|Torino|TO|"
                                       "3387654321|0115556677"),
                        QStringLiteral("Ó Briain|Seán|12 Merrion Square|Dublin||+353875550100|+35315550199")}
        << QList<int> {} << QStringList {};
    QTest::newRow("4.0 tel: addresses, names from FN, nothing kept")
        << "contacts-4.0.vcf"
        << QStringList {QStringLiteral("De Santis|Lorenzo|Via Appia Nuova 1000|Roma|RM|3201112233|0655501234"),
                        QStringLiteral("Rossi|Paola|||||"),
                        QStringLiteral("nobody||||||")}
        << QList<int> {} << QStringList {};
    QTest::newRow("cards cut short") << "broken.vcf"
                                     << QStringList {QStringLiteral("Intero|Primo|||||"),
                                                     QStringLiteral("Intero|Terzo||||3351112222|")}
                                     << QList<int> {5, 13} << QStringList {};
    QTest::newRow("Windows-1252 vCard") << "windows-1252.vcf"
                                        << QStringList {QStringLiteral(
                                               "Città|Niccolò|Via dell’Orso 2|Cantù|CO||031712345")}
                                        << QList<int> {} << QStringList {};
    QTest::newRow("mail program CSV")
        << "mail.csv"
        << QStringList {QStringLiteral("Bellini|Marco|Via Larga 8, Scala C|Milano|MI|3357654321|0287654321"),
                        QStringLiteral("Serra|Giovanna||Cagliari|CA||070123456"),
                        QStringLiteral("O\"Neill|Luigi|Main Street 1, Apt. 2|Cork||+353860001111|+353210002222"),
                        QStringLiteral("solo||||||")}
        << QList<int> {} << QStringList {};
    QTest::newRow("our CSV, open quote") << "rubrica.csv"
                                         << QStringList {QStringLiteral("Rossi|Mario|Via Roma 1; int. 3|Milano|MI|"
                                                                        "3351234567|0212345678"),
                                                         QStringLiteral(
                                                             "De \"Gigi\" Santis|Luigi||Roma|RM||0655501234")}
                                         << QList<int> {5} << QStringList {};
    QTest::newRow("UTF-8 byte-order mark, then a Latin-1 card")
        << "utf8-bom.vcf"
        << QStringList {QStringLiteral("Primo|Della Lista|||||"), QStringLiteral("Secondo|Niccolò|||||")}
        << QList<int> {} << QStringList {};
    QTest::newRow("UTF-16 little-endian, no mark")
        << "utf16le-nobom.vcf" << QStringList {QStringLiteral("Fabbri|Lucia|Via Ca’ Granda 7|Ferrara|FE|3495550101|")}
        << QList<int> {} << QStringList {};
    QTest::newRow("UTF-16 big-endian, no mark")
        << "utf16be-nobom.vcf" << QStringList {QStringLiteral("Fabbrini|Lucia|Via Ca’ Granda 7|Ferrara|FE|3495550101|")}
        << QList<int> {} << QStringList {};
    QTest::newRow("companies and e-mail-only cards")
        << "companies.vcf"
        << QStringList {QStringLiteral("Mela Informatica AG||||||+41445550100"),
                        QStringLiteral("Pasticceria Bianchi Snc||||||0515550101"),
                        QStringLiteral("Ferramenta Del Corso||||||0471555010"),
                        QStringLiteral("ufficio.acquisti||||||"),
                        QStringLiteral("solo.posta||||||")}
        << QList<int> {} << QStringList {};
    QTest::newRow("extended address, \\N line break")
        << "addresses.vcf"
        << QStringList {QStringLiteral("Galli|Ada|Via Roma 1|Milano|MI||"),
                        QStringLiteral("Moro|Ivo|Via Garibaldi 12, Scala B, interno 4|Padova|PD||"),
                        QStringLiteral("Smith|John|222 Broadway, Suite 100|New York|NY||"),
                        QStringLiteral("Conti|Rita|Corso Italia 3, Secondo piano|Pisa|PI||")}
        << QList<int> {} << QStringList {};
    QTest::newRow("vCards in a file of no known kind")
        << "cards.txt" << QStringList {QStringLiteral("Semplice|Testo||||3330001111|")} << QList<int> {}
        << QStringList {};
    QTest::newRow("phone CSV, tabs, Windows-1252")
        << "phone.tsv.csv"
        << QStringList {QStringLiteral("Bassi|Francesca||Forlì||3497654321|"),
                        QStringLiteral("Tonino|||Aosta||3281112233|")}
        << QList<int> {} << QStringList {};
    QTest::newRow("Google CSV, numbered columns")
        << "google.csv"
        << QStringList {QStringLiteral("Ferri|Chiara|Via Saragozza 12, Scala A|Bologna|BO|3475550101|0515550303"),
                        QStringLiteral("Tintoria Moderna||||||0544555010"),
                        QStringLiteral("solo.indirizzo||||||")}
        << QList<int> {}
        << QStringList {QStringLiteral("Nickname"),
                        QStringLiteral("Group Membership"),
                        QStringLiteral("Organization 1 - Title")};
    QTest::newRow("Google CSV, newer headings")
        << "google-2023.csv"
        << QStringList {QStringLiteral("Longo|Davide|Via Chiappa 3|Riomaggiore|SP|3205551111|0187555222")}
        << QList<int> {} << QStringList {QStringLiteral("Nickname"), QStringLiteral("Labels")};
    QTest::newRow("Outlook CSV")
        << "outlook.csv"
        << QStringList {QStringLiteral("Esposito|Paolo Maria|Via Toledo 256, Scala C|Napoli|NA|3395557788|0815551234")}
        << QList<int> {}
        << QStringList {QStringLiteral("Title"), QStringLiteral("Initials"), QStringLiteral("Categories")};
    QTest::newRow("Thunderbird CSV") << "thunderbird.csv"
                                     << QStringList {QStringLiteral(
                                            "Marchi|Elena|Via Belenzani 5|Trento|TN|3475552020|0461555100")}
                                     << QList<int> {} << QStringList {QStringLiteral("Web Page 1")};
}

void TestExchange::readsSamples()
{
    QFETCH(QString, file);
    QFETCH(QStringList, contacts);
    QFETCH(QList<int>, unreadable);
    QFETCH(QStringList, unused);
    const FileReading reading = readContactFile(sample(file));
    QCOMPARE(importedTexts(reading.result), contacts);
    QCOMPARE(reading.result.unreadableLines, unreadable);
    QCOMPARE(reading.result.unusedColumns, unused);
    // Each contact comes with its whole card, which reads as the contact again.
    for (const ReadContact& contact : reading.result.contacts) {
        ContactFields fields;
        QVERIFY2(fieldsOfCard(contact.card, fields), contact.card.constData());
        QCOMPARE(joined(fields), joined(importedFields(contact.fields)));
        QVERIFY(contact.card.startsWith("BEGIN:VCARD"));
    }
}

void TestExchange::refusesFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");

    QByteArray binary("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    for (int i = 0; i < 4096; ++i) {
        binary.append(char(i * 37 % 256));
    }
    QTest::newRow("binary as vCard") << "foto.vcf" << binary << "non contiene schede vCard";
    QTest::newRow("binary as CSV") << "foto.csv" << binary << "Intestazioni comprese: Cognome, Nome";
    QTest::newRow("unknown headings") << "unknown.csv" << QByteArray() << "First Name, Given Name";
    QTest::newRow("empty CSV") << "vuoto.csv" << QByteArray("") << "non ha una riga di intestazione";
    QTest::newRow("missing file") << "manca.vcf" << QByteArray() << "Impossibile leggere il file";
    QTest::newRow("missing folder") << "manca/rubrica.vcf" << QByteArray()
                                    << "file o cartella inesistente (No such file or directory)";
    QTest::newRow("200 MB") << "enorme.vcf" << QByteArray() << "troppo grande (200 MB)";
    QTest::newRow("a byte over 100 MB") << "appena-troppo.vcf" << QByteArray()
                                        << "troppo grande (100,1 MB) per essere una rubrica: il massimo è 100 MB";
    QTest::newRow("folder") << "cartella.vcf" << QByteArray() << "è una cartella";
    // Opening a pipe would wait for a writer for ever.
    QTest::newRow("pipe") << "pipe.csv" << QByteArray() << "non è un file normale";
    const QByteArray wide = QByteArray("x;").repeated(1000) + "x\r\n";
    QTest::newRow("1,001 columns in the heading") << "larga.csv"
                                                  << "Cognome;" + wide << "più di 1.000 colonne alla riga 1";
    QTest::newRow("1,001 cells on a later row, blank lines first")
        << "riga.csv"
        << "\r\n\r\nCognome;Nome\r\nRossi;Anna\r\n" + wide << "più di 1.000 colonne alla riga 5";
    QTest::newRow("1,001 cells after a cell of two lines")
        << "righe.csv"
        << "Cognome;Nome\r\n\"Rossi\r\nBis\";Anna\r\n" + wide << "più di 1.000 colonne alla riga 4";
}

void TestExchange::refusesFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    QString path = m_dir->filePath(name);
    if (name == QLatin1String("unknown.csv")) {
        path = sample(name);
    } else if (name == QLatin1String("enorme.vcf")) {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(200LL * 1024 * 1024)); // sparse: nothing is written
    } else if (name == QLatin1String("appena-troppo.vcf")) {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(kLargestContactFile + 1));
    } else if (name == QLatin1String("cartella.vcf")) {
        QVERIFY(QDir(m_dir->path()).mkdir(name));
    } else if (name == QLatin1String("pipe.csv")) {
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#else
        QSKIP("pipes in the file system are a Unix thing");
#endif
    } else if (!name.startsWith(QLatin1String("manca"))) {
        writeFile(name, bytes);
    }
    try {
        readContactFile(path);
        QFAIL("the file was read");
    } catch (const ado::Error& error) {
        QVERIFY2(error.description().contains(reason), qPrintable(error.description()));
        QVERIFY2(error.description().contains(name), qPrintable(error.description()));
    }
}

void TestExchange::hostileInputEndsQuickly_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("contacts"); // -1: the file is refused

    constexpr int n = 400000;
    QTest::newRow("BEGIN without line ends") << "a.vcf" << QByteArray("BEGIN").repeated(n) << -1;
    QTest::newRow("endless soft breaks") << "b.vcf"
                                         << "BEGIN:VCARD\nN;QUOTED-PRINTABLE:A=\n" + QByteArray("a=\n").repeated(n)
                                         << 0;
    QTest::newRow("endless folding") << "c.vcf"
                                     << "BEGIN:VCARD\nN:A;B\n" + QByteArray(" x\n").repeated(n) << 0;
    QTest::newRow("quote never closed") << "d.csv"
                                        << "Cognome;Nome\nRossi;\"" + QByteArray("x;\n").repeated(n) << 0;
    QByteArray noise;
    for (int i = 0; i < 4 * n; ++i) {
        noise.append(char((quint64(i) * 7919) % 251));
    }
    QTest::newRow("binary with a card inside")
        << "e.vcf" << noise + "\nBEGIN:VCARD\nN:Dentro;Rumore\n" + noise + "\nEND:VCARD\n"
        << 1;
    QTest::newRow("1,000 columns are read")
        << "f.csv"
        << "Cognome" + QByteArray(";Altro").repeated(999) + "\nDentro" + QByteArray(";x").repeated(999) + "\n"
        << 1;
    QTest::newRow("a row of 4,000,000 empty cells") << "g.csv"
                                                    << "Cognome;Nome\nDentro;Anna\n" + QByteArray(4 * n, ';') << -1;
}

// Input made to be slow or odd is read, or refused, without running away (the test's time limit catches a reader
// gone quadratic; bench/ measures the speed), and only whole cards come out of it.
void TestExchange::hostileInputEndsQuickly()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, contacts);
    const QString path = writeFile(name, bytes);
    FileReading reading;
    try {
        reading = readContactFile(path);
    } catch (const ado::Error&) {
        QCOMPARE(contacts, -1);
    }
    QCOMPARE(reading.result.contacts.size(), qMax(contacts, 0));
    for (const ReadContact& contact : reading.result.contacts) {
        QCOMPARE(importedFields(contact.fields).firstName, QStringLiteral("Dentro"));
    }
}

void TestExchange::phoneRules_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");

    QTest::newRow("italian mobile +39") << "+39 335 123 4567"
                                        << "3351234567";
    QTest::newRow("italian landline 0039") << "0039 02-1234.5678"
                                           << "0212345678";
    QTest::newRow("brackets and slash") << "(045) 800/1122"
                                        << "0458001122";
    QTest::newRow("national form kept") << "045 8001122"
                                        << "0458001122";
    QTest::newRow("foreign keeps +") << "+44 20 7946 0958"
                                     << "+442079460958";
    QTest::newRow("tel: with extension") << "tel:+39-06-5550-1234;ext=12"
                                         << "0655501234";
    QTest::newRow("letters dropped") << "02 1234 int. 5"
                                     << "0212345";
    QTest::newRow("39 without +") << "3912345678"
                                  << "3912345678";
    QTest::newRow("empty") << "  "
                           << "";
}

void TestExchange::phoneRules()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    QCOMPARE(normalizePhone(given), stored);
}

void TestExchange::namesFromDisplayNames_data()
{
    QTest::addColumn<QString>("displayName");
    QTest::addColumn<QString>("surnameAndName");

    QTest::newRow("surname first") << "Rossi, Mario"
                                   << "Rossi|Mario";
    QTest::newRow("two given names") << "Maria Chiara Rossi"
                                     << "Rossi|Maria Chiara";
    QTest::newRow("particles") << "Anna Maria della  Valle"
                               << "della Valle|Anna Maria";
    QTest::newRow("two particles") << "Pietro de la Cruz"
                                   << "de la Cruz|Pietro";
    QTest::newRow("a particle never takes the given name") << "Di Stefano"
                                                           << "Stefano|Di";
    QTest::newRow("one word") << "Zorro"
                              << "Zorro|";
}

void TestExchange::namesFromDisplayNames()
{
    QFETCH(QString, displayName);
    QFETCH(QString, surnameAndName);
    const PersonName names = namesFromDisplayName(displayName);
    QCOMPARE(names.surname + QLatin1Char('|') + names.given, surnameAndName);
}

void TestExchange::writesVCardsOthersRead_data()
{
    QTest::addColumn<QString>("contact");
    QTest::addColumn<QByteArray>("card"); // as stored beside the contact; empty for none
    QTest::addColumn<bool>("asItIs"); // the card is written byte for byte

    QTest::newRow("plain") << "Rossi|Mario|Via Roma 12|Milano|MI|3351234567|0212345678" << QByteArray() << false;
    QTest::newRow("separators and backslash")
        << "Bassi; Neri|Anna, Maria|Via A\\B, 3; int. 2|Forlì|FC||" << QByteArray() << false;
    QTest::newRow("apostrophes") << "D'Angelo|Lucia|Via dell'Indipendenza 8|L'Aquila|AQ||0862123456" << QByteArray()
                                 << false;
    QTest::newRow("long accented, folded")
        << QStringLiteral("Àèìòù Città Perché Così Già Più Né Sé Là Lì Là Giù Su Però Ciò Ahimè Poiché Cioè Caffè|"
                          "Niccolò|Località Ca' Nova di Sotto, frazione Sant'Eufemia della Fonte, 12345|Sant'Eufemia "
                          "a Maiella €€€€€€€€€€€€€€€€€€€€€€€€€€€€€€||3331234567|+442079460958")
        << QByteArray() << false;
    QTest::newRow("an address of 80 à") << "Rossi|Mario|" + QString(80, QChar(0xE0)) + "|Roma|RM||" << QByteArray()
                                        << false;
    QTest::newRow("an address of 200 letters")
        << "Rossi|Mario|" + QString(200, QLatin1Char('x')) + "|Roma|RM||" << QByteArray() << false;
    QTest::newRow("only a mobile") << "||||||3471234567" << QByteArray() << false;
    QTest::newRow("2.1 quoted-printable card becomes 3.0")
        << "Nicolò|Gianluca|Via San Nicolò 3, Scala B|Forlì|FC|3471234567|0458001122"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Nicol=F2;Gianluca;;;\r\n"
                      "TEL;CELL;PREF:+39 347 123 4567\r\nTEL;HOME:0039 045 8001122\r\n"
                      "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Via San Nicol=C3=B2 3=0D=0A=\r\n"
                      "Scala B;Forl=C3=AC;FC;47121;Italia\r\n"
                      "NOTE;ENCODING=QUOTED-PRINTABLE:Citofono rotto=0D=0Abussare\r\n"
                      "PHOTO;ENCODING=BASE64;TYPE=JPEG:\r\n /9j/4AAQSkZJRgABAQEASABIAAD/\r\n 2wBDAP//\r\n\r\n"
                      "UID:vecchio\r\nEND:VCARD\r\n")
        << false;
    QTest::newRow("4.0 card without N, changed")
        << "Verdi|Paola||||3401234567|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Paola Verdi\r\nTEL;VALUE=uri;TYPE=cell:tel:+39-340-000-0000\r\n"
                      "EMAIL;TYPE=work:paola@example.org\r\nEND:VCARD\r\n")
        << false;
    const QByteArray card30
        = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gallo;Ugo;;;\r\nFN:Ugo Gallo\r\n"
          "item1.TEL;type=CELL:+39 333 1112222\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
          "EMAIL;TYPE=INTERNET:ugo@example.org\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQEA\r\n"
          " SABIAAD/2wBDAP//\r\nUID:c0ffee-42\r\nEND:VCARD\r\n";
    QTest::newRow("3.0 card that agrees goes out as it is") << "Gallo|Ugo||||3331112222|" << card30 << true;
    QTest::newRow("3.0 card that does not agree is edited") << "Gallo|Ugo||||3339998888|" << card30 << false;
    QTest::newRow("3.0 card with a lone carriage return")
        << "Gallo|Ugo||||3331112222|" << QByteArray(card30).replace("\r\nPHOTO", "\r\nNOTE:a\rb\r\nPHOTO") << false;
    QTest::newRow("3.0 card with another UID")
        << "Gallo|Ugo||||3331112222|" << QByteArray(card30).replace("c0ffee-42", "altro") << false;
}

// Every physical line at most 75 octets, ended by CRLF, whole UTF-8 characters; vCard 3.0 whatever the stored card
// was; the UID the contact's; the reader gives the fields back.
void TestExchange::writesVCardsOthersRead()
{
    QFETCH(QString, contact);
    QFETCH(QByteArray, card);
    QFETCH(bool, asItIs);
    const ExportContact exported {fieldsOf(contact), 42, card, QStringLiteral("c0ffee-42")};
    const QByteArray bytes = writeVCards({exported});
    QCOMPARE(bytes == card, asItIs);
    QVERIFY(bytes.endsWith("END:VCARD\r\n"));
    QVERIFY(!bytes.contains("\r\r") && !bytes.contains('\n' + QByteArray("\n")));
    QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    for (const QByteArray& line : lines) {
        QVERIFY2(line.endsWith('\r'), line.constData());
        QVERIFY2(line.size() - 1 <= 75, line.constData());
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        utf8.decode(line);
        QVERIFY2(!utf8.hasError(), line.constData());
        QVERIFY2(!line.contains("QUOTED-PRINTABLE") && !line.contains("CHARSET") && !line.contains("BASE64"),
                 line.constData());
    }
    QCOMPARE(bytes.count("\r\nUID:"), 1);
    QVERIFY(bytes.contains("\r\nUID:c0ffee-42\r\n"));
    QCOMPARE(bytes.count("\r\nVERSION:"), 1);
    QVERIFY(bytes.contains("\r\nVERSION:3.0\r\n"));
    QVERIFY(bytes.contains("\r\nN:") || bytes.contains("\r\nN;"));
    const ReadResult back = readVCards(QString::fromUtf8(bytes));
    QCOMPARE(importedTexts(back), QStringList {contact});
    QVERIFY(!bytes.contains("ADR") || !fieldsOf(contact).address.isEmpty());
    QCOMPARE(bytes.contains("TEL;TYPE=HOME,VOICE:") || bytes.contains("TEL;TYPE=HOME:"),
             !fieldsOf(contact).phoneNumber.isEmpty());
}

// Numbers in their written form, cells a spreadsheet would run as formulas defused, the card's details in columns
// of their own; the import reads back the fields and the details.
void TestExchange::writesCsvForSpreadsheets()
{
    const QByteArray card
        = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nORG:Rossi Srl\r\n"
          "ADR:;;Via Roma 1\\; int. 3;Milano;MI;20121;Italia\r\nTEL;TYPE=CELL:335 1234567\r\n"
          "TEL;TYPE=HOME:02 12345678\r\nitem1.TEL:+41 44 555 0100\r\nitem1.X-ABLabel:Ufficio\r\n"
          "TEL;TYPE=FAX:0471 555010\r\nEMAIL:mario@example.org\r\nEMAIL:m.rossi@example.net\r\n"
          "BDAY:1980-04-15\r\nNOTE:Citofono rotto\\nbussare\r\nPHOTO;ENCODING=b:AAAA\r\nEND:VCARD\r\n";
    const QList<ExportContact> contacts {
        {fieldsOf(QStringLiteral("Rossi|Mario|Via Roma 1; int. 3|Milano|MI|3351234567|0212345678")), 1, card, {}},
        {fieldsOf(QStringLiteral("De \"Gigi\"|Luigi|Via\nNuova|Roma|RM||065550101")), 2, {}, {}},
        {{QStringLiteral("=cmd|'/c calc'!A1"),
          QStringLiteral("+SUM(1)"),
          QStringLiteral("@SUM(2)"),
          QStringLiteral("-2"),
          QStringLiteral("\tx"),
          QStringLiteral("3331234567"),
          QStringLiteral("+442079460958")},
         3,
         {},
         {}}};
    const QByteArray bytes = writeCsv(contacts);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(
        QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n")),
        (QStringList {QStringLiteral("Cognome;Nome;Indirizzo;Città;PR;Cellulare;Telefono;E-mail;CAP;Paese;"
                                     "Organizzazione;Compleanno;Note;Altri telefoni"),
                      QStringLiteral("Rossi;Mario;\"Via Roma 1; int. 3\";Milano;MI;335 1234567;02 12345678;"
                                     "mario@example.org, m.rossi@example.net;20121;Italia;Rossi Srl;1980-04-15;"
                                     "\"Citofono rotto\nbussare\";\"Ufficio: +41445550100; fax: 0471 555010\""),
                      QStringLiteral("\"De \"\"Gigi\"\"\";Luigi;\"Via\nNuova\";Roma;RM;;06 5550101;;;;;;;"),
                      QStringLiteral("'=cmd|'/c calc'!A1;'+SUM(1);'@SUM(2);'-2;'\tx;333 1234567;'+442079460958;;;;;;;"),
                      QString()}));
    const std::optional<ReadResult> back = readCsv(QString::fromUtf8(bytes.mid(3)));
    QVERIFY(back);
    QCOMPARE(importedTexts(*back),
             (QStringList {QStringLiteral("Rossi|Mario|Via Roma 1; int. 3|Milano|MI|3351234567|0212345678"),
                           QStringLiteral("De \"Gigi\"|Luigi|Via, Nuova|Roma|RM||065550101"),
                           QStringLiteral("=cmd|'/c calc'!A1|+SUM(1)|@SUM(2)|-2|x|3331234567|+442079460958")}));
    CardDetails details = cardDetails(card);
    details.otherPhones = {{QStringLiteral("Ufficio"), QStringLiteral("+41445550100")},
                           {QStringLiteral("fax"), QStringLiteral("0471 555010")}};
    QCOMPARE(cardDetails(back->contacts.first().card), details);
    QVERIFY(back->unusedColumns.isEmpty());
}

void TestExchange::failedWriteSaysWhy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << "manca/rubrica.vcf"
                                    << "file o cartella inesistente (No such file or directory)";
    QTest::newRow("full disk, vCard") << "piccolo/rubrica.vcf"
                                      << "spazio esaurito sul disco";
    QTest::newRow("full disk, CSV") << "piccolo/rubrica.csv"
                                    << "spazio esaurito sul disco";
}

// In Italian, naming the file, and leaving nothing behind; a full disk shortens a write without a reason of its own.
void TestExchange::failedWriteSaysWhy()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    std::unique_ptr<SmallDisk> disk;
    if (name.startsWith(QLatin1String("piccolo/"))) {
        disk = std::make_unique<SmallDisk>(m_dir->filePath(QStringLiteral("piccolo")), 64);
        if (!disk->mounted()) {
            QSKIP("only root can mount a small disk");
        }
    }
    QList<ExportContact> contacts;
    for (int i = 1; i <= 3000; ++i) {
        contacts.append(
            {fieldsOf(QStringLiteral("Rossi|Mario|Via Roma %1|Milano|MI|3351234567|0212345678").arg(i)), i});
    }
    const QString path = m_dir->filePath(name);
    try {
        writeContactFile(path, contacts);
        QFAIL("the file was written");
    } catch (const ado::Error& error) {
        QVERIFY2(
            error.description().startsWith(
                QStringLiteral("Impossibile scrivere il file '%1': %2").arg(QDir::toNativeSeparators(path), reason)),
            qPrintable(error.description()));
    }
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void TestExchange::roundTripThroughEmptyFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("vCard") << "rubrica.vcf";
    QTest::newRow("CSV") << "rubrica.csv";
}

// The demo contacts (apostrophes, accents, NULLs, an empty contact) and generated ones, out and into an empty file.
void TestExchange::roundTripThroughEmptyFile()
{
    QFETCH(QString, name);
    // An empty list is written (an empty vCard file, a CSV of headings), not taken for a cancelled export.
    QVERIFY(writeContactFile(m_dir->filePath(QStringLiteral("vuota-") + name), {}));
    QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("vuota-") + name)));
    QList<mkdb::ContactRow> rows = mkdb::demoContacts();
    for (mkdb::ContactRow row : mkdb::generatedContacts(300, 7)) {
        row.custId = row.custId.toInt() + 100;
        rows.append(row);
    }
    openStore(rows);
    const QList<ExportContact> contacts = storedContacts(m_store);
    QCOMPARE(contacts.size(), rows.size());
    const QString path = m_dir->filePath(name);
    QVERIFY(writeContactFile(path, contacts));
    m_store.CloseDatabase();
    QVERIFY(QFile::rename(databasePath(), m_dir->filePath(QStringLiteral("before.mdb"))));

    openStore({});
    const ImportOutcome outcome = importContacts(m_store, {readContactFile(path)});
    QList<QString> expected;
    int emptyLine = 0;
    for (const ExportContact& contact : contacts) {
        if (isEmpty(contact.fields)) {
            emptyLine = -1;
            continue;
        }
        if (!expected.contains(joined(contact.fields))) {
            expected.append(joined(contact.fields));
        }
    }
    QList<QString> imported;
    for (const QStringList& row : storedRows()) {
        imported.append(row.mid(1).join(QLatin1Char('|')));
    }
    QCOMPARE(imported, expected);
    QCOMPARE(outcome.files.size(), 1);
    // The one contact with nothing in it is written but is not a contact to import: an empty card is told, an empty
    // row is passed over like any blank line.
    QCOMPARE(outcome.files.first().unreadableLines.size(), emptyLine && name.endsWith(QLatin1String(".vcf")) ? 1 : 0);
    QCOMPARE(outcome.files.first().added, expected.size());
}

void TestExchange::skipsDuplicatesAndSaysWhatHappened()
{
    openStore({rowOf(1, QStringLiteral("Rossi|Mario|Via Roma 12|Milano|MI|3351234567|0212345678")),
               rowOf(7, QStringLiteral("Verdi|Anna|||||"))});
    const QString path = writeFile(QStringLiteral("rubrica.vcf"),
                                   "BEGIN:VCARD\r\nN:Rossi;Mario\r\nADR:;;Via Roma 12;Milano;MI\r\n"
                                   "TEL;TYPE=CELL:+39 335 1234567\r\nTEL:02 1234 5678\r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\r\nFN: Anna  Verdi \r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\r\nN:Neri;Carlo\r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\r\nN:Neri;Carlo\r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\r\nN:Bassi;Ugo\r\nEND:VCARD\r\n"
                                   "BEGIN:VCARD\r\nNOTE:niente\r\nEND:VCARD\r\n");
    const ImportOutcome outcome = importContacts(m_store, {readContactFile(path)});
    QCOMPARE(outcome.summary(),
             QStringLiteral("Importati 2 contatti da rubrica.vcf; 3 già presenti; 1 scheda non leggibile (riga 19)."));
    QCOMPARE(outcome.addedKeys, (QList<qint32> {8, 9}));
    const QList<QStringList> rows = storedRows();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(2).join(QLatin1Char('|')), QStringLiteral("8|Neri|Carlo|||||"));
    QCOMPARE(rows.at(3).join(QLatin1Char('|')), QStringLiteral("9|Bassi|Ugo|||||"));

    // "A:" "B" and "A" ":B" are two contacts, not one.
    const QString csv
        = writeFile(QStringLiteral("altri.csv"), "Cognome;Nome\nBassi;Ugo\nGalli;Ada\nA:;B\nA;:B\n\"Mori;Eva\n");
    QCOMPARE(importContacts(m_store, {readContactFile(csv)}).summary(),
             QStringLiteral("Importati 3 contatti da altri.csv; 1 già presente; 1 riga non leggibile (riga 6)."));
}

void TestExchange::importLandsWholeOrNotAtAll_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("statement refused half-way") << "trigger";
    QTest::newRow("file locked by another program") << "locked";
    QTest::newRow("stopped by the user") << "cancel";
    QTest::newRow("file replaced under the transaction") << "replaced";
}

void TestExchange::importLandsWholeOrNotAtAll()
{
    QFETCH(QString, failure);
    openStore({rowOf(3, QStringLiteral("Rossi|Mario|||||"))});
    QByteArray cards;
    for (int i = 0; i < 600; ++i) {
        cards += "BEGIN:VCARD\r\nN:Cognome" + QByteArray::number(i) + ";Nome\r\nEND:VCARD\r\n";
    }
    const QString path = writeFile(QStringLiteral("tanti.vcf"), cards);
    const QList<FileReading> files {readContactFile(path)};
    const QList<QStringList> before = storedRows();

    QSqlDatabase other;
    Progress progress;
    if (failure == QLatin1String("trigger")) {
        QCOMPARE(QSqlQuery(m_store.mcnnCust->database())
                     .exec(QStringLiteral("CREATE TRIGGER full BEFORE INSERT ON Customer WHEN NEW.FirstName = "
                                          "'Cognome400' BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END")),
                 true);
    } else if (failure == QLatin1String("locked")) {
        other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(databasePath());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
    } else if (failure == QLatin1String("cancel")) {
        progress = [](qint64 done, qint64) { return done < 300; };
    } else {
        progress = [this, replaced = false](qint64 done, qint64) mutable {
            if (done > 0 && !replaced) {
                replaced = true;
                QFile::copy(databasePath(), databasePath() + QStringLiteral(".copy"));
                QFile::remove(databasePath());
                QFile::rename(databasePath() + QStringLiteral(".copy"), databasePath());
            }
            return true;
        };
    }

    bool failed = false;
    bool cancelled = false;
    try {
        cancelled = importContacts(m_store, files, progress).cancelled;
    } catch (const ado::Error& error) {
        failed = true;
        QVERIFY(!error.description().isEmpty());
    }
    QCOMPARE(cancelled, failure == QLatin1String("cancel"));
    QCOMPARE(failed, failure != QLatin1String("cancel"));
    if (other.isOpen()) {
        QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
        other.close();
    }
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    QCOMPARE(storedRows(), before);
    // The store is still usable: the next import lands.
    QCOMPARE(QSqlQuery(m_store.mcnnCust->database()).exec(QStringLiteral("DROP TRIGGER IF EXISTS full")), true);
    QCOMPARE(importContacts(m_store, files).files.first().added, 600);
}

// Two files read from their text one contact at a time in one import: every duplicate found (in the book, in the
// same file, in the file before), enough keys for the duplicate set to grow many times, the summary whole.
void TestExchange::importReadsFilesOneContactAtATime()
{
    openStore({rowOf(1, QStringLiteral("Cognome7|Nome|||||7"))});
    constexpr int rows = 1500;
    QByteArray csv = "Cognome;Nome;Telefono;Soprannome\r\n";
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < rows; ++i) {
            csv += "Cognome" + QByteArray::number(i) + ";Nome;" + QByteArray::number(i) + (i == 3 ? ";Bubi" : ";")
                + "\r\n";
        }
    }
    csv += "\"Mai chiusa;Nome\r\n";
    QByteArray cards;
    for (int i = rows - 100; i < rows + 100; ++i) {
        cards += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cognome" + QByteArray::number(i)
            + ";Nome;;;\r\nTEL:" + QByteArray::number(i) + "\r\nUID:u" + QByteArray::number(i) + "\r\nEND:VCARD\r\n";
    }
    cards += "BEGIN:VCARD\r\nNOTE:niente\r\nEND:VCARD\r\n";
    const QList<DecodedContactFile> files {openContactFile(writeFile(QStringLiteral("tanti.csv"), csv)),
                                           openContactFile(writeFile(QStringLiteral("tanti.vcf"), cards))};

    QList<QPair<qint64, qint64>> steps;
    const ImportOutcome outcome = importContacts(m_store, files, [&steps](qint64 done, qint64 total) {
        steps.append({done, total});
        return true;
    });
    QCOMPARE(outcome.summary(),
             QStringLiteral("Importati 1499 contatti da tanti.csv; 1501 già presenti; 1 riga non leggibile (riga "
                            "3002); colonna non importata: Soprannome. Importati 100 contatti da tanti.vcf; 100 già "
                            "presenti; 1 scheda non leggibile (riga 1201)."));
    QCOMPARE(outcome.addedKeys.size(), 1599);
    QCOMPARE(outcome.addedKeys.first(), 2);
    QCOMPARE(outcome.addedKeys.last(), 1600);
    const QList<QStringList> stored = storedRows();
    QCOMPARE(stored.size(), 1600);
    QCOMPARE(stored.at(1).join(QLatin1Char('|')), QStringLiteral("2|Cognome0|Nome|||||0"));
    QCOMPARE(stored.last().join(QLatin1Char('|')), QStringLiteral("1600|Cognome1599|Nome|||||1599"));
    QCOMPARE(ContactCards::loadAll(m_store).value(1600).uid, QStringLiteral("u1599"));

    // The share of text read only grows and ends whole.
    QVERIFY(steps.size() > 2);
    for (qsizetype i = 1; i < steps.size(); ++i) {
        QVERIFY2(steps.at(i - 1).first <= steps.at(i).first && steps.at(i).first <= steps.at(i).second,
                 qPrintable(QStringLiteral("%1 then %2").arg(steps.at(i - 1).first).arg(steps.at(i).first)));
    }
    QCOMPARE(steps.last().first, steps.last().second);
    QCOMPARE(steps.last().second, qint64(files.at(0).text.size() + files.at(1).text.size()));
}

QTEST_GUILESS_MAIN(TestExchange)
#include "tst_exchange.moc"

#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "exchange/ContactFile.h"
#include "exchange/ImportRules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The sync's card editing: a change made here goes up as the server's own card with only the lines the program reads
// changed, and the program reads every card exactly as the import reads it.
class TestCardEdit : public QObject
{
    Q_OBJECT

private slots:
    void editsOnlyWhatTheProgramReads_data();
    void editsOnlyWhatTheProgramReads();
    void detailsAreReadAndEditedInPlace_data();
    void detailsAreReadAndEditedInPlace();
};

namespace {

// "Cognome|Nome|Indirizzo|Città|PR|Cellulare|Telefono"
ContactFields fieldsOf(const QString& text)
{
    const QStringList p = text.split(QLatin1Char('|'));
    return {p.value(0), p.value(1), p.value(2), p.value(3), p.value(4), p.value(5), p.value(6)};
}

QString joined(const ContactFields& f)
{
    return QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
        QLatin1Char('|'));
}

// The first contact the import takes from a .vcf file of the bytes, or "-" when it takes none.
QString imported(const QByteArray& bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scheda.vcf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    file.close();
    const FileReading reading = readContactFile(path);
    return reading.result.contacts.isEmpty() ? QStringLiteral("-")
                                             : joined(importedFields(reading.result.contacts.first().fields));
}

QString read(const QByteArray& card)
{
    ContactFields fields;
    return fieldsOfCard(card, fields) ? joined(fields) : QStringLiteral("-");
}

} // namespace

void TestCardEdit::editsOnlyWhatTheProgramReads_data()
{
    QTest::addColumn<QByteArray>("card");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QByteArray>("edited");

    const QByteArray phone21 = "BEGIN:VCARD\r\nVERSION:2.1\r\n"
                               "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Nicol=C3=B2;Gianluca;;;\r\n"
                               "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Via San Nicol=C3=B2 3;Forl=\r\n"
                               "=C3=AC;FC;47121;Italia\r\n"
                               "NOTE;ENCODING=QUOTED-PRINTABLE:Citofono rotto=\r\n"
                               ", bussare\r\n"
                               "TEL;CELL:3471234567\r\n"
                               "END:VCARD\r\n";
    QTest::newRow("2.1 quoted-printable address changed")
        << phone21 << "Nicolò|Gianluca|Via San Nicolò 3|Cesena|FC|3471234567|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Nicol=C3=B2;Gianluca;;;\r\n"
                      "ADR;HOME;CHARSET=UTF-8:;;Via San Nicolò 3;Cesena;FC;47121;Italia\r\n"
                      "NOTE;ENCODING=QUOTED-PRINTABLE:Citofono rotto=\r\n"
                      ", bussare\r\n"
                      "TEL;CELL:3471234567\r\n"
                      "END:VCARD\r\n");
    QTest::newRow("2.1 quoted-printable name changed")
        << phone21 << "Niccolò|Gianluca|Via San Nicolò 3|Forlì|FC|3471234567|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\n"
                      "N;CHARSET=UTF-8:Niccolò;Gianluca;;;\r\n"
                      "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Via San Nicol=C3=B2 3;Forl=\r\n"
                      "=C3=AC;FC;47121;Italia\r\n"
                      "NOTE;ENCODING=QUOTED-PRINTABLE:Citofono rotto=\r\n"
                      ", bussare\r\n"
                      "TEL;CELL:3471234567\r\n"
                      "FN;CHARSET=UTF-8:Gianluca Niccolò\r\n"
                      "END:VCARD\r\n");
    QTest::newRow("grouped numbers keep or lose their labels")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                      "item1.TEL;type=CELL;type=pref:+39 333 1234567\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
                      "item2.TEL:011555\r\nitem2.X-ABLabel:ufficio\r\n"
                      "item3.EMAIL;type=INTERNET:mario@example.org\r\nitem3.X-ABLabel:_$!<Other>!$_\r\n"
                      "END:VCARD\r\n")
        << "Rossi|Mario||||3400000000|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                      "item1.TEL;type=CELL;type=pref:3400000000\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
                      "item3.EMAIL;type=INTERNET:mario@example.org\r\nitem3.X-ABLabel:_$!<Other>!$_\r\n"
                      "END:VCARD\r\n");
    const QByteArray twice = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchi;Anna;;;\r\n"
                             "ADR;TYPE=HOME:;Scala B;Via Po 1;Torino;TO;10123;Italia\r\n"
                             "ADR;TYPE=WORK:;;Corso Francia 9;Torino;TO;10138;Italia\r\n"
                             "TEL;TYPE=CELL:3331111111\r\nTEL;TYPE=CELL:3332222222\r\nTEL;TYPE=FAX:011999\r\n"
                             "END:VCARD\r\n";
    QTest::newRow("two addresses, two mobiles: the first ones change")
        << twice << "Bianchi|Anna|Via Roma 5, Scala B|Milano|MI|3339999999|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchi;Anna;;;\r\n"
                      "ADR;TYPE=HOME:;Scala B;Via Roma 5;Milano;MI;10123;Italia\r\n"
                      "ADR;TYPE=WORK:;;Corso Francia 9;Torino;TO;10138;Italia\r\n"
                      "TEL;TYPE=CELL:3339999999\r\nTEL;TYPE=CELL:3332222222\r\nTEL;TYPE=FAX:011999\r\n"
                      "END:VCARD\r\n");
    QTest::newRow("two addresses, two mobiles: street and mobile cleared")
        << twice << "Bianchi|Anna||Torino|TO|| => Bianchi|Anna||Torino|TO|3332222222|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Bianchi;Anna;;;\r\n"
                      "ADR;TYPE=HOME:;;;Torino;TO;10123;Italia\r\n"
                      "ADR;TYPE=WORK:;;Corso Francia 9;Torino;TO;10138;Italia\r\n"
                      "TEL;TYPE=CELL:3332222222\r\nTEL;TYPE=FAX:011999\r\n"
                      "END:VCARD\r\n");
    QTest::newRow("clearing both numbers takes only the two lines read")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gallo;Ugo;;;\r\n"
                      "item1.TEL;TYPE=CELL:3331111111\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\n"
                      "TEL;TYPE=CELL:3332222222\r\nTEL;TYPE=HOME:011111\r\nTEL;TYPE=WORK:011222\r\n"
                      "TEL;TYPE=PAGER:011333\r\nEND:VCARD\r\n")
        << "Gallo|Ugo||||| => Gallo|Ugo||||3332222222|011222"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Gallo;Ugo;;;\r\n"
                      "TEL;TYPE=CELL:3332222222\r\nTEL;TYPE=WORK:011222\r\n"
                      "TEL;TYPE=PAGER:011333\r\nEND:VCARD\r\n");
    QTest::newRow("given name alone changed; the old label and position go with the old address")
        << QByteArray(
               "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
               "ADR;TYPE=home;LABEL=\"Via Po 1\\n10123 Torino\";GEO=\"geo:45.07,7.69\":;;Via Po 1;Torino;TO;10123;"
               "Italia\r\nEND:VCARD\r\n")
        << "Rossi|Marco|Via Po 2|Torino|TO||"
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nN:Rossi;Marco;;;\r\nFN:Marco Rossi\r\n"
                      "ADR;TYPE=home:;;Via Po 2;Torino;TO;10123;Italia\r\nEND:VCARD\r\n");
    QTest::newRow("folds inside a character")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Nicol\xC3\r\n \xB2;Gianluca;;;\r\n"
                      "NOTE:Il caff\xC3\r\n \xA8 lo porta lui\r\nTEL;TYPE=WORK:011555\r\nEND:VCARD\r\n")
        << "Nicolò|Gianluca|||||0212345678"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Nicol\xC3\r\n \xB2;Gianluca;;;\r\n"
                      "NOTE:Il caff\xC3\r\n \xA8 lo porta lui\r\nTEL;TYPE=WORK:0212345678\r\nEND:VCARD\r\n");
    QTest::newRow("4.0 tel: addresses stay addresses")
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Lorenzo De Santis\r\n"
                      "TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:+39-320-111-2233\r\n"
                      "TEL;VALUE=uri;TYPE=\"home,voice\":tel:+39-06-5550-1234;ext=12\r\nEND:VCARD\r\n")
        << "De Santis|Lorenzo|||| 347 1234567|0655501234"
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Lorenzo De Santis\r\n"
                      "TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:347-1234567\r\n"
                      "TEL;VALUE=uri;TYPE=\"home,voice\":tel:+39-06-5550-1234;ext=12\r\nEND:VCARD\r\n");
    QTest::newRow("what follows END is left out")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Verdi;Anna;;;\r\nTEL;TYPE=CELL:3334445566\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Altro;Uno;;;\r\nEND:VCARD\r\nX-JUNK:1\r\n")
        << "Verdi|Anna||||3335556677|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Verdi;Anna;;;\r\nTEL;TYPE=CELL:3335556677\r\nEND:VCARD\r\n");
    QTest::newRow("the card read is the one edited")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:solo una nota\r\nEND:VCARD\r\n"
                      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Verdi;Anna;;;\r\nEND:VCARD\r\n")
        << "Verdi|Anna|||||0212345678"
        << QByteArray(
               "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Verdi;Anna;;;\r\nTEL;TYPE=HOME,VOICE:0212345678\r\nEND:VCARD\r\n");
    QTest::newRow("LF line ends stay")
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:Rossi;Mario;;;\n"
                      "NOTE:Una nota abbastanza lunga da essere piegata su due righe dal telefono c\n he l'ha scritta\n"
                      "END:VCARD\n")
        << "Rossi|Mario|Via Po 1|Torino|TO||"
        << QByteArray("BEGIN:VCARD\nVERSION:3.0\nN:Rossi;Mario;;;\n"
                      "NOTE:Una nota abbastanza lunga da essere piegata su due righe dal telefono c\n he l'ha scritta\n"
                      "ADR:;;Via Po 1;Torino;TO;;\nEND:VCARD\n");
    QTest::newRow("a card cut short is ended")
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;") << "Rossi|Mario||||3331234567|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nTEL;TYPE=CELL:3331234567\r\nEND:VCARD\r\n");
    QTest::newRow("Windows-1252 card goes up in UTF-8")
        << QByteArray(
               "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Citt\xE0;Niccol\xF2\r\nADR;HOME:;;Via dell\x92Orso 2;Cant\xF9;CO\r\n"
               "END:VCARD\r\n")
        << "Città|Niccolò|Via dell’Orso 2|Cantù|CO||031712345"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Città;Niccolò\r\nADR;HOME:;;Via dell’Orso 2;Cantù;CO\r\n"
                      "TEL;TYPE=HOME,VOICE:031712345\r\nEND:VCARD\r\n");
}

void TestCardEdit::editsOnlyWhatTheProgramReads()
{
    QFETCH(QByteArray, card);
    QFETCH(QString, fields);
    QFETCH(QByteArray, edited);

    // "fields => what reading the result gives", when a cleared number leaves another of its kind to be read.
    const QString readBack = fields.section(QStringLiteral(" => "), 1);
    fields = fields.section(QStringLiteral(" => "), 0, 0);
    QCOMPARE(read(card), imported(card));
    const QByteArray result = editedCard(card, fieldsOf(fields));
    QCOMPARE(result, edited);
    const QString wanted = readBack.isEmpty() ? joined(importedFields(fieldsOf(fields))) : readBack;
    QCOMPARE(read(result), wanted);
    QCOMPARE(imported(result), wanted);
}

namespace {

// "emails|postal code|country|organisation|birthday|note|type=number,type=number"
CardDetails detailsOf(const QString& text)
{
    const QStringList p = text.split(QLatin1Char('|'));
    CardDetails details;
    details.emails = p.value(0).split(QLatin1Char(','), Qt::SkipEmptyParts);
    details.postalCode = p.value(1);
    details.country = p.value(2);
    details.organisation = p.value(3);
    details.birthday = p.value(4);
    details.note = p.value(5);
    for (const QString& phone : p.value(6).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        details.otherPhones.append({phone.section(QLatin1Char('='), 0, 0), phone.section(QLatin1Char('='), 1)});
    }
    return details;
}

QString shown(const CardDetails& d)
{
    QStringList phones;
    for (const CardPhone& phone : d.otherPhones) {
        phones.append(phone.type + QLatin1Char('=') + phone.number);
    }
    return QStringList {d.emails.join(QLatin1Char(',')),
                        d.postalCode,
                        d.country,
                        d.organisation,
                        d.birthday,
                        d.note,
                        phones.join(QLatin1Char(','))}
        .join(QLatin1Char('|'));
}

} // namespace

void TestCardEdit::detailsAreReadAndEditedInPlace_data()
{
    QTest::addColumn<QByteArray>("card");
    QTest::addColumn<QString>("read");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QByteArray>("edited");

    const QByteArray phone = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                             "ORG:Rossi Srl;Vendite\r\nBDAY:19800415\r\n"
                             "ADR;TYPE=HOME;LABEL=\"Via Po 1\":;;Via Po 1;Torino;TO;10123;Italia\r\n"
                             "item1.EMAIL;type=INTERNET:mario@example.org\r\nitem1.X-ABLabel:_$!<Other>!$_\r\n"
                             "EMAIL;TYPE=WORK:m.rossi@rossi.example\r\n"
                             "TEL;TYPE=CELL:3331111111\r\nTEL;TYPE=CELL:3332222222\r\nTEL;TYPE=HOME:011555\r\n"
                             "item2.TEL:011777\r\nitem2.X-ABLabel:Ufficio\r\nTEL;TYPE=FAX:011999\r\n"
                             "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\nNOTE:Citofono rotto\\, bussare\\nDue volte\r\n"
                             "END:VCARD\r\n";
    const QString phoneRead = "mario@example.org,m.rossi@rossi.example|10123|Italia|Rossi Srl, Vendite|1980-04-15|"
                              "Citofono rotto, bussare\nDue volte|cell=3332222222,Ufficio=011777,fax=011999";
    QTest::newRow("nothing changed, nothing written") << phone << phoneRead << phoneRead << phone;
    QTest::newRow("one e-mail changed, one taken away, the postal code changed")
        << phone << phoneRead
        << "mario@example.net|10124|Italia|Rossi Srl, Vendite|1980-04-15|"
           "Citofono rotto, bussare\nDue volte|cell=3332222222,Ufficio=011777,fax=011999"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                      "ORG:Rossi Srl;Vendite\r\nBDAY:19800415\r\n"
                      "ADR;TYPE=HOME:;;Via Po 1;Torino;TO;10124;Italia\r\n"
                      "item1.EMAIL;type=INTERNET:mario@example.net\r\nitem1.X-ABLabel:_$!<Other>!$_\r\n"
                      "TEL;TYPE=CELL:3331111111\r\nTEL;TYPE=CELL:3332222222\r\nTEL;TYPE=HOME:011555\r\n"
                      "item2.TEL:011777\r\nitem2.X-ABLabel:Ufficio\r\nTEL;TYPE=FAX:011999\r\n"
                      "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\nNOTE:Citofono rotto\\, bussare\\nDue volte\r\n"
                      "END:VCARD\r\n");
    QTest::newRow("phones: one removed with its label, one retyped, one added; the rest cleared")
        << phone << phoneRead << "||||||cell=3332222222,work=011778,pager=011888"
        << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                      "ADR;TYPE=HOME:;;Via Po 1;Torino;TO;;\r\n"
                      "TEL;TYPE=CELL:3331111111\r\nTEL;TYPE=CELL:3332222222\r\nTEL;TYPE=HOME:011555\r\n"
                      "TEL;TYPE=WORK:011778\r\nTEL;TYPE=PAGER:011888\r\n"
                      "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ\r\n"
                      "END:VCARD\r\n");
    const QByteArray bare = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Rossi;Mario\r\nTEL;CELL:3331111111\r\nEND:VCARD\r\n";
    QTest::newRow("details added to a 2.1 card")
        << bare << "||||||"
        << "a@example.org,b@example.org|00118||Caffè Roma|1975-12-01|Nota; con punto e virgola|fax=06123"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Rossi;Mario\r\nTEL;CELL:3331111111\r\n"
                      "EMAIL;TYPE=INTERNET:a@example.org\r\nEMAIL;TYPE=INTERNET:b@example.org\r\n"
                      "TEL;TYPE=FAX:06123\r\nADR:;;;;;00118;\r\nORG:Caffè Roma\r\nBDAY:1975-12-01\r\n"
                      "NOTE:Nota\\; con punto e virgola\r\nEND:VCARD\r\n");
    QTest::newRow("quoted-printable note rewritten as UTF-8, 4.0 date without year kept")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Rossi;Mario\r\nBDAY:--0415\r\n"
                      "NOTE;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Citt=E0=\r\n alta\r\nEND:VCARD\r\n")
        << "||||--0415|Città alta|"
        << "||||--0415|Città bassa|"
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Rossi;Mario\r\nBDAY:--0415\r\n"
                      "NOTE;CHARSET=UTF-8:Città bassa\r\nEND:VCARD\r\n");
    QTest::newRow("4.0 tel: numbers stay addresses")
        << QByteArray(
               "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Anna Verdi\r\nTEL;VALUE=uri;TYPE=cell:tel:+39-333-1111111\r\n"
               "TEL;VALUE=uri;TYPE=work:tel:+39-06-5550101;ext=12\r\nTEL;VALUE=uri;TYPE=work:tel:+39-06-5550102\r\n"
               "END:VCARD\r\n")
        << "||||||work=+39-06-5550102"
        << "||||||work=+39-06-5550103"
        << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Anna Verdi\r\n"
                      "TEL;VALUE=uri;TYPE=cell:tel:+39-333-1111111\r\n"
                      "TEL;VALUE=uri;TYPE=work:tel:+39-06-5550101;ext=12\r\n"
                      "TEL;VALUE=uri;TYPE=work:tel:+39-06-5550103\r\n"
                      "END:VCARD\r\n");
}

void TestCardEdit::detailsAreReadAndEditedInPlace()
{
    QFETCH(QByteArray, card);
    QFETCH(QString, read);
    QFETCH(QString, wanted);
    QFETCH(QByteArray, edited);

    QCOMPARE(shown(cardDetails(card)), read);
    ContactFields fields;
    QVERIFY(fieldsOfCard(card, fields));
    const QByteArray result = withDetails(card, fields, detailsOf(wanted));
    QCOMPARE(result, edited);
    QCOMPARE(shown(cardDetails(result)), wanted);
    ContactFields after;
    QVERIFY(fieldsOfCard(result, after));
    QCOMPARE(joined(after), joined(fields));
}

QTEST_GUILESS_MAIN(TestCardEdit)
#include "tst_cardedit.moc"

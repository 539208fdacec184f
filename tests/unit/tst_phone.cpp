#include "data/Contact.h"

#include <QRandomGenerator>
#include <QTest>

// The phone text is what the list shows and what the fields are filled from; saving a contact unchanged must give
// back exactly the stored value, whatever shape it has.
class TestPhone : public QObject
{
    Q_OBJECT

private slots:
    void layoutOfFields_data();
    void layoutOfFields();
    void layoutOfStoredValue_data();
    void layoutOfStoredValue();
    void storedValueSurvivesShowAndSave_data();
    void storedValueSurvivesShowAndSave();
    void everyDigitRunSurvivesShowAndSave();
    void everyFieldTripleSurvivesShowAndSave();
    void nullStoredValueShowsEmpty();
    void textOfNull();
};

namespace {

QString roundTrip(const QString& stored)
{
    const PhoneFields fields = SplitPhoneText(FormatStoredPhone(stored));
    return JoinPhoneFields(fields.area, fields.prefix, fields.line);
}

QString digits(QRandomGenerator& rng, int count)
{
    QString s;
    for (int i = 0; i < count; ++i) {
        s.append(QChar(u'0' + rng.bounded(10)));
    }
    return s;
}

} // namespace

void TestPhone::layoutOfFields_data()
{
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("text");

    QTest::newRow("3+3+4") << "045"
                           << "123"
                           << "4567"
                           << "0451234567"
                           << "(045) 123-4567";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << ""
                           << "";
    // The layout follows the stored digits, not the way they were typed, so a saved row reads the same after a reload.
    QTest::newRow("4+3+4") << "0451"
                           << "234"
                           << "5678"
                           << "04512345678"
                           << "(045) 1234-5678";
    QTest::newRow("4+8+4") << "0451"
                           << "23456789"
                           << "0123"
                           << "0451234567890123"
                           << "(0451) 23456789-0123";
    QTest::newRow("no area") << ""
                             << "1234567"
                             << "8"
                             << "12345678"
                             << "(123) 4-5678";
    QTest::newRow("short") << ""
                           << ""
                           << "1234"
                           << "1234"
                           << "1234";
}

void TestPhone::layoutOfFields()
{
    QFETCH(QString, area);
    QFETCH(QString, prefix);
    QFETCH(QString, line);
    QFETCH(QString, stored);
    QFETCH(QString, text);

    QCOMPARE(JoinPhoneFields(area, prefix, line), stored);
    QCOMPARE(FormatPhoneFields(area, prefix, line), text);
    QCOMPARE(FormatStoredPhone(stored), text);
}

void TestPhone::layoutOfStoredValue_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("area");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("line");

    QTest::newRow("3+3+4") << "0451234567"
                           << "(045) 123-4567"
                           << "045"
                           << "123"
                           << "4567";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << ""
                           << "";
    QTest::newRow("8 digits") << "02123456"
                              << "(021) 2-3456"
                              << "021"
                              << "2"
                              << "3456";
    QTest::newRow("11 digits") << "04512345678"
                               << "(045) 1234-5678"
                               << "045"
                               << "1234"
                               << "5678";
    QTest::newRow("15 digits") << "123456789012345"
                               << "(123) 45678901-2345"
                               << "123"
                               << "45678901"
                               << "2345";
    QTest::newRow("16 digits") << "1234567890123456"
                               << "(1234) 56789012-3456"
                               << "1234"
                               << "56789012"
                               << "3456";
    // Other values are shown as stored and go whole into the widest field.
    QTest::newRow("7 digits") << "1234567"
                              << "1234567"
                              << ""
                              << "1234567"
                              << "";
    QTest::newRow("17 digits") << "12345678901234567"
                               << "12345678901234567"
                               << ""
                               << "12345678901234567"
                               << "";
    QTest::newRow("international") << "+39 02 1234"
                                   << "+39 02 1234"
                                   << ""
                                   << "+39 02 1234"
                                   << "";
    QTest::newRow("odd layout") << "(1) 2-3"
                                << "(1) 2-3"
                                << ""
                                << "(1) 2-3"
                                << "";
    QTest::newRow("space") << " "
                           << " "
                           << ""
                           << " "
                           << "";
    // A stored value that reads like a laid-out number gets a leading ' so it is not taken for its digits.
    QTest::newRow("looks laid out") << "(045) 123-4567"
                                    << "'(045) 123-4567"
                                    << ""
                                    << "(045) 123-4567"
                                    << "";
    QTest::newRow("looks laid out, 16") << "(1234) 56789012-3456"
                                        << "'(1234) 56789012-3456"
                                        << ""
                                        << "(1234) 56789012-3456"
                                        << "";
    QTest::newRow("starts with marker") << "'abc"
                                        << "''abc"
                                        << ""
                                        << "'abc"
                                        << "";
    QTest::newRow("marker only") << "'"
                                 << "''"
                                 << ""
                                 << "'"
                                 << "";
    // Not what the layout would give for those digits, so shown as it stands.
    QTest::newRow("wrong grouping") << "(04) 5123-4567"
                                    << "(04) 5123-4567"
                                    << ""
                                    << "(04) 5123-4567"
                                    << "";
    QTest::newRow("other digits") << QString::fromUtf8("(٠٤٥) ١٢٣-٤٥٦٧") << QString::fromUtf8("(٠٤٥) ١٢٣-٤٥٦٧") << ""
                                  << QString::fromUtf8("(٠٤٥) ١٢٣-٤٥٦٧") << "";
}

void TestPhone::layoutOfStoredValue()
{
    QFETCH(QString, stored);
    QFETCH(QString, text);
    QFETCH(QString, area);
    QFETCH(QString, prefix);
    QFETCH(QString, line);

    QCOMPARE(FormatStoredPhone(stored), text);
    const PhoneFields fields = SplitPhoneText(text);
    QCOMPARE(fields.area, area);
    QCOMPARE(fields.prefix, prefix);
    QCOMPARE(fields.line, line);
    QCOMPARE(JoinPhoneFields(fields.area, fields.prefix, fields.line), stored);
}

void TestPhone::storedValueSurvivesShowAndSave_data()
{
    QTest::addColumn<QString>("stored");

    const char* const odd[] = {"+39 02 1234",
                               "(1) 2-3",
                               "abc-",
                               "(",
                               ")",
                               "-",
                               "() -",
                               "(045) -1234",
                               "(045)123-4567",
                               "(045) 123-4567 ",
                               " (045) 123-4567",
                               "(045) 123--4567",
                               "(045) 123-45678",
                               "(0451) 234-5678",
                               "(045) 1234-567",
                               "'",
                               "''",
                               "'0451234567",
                               "(045) 123-4567'",
                               "0451234567\n",
                               "045 123 4567",
                               "(abc) def-ghij",
                               "()  -",
                               "(045) ) 123-4567",
                               "((045) 123-4567",
                               "(045) 123-4567-"};
    for (const char* value : odd) {
        QTest::newRow(value) << QString::fromUtf8(value);
    }
}

void TestPhone::storedValueSurvivesShowAndSave()
{
    QFETCH(QString, stored);
    QCOMPARE(roundTrip(stored), stored);
    QCOMPARE(roundTrip(QLatin1Char('\'') + stored), QLatin1Char('\'') + stored);
}

void TestPhone::everyDigitRunSurvivesShowAndSave()
{
    QRandomGenerator rng(20240611);
    for (int length = 0; length <= 40; ++length) {
        const int samples = length <= 16 ? 200 : 20;
        for (int i = 0; i < samples; ++i) {
            const QString stored = digits(rng, length);
            const QString text = FormatStoredPhone(stored);
            const PhoneFields fields = SplitPhoneText(text);
            QCOMPARE(JoinPhoneFields(fields.area, fields.prefix, fields.line), stored);
            if (length >= 1 && length <= 16) {
                // Whatever fits the fields is shown in pieces they can hold.
                QVERIFY2(fields.area.size() <= 4 && fields.prefix.size() <= 8 && fields.line.size() <= 4,
                         qPrintable(text));
            }
            // A run of digits never needs the literal marker.
            QVERIFY2(!text.startsWith(QLatin1Char('\'')), qPrintable(text));
        }
    }
}

void TestPhone::everyFieldTripleSurvivesShowAndSave()
{
    // Every length combination the fields allow, with random digits, plus the all-zero and all-nine extremes.
    QRandomGenerator rng(7);
    for (int a = 0; a <= 4; ++a) {
        for (int p = 0; p <= 8; ++p) {
            for (int l = 0; l <= 4; ++l) {
                for (int i = 0; i < 30; ++i) {
                    QString area = digits(rng, a);
                    QString prefix = digits(rng, p);
                    QString line = digits(rng, l);
                    if (i == 0) {
                        area.fill(QLatin1Char('0'));
                        prefix.fill(QLatin1Char('0'));
                        line.fill(QLatin1Char('0'));
                    } else if (i == 1) {
                        area.fill(QLatin1Char('9'));
                        prefix.fill(QLatin1Char('9'));
                        line.fill(QLatin1Char('9'));
                    }
                    const QString text = FormatPhoneFields(area, prefix, line);
                    const PhoneFields fields = SplitPhoneText(text);
                    QCOMPARE(JoinPhoneFields(fields.area, fields.prefix, fields.line),
                             JoinPhoneFields(area, prefix, line));
                    QCOMPARE(text.isEmpty(), a + p + l == 0);
                }
            }
        }
    }
}

void TestPhone::nullStoredValueShowsEmpty()
{
    QCOMPARE(FormatStoredPhone(QVariant()), QString());
    QCOMPARE(FormatStoredPhone(QVariant(QMetaType::fromType<QString>())), QString());
    QCOMPARE(FormatStoredPhone(QVariant(QStringLiteral("0451234567"))), QStringLiteral("(045) 123-4567"));
}

void TestPhone::textOfNull()
{
    QCOMPARE(textOf(QVariant()), QString());
    QCOMPARE(textOf(QVariant(QMetaType::fromType<qlonglong>())), QString());
    QCOMPARE(textOf(QVariant(qlonglong(42))), QStringLiteral("42"));
    QCOMPARE(textOf(QVariant(QStringLiteral("Forlì"))), QStringLiteral("Forlì"));
}

QTEST_GUILESS_MAIN(TestPhone)
#include "tst_phone.moc"

#include "mkdb/CustDatabase.h"

#include "data/Schema.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace mkdb {
namespace {

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("velmarin-mkdb-%1").arg(counter.fetchAndAddRelaxed(1));
}

// Runs fn on an open connection to filePath and closes it again; returns fn's error text.
template<typename Fn>
QString withDatabase(const QString& filePath, Fn fn)
{
    const QString name = nextConnectionName();
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(filePath);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            error = fn(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

} // namespace

QString customerTableSql()
{
    return Schema::customerTableSql();
}

QString createCustomerDatabase(const QString& filePath)
{
    return Schema::createBook(filePath);
}

QString insertContacts(const QString& filePath, const QList<ContactRow>& rows)
{
    if (!QFileInfo::exists(filePath)) {
        return QStringLiteral("Impossibile trovare il file '%1'.").arg(filePath);
    }
    return withDatabase(filePath, [&rows](QSqlDatabase& db) -> QString {
        if (!db.transaction()) {
            return db.lastError().text();
        }
        QSqlQuery query(db);
        query.prepare(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, State, Zip, "
                                     "PhoneNumber, City) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const ContactRow& row : rows) {
            const QVariant values[]
                = {row.custId, row.firstName, row.lastName, row.address, row.state, row.zip, row.phoneNumber, row.city};
            for (int i = 0; i < 8; ++i) {
                query.bindValue(i, values[i]);
            }
            if (!query.exec()) {
                const QString error = query.lastError().text();
                db.rollback();
                return error;
            }
        }
        if (!db.commit()) {
            return db.lastError().text();
        }
        return {};
    });
}

QList<ContactRow> demoContacts()
{
    // Surname goes to FirstName and the given name to LastName: that is how the window labels them.
    const auto row = [](int id,
                        const QString& surname,
                        const QString& name,
                        const QString& address,
                        const QString& city,
                        const QString& state,
                        const QString& mobile,
                        const QString& phone) {
        return ContactRow {id, surname, name, address, city, state, mobile, phone};
    };
    // What a new user first sees: whole contacts, with the odd cases a real book has (an apostrophe, an accent, a
    // missing number); none empty.
    QList<ContactRow> rows {
        row(1, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "0212345678"),
        row(2, "D'Angelo", "Lucia", "Corso Garibaldi 4", "Napoli", "NA", "3387654321", "0815551234"),
        row(3, "Bianchi", "Giulia", "Piazza della Libertà 1", "Forlì", "FC", "3471112233", "0543123456"),
        row(4, "Colombo", "Andrea", "Viale Monza 210", "Milano", "MI", "3209988776", ""),
        row(5, "de Luca", "Francesca", "Via dell'Indipendenza 8", "Bologna", "BO", "", "0512223344"),
        row(6, "Esposito", "Salvatore", "Vico Lungo Gelso 3", "Napoli", "NA", "3334445566", "0817654321"),
        row(7, "Ferrari", "Marco", "Via Emilia Est 45", "Modena", "MO", "3491239876", "0592345678"),
        row(8, "Romano", "Marco", "Lungotevere Flaminio 20", "Roma", "RM", "3405556677", "0663456789"),
        row(9, "Ricci", "Chiara", "Via Nizza 150", "Torino", "TO", "3287776655", "0114567890"),
        row(10, "Gallo", "Elena", "Riva degli Schiavoni 7", "Venezia", "VE", "3481122334", "0415678901"),
        row(11, "Conti", "Paolo", "Via Sant'Anna 2", "Cantù", "CO", "3396677889", "0316789012"),
        row(12, "Mancini", "Sara", "Via Garibaldi 33", "Perugia", "PG", "", ""),
        row(13, "Costa", "Élise", "Via del Corso 101", "Roma", "RM", "3312345098", "0678901234"),
        row(14, "Greco", "Nicolò", "Via Etnea 250", "Catania", "CT", "3473344556", "0958901234"),
        row(15, "Bruno", "Anna", "Strada Maggiore 9", "Bologna", "BO", "3294455667", "0519012345"),
        row(16, "Marino", "Luca", "Via Toledo 56", "Napoli", "NA", "3385566778", "0810123456"),
        row(17, "Lombardi", "Federica", "Via Po 18", "Torino", "TO", "3466677880", "0111234567"),
        row(18, "Moretti", "Giorgio", "Via dei Mille 5", "Gorizia", "GO", "3357788990", "0481234567"),
        row(19, "Santoro", "Giuseppe", "Via XX Settembre 14", "Genova", "GE", "3351239876", "0101234567"),
    };
    // A number never written is NULL, as older copies of the book keep it.
    rows.append(ContactRow {20, "Fontana", "Beatrice", "Via Roma 3", "Sondrio", "SO", "3478899001", QVariant()});
    return rows;
}

QList<ContactRow> generatedContacts(int n, quint32 seed)
{
    static const char* const surnames[] = {
        "Rossi",   "Russo",    "Ferrari", "Esposito", "Bianchi", "Romano",  "Colombo",  "Ricci",  "Marino",   "Greco",
        "Bruno",   "Gallo",    "Conti",   "De Luca",  "Mancini", "Costa",   "Giordano", "Rizzo",  "Lombardi", "Moretti",
        "D'Amico", "Barbieri", "Fontana", "Santoro",  "Mariani", "Rinaldi", "Caruso",   "Ferrara"};
    static const char* const names[] = {"Marco",  "Giulia",     "Luca",     "Francesca", "Andrea",  "Sara",   "Matteo",
                                        "Chiara", "Alessandro", "Elena",    "Davide",    "Martina", "Nicolò", "Anna",
                                        "Simone", "Valentina",  "Federico", "Alessia",   "Lorenzo", "Élise"};
    static const char* const streets[] = {"Via Roma",
                                          "Corso Italia",
                                          "Via Garibaldi",
                                          "Piazza Duomo",
                                          "Via Mazzini",
                                          "Viale dei Mille",
                                          "Via Cavour",
                                          "Via Dante",
                                          "Via Verdi",
                                          "Largo Augusto"};
    static const char* const cities[][2] = {{"Milano", "MI"},
                                            {"Roma", "RM"},
                                            {"Napoli", "NA"},
                                            {"Torino", "TO"},
                                            {"Forlì", "FC"},
                                            {"Bologna", "BO"},
                                            {"Firenze", "FI"},
                                            {"Cantù", "CO"},
                                            {"Genova", "GE"},
                                            {"Bari", "BA"},
                                            {"Palermo", "PA"},
                                            {"Verona", "VR"}};
    QRandomGenerator rng(seed);
    const auto pick = [&rng](const auto& array) { return array[rng.bounded(int(std::size(array)))]; };
    const auto digits = [&rng](int count) {
        QString s;
        for (int i = 0; i < count; ++i) {
            s.append(QChar(u'0' + rng.bounded(10)));
        }
        return s;
    };
    QList<ContactRow> rows;
    rows.reserve(n);
    for (int id = 1; id <= n; ++id) {
        const auto& city = pick(cities);
        rows.append(ContactRow {id,
                                QString::fromUtf8(pick(surnames)),
                                QString::fromUtf8(pick(names)),
                                QStringLiteral("%1 %2").arg(QString::fromUtf8(pick(streets))).arg(rng.bounded(1, 300)),
                                QString::fromUtf8(city[0]),
                                QString::fromUtf8(city[1]),
                                QStringLiteral("3") + digits(9),
                                QStringLiteral("0") + digits(9)});
    }
    return rows;
}

int plantDuplicates(QList<ContactRow>& rows, int count)
{
    const int n = int(rows.size());
    count = qMax(0, qMin(count, n / 2));
    if (count == 0) {
        return 0;
    }
    // Sources spread over the book, never a planted row: each copy pairs with one contact of its own.
    const int stride = (n - count) / count;
    for (int k = 0; k < count; ++k) {
        const ContactRow& source = rows.at(k * stride);
        ContactRow& copy = rows[n - count + k];
        const QVariant key = copy.custId;
        const QString mobile = source.zip.toString();
        switch (k % 4) {
        case 0: // another program's export: names swapped, in capitals, the mobile with +39 and spaces
            copy = {key,
                    source.lastName.toString().toUpper(),
                    source.firstName.toString().toUpper(),
                    QString(),
                    source.city,
                    QString(),
                    QStringLiteral("+39 ") + mobile.left(3) + QLatin1Char(' ') + mobile.mid(3),
                    QString()};
            break;
        case 1: // from a phone: only the name and the mobile, written 0039
            copy
                = {key, source.firstName, source.lastName, QString(), QString(), QString(), "0039" + mobile, QString()};
            break;
        case 2: // a surname one letter short, with the same land line
            copy = {key,
                    source.firstName.toString().chopped(1),
                    source.lastName,
                    source.address,
                    source.city,
                    source.state,
                    QString(),
                    source.phoneNumber};
            break;
        default: // the same name in the same city, no number
            copy = {key,
                    source.firstName,
                    source.lastName,
                    source.address,
                    source.city,
                    source.state,
                    QString(),
                    QString()};
            break;
        }
    }
    return count;
}

} // namespace mkdb

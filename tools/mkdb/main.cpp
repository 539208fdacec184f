#include "mkdb/CustDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

// velmarin-mkdb FOLDER [--demo] [--generate N [--duplicates D]]: creates FOLDER/Cust.mdb, empty or with contacts;
// D of the N generated are planted duplicates of others.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(1);
    const bool demo = args.removeAll(QStringLiteral("--demo")) > 0;
    int generate = 0;
    bool countOk = true;
    const int g = args.indexOf(QStringLiteral("--generate"));
    if (g >= 0) {
        generate = g + 1 < args.size() ? args.at(g + 1).toInt(&countOk) : 0;
        countOk = countOk && generate > 0;
        args.remove(g, qMin(2, int(args.size()) - g));
    }
    int duplicates = 0;
    const int d = args.indexOf(QStringLiteral("--duplicates"));
    if (d >= 0) {
        duplicates = d + 1 < args.size() ? args.at(d + 1).toInt(&countOk) : 0;
        countOk = countOk && duplicates > 0 && generate > 0;
        args.remove(d, qMin(2, int(args.size()) - d));
    }
    if (args.size() != 1 || !countOk || (demo && generate > 0)) {
        err << "uso: velmarin-mkdb CARTELLA [--demo | --generate N [--duplicates D]]\n";
        return 2;
    }
    const QString path = QDir(args.first()).filePath(QStringLiteral("Cust.mdb"));
    QString error = mkdb::createCustomerDatabase(path);
    if (error.isEmpty() && demo) {
        error = mkdb::insertContacts(path, mkdb::demoContacts());
    }
    int planted = 0;
    if (error.isEmpty() && generate > 0) {
        QList<mkdb::ContactRow> rows = mkdb::generatedContacts(generate);
        planted = mkdb::plantDuplicates(rows, duplicates);
        error = mkdb::insertContacts(path, rows);
    }
    if (!error.isEmpty()) {
        err << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "Creato " << QDir::toNativeSeparators(path);
    if (duplicates > 0) {
        QTextStream(stdout) << " con " << planted << " doppioni piantati";
    }
    QTextStream(stdout) << '\n';
    return 0;
}

#include "CustDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

// velmarin-mkdb FOLDER [--demo] [--generate N]: creates FOLDER/Cust.mdb, empty or with contacts.
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
    if (args.size() != 1 || !countOk || (demo && generate > 0)) {
        err << "uso: velmarin-mkdb CARTELLA [--demo | --generate N]\n";
        return 2;
    }
    const QString path = QDir(args.first()).filePath(QStringLiteral("Cust.mdb"));
    QString error = mkdb::createCustomerDatabase(path);
    if (error.isEmpty() && demo) {
        error = mkdb::insertContacts(path, mkdb::demoContacts());
    }
    if (error.isEmpty() && generate > 0) {
        error = mkdb::insertContacts(path, mkdb::generatedContacts(generate));
    }
    if (!error.isEmpty()) {
        err << error << '\n';
        return 1;
    }
    QTextStream(stdout) << "Creato " << QDir::toNativeSeparators(path) << '\n';
    return 0;
}

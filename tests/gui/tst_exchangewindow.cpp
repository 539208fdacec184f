// Import and export from the main window: the shortcuts and the file dialog, the rows shown exported in the list's
// order, files dropped on the window, refusals, the progress dialog's "Annulla", and browsing as the only state
// that allows them.
#include "data/Contact.h"
#include "exchange/ContactFile.h"
#include "exchange/ImportRules.h"
#include "maint/ContactExchange.h"
#include "maint/ListContextMenu.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedContactFileDialog.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

class TestExchangeWindow : public QObject
{
    Q_OBJECT

private slots:
    void importWithShortcutSelectsFirstNewContact();
    void exportWritesShownRowsInListOrder_data();
    void exportWritesShownRowsInListOrder();
    void droppedContactFilesImportWhileBrowsingOnly();
    void refusedFileChangesNothing();
    void findNarrowsTheExportAndAnImportShowsTheNewContacts();
    void annullaStopsALongImport();
    void theFileDialogOpensInTheUsersFolder_data();
    void theFileDialogOpensInTheUsersFolder();
};

namespace {

const QString kVCard = QStringLiteral("vCard (*.vcf)");
const QString kCsv = QStringLiteral("CSV per fogli di calcolo (*.csv)");

QString sample(const QString& name)
{
    return qEnvironmentVariable("VELMARIN_SOURCE_DIR") + QStringLiteral("/tests/samples/exchange/") + name;
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

// Drags the files over the window and, when it accepts them, drops them; returns whether the window accepted.
bool dropOn(QWidget* window, const QStringList& paths)
{
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    mime.setUrls(urls);
    const QPoint at = window->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window, &drop);
    return drop.isAccepted();
}

// The texts of a list row as the file should hold them: stored phone digits, fields as the import keeps them.
QString shownRow(const ListView* list, int i)
{
    const PhoneFields phone = SplitPhoneText(list->subItem(i, 6));
    const ContactFields fields {list->itemText(i),
                                list->subItem(i, 1),
                                list->subItem(i, 2),
                                list->subItem(i, 3),
                                list->subItem(i, 4),
                                list->subItem(i, 5),
                                JoinPhoneFields(phone.area, phone.prefix, phone.line)};
    return isEmpty(fields) ? QString()
                           : QStringList {fields.firstName,
                                          fields.lastName,
                                          fields.address,
                                          fields.city,
                                          fields.state,
                                          fields.zip,
                                          fields.phoneNumber}
                                 .join(QLatin1Char('|'));
}

} // namespace

void TestExchangeWindow::importWithShortcutSelectsFirstNewContact()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    ScriptedContactFileDialog files;
    ScriptedMessageBox boxes;
    files.expect({sample(QStringLiteral("mail-3.0.vcf"))});
    boxes.expect(MessageBox::Ok);

    QTest::keyClick(w.window(), Qt::Key_I, Qt::ControlModifier);

    QCOMPARE(files.asked().size(), 1);
    QCOMPARE(files.asked().first().mode, ContactFileDialog::Open);
    QCOMPARE(boxes.last().text,
             QStringLiteral("Importati 2 contatti da mail-3.0.vcf (2 con altri dati oltre ai sette campi, conservati "
                            "nelle loro schede)."));
    QCOMPARE(boxes.last().icon, MessageBox::Information);
    QCOMPARE(db.count(), 22);
    QCOMPARE(w.list()->itemCount(), 22);
    // The new contact highest in the list is selected and shown in the fields, as a click would.
    const int selected = w.list()->selectedIndex();
    QCOMPARE(w.list()->subItem(selected, 7), QStringLiteral("21"));
    QCOMPARE(w.fields().mid(0, 6),
             (QStringList {
                 "D'Amico", "Maria Grazia", "Corso Vittorio Emanuele II, 12; int. 4", "Torino", "TO", "3387654321"}));
    for (int i = 1; i < selected; ++i) {
        QVERIFY(w.list()->subItem(i, 7).toInt() <= 20);
    }
    QVERIFY(w.browsing());

    // The same file again adds nothing.
    files.expect({sample(QStringLiteral("mail-3.0.vcf"))});
    boxes.expect(MessageBox::Ok);
    w.window()->exchange()->importAction()->trigger();
    QCOMPARE(boxes.last().text, QStringLiteral("Nessun contatto importato da mail-3.0.vcf; 2 già presenti."));
    QCOMPARE(db.count(), 22);
}

void TestExchangeWindow::exportWritesShownRowsInListOrder_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("written");

    QTest::newRow("vCard, name without extension") << "rubrica" << kVCard << "rubrica.vcf";
    QTest::newRow("CSV") << "rubrica.csv" << kCsv << "rubrica.csv";
    QTest::newRow("the filter wins over the name") << "rubrica.vcf" << kCsv << "rubrica.vcf.csv";
}

void TestExchangeWindow::exportWritesShownRowsInListOrder()
{
    QFETCH(QString, typed);
    QFETCH(QString, filter);
    QFETCH(QString, written);
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    // Città, descending: an order of the list's own, not the query's.
    w.clickHeader(4);
    w.clickHeader(4);
    ScriptedContactFileDialog files;
    ScriptedMessageBox boxes;
    files.expect({db.folder() + QLatin1Char('/') + typed}, filter);
    boxes.expect(MessageBox::Ok);

    QTest::keyClick(w.window(), Qt::Key_E, Qt::ControlModifier);

    QCOMPARE(files.asked().first().mode, ContactFileDialog::Save);
    QCOMPARE(files.asked().first().filters, (QStringList {kVCard, kCsv}));
    QCOMPARE(boxes.last().text, QStringLiteral("Esportati 20 contatti in %1.").arg(written));
    const FileReading back = readContactFile(db.folder() + QLatin1Char('/') + written);
    QCOMPARE(back.format, formatOfPath(written));
    QStringList expected;
    for (int i = 1; i <= w.list()->itemCount(); ++i) {
        if (!shownRow(w.list(), i).isEmpty()) {
            expected.append(shownRow(w.list(), i));
        }
    }
    QStringList read;
    for (const ReadContact& contact : back.result.contacts) {
        const ContactFields f = importedFields(contact.fields);
        read.append(QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
            QLatin1Char('|')));
    }
    QCOMPARE(read, expected);
}

void TestExchangeWindow::droppedContactFilesImportWhileBrowsingOnly()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    ScriptedContactFileDialog files;
    ScriptedMessageBox boxes;
    const QString text = writeFile(db.folder() + QStringLiteral("/note.txt"), "BEGIN:VCARD\nN:Txt;Tom\nEND:VCARD\n");

    QVERIFY(!dropOn(w.window(), {text}));
    QVERIFY(!dropOn(w.window(), {sample(QStringLiteral("mail.csv")), text}));

    // While a contact is being added nothing comes in: no drop, no shortcut, no dialog.
    w.click("cmdAdd");
    QVERIFY(!dropOn(w.window(), {sample(QStringLiteral("mail.csv"))}));
    QVERIFY(!w.window()->exchange()->importAction()->isEnabled());
    QVERIFY(!w.window()->exchange()->exportAction()->isEnabled());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::ControlModifier);
    QCOMPARE(files.asked().size(), 0);
    w.click("cmdCancel");
    QCOMPARE(db.count(), 20);

    boxes.expect(MessageBox::Ok);
    QVERIFY(dropOn(w.window(), {sample(QStringLiteral("mail.csv")), sample(QStringLiteral("phone-2.1.vcf"))}));
    QCOMPARE(boxes.last().text,
             QStringLiteral("Importati 4 contatti da mail.csv (3 con altri dati oltre ai sette campi, conservati nelle "
                            "loro schede). Importati 2 contatti da phone-2.1.vcf (2 con altri dati oltre ai sette "
                            "campi, conservati nelle loro schede)."));
    QCOMPARE(db.count(), 26);
    QCOMPARE(w.list()->itemCount(), 26);
}

void TestExchangeWindow::refusedFileChangesNothing()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    ScriptedMessageBox boxes;
    const QList<QStringList> before = db.rows();
    boxes.expect(MessageBox::Ok);
    // The good file comes first: nothing of it is added when the second is refused.
    QVERIFY(dropOn(w.window(), {sample(QStringLiteral("mail.csv")), sample(QStringLiteral("unknown.csv"))}));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY(boxes.last().text.contains(QStringLiteral("la rubrica non è stata modificata")));
    QVERIFY(boxes.last().text.contains(QStringLiteral("Intestazioni comprese: Cognome, Nome, Indirizzo")));
    QCOMPARE(db.rows(), before);
    QCOMPARE(w.list()->itemCount(), 20);
}

void TestExchangeWindow::findNarrowsTheExportAndAnImportShowsTheNewContacts()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    ScriptedContactFileDialog files;
    ScriptedMessageBox boxes;
    QTest::keyClick(w.list()->view(), Qt::Key_F, Qt::ControlModifier);
    auto* find = w.window()->findChild<QLineEdit*>(QStringLiteral("txtFind"));
    QVERIFY(find && find->hasFocus());
    typeText(nullptr, QStringLiteral("napoli"));
    QCOMPARE(w.list()->itemCount(), 3);

    // From the context menu, as the user finds it.
    const QString path = db.folder() + QStringLiteral("/napoli.csv");
    files.expect({path}, kCsv);
    boxes.expect(MessageBox::Ok);
    QMenu* menu = w.window()->listMenu()->menu();
    const QList<QAction*> actions = menu->actions();
    const auto exportEntry = std::find_if(actions.cbegin(), actions.cend(), [](const QAction* a) {
        return a->text() == QStringLiteral("Esporta contatti…");
    });
    QVERIFY(exportEntry != actions.cend());
    (*exportEntry)->trigger();
    QCOMPARE(boxes.last().text, QStringLiteral("Esportati 3 contatti in napoli.csv."));
    QStringList surnames;
    for (const ReadContact& contact : readContactFile(path).result.contacts) {
        surnames.append(contact.fields.firstName);
    }
    QCOMPARE(surnames, (QStringList {w.list()->itemText(1), w.list()->itemText(2), w.list()->itemText(3)}));

    // An import while the find shows three rows: the find closes, and the new contact is shown and selected.
    files.expect({sample(QStringLiteral("windows-1252.vcf"))});
    boxes.expect(MessageBox::Ok);
    QTest::keyClick(w.list()->view(), Qt::Key_I, Qt::ControlModifier);
    QCOMPARE(boxes.last().text, QStringLiteral("Importato 1 contatto da windows-1252.vcf."));
    QCOMPARE(w.list()->itemCount(), 21);
    QCOMPARE(w.fields().mid(0, 5), (QStringList {"Città", "Niccolò", "Via dell’Orso 2", "Cantù", "CO"}));
}

void TestExchangeWindow::annullaStopsALongImport()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver w;
    ScriptedMessageBox boxes;
    QByteArray cards;
    for (int i = 0; i < 5000; ++i) {
        cards += "BEGIN:VCARD\r\nN:Lungo" + QByteArray::number(i) + ";Elenco\r\nEND:VCARD\r\n";
    }
    const QString path = writeFile(db.folder() + QStringLiteral("/tanti.vcf"), cards);
    const QList<QStringList> before = db.rows();
    w.window()->exchange()->setProgressDelay(0);
    bool clicked = false;
    QTimer annulla;
    connect(&annulla, &QTimer::timeout, [&] {
        auto* dialog = w.window()->findChild<QProgressDialog*>(QStringLiteral("progressDialog"));
        if (dialog && dialog->isVisible() && !clicked) {
            auto* button = dialog->findChild<QPushButton*>();
            QCOMPARE(button->text(), QStringLiteral("Annulla"));
            QTest::mouseClick(button, Qt::LeftButton);
            clicked = true;
        }
    });
    annulla.start(0);
    boxes.expect(MessageBox::Ok);
    w.window()->exchange()->importFiles({path});
    QVERIFY(clicked);
    QCOMPARE(boxes.last().text, QStringLiteral("Importazione annullata: la rubrica non è stata modificata."));
    QCOMPARE(db.rows(), before);
    QCOMPARE(w.list()->itemCount(), 20);
}

void TestExchangeWindow::theFileDialogOpensInTheUsersFolder_data()
{
    QTest::addColumn<QStringList>("folders"); // made in the home folder
    QTest::addColumn<QString>("proposed"); // the dialog's folder, under the home folder

    QTest::newRow("Documents") << QStringList {"Documents", "Downloads"} << "Documents";
    QTest::newRow("Downloads when there is no Documents") << QStringList {"Downloads"} << "Downloads";
    QTest::newRow("the home folder when there is neither") << QStringList {} << "";
}

void TestExchangeWindow::theFileDialogOpensInTheUsersFolder()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, proposed);
    TestDatabase db;
    MainWindowDriver w;
    QTemporaryDir home;
    for (const QString& folder : folders)
        QVERIFY(QDir(home.path()).mkdir(folder));
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    ScriptedContactFileDialog files;
    files.expect({});
    w.window()->exchange()->importAction()->trigger();
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);

    QCOMPARE(files.asked().size(), 1);
    QCOMPARE(QDir::cleanPath(files.asked().first().proposedPath), QDir::cleanPath(home.filePath(proposed)));
}

QTEST_MAIN(TestExchangeWindow)
#include "tst_exchangewindow.moc"

// The undo stack's rules, and a step that changes more than one contact taken back in one transaction (as a merge
// pushes it).
#include "data/ContactUndo.h"
#include "mkdb/CustDatabase.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

UndoEntry entry(const QString& label, QStringList& done, bool untilNextChange = false, bool fails = false)
{
    UndoEntry step;
    step.label = label;
    step.untilNextChange = untilNextChange;
    step.undo = [label, &done, fails](CustomerStore&) {
        if (fails) {
            throw ado::Error(QStringLiteral("rifiutato"));
        }
        done.append(label);
        return QString();
    };
    return step;
}

QStringList keptTexts(const QList<KeptContact>& contacts)
{
    QStringList texts;
    for (const KeptContact& contact : contacts) {
        QStringList columns;
        for (const QVariant& column : contact.columns) {
            columns.append(column.isNull() ? QStringLiteral("<null>") : column.toString());
        }
        texts.append(QString::number(contact.key) + QLatin1Char('|') + columns.join(QLatin1Char(';')) + QLatin1Char('|')
                     + contact.uid + QLatin1Char('|') + QString::fromUtf8(contact.card));
    }
    return texts;
}

} // namespace

class TestContactUndo : public QObject
{
    Q_OBJECT

private slots:
    // Ten steps, newest first; an eleventh pushes the oldest out; a change to the book drops only the steps that hold
    // until then.
    void stackOrder()
    {
        CustomerStore store;
        UndoStack stack;
        QStringList done;
        for (int i = 1; i <= 11; ++i) {
            stack.push(entry(QString::number(i), done, i == 8));
        }
        QCOMPARE(stack.size(), UndoStack::depth);
        stack.bookChanged();
        QCOMPARE(stack.size(), UndoStack::depth - 1);
        while (!stack.isEmpty()) {
            stack.undo(store);
        }
        QCOMPARE(done, (QStringList {"11", "10", "9", "7", "6", "5", "4", "3", "2"}));
    }

    void refusedStep_data()
    {
        QTest::addColumn<bool>("untilNextChange");
        QTest::addColumn<int>("left");
        QTest::newRow("a delete: tried again later") << false << 1;
        QTest::newRow("an import: cannot succeed later") << true << 0;
    }
    void refusedStep()
    {
        QFETCH(bool, untilNextChange);
        QFETCH(int, left);
        CustomerStore store;
        UndoStack stack;
        QStringList done;
        stack.push(entry(QStringLiteral("passo"), done, untilNextChange, true));
        QVERIFY_THROWS_EXCEPTION(ado::Error, stack.undo(store));
        QCOMPARE(stack.size(), left);
    }

    // A merge taken back: the contact kept gets its fields and card back, the one merged away comes back, in one
    // transaction; a failure in it leaves the book as it was.
    void mergeTakenBack()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
        QCOMPARE(mkdb::createCustomerDatabase(path), QString());
        QCOMPARE(mkdb::insertContacts(path,
                                      {{1, "Rossi", "Anna", "Via 1", "Torino", "TO", QVariant(), "0111"},
                                       {2, "Rossi", "Anna", "", "Torino", "TO", "3331", QVariant()},
                                       {3, "Verdi", "Ugo", "", "", "", "", ""}}),
                 QString());
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(dir.path() + QLatin1Char('/')));
        QVERIFY(store.execute(QStringLiteral("UPDATE CustomerCard SET Card = ? WHERE CustID = 2"),
                              {QByteArray("BEGIN:VCARD\r\nEMAIL:anna@example.org\r\nEND:VCARD\r\n")})
                == 1);
        const QList<KeptContact> before = ContactUndo::keep(store, {1, 2});
        QCOMPARE(before.size(), 2);

        store.execute(QStringLiteral("UPDATE Customer SET Zip = '3331' WHERE CustID = 1"), QVariantList());
        store.execute(QStringLiteral("UPDATE CustomerCard SET Card = X'41' WHERE CustID = 1"), QVariantList());
        store.execute(QStringLiteral("DELETE FROM Customer WHERE CustID = 2"), QVariantList());
        const QStringList merged = keptTexts(ContactUndo::keep(store, {1, 2, 3}));

        // A step that fails half way changes nothing.
        QVERIFY_THROWS_EXCEPTION(ado::Error, store.inChange([&] {
            ContactUndo::putBack(store, before.at(0));
            ContactUndo::addBack(store, {before.at(1)});
            ContactUndo::putBack(store, KeptContact {9, {QStringLiteral("Nessuno")}});
        }));
        QCOMPARE(keptTexts(ContactUndo::keep(store, {1, 2, 3})), merged);

        store.inChange([&] {
            ContactUndo::putBack(store, before.at(0));
            QCOMPARE(ContactUndo::addBack(store, {before.at(1)}).first().key, 2);
        });
        QCOMPARE(keptTexts(ContactUndo::keep(store, {1, 2})), keptTexts(before));
        store.CloseDatabase();
    }
};

QTEST_GUILESS_MAIN(TestContactUndo)
#include "tst_contactundo.moc"

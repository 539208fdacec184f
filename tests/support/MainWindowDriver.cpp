#include "support/MainWindowDriver.h"

#include "data/Ado.h"

#include <QApplication>
#include <QHeaderView>

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        QWidget* target = widget ? widget : QApplication::focusWidget();
        if (c.unicode() < 0x80) {
            QTest::keyClick(target, char(c.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Press, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, target, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

MainWindowDriver::MainWindowDriver()
    : m_window(std::make_unique<frmCustMaint>())
{
    try {
        m_window->Form_Load();
    } catch (const ado::Error& error) {
        QTest::qFail(qPrintable(error.description()), __FILE__, __LINE__);
        return;
    }
    m_window->show();
    m_window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_window.get())) {
        QTest::qFail("the main window did not become active", __FILE__, __LINE__);
    }
}

MainWindowDriver::~MainWindowDriver()
{
    // A test may leave an edit pending; the window must still go away.
    m_window->hide();
}

ListView* MainWindowDriver::list() const
{
    return m_window->findChild<ListView*>(QStringLiteral("lvwCustomer"));
}

TextBox* MainWindowDriver::field(const char* name) const
{
    auto* f = m_window->findChild<TextBox*>(QLatin1String(name));
    if (!f) {
        QTest::qFail(qPrintable(QStringLiteral("no field %1").arg(QLatin1String(name))), __FILE__, __LINE__);
    }
    return f;
}

QToolButton* MainWindowDriver::button(const char* name) const
{
    auto* b = m_window->findChild<QToolButton*>(QLatin1String(name));
    if (!b) {
        QTest::qFail(qPrintable(QStringLiteral("no button %1").arg(QLatin1String(name))), __FILE__, __LINE__);
    }
    return b;
}

void MainWindowDriver::click(const char* buttonName) const
{
    QTest::mouseClick(button(buttonName), Qt::LeftButton);
}

void MainWindowDriver::clickRow(int index) const
{
    QTreeView* view = list()->view();
    const QModelIndex at = view->model()->index(index - 1, 0);
    view->scrollTo(at);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(at).center());
}

void MainWindowDriver::clickHeader(int position) const
{
    QHeaderView* header = list()->view()->header();
    const int x = header->sectionViewportPosition(position - 1) + header->sectionSize(position - 1) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
}

void MainWindowDriver::type(const char* fieldName, const QString& text) const
{
    TextBox* f = field(fieldName);
    f->setFocus();
    f->selectAll();
    if (text.isEmpty()) {
        QTest::keyClick(f, Qt::Key_Delete);
    }
    typeText(f, text);
}

QStringList MainWindowDriver::fields() const
{
    QStringList texts;
    for (const char* name :
         {"txtFirst", "txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"}) {
        texts.append(field(name)->text());
    }
    return texts;
}

QStringList MainWindowDriver::row(int index) const
{
    QStringList texts {list()->itemText(index)};
    for (int k = 1; k <= 7; ++k) {
        texts.append(list()->subItem(index, k));
    }
    return texts;
}

bool MainWindowDriver::browsing() const
{
    return inState(true);
}

bool MainWindowDriver::editing() const
{
    return inState(false);
}

// Every control of the window, not a sample: "Stampa" is open in both states.
bool MainWindowDriver::inState(bool browse) const
{
    bool matches = list()->isEnabled() == browse && button("Command1")->isEnabled();
    for (const char* name : {"cmdAdd", "cmdUpdate", "cmdDelete", "cmdClose"}) {
        matches = matches && button(name)->isEnabled() == browse;
    }
    for (const char* name : {"cmdSave", "cmdCancel"}) {
        matches = matches && button(name)->isEnabled() == !browse;
    }
    for (const char* name :
         {"txtFirst", "txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"}) {
        matches = matches && field(name)->isEnabled() == !browse;
    }
    return matches;
}

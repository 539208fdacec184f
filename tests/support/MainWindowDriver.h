#pragma once

#include "common/ListView.h"
#include "common/TextBox.h"
#include "maint/frmCustMaint.h"

#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <memory>

// Types text key by key, like QTest::keyClicks, but also characters that have no key of their own ("è", "€").
// With no widget each key goes to whichever widget has the focus at that moment, as a typing user's would.
void typeText(QWidget* widget, const QString& text);

// Opens the real main window over the current application folder and drives it the way a user does.
class MainWindowDriver
{
public:
    // Loads, shows and activates the window; fails the test when that is not possible.
    MainWindowDriver();
    ~MainWindowDriver();

    frmCustMaint* window() const { return m_window.get(); }
    ListView* list() const;
    TextBox* field(const char* name) const;
    QToolButton* button(const char* name) const;

    void click(const char* buttonName) const;
    // The list row with the given index, clicked with the mouse.
    void clickRow(int index) const;
    void clickHeader(int position) const;
    // Selects all of a field's text and types over it.
    void type(const char* fieldName, const QString& text) const;

    // The nine field texts in tab order: Cognome, Nome, Indirizzo, Città, PR, Cellulare, area, prefix, line.
    QStringList fields() const;
    // The eight texts of a list row: the row text and sub-items 1..7.
    QStringList row(int index) const;
    // The whole table of enabled controls is the browse state's, or the edit state's.
    bool browsing() const;
    bool editing() const;

private:
    bool inState(bool browse) const;
    std::unique_ptr<frmCustMaint> m_window;
};

#pragma once

#include <QStringList>

class frmCustMaint;

// Loads the main window and runs the program until its last window closes. When Cust.mdb cannot be opened or read,
// shows why and returns 1 without showing any window. An installed program's first start creates the user's empty
// address book and says where it is; every start makes the day's backup copy when it is due. Contact files given are
// offered for import; when a window is already open on the same book they go to it instead and 0 is returned at once.
int runVelmarin(const QStringList& files = {});

// Asks whether to import the files, then imports them as "Importa contatti…" does and says what happened.
void offerImport(frmCustMaint& form, const QStringList& paths);

// Qt's standard buttons in Italian ("Sì", "No"), whatever the system language.
void installItalianTranslations();

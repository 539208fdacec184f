#pragma once

#include <QString>

// Loads the main window and runs the program until its last window closes. When Cust.mdb cannot be opened or read,
// shows why and returns 1 without showing any window. An installed program's first start creates the user's empty
// address book and says where it is; every start makes the day's backup copy when it is due.
int runVelmarin();

// Qt's standard buttons in Italian ("Sì", "No"), whatever the system language.
void installItalianTranslations();

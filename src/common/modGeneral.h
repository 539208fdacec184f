#pragma once

#include <QString>

class TextBox;

// True while code fills or clears the main window's fields: the fields then hand no focus on.
extern bool gblnPopulating;

// The application folder with exactly one trailing separator.
QString GetAppPath();

void SelectTextBoxText(TextBox* textBox);
// The code itself for a digit or a control code, else 0.
int ValidKey(int keyAscii);
// Gives the focus to txtNext when txtCurrent holds exactly its maximum length of text.
void TabToNextTextBox(TextBox* txtCurrent, TextBox* txtNext);

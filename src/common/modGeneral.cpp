#include "modGeneral.h"

#include "AppInfo.h"
#include "TextBox.h"

bool gblnPopulating = false;

QString withTrailingSeparator(const QString& folder)
{
#ifndef Q_OS_WIN
    // Outside Windows a backslash is a character of a folder's name ("/srv/bs\" is the folder "bs\"), never a
    // separator, so a Unix path always gets its "/".
    if (folder.startsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('/'))) {
        return folder + QLatin1Char('/');
    }
#endif
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))) {
        return folder;
    }
    // A Windows-style path keeps its own separator; otherwise the platform's "/" (Qt uses it on every system).
    const bool backslashes = folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/'));
    return folder + (backslashes ? QLatin1Char('\\') : QLatin1Char('/'));
}

QString GetAppPath()
{
    return withTrailingSeparator(AppInfo::folder());
}

void SelectTextBoxText(TextBox* textBox)
{
    textBox->setSelection(0, int(textBox->text().size()));
}

int ValidKey(int keyAscii)
{
    if ((keyAscii >= '0' && keyAscii <= '9') || keyAscii < 32) {
        return keyAscii;
    }
    return 0;
}

void TabToNextTextBox(TextBox* txtCurrent, TextBox* txtNext)
{
    if (gblnPopulating) {
        return;
    }
    if (!txtNext->isEnabled()) {
        return;
    }
    if (txtCurrent->text().size() == txtCurrent->MaxLength()) {
        txtNext->setFocus(Qt::OtherFocusReason);
    }
}

#include "common/modGeneral.h"

#include "common/TextBox.h"
#include "core/AppInfo.h"
#include "core/DataLocation.h"

bool gblnPopulating = false;

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

#include "support/ScriptedContactFileDialog.h"

#include <QTest>

ScriptedContactFileDialog::ScriptedContactFileDialog()
{
    ContactFileDialog::setHandler(this);
}

ScriptedContactFileDialog::~ScriptedContactFileDialog()
{
    ContactFileDialog::setHandler(nullptr);
}

ContactFileDialog::Answer ScriptedContactFileDialog::choose(QWidget*, const ContactFileDialog::Request& request)
{
    m_asked.append(request);
    if (m_answers.isEmpty()) {
        QTest::qFail(
            qPrintable(QStringLiteral("unexpected file dialog \"%1\"").arg(request.caption)), __FILE__, __LINE__);
        return {};
    }
    return m_answers.takeFirst();
}

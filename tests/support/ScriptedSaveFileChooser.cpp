#include "support/ScriptedSaveFileChooser.h"

#include <QTest>

ScriptedSaveFileChooser::ScriptedSaveFileChooser()
{
    SaveFileChooser::setHandler(this);
}

ScriptedSaveFileChooser::~ScriptedSaveFileChooser()
{
    SaveFileChooser::setHandler(nullptr);
}

QString ScriptedSaveFileChooser::choose(QWidget*, const SaveFileChooser::Request& request)
{
    m_asked.append(request);
    if (m_answers.isEmpty()) {
        QTest::qFail(
            qPrintable(QStringLiteral("unexpected save dialog \"%1\"").arg(request.caption)), __FILE__, __LINE__);
        return {};
    }
    return m_answers.takeFirst();
}

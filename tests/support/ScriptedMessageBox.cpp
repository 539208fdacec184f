#include "support/ScriptedMessageBox.h"

#include <QTest>

ScriptedMessageBox::ScriptedMessageBox()
{
    MessageBox::setHandler(this);
}

ScriptedMessageBox::~ScriptedMessageBox()
{
    MessageBox::setHandler(nullptr);
}

void ScriptedMessageBox::clear()
{
    m_answers.clear();
    m_asked.clear();
}

MessageBox::Answer ScriptedMessageBox::ask(QWidget*, const MessageBox::Request& request)
{
    m_asked.append(request);
    if (m_answers.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unexpected message box \"%1\": %2").arg(request.title, request.text)),
                     __FILE__,
                     __LINE__);
        return request.defaultButton;
    }
    return m_answers.takeFirst();
}

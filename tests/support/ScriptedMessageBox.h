#pragma once

#include "common/MessageBox.h"

#include <QList>

// Answers message boxes from a queue and remembers what was asked. A box with no queued answer fails the running
// test at once (and is answered with its default button so the code under test can go on).
class ScriptedMessageBox : public MessageBox::Handler
{
public:
    ScriptedMessageBox();
    ~ScriptedMessageBox() override;

    void expect(MessageBox::Answer answer) { m_answers.append(answer); }
    const QList<MessageBox::Request>& asked() const { return m_asked; }
    MessageBox::Request last() const { return m_asked.isEmpty() ? MessageBox::Request {} : m_asked.last(); }
    int pending() const { return int(m_answers.size()); }
    void clear();

    MessageBox::Answer ask(QWidget* parent, const MessageBox::Request& request) override;

private:
    QList<MessageBox::Answer> m_answers;
    QList<MessageBox::Request> m_asked;
};

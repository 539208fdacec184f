#pragma once

#include "print/SaveFileChooser.h"

#include <QList>

// Answers save-file dialogs from a queue (an empty text is a cancelled dialog) and remembers what was asked.
// A dialog with no queued answer fails the running test and counts as cancelled.
class ScriptedSaveFileChooser : public SaveFileChooser::Handler
{
public:
    ScriptedSaveFileChooser();
    ~ScriptedSaveFileChooser() override;

    void expect(const QString& path) { m_answers.append(path); }
    const QList<SaveFileChooser::Request>& asked() const { return m_asked; }
    int pending() const { return int(m_answers.size()); }

    QString choose(QWidget* parent, const SaveFileChooser::Request& request) override;

private:
    QList<QString> m_answers;
    QList<SaveFileChooser::Request> m_asked;
};

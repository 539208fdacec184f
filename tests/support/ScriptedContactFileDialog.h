#pragma once

#include "maint/ContactFileDialog.h"

#include <QList>

// Answers contact file dialogs from a queue (no paths is a cancelled dialog) and remembers what was asked. A dialog
// with no queued answer fails the running test and counts as cancelled.
class ScriptedContactFileDialog : public ContactFileDialog::Handler
{
public:
    ScriptedContactFileDialog();
    ~ScriptedContactFileDialog() override;

    void expect(const QStringList& paths, const QString& filter = {}) { m_answers.append({paths, filter}); }
    const QList<ContactFileDialog::Request>& asked() const { return m_asked; }
    int pending() const { return int(m_answers.size()); }

    ContactFileDialog::Answer choose(QWidget* parent, const ContactFileDialog::Request& request) override;

private:
    QList<ContactFileDialog::Answer> m_answers;
    QList<ContactFileDialog::Request> m_asked;
};

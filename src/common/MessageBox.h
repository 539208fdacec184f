#pragma once

#include <QString>

class QWidget;

// The one way the program asks the user something. Production shows a QMessageBox; tests install a handler that
// answers from a queue and records what was asked.
class MessageBox
{
public:
    enum Buttons { OkOnly, OkCancel, YesNo, YesNoCancel };
    enum Icon { NoIcon, Critical, Question, Exclamation, Information };
    enum Answer { Ok, Cancel, Yes, No };

    struct Request
    {
        QString text;
        QString title;
        Buttons buttons = OkOnly;
        Icon icon = NoIcon;
        Answer defaultButton = Ok;
    };

    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual Answer ask(QWidget* parent, const Request& request) = 0;
    };

    // Shows a modal box and returns the button pressed. defaultButton is the first button of the set unless given.
    static Answer show(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon);
    static Answer show(QWidget* parent, const Request& request);

    // Replaces the production handler; nullptr restores it. The caller keeps ownership.
    static void setHandler(Handler* handler);
};

#include "common/MessageBox.h"

#include <QMessageBox>

namespace {

QMessageBox::StandardButton standardButton(MessageBox::Answer answer)
{
    switch (answer) {
    case MessageBox::Ok:
        return QMessageBox::Ok;
    case MessageBox::Cancel:
        return QMessageBox::Cancel;
    case MessageBox::Yes:
        return QMessageBox::Yes;
    case MessageBox::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

class QtHandler : public MessageBox::Handler
{
public:
    MessageBox::Answer ask(QWidget* parent, const MessageBox::Request& request) override
    {
        QMessageBox box(parent);
        box.setWindowTitle(request.title);
        box.setText(request.text);
        box.setTextFormat(Qt::PlainText);
        switch (request.icon) {
        case MessageBox::NoIcon:
            break;
        case MessageBox::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageBox::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageBox::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageBox::Information:
            box.setIcon(QMessageBox::Information);
            break;
        }
        QMessageBox::StandardButtons buttons;
        switch (request.buttons) {
        case MessageBox::OkOnly:
            buttons = QMessageBox::Ok;
            break;
        case MessageBox::OkCancel:
            buttons = QMessageBox::Ok | QMessageBox::Cancel;
            break;
        case MessageBox::YesNo:
            buttons = QMessageBox::Yes | QMessageBox::No;
            break;
        case MessageBox::YesNoCancel:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        }
        box.setStandardButtons(buttons);
        box.setDefaultButton(standardButton(request.defaultButton));
        switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageBox::Yes;
        case QMessageBox::No:
            return MessageBox::No;
        case QMessageBox::Cancel:
            return MessageBox::Cancel;
        default:
            // Escape on a Yes/No box has no button of its own: it counts as the safe answer.
            return request.buttons == MessageBox::YesNo ? MessageBox::No : MessageBox::Ok;
        }
    }
};

MessageBox::Handler* g_handler = nullptr;

} // namespace

MessageBox::Answer
MessageBox::show(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon)
{
    Request request;
    request.text = text;
    request.title = title;
    request.buttons = buttons;
    request.icon = icon;
    request.defaultButton = (buttons == YesNo || buttons == YesNoCancel) ? Yes : Ok;
    return show(parent, request);
}

MessageBox::Answer MessageBox::show(QWidget* parent, const Request& request)
{
    if (g_handler) {
        return g_handler->ask(parent, request);
    }
    QtHandler production;
    return production.ask(parent, request);
}

void MessageBox::setHandler(Handler* handler)
{
    g_handler = handler;
}

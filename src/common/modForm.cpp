#include "modForm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void CenterForm(QWidget* form)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect area = screen->geometry();
    // The outer frame only exists once the window has been shown; before that it equals the client size.
    const QRect frame = form->frameGeometry();
    const float top = (float(area.height()) - float(frame.height())) / 2.0f;
    const float left = (float(area.width()) - float(frame.width())) / 2.0f;
    form->move(area.x() + int(left), area.y() + int(top));
}

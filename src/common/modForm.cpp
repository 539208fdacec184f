#include "common/modForm.h"

#include <QGuiApplication>
#include <QPalette>
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

void applyLightPalette(QWidget* window)
{
    QPalette light;
    const auto set = [&light](QPalette::ColorRole role, const QColor& active, const QColor& disabled) {
        light.setColor(QPalette::Active, role, active);
        light.setColor(QPalette::Inactive, role, active);
        light.setColor(QPalette::Disabled, role, disabled);
    };
    const QColor face(0xF0, 0xF0, 0xF0);
    const QColor grey(0x6D, 0x6D, 0x6D); // disabled text: still readable on the face colour
    set(QPalette::Window, face, face);
    set(QPalette::WindowText, Qt::black, grey);
    set(QPalette::Base, Qt::white, face);
    set(QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7), face);
    set(QPalette::Text, Qt::black, grey);
    set(QPalette::PlaceholderText, grey, grey);
    set(QPalette::Button, face, face);
    set(QPalette::ButtonText, Qt::black, grey);
    set(QPalette::BrightText, Qt::white, Qt::white);
    set(QPalette::Light, Qt::white, Qt::white);
    set(QPalette::Midlight, QColor(0xE3, 0xE3, 0xE3), QColor(0xE3, 0xE3, 0xE3));
    set(QPalette::Mid, QColor(0xA0, 0xA0, 0xA0), QColor(0xA0, 0xA0, 0xA0));
    set(QPalette::Dark, QColor(0xA0, 0xA0, 0xA0), QColor(0xA0, 0xA0, 0xA0));
    set(QPalette::Shadow, QColor(0x69, 0x69, 0x69), QColor(0x69, 0x69, 0x69));
    set(QPalette::Highlight, QColor(0x00, 0x78, 0xD7), QColor(0xCC, 0xCC, 0xCC));
    set(QPalette::HighlightedText, Qt::white, grey);
    set(QPalette::Link, QColor(0x00, 0x66, 0xCC), grey);
    set(QPalette::LinkVisited, QColor(0x80, 0x00, 0x80), grey);
    set(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xDC), QColor(0xFF, 0xFF, 0xDC));
    set(QPalette::ToolTipText, Qt::black, Qt::black);
    window->setPalette(light);
}

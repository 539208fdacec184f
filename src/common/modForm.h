#pragma once

class QWidget;

// Places a window in the centre of the primary screen (its whole area, not the work area); a window larger than the
// screen gets a negative position.
void CenterForm(QWidget* form);

// Gives a window the light look it was designed with, whatever the desktop theme: every colour role of a light
// palette, so no text the window forces to black or onto white can end up beside a dark theme's colours.
void applyLightPalette(QWidget* window);

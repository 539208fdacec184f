#pragma once

#include <QRect>

// Layouts are designed in twips (1/1440 inch); 15 twips make one device-independent pixel at 96 dpi.
constexpr double kTwipsPerPixel = 15.0;

int twipsToPixels(double twips);
double pixelsToTwips(int pixels);
QRect twipsRect(double left, double top, double width, double height);

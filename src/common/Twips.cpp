#include "common/Twips.h"

#include <cmath>

int twipsToPixels(double twips)
{
    return int(std::lround(twips / kTwipsPerPixel));
}

double pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

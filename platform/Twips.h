#pragma once

#include <cmath>

// Widths given in twips (1/1440 inch) at a screen's dots per inch. Rounded up, so that a
// width of one twip still stands as a column of its own.
inline int TwipsToPixels(int twips, int dotsPerInch)
{
    return twips <= 0 ? 0 : int(std::ceil(double(twips) * dotsPerInch / 1440.0));
}

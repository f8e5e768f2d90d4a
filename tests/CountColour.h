#pragma once

#include <QImage>
#include <QRect>

// Pixels of exactly one colour inside a rectangle of a picture: how the
// picture tests see what was drawn where, without golden images.
inline int CountColour(const QImage& img, const QRect& r, QRgb colour) {
    int n = 0;
    const QRect c = r.intersected(img.rect());
    for (int y = c.top(); y <= c.bottom(); ++y)
        for (int x = c.left(); x <= c.right(); ++x)
            if ((img.pixel(x, y) & 0xffffff) == (colour & 0xffffff)) ++n;
    return n;
}

#pragma once

#include <QImage>
#include <array>

// A 5 x 5 colour matrix applied the GDI+ way: the row vector (red, green, blue, alpha, 1), each
// between 0 and 1, times the matrix, every result clamped to 0 .. 1.
using ColourMatrix = std::array<std::array<float, 5>, 5>;

// Brighter: each colour channel times 1.05 plus 0.05, alpha kept.
extern const ColourMatrix kHotMatrix;
// Grey and half transparent: each colour channel half the sum of red, green and blue, alpha halved.
extern const ColourMatrix kDisabledMatrix;

// The picture with the matrix applied to every pixel (colours not premultiplied).
QImage applyColourMatrix(const QImage& picture, const ColourMatrix& matrix);

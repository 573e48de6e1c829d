#include "controls/ColourMatrix.h"

#include <algorithm>
#include <cmath>

const ColourMatrix kHotMatrix = {{
    {1.05f, 0, 0, 0, 0},
    {0, 1.05f, 0, 0, 0},
    {0, 0, 1.05f, 0, 0},
    {0, 0, 0, 1, 0},
    {0.05f, 0.05f, 0.05f, 0, 1},
}};

const ColourMatrix kDisabledMatrix = {{
    {0.5f, 0.5f, 0.5f, 0, 0},
    {0.5f, 0.5f, 0.5f, 0, 0},
    {0.5f, 0.5f, 0.5f, 0, 0},
    {0, 0, 0, 0.5f, 0},
    {0, 0, 0, 0, 1},
}};

namespace {

float unit(int channel) {
    return static_cast<float>(channel) / 255.0f;
}

int toChannel(float value) {
    return static_cast<int>(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

QImage applyColourMatrix(const QImage& picture, const ColourMatrix& matrix) {
    QImage result = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const QRgb pixel = line[x];
            const std::array<float, 5> in = {unit(qRed(pixel)), unit(qGreen(pixel)),
                                             unit(qBlue(pixel)), unit(qAlpha(pixel)), 1.0f};
            std::array<float, 4> out{};
            for (std::size_t column = 0; column < 4; ++column) {
                for (std::size_t row = 0; row < 5; ++row) {
                    out[column] += in[row] * matrix[row][column];
                }
            }
            line[x] =
                qRgba(toChannel(out[0]), toChannel(out[1]), toChannel(out[2]), toChannel(out[3]));
        }
    }
    return result;
}

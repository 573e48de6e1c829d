// kestova-image-generator: draws the window's pictures (button faces, background, icon) into a
// resources folder, and the icon in the desktop's sizes into an icons folder. Run it with
// tools/draw-images; the PNG files it makes are committed.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QtMath>
#include <cstdio>

namespace {

constexpr int kFaceWidth = 181;
constexpr int kFaceHeight = 41;

QImage blank(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    // No resolution chunk: the pictures are drawn pixel for pixel.
    image.setDotsPerMeterX(0);
    image.setDotsPerMeterY(0);
    return image;
}

QFont captionFont(bool chinese, int pixelSize) {
    QFont font(chinese ? QStringLiteral("Noto Sans CJK TC") : QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// A dark rounded rectangle with a light caption; greyed faces are flatter and dimmer.
QImage buttonFace(const QString& caption, bool chinese, bool greyed) {
    QImage image = blank(kFaceWidth, kFaceHeight);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, 0.5, kFaceWidth - 1.0, kFaceHeight - 1.0);
    QLinearGradient fill(0, 0, 0, kFaceHeight);
    fill.setColorAt(0, greyed ? QColor(0x4a, 0x4d, 0x52) : QColor(0x3d, 0x4b, 0x5e));
    fill.setColorAt(1, greyed ? QColor(0x36, 0x38, 0x3c) : QColor(0x1f, 0x27, 0x33));
    painter.setPen(QPen(greyed ? QColor(0x5c, 0x5f, 0x64) : QColor(0x6f, 0x8c, 0xae), 1.0));
    painter.setBrush(fill);
    painter.drawRoundedRect(body, 9, 9);
    painter.setPen(greyed ? QColor(0x8c, 0x8f, 0x94) : QColor(0xf2, 0xf5, 0xf8));
    painter.setFont(captionFont(chinese, chinese ? 17 : 16));
    painter.drawText(image.rect(), Qt::AlignCenter, caption);
    return image;
}

QImage background() {
    QImage image(1200, 862, QImage::Format_RGB32);
    image.setDotsPerMeterX(0);
    image.setDotsPerMeterY(0);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(image.rect(), QColor(0x23, 0x25, 0x29));
    // The band along the bottom edge, behind the buttons and the link.
    QLinearGradient band(0, 767, 0, 862);
    band.setColorAt(0, QColor(0x44, 0x48, 0x4f));
    band.setColorAt(1, QColor(0x38, 0x3b, 0x41));
    painter.fillRect(QRect(0, 767, 1200, 95), band);
    painter.fillRect(QRect(0, 767, 1200, 1), QColor(0x5a, 0x5f, 0x67));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(QColor(0xc8, 0xcc, 0xd2));
    painter.drawText(QRect(990, 834, 200, 20), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("Powered by iPerf3"));
    return image;
}

// A speed gauge: a dark dial, a coloured arc and a needle, drawn on a 256 pixel grid and scaled
// to the size asked for, so that each of the desktop's sizes is drawn rather than shrunk.
QImage icon(int size) {
    QImage image = blank(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 256.0, size / 256.0);
    QRadialGradient dial(128, 128, 120);
    dial.setColorAt(0, QColor(0x3d, 0x4b, 0x5e));
    dial.setColorAt(1, QColor(0x1a, 0x20, 0x29));
    painter.setPen(QPen(QColor(0x6f, 0x8c, 0xae), 6));
    painter.setBrush(dial);
    painter.drawEllipse(QPointF(128, 128), 120, 120);
    QPen arc(QColor(0x3f, 0xc1, 0xc9), 18, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(QRectF(38, 38, 180, 180), -30 * 16, 240 * 16);
    painter.setPen(QPen(QColor(0xf2, 0xf5, 0xf8), 10, Qt::SolidLine, Qt::RoundCap));
    const double angle = qDegreesToRadians(35.0);
    painter.drawLine(QPointF(128, 128),
                     QPointF(128 + 78 * std::cos(angle), 128 - 78 * std::sin(angle)));
    painter.setBrush(QColor(0xf2, 0xf5, 0xf8));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(128, 128), 14, 14);
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

struct Face {
    int id;
    const char* caption;
    bool chinese;
    bool greyed;
};

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestova-image-generator RESOURCES_FOLDER ICONS_FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QDir icons(QString::fromLocal8Bit(argv[2]));
    const Face faces[] = {
        {169, "開始測試", true, false},     {170, "Close", false, false},
        {171, "關閉", true, false},         {172, "Restart test", false, false},
        {173, "重新測試", true, false},     {174, "Start", false, false},
        {175, "Restart test", false, true}, {176, "關閉", true, true},
        {177, "Close", false, true},        {178, "重新測試", true, true},
        {181, "Update", false, false},      {184, "更新", true, false},
    };
    bool written = true;
    for (const Face& face : faces) {
        written &= save(buttonFace(QString::fromUtf8(face.caption), face.chinese, face.greyed),
                        folder.filePath(QStringLiteral("png/%1.png").arg(face.id)));
    }
    written &= save(background(), folder.filePath(QStringLiteral("bitmap/179.png")));
    written &= save(icon(256), folder.filePath(QStringLiteral("icon/128.png")));
    // The sizes of the desktop's icon theme (hicolor), one file each.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        written &= save(icon(size), icons.filePath(QStringLiteral("%1.png").arg(size)));
    }
    return written ? 0 : 1;
}

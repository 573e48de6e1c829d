#include "controls/GdiPlusBitmap.h"

#include <QFile>

CGdiPlusBitmap::~CGdiPlusBitmap() = default;

CGdiPlusBitmapResource::~CGdiPlusBitmapResource() {
    Clear();
}

void CGdiPlusBitmapResource::Clear() {
    m_bitmap.reset();
    m_buffer.clear();
}

bool CGdiPlusBitmapResource::LoadFromResource(unsigned id) {
    Clear();
    QFile resource(QStringLiteral(":/png/%1.png").arg(id));
    if (!resource.open(QIODevice::ReadOnly)) {
        return false;
    }
    m_buffer = resource.readAll();
    QImage picture;
    if (m_buffer.isEmpty() || !picture.loadFromData(m_buffer, "PNG")) {
        Clear();
        return false;
    }
    m_bitmap = std::make_unique<QImage>(picture.convertToFormat(QImage::Format_ARGB32));
    return true;
}

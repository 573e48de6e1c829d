#pragma once

#include <QByteArray>
#include <QImage>
#include <memory>

// A decoded picture that keeps its alpha channel; holds nothing until something is loaded.
class CGdiPlusBitmap {
  public:
    CGdiPlusBitmap() = default;
    CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
    CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;
    virtual ~CGdiPlusBitmap();

    // The picture, or null when nothing is loaded.
    operator const QImage*() const { return m_bitmap.get(); }
    const QImage* bitmap() const { return m_bitmap.get(); }

  protected:
    std::unique_ptr<QImage> m_bitmap;
};

// A button face from the program's resources: the PNG file ":/png/<id>.png".
class CGdiPlusBitmapResource : public CGdiPlusBitmap {
  public:
    CGdiPlusBitmapResource() = default;
    ~CGdiPlusBitmapResource() override;

    // Releases what is held, then loads the PNG resource; false, holding nothing, when there is
    // no such PNG or it cannot be decoded.
    bool LoadFromResource(unsigned id);
    void Clear();

    bool holdsBytes() const { return !m_buffer.isEmpty(); }

  private:
    QByteArray m_buffer;
};

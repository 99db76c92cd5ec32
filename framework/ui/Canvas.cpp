#include "Canvas.h"

#include <QImage>
#include <QPainter>

TCanvas::TCanvas(QPainter *painter)
    : m_painter(painter)
{
    Font.Font = painter->font();
    Font.Color = painter->pen().color();
    Brush.Color = painter->brush().color();
}

void TCanvas::FillRect(const QRect &rect)
{
    m_painter->fillRect(rect, Brush.Color);
}

void TCanvas::TextRect(const QRect &rect, int x, int y, const QString &text)
{
    m_painter->save();
    m_painter->setClipRect(rect, Qt::IntersectClip);
    m_painter->setFont(Font.Font);
    m_painter->setPen(Font.Color);
    const QFontMetrics metrics(Font.Font);
    m_painter->drawText(QPoint(x, y + metrics.ascent()), text);
    m_painter->restore();
}

void TCanvas::TextOut(int x, int y, const QString &text)
{
    m_painter->save();
    m_painter->setFont(Font.Font);
    m_painter->setPen(Font.Color);
    m_painter->drawText(QPoint(x, y + QFontMetrics(Font.Font).ascent()), text);
    m_painter->restore();
}

void TCanvas::Draw(int x, int y, const QPixmap &bitmap)
{
    m_painter->drawPixmap(x, y, bitmap);
}

void TCanvas::BrushCopy(const QRect &dest, const QPixmap &bitmap, const QRect &source, const QColor &transparent)
{
    if (bitmap.isNull() || dest.isEmpty())
        return;
    m_painter->save();
    m_painter->setClipRect(dest, Qt::IntersectClip);
    m_painter->fillRect(dest, Brush.Color);
    // A source reaching past the bitmap (a cell taller than the icon) copies
    // what there is; the rest of the destination keeps the brush.
    const QRect inside = source.intersected(bitmap.rect());
    if (inside.isEmpty()) {
        m_painter->restore();
        return;
    }
    const QPixmap part = transparentBitmap(bitmap.copy(inside), transparent);
    m_painter->drawPixmap(dest.topLeft() + (inside.topLeft() - source.topLeft()), part,
                          QRect(QPoint(0, 0), dest.size()).intersected(part.rect()));
    m_painter->restore();
}

QPixmap transparentBitmap(const QPixmap &bitmap, const QColor &transparent)
{
    if (bitmap.isNull())
        return bitmap;
    QImage image = bitmap.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & 0xFFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
    }
    return QPixmap::fromImage(image);
}

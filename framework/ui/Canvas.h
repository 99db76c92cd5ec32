#pragma once

#include "vorwidgets_export.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>

class QPainter;

// Olive, the transparency key of the family's bitmaps.
inline const QColor clOlive{128, 128, 0};
inline const QColor clGreen{0, 128, 0};
inline const QColor clGray{128, 128, 128};

struct TBrush
{
    QColor Color;
};

struct TCanvasFont
{
    QColor Color;
    QFont Font;
};

// Drawing surface of one owner-drawn cell: Brush.Color and Font.Color are read
// and set freely and apply to the next operation.
class VORWIDGETS_EXPORT TCanvas
{
public:
    explicit TCanvas(QPainter *painter);

    TBrush Brush;
    TCanvasFont Font;

    void FillRect(const QRect &rect);
    // Text written with its top-left at (x, y), clipped to rect, in Font.
    void TextRect(const QRect &rect, int x, int y, const QString &text);
    void TextOut(int x, int y, const QString &text);
    // Bitmap drawn as it is.
    void Draw(int x, int y, const QPixmap &bitmap);
    // Copies source of bitmap into dest; pixels of the colour transparent
    // (olive by default) take Brush.Color.
    void BrushCopy(const QRect &dest, const QPixmap &bitmap, const QRect &source,
                   const QColor &transparent = clOlive);

    QPainter *painter() const { return m_painter; }

private:
    QPainter *m_painter;
};

// The bitmap with every pixel of the given colour made transparent.
VORWIDGETS_EXPORT QPixmap transparentBitmap(const QPixmap &bitmap, const QColor &transparent = clOlive);

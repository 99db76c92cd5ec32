#pragma once

#include "vorwidgets_export.h"

#include <QLabel>
#include <QPixmap>

// Holds a bitmap (the family's icons are 16x16 with an olive (128,128,0)
// background meant to be drawn transparent; see TCanvas::BrushCopy). Often
// hidden and used only as an image source.
class VORWIDGETS_EXPORT TImage : public QLabel
{
    Q_OBJECT

public:
    explicit TImage(QWidget *parent = nullptr);

    const QPixmap &Picture() const { return m_picture; }
    void SetPicture(const QPixmap &picture);
    int PictureWidth() const { return m_picture.width(); }
    int PictureHeight() const { return m_picture.height(); }

private:
    QPixmap m_picture;
};

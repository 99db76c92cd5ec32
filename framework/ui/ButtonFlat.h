#pragma once

#include "SpeedButton.h"

// The family's flat button with a glyph and a hint.
class VORWIDGETS_EXPORT TButtonFlat : public TSpeedButton
{
    Q_OBJECT

public:
    explicit TButtonFlat(QWidget *parent = nullptr);
};

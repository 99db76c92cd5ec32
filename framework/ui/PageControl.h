#pragma once

#include "vorwidgets_export.h"

#include <QTabWidget>

// Page control; each page is a plain QWidget (TTabSheet).
class VORWIDGETS_EXPORT TPageControl : public QTabWidget
{
    Q_OBJECT

public:
    explicit TPageControl(QWidget *parent = nullptr);
};

class VORWIDGETS_EXPORT TTabSheet : public QWidget
{
    Q_OBJECT

public:
    explicit TTabSheet(QWidget *parent = nullptr);
    TTabSheet(TPageControl *pageControl, const QString &caption);
};

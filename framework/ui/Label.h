#pragma once

#include "vorwidgets_export.h"

#include <QLabel>

// Static text.
class VORWIDGETS_EXPORT TLabel : public QLabel
{
    Q_OBJECT

public:
    explicit TLabel(QWidget *parent = nullptr);
    explicit TLabel(const QString &caption, QWidget *parent = nullptr);

    QString Caption() const { return text(); }
    void SetCaption(const QString &caption) { setText(caption); }
};

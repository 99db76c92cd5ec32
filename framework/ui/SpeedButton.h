#pragma once

#include "Events.h"

#include <QPixmap>
#include <QToolButton>

// Flat tool button that takes no focus (so pressing it does not move the
// active control), unless its form makes it a Tab stop. Glyph: a bitmap whose
// bottom-left pixel colour (olive in the family's pictures) is transparent;
// with NumGlyphs 2 the right half is the disabled image.
class VORWIDGETS_EXPORT TSpeedButton : public QToolButton
{
    Q_OBJECT

public:
    explicit TSpeedButton(QWidget *parent = nullptr);

    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString &hint) { setToolTip(hint); }
    QString Caption() const { return text(); }
    void SetCaption(const QString &caption);
    const QPixmap &Glyph() const { return m_glyph; }
    void SetGlyph(const QPixmap &glyph, int numGlyphs = 1);
    bool Visible() const { return isVisible(); }
    void SetVisible(bool visible) { setVisible(visible); }
    void Click();                    // as if pressed: runs OnClick when enabled

    TNotifyEvent OnClick;

protected:
    // A button that shows only a glyph is named by its hint for screen
    // readers and UI automation, unless it was given a name of its own.
    bool event(QEvent *event) override;
    // A flat button shows nothing of the keyboard focus (where a form makes it
    // a Tab stop): it is framed while it has it.
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_glyph;
    bool m_nameFromHint = false;
};

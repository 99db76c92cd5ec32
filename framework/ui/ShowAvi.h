#pragma once

#include "vorwidgets_export.h"

#include <QString>

class QWidget;

// Busy window of the family: modeless, over the given form (centred on it),
// with an animation and a caption. Shows nest: each ActiveShowAvi needs one
// DeactiveShowAvi; the window goes when the last show is matched. It appears
// only if still wanted after ~150 ms (short calls do not flicker) and keeps
// animating under a local event loop that excludes user input.
// kind: 1 processing, 6 reading from the server; others a generic wait. An
// empty caption takes the kind's default text. A nested show updates the caption.
VORWIDGETS_EXPORT void ActiveShowAvi(QWidget *form, int kind, const QString &caption = {});
VORWIDGETS_EXPORT void DeactiveShowAvi();

// For tests and diagnostics: open shows, and the window once it has appeared.
VORWIDGETS_EXPORT int ShowAviDepth();
VORWIDGETS_EXPORT QWidget *ShowAviWindow();
// Delay before the window appears (ms); default 150.
VORWIDGETS_EXPORT void SetShowAviDelay(int milliseconds);

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

// One show for the life of a scope: ActiveShowAvi now, DeactiveShowAvi on
// every way out, a failure's included, so no handler leaves the window up.
class VORWIDGETS_EXPORT ShowAviScope
{
public:
    ShowAviScope(QWidget *form, int kind, const QString &caption = {});
    ~ShowAviScope();
    ShowAviScope(const ShowAviScope &) = delete;
    ShowAviScope &operator=(const ShowAviScope &) = delete;
};

// A message box shown while a show is open (a failure reported before the
// handler's clean-up closes the animation) must not sit under the busy window:
// while a pause lives the window is hidden and its delayed appearance held
// back; when the last pause ends and a show is still open, it comes back after
// the usual delay (so a clean-up that follows at once shows nothing).
class VORWIDGETS_EXPORT ShowAviPause
{
public:
    ShowAviPause();
    ~ShowAviPause();
    ShowAviPause(const ShowAviPause &) = delete;
    ShowAviPause &operator=(const ShowAviPause &) = delete;
};

// For tests and diagnostics: open shows, and the window once it has appeared.
VORWIDGETS_EXPORT int ShowAviDepth();
VORWIDGETS_EXPORT QWidget *ShowAviWindow();
// Delay before the window appears (ms); default 150.
VORWIDGETS_EXPORT void SetShowAviDelay(int milliseconds);

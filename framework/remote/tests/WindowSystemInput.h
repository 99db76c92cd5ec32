#pragma once

// Qt's own entry for queueing input the way the platform plugin does (the
// header lives among Qt's private ones, which Debian does not install). Input
// queued here is what a real key press becomes; a loop run with
// ExcludeUserInputEvents must leave it queued.
#include <QEvent>
#include <QString>
#include <QtGui/qtguiglobal.h>

class QWindow;

class Q_GUI_EXPORT QWindowSystemInterface
{
public:
    struct AsynchronousDelivery {};
    template<typename Delivery>
    static bool handleKeyEvent(QWindow *window, QEvent::Type t, int k, Qt::KeyboardModifiers mods,
                               const QString &text = QString(), bool autorep = false, ushort count = 1);
};

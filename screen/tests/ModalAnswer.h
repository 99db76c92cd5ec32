#pragma once

#include <QApplication>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs an action on the next modal window that the predicate accepts, from
// inside that window's own event loop.
class ModalAnswer : public QObject
{
public:
    using Action = std::function<void(QWidget *)>;
    ModalAnswer(std::function<bool(QWidget *)> accepts, Action action)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this, accepts, action] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || !accepts(modal))
                return;
            m_timer.stop();
            shown = true;
            title = modal->windowTitle();
            action(modal);
        });
        m_timer.start();
    }
    bool shown = false;
    QString title;

private:
    QTimer m_timer;
};

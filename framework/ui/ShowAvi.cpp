#include "ShowAvi.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// Rotating spokes, driven by a timer so it turns under any event loop.
class Spinner final : public QWidget
{
public:
    explicit Spinner(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(40, 40);
        m_timer.setInterval(80);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 12;
            update();
        });
        m_timer.start();
    }
    int step() const { return m_step; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(width() / 2.0, height() / 2.0);
        for (int i = 0; i < 12; ++i) {
            QColor c = palette().color(QPalette::WindowText);
            c.setAlphaF(0.15 + 0.85 * ((12 + i - m_step) % 12) / 11.0);
            p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(0, -9), QPointF(0, -17));
            p.rotate(30);
        }
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

class BusyWindow final : public QWidget
{
public:
    explicit BusyWindow(QWidget *parent)
        : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    {
        setObjectName(QStringLiteral("ShowAviWindow"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setAutoFillBackground(true);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(16, 12, 16, 12);
        layout->addWidget(new Spinner(this), 0, Qt::AlignHCenter);
        m_caption = new QLabel(this);
        m_caption->setAlignment(Qt::AlignCenter);
        layout->addWidget(m_caption);
        setMinimumWidth(220);
    }
    void setCaption(const QString &text) { m_caption->setText(text); }

private:
    QLabel *m_caption;
};

struct AviState
{
    int depth = 0;
    QPointer<QWidget> form;
    QString caption;
    QPointer<BusyWindow> window;
    QPointer<QTimer> delay;
    int delayMs = 150;
    int paused = 0;
};

AviState &state()
{
    static AviState s;
    return s;
}

QString captionFor(int kind, const QString &caption)
{
    if (!caption.isEmpty())
        return caption;
    switch (kind) {
    case 1: return QStringLiteral("Processando...");
    case 6: return QStringLiteral("Buscando dados no servidor...");
    default: return QStringLiteral("Aguarde...");
    }
}

void placeWindow(BusyWindow *window, QWidget *form)
{
    window->adjustSize();
    QRect area;
    if (form && form->isVisible())
        area = QRect(form->mapToGlobal(QPoint(0, 0)), form->size());
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    QRect r = window->rect();
    r.moveCenter(area.center());
    window->move(r.topLeft());
}

void appear()
{
    AviState &s = state();
    if (s.depth == 0 || s.paused > 0)
        return;
    if (!s.window) {
        QWidget *parent = s.form ? s.form->window() : nullptr;
        s.window = new BusyWindow(parent);
    }
    s.window->setCaption(s.caption);
    placeWindow(s.window, s.form);
    s.window->show();
    s.window->raise();
}

void armDelay()
{
    AviState &s = state();
    if (!s.delay) {
        s.delay = new QTimer();
        s.delay->setSingleShot(true);
        QObject::connect(s.delay.data(), &QTimer::timeout, s.delay.data(), &appear);
    }
    if (s.delayMs <= 0) {
        appear();
        return;
    }
    if (!s.delay->isActive())
        s.delay->start(s.delayMs);
}

} // namespace

void ActiveShowAvi(QWidget *form, int kind, const QString &caption)
{
    AviState &s = state();
    ++s.depth;
    s.caption = captionFor(kind, caption);
    if (s.depth == 1)
        s.form = form;
    if (s.window) {
        s.window->setCaption(s.caption);
        return;
    }
    armDelay();
}

void DeactiveShowAvi()
{
    AviState &s = state();
    if (s.depth == 0)
        return; // an unmatched hide is harmless
    if (--s.depth > 0)
        return;
    if (s.delay)
        s.delay->stop();
    if (s.window) {
        s.window->hide();
        s.window->deleteLater();
        s.window = nullptr;
    }
    s.form = nullptr;
}

ShowAviPause::ShowAviPause()
{
    AviState &s = state();
    ++s.paused;
    if (s.delay)
        s.delay->stop();
    if (s.window)
        s.window->hide();
}

ShowAviPause::~ShowAviPause()
{
    AviState &s = state();
    if (--s.paused > 0 || s.depth == 0)
        return;
    armDelay();
}

int ShowAviDepth()
{
    return state().depth;
}

QWidget *ShowAviWindow()
{
    return state().window;
}

void SetShowAviDelay(int milliseconds)
{
    state().delayMs = milliseconds;
}

ShowAviScope::ShowAviScope(QWidget *form, int kind, const QString &caption)
{
    ActiveShowAvi(form, kind, caption);
}

ShowAviScope::~ShowAviScope()
{
    DeactiveShowAvi();
}

// What assistive tools read of a form as a whole. Qt reports a plain widget
// as a client area (a "filler" to screen readers), whatever its window type:
// a form shown as a dialog would not be announced as one, nor by its caption.
#include "Form.h"

#include <QAccessibleWidget>

namespace {

class FormAccessible final : public QAccessibleWidget
{
public:
    explicit FormAccessible(QWidget *form)
        : QAccessibleWidget(form)
    {
    }

    // Computed on each query: Qt keeps one interface for the form's life,
    // and ShowModal makes a form a dialog only when it is shown.
    QAccessible::Role role() const override
    {
        const QWidget *form = widget();
        if (!form->isWindow())
            return QAccessible::Client;   // an MDI child: its sub-window is the window
        if (form->windowType() == Qt::Dialog || form->isModal())
            return QAccessible::Dialog;
        return QAccessible::Window;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.modal = widget()->isModal();
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        const QWidget *form = widget();
        if (t == QAccessible::Name && form->isWindow() && form->accessibleName().isEmpty())
            return form->windowTitle();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *formAccessibleFactory(const QString &className, QObject *object)
{
    // Asked from the most derived class up: every form reaches "TForm".
    if (className == QLatin1String("TForm") && object && object->isWidgetType())
        return new FormAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

void installFormAccessibleFactory()
{
    QAccessible::installFactory(formAccessibleFactory);
}

} // namespace

// In place as soon as the library is loaded, before any form is asked about.
Q_CONSTRUCTOR_FUNCTION(installFormAccessibleFactory)

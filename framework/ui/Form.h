#pragma once

#include "Events.h"

#include <QFont>
#include <QPointer>
#include <QWidget>

#include <QEventLoop>
#include <QMdiSubWindow>

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild };
// Modal results; ModalResult != mrNone ends ShowModal.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Base of every form. Created through Application::CreateForm (which runs
// FormCreate once). An MDI child (FormStyle fsMDIChild) lives in the main
// form's QMdiArea, one sub-window per form, reused when shown again.
class VORWIDGETS_EXPORT TForm : public QWidget
{
    Q_OBJECT

public:
    explicit TForm(QWidget *parent = nullptr);
    ~TForm() override;

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString &caption) { setWindowTitle(caption); }

    TFormStyle FormStyle() const { return m_formStyle; }
    void SetFormStyle(TFormStyle style);

    void Show();
    int ShowModal();                 // runs until ModalResult is set or the form closes
    void Close();                    // runs FormClose (even when hidden), then applies the action
    bool Visible() const;
    void SetVisible(bool visible);   // false hides without running FormClose

    int ModalResult() const { return m_modalResult; }
    void SetModalResult(int result); // non-zero while modal ends ShowModal

    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);

    QWidget *ActiveControl() const;  // focused (or last focused) control inside the form
    void SetActiveControl(QWidget *control);

    QMdiSubWindow *SubWindow() const { return m_subWindow; }

    // The interface font every form starts with: the one its designed
    // positions and column widths were measured for.
    static QFont FamilyFont();
    static constexpr int kFamilyFontPixels = 10;

    // Overridable handlers (Sender is the form).
    virtual void FormCreate(QObject *sender);
    virtual void FormClose(QObject *sender, TCloseAction &action);
    virtual void FormActivate(QObject *sender);
    virtual void FormShow(QObject *sender);

    // Run by Application after construction; not for screens.
    void runFormCreate();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    bool applyClose();               // true when the form may really close
    void ensureSubWindow();
    void onSubWindowActivated(QMdiSubWindow *window);

    TFormStyle m_formStyle = fsNormal;
    QPointer<QMdiSubWindow> m_subWindow;
    QPointer<QEventLoop> m_modalLoop;
    int m_modalResult = mrNone;
    bool m_closing = false;
    bool m_created = false;
};

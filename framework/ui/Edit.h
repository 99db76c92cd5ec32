#pragma once

#include "FocusTracker.h"

#include <QLineEdit>

// Edit box. OnChange runs only when the text really changes (typing or SetText);
// OnKeyPress gets the typed character by reference (replace it, or QChar() to
// refuse it); OnExit/OnEnter as FocusEvents says (an exception in OnExit keeps
// the focus here).
class VORWIDGETS_EXPORT TEdit : public QLineEdit, public FocusEvents
{
    Q_OBJECT

public:
    explicit TEdit(QWidget *parent = nullptr);

    QString Text() const { return text(); }
    void SetText(const QString &text);
    int MaxLength() const { return maxLength(); }
    void SetMaxLength(int length);       // 0 = no limit
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool readOnly) { setReadOnly(readOnly); }
    void SetFocus();
    void SelectAll() { selectAll(); }

    TNotifyEvent OnChange;
    TKeyPressEvent OnKeyPress;
    TKeyEvent OnKeyDown;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onTextChanged(const QString &text);
    QString m_lastText;
};

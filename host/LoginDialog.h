#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;

// Asks operator and password and checks them against the server's session
// endpoint; stays open with the reason until a login succeeds or the user cancels.
class LoginDialog final : public QDialog
{
    Q_OBJECT

public:
    LoginDialog(const QString &host, int port, const QString &operatorCode, QWidget *parent = nullptr);

    QString operatorName() const { return m_operatorName; }
    QLineEdit *operatorEdit() const { return m_operator; }
    QLineEdit *passwordEdit() const { return m_password; }
    QLabel *errorLabel() const { return m_error; }

    void accept() override;

    // Logs in again after the server forgot the session (it restarted, or the
    // session idled out): silently when the password is known, else through
    // the dialog with the operator fixed, since the open screens hold that
    // operator's work. True once a new session is open.
    static bool renewSession(QWidget *parent, const QString &host, int port, const QString &operatorCode,
                             const QString &knownPassword);

private:
    QString m_host;
    int m_port;
    QString m_operatorName;
    QLineEdit *m_operator;
    QLineEdit *m_password;
    QLabel *m_error;
};

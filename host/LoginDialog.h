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

private:
    QString m_host;
    int m_port;
    QString m_operatorName;
    QLineEdit *m_operator;
    QLineEdit *m_password;
    QLabel *m_error;
};

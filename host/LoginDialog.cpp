#include "LoginDialog.h"

#include "Guard.h"
#include "Services.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

LoginDialog::LoginDialog(const QString &host, int port, const QString &operatorCode, QWidget *parent)
    : QDialog(parent)
    , m_host(host)
    , m_port(port)
    , m_operator(new QLineEdit(operatorCode, this))
    , m_password(new QLineEdit(this))
    , m_error(new QLabel(this))
{
    setObjectName(QStringLiteral("frmLogin"));
    setWindowTitle(QStringLiteral("Entrada no sistema"));
    m_operator->setObjectName(QStringLiteral("edtOperador"));
    m_operator->setMaxLength(12);
    m_password->setObjectName(QStringLiteral("edtSenha"));
    m_password->setEchoMode(QLineEdit::Password);
    m_error->setObjectName(QStringLiteral("lblErro"));
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: #b00020;"));
    m_error->hide();

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Servidor:"), new QLabel(QStringLiteral("%1:%2").arg(host).arg(port), this));
    form->addRow(QStringLiteral("&Operador:"), m_operator);
    form->addRow(QStringLiteral("&Senha:"), m_password);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Entrar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { runGuarded([this] { accept(); }); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { runGuarded([this] { reject(); }); });

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_error);
    layout->addWidget(buttons);

    // Wide enough for its title in the window's title bar.
    setMinimumWidth(qMax(360, fontMetrics().horizontalAdvance(windowTitle()) * 2 + 120));

    if (operatorCode.isEmpty())
        m_operator->setFocus();
    else
        m_password->setFocus();
}

void LoginDialog::accept()
{
    QString error;
    m_error->hide();
    setEnabled(false);
    const bool ok = login(m_host, m_port, m_operator->text().trimmed(), m_password->text(), &error, &m_operatorName);
    setEnabled(true);
    if (!ok) {
        m_error->setText(error);
        m_error->show();
        m_password->selectAll();
        m_password->setFocus();
        return;
    }
    QDialog::accept();
}

bool LoginDialog::renewSession(QWidget *parent, const QString &host, int port, const QString &operatorCode,
                               const QString &knownPassword)
{
    if (!knownPassword.isEmpty() && login(host, port, operatorCode, knownPassword, nullptr))
        return true;
    LoginDialog dialog(host, port, operatorCode, parent);
    dialog.m_operator->setReadOnly(true);
    dialog.m_error->setText(QStringLiteral("A sessão com o servidor terminou. Informe a senha para continuar."));
    dialog.m_error->show();
    return dialog.exec() == QDialog::Accepted;
}

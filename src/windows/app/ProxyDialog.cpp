#include "windows/app/ProxyDialog.h"

#include "client/app/AppInfo.h"
#include "windows/app/DialogServices.h"
#include "client/login/SettingsStore.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ProxyDialog::ProxyDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ProxyDialog"));
    setWindowTitle(QStringLiteral("Proxy - %1").arg(QString::fromUtf8(AppInfo::Title)));

    m_cboType = new QComboBox(this);
    m_cboType->setObjectName(QStringLiteral("cboType"));
    m_cboType->addItem(QStringLiteral("No proxy"), int(HTTPProxySettings::None));
    m_cboType->addItem(QStringLiteral("HTTP"), int(HTTPProxySettings::Http));
    m_cboType->addItem(QStringLiteral("SOCKS5"), int(HTTPProxySettings::Socks5));

    m_txtHost = new QLineEdit(this);
    m_txtHost->setObjectName(QStringLiteral("txtHost"));
    m_txtPort = new QSpinBox(this);
    m_txtPort->setObjectName(QStringLiteral("txtPort"));
    m_txtPort->setRange(0, 65535);
    m_txtUser = new QLineEdit(this);
    m_txtUser->setObjectName(QStringLiteral("txtUser"));
    m_txtPassword = new QLineEdit(this);
    m_txtPassword->setObjectName(QStringLiteral("txtPassword"));
    m_txtPassword->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Type:"), m_cboType);
    form->addRow(QStringLiteral("&Host:"), m_txtHost);
    form->addRow(QStringLiteral("&Port:"), m_txtPort);
    form->addRow(QStringLiteral("&User:"), m_txtUser);
    form->addRow(QStringLiteral("Pass&word:"), m_txtPassword);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(m_cboType, &QComboBox::currentIndexChanged, this, &ProxyDialog::UpdateControls);
    UpdateControls();
}

void ProxyDialog::setSettings(const HTTPProxySettings &settings)
{
    m_cboType->setCurrentIndex(qMax(0, m_cboType->findData(int(settings.kind))));
    m_txtHost->setText(settings.host);
    m_txtPort->setValue(settings.port);
    m_txtUser->setText(settings.user);
    m_txtPassword->setText(settings.password);
    UpdateControls();
}

HTTPProxySettings ProxyDialog::settings() const
{
    HTTPProxySettings result;
    result.kind = HTTPProxySettings::Kind(m_cboType->currentData().toInt());
    result.host = m_txtHost->text().trimmed();
    result.port = m_txtPort->value();
    result.user = m_txtUser->text();
    result.password = m_txtPassword->text();
    return result;
}

void ProxyDialog::UpdateControls()
{
    const bool useProxy = m_cboType->currentData().toInt() != int(HTTPProxySettings::None);
    m_txtHost->setEnabled(useProxy);
    m_txtPort->setEnabled(useProxy);
    m_txtUser->setEnabled(useProxy);
    m_txtPassword->setEnabled(useProxy);
}

void ShowProxyDialog(QWidget *parent, SettingsStore &settings)
{
    HTTPProxySettings proxy = HTTPProxySettings::Loaded(settings);
    ProxyDialog dialog(parent);
    dialog.setSettings(proxy);
    if (dialog.exec() == QDialog::Accepted)
        proxy = dialog.settings();
    // Cancel leaves the loaded values, saved back unchanged.
    QString error;
    if (!proxy.SaveSettings(settings, QString::fromLatin1(SettingKeys::ProxySection), &error))
        dialogs().critical(QStringLiteral("Can't save the proxy settings.") + QStringLiteral("\r\n\r\n") + error);
}

#pragma once
#include <QDialog>

#include "client/net/HTTPProxySettings.h"

class QComboBox;
class QLineEdit;
class QSpinBox;
class SettingsStore;

// Edits the user's proxy: none, HTTP or SOCKS5, with host, port and credentials.
class ProxyDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProxyDialog)

public:
    explicit ProxyDialog(QWidget *parent = nullptr);

    void setSettings(const HTTPProxySettings &settings);
    HTTPProxySettings settings() const;

private:
    void UpdateControls();

    QComboBox *m_cboType = nullptr;
    QLineEdit *m_txtHost = nullptr;
    QSpinBox *m_txtPort = nullptr;
    QLineEdit *m_txtUser = nullptr;
    QLineEdit *m_txtPassword = nullptr;
};

// Edits the proxy settings of the section "HTTP Proxy" and writes the store;
// requests use them from then on.
void ShowProxyDialog(QWidget *parent, SettingsStore &settings);

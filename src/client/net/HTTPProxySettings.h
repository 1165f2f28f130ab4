#pragma once
#include <QString>

#include "client/login/SettingKeys.h"

class QNetworkProxy;
class SettingsStore;

// The user's proxy, kept in the settings section "HTTP Proxy"; its password
// in the secret store.
class HTTPProxySettings
{
public:
    enum Kind { None, Http, Socks5 };

    Kind kind = None;
    QString host;
    int port = 0;
    QString user;
    QString password;

    // Every field, the password too.
    void LoadSettings(const SettingsStore &store, const QString &section = QString::fromLatin1(SettingKeys::ProxySection));
    // The proxy as the store holds it now (the proxy dialog may have changed
    // it), for a request: the password is read only when there is a proxy.
    static HTTPProxySettings Loaded(const SettingsStore &store);
    // Sets the values in the store and writes it; false (with the reason)
    // when the store can't be written or the password can't be kept.
    bool SaveSettings(SettingsStore &store, const QString &section = QString::fromLatin1(SettingKeys::ProxySection),
                      QString *error = nullptr) const;
    QNetworkProxy toNetworkProxy() const;

private:
    void loadFields(const SettingsStore &store, const QString &section, bool withPassword);
};

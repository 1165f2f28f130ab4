#pragma once
#include <QString>

#include "client/login/SettingKeys.h"

class QNetworkProxy;
class SettingsStore;

// The user's proxy, kept in the settings section "HTTP Proxy".
class HTTPProxySettings
{
public:
    enum Kind { None, Http, Socks5 };

    Kind kind = None;
    QString host;
    int port = 0;
    QString user;
    QString password;

    void LoadSettings(const SettingsStore &store, const QString &section = QString::fromLatin1(SettingKeys::ProxySection));
    // The proxy as the store holds it now (the proxy dialog may have changed it).
    static HTTPProxySettings Loaded(const SettingsStore &store);
    // Sets the values in the store and writes it; false when the store can't be written.
    bool SaveSettings(SettingsStore &store, const QString &section = QString::fromLatin1(SettingKeys::ProxySection)) const;
    QNetworkProxy toNetworkProxy() const;

};

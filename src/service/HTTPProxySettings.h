#pragma once
#include <QString>

class QNetworkProxy;
class QWidget;

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

    void LoadSettings(const QString &section = QStringLiteral("HTTP Proxy"));
    bool SaveSettings(const QString &section = QStringLiteral("HTTP Proxy")) const; // false when the store can't be written
    bool ShowDialog(QWidget *parent = nullptr); // true on OK
    QNetworkProxy toNetworkProxy() const;
};

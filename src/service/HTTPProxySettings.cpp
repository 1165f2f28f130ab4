#include "service/HTTPProxySettings.h"

#include "app/AppConfig.h"
#include "service/ProxyDialog.h"

#include <QNetworkProxy>
#include <QSettings>

namespace {
QString kindName(HTTPProxySettings::Kind kind)
{
    switch (kind) {
    case HTTPProxySettings::Http:
        return QStringLiteral("HTTP");
    case HTTPProxySettings::Socks5:
        return QStringLiteral("SOCKS5");
    case HTTPProxySettings::None:
        break;
    }
    return QStringLiteral("None");
}

HTTPProxySettings::Kind kindFromName(const QString &name)
{
    if (name.compare(QLatin1String("HTTP"), Qt::CaseInsensitive) == 0)
        return HTTPProxySettings::Http;
    if (name.compare(QLatin1String("SOCKS5"), Qt::CaseInsensitive) == 0)
        return HTTPProxySettings::Socks5;
    return HTTPProxySettings::None;
}
}

void HTTPProxySettings::LoadSettings(const QString &section)
{
    // A missing or broken section reads as "no proxy": requests must still go out.
    *this = HTTPProxySettings();
    auto settings = AppConfig::openSettings();
    settings->beginGroup(section);
    kind = kindFromName(settings->value(QStringLiteral("Type")).toString());
    host = settings->value(QStringLiteral("Host")).toString().trimmed();
    bool ok = false;
    port = settings->value(QStringLiteral("Port")).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        port = 0;
    user = settings->value(QStringLiteral("User")).toString();
    password = settings->value(QStringLiteral("Password")).toString();
    settings->endGroup();
}

bool HTTPProxySettings::SaveSettings(const QString &section) const
{
    auto settings = AppConfig::openSettings();
    settings->beginGroup(section);
    settings->setValue(QStringLiteral("Type"), kindName(kind));
    settings->setValue(QStringLiteral("Host"), host);
    settings->setValue(QStringLiteral("Port"), port);
    settings->setValue(QStringLiteral("User"), user);
    settings->setValue(QStringLiteral("Password"), password);
    settings->endGroup();
    settings->sync();
    return settings->status() == QSettings::NoError;
}

bool HTTPProxySettings::ShowDialog(QWidget *parent)
{
    ProxyDialog dialog(parent);
    dialog.setSettings(*this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *this = dialog.settings();
    return true;
}

QNetworkProxy HTTPProxySettings::toNetworkProxy() const
{
    if (kind == None || host.isEmpty() || port <= 0)
        return QNetworkProxy(QNetworkProxy::NoProxy);
    QNetworkProxy proxy(kind == Http ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy, host,
                        quint16(port), user, password);
    return proxy;
}

#include "client/net/HTTPProxySettings.h"

#include "client/login/SettingKeys.h"
#include "client/login/SettingsStore.h"

#include <QNetworkProxy>

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

// Where the password of the proxy of section is kept.
SecretValue passwordOf(const QString &section)
{
    SecretValue secret = SettingKeys::secretValue(Setting::ProxyPassword);
    if (section != QLatin1String(SettingKeys::ProxySection)) {
        secret.secretName += QStringLiteral(" of ") + section;
        secret.fileKey = section + u'/' + SettingKeys::name(Setting::ProxyPassword);
    }
    return secret;
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

void HTTPProxySettings::LoadSettings(const SettingsStore &store, const QString &section)
{
    loadFields(store, section, true);
}

void HTTPProxySettings::loadFields(const SettingsStore &store, const QString &section, bool withPassword)
{
    // A missing or broken section reads as "no proxy": requests must still go out.
    *this = HTTPProxySettings();
    const QString prefix = section + u'/';
    kind = kindFromName(store.GetValue(prefix + SettingKeys::name(Setting::ProxyType)));
    host = store.GetValue(prefix + SettingKeys::name(Setting::ProxyHost)).trimmed();
    bool ok = false;
    port = store.GetValue(prefix + SettingKeys::name(Setting::ProxyPort)).toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        port = 0;
    user = store.GetValue(prefix + SettingKeys::name(Setting::ProxyUser));
    // Without a proxy the secret store is not asked (it may prompt to be unlocked).
    if (withPassword || kind != None)
        password = store.GetSecret(passwordOf(section));
}

bool HTTPProxySettings::SaveSettings(SettingsStore &store, const QString &section, QString *error) const
{
    const QString prefix = section + u'/';
    store.SetValue(prefix + SettingKeys::name(Setting::ProxyType), kindName(kind));
    store.SetValue(prefix + SettingKeys::name(Setting::ProxyHost), host);
    store.SetValue(prefix + SettingKeys::name(Setting::ProxyPort), QString::number(port));
    store.SetValue(prefix + SettingKeys::name(Setting::ProxyUser), user);
    store.SetSecret(passwordOf(section), password);
    return store.flush(error);
}

QNetworkProxy HTTPProxySettings::toNetworkProxy() const
{
    if (kind == None || host.isEmpty() || port <= 0)
        return QNetworkProxy(QNetworkProxy::NoProxy);
    QNetworkProxy proxy(kind == Http ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy, host,
                        quint16(port), user, password);
    return proxy;
}

HTTPProxySettings HTTPProxySettings::Loaded(const SettingsStore &store)
{
    HTTPProxySettings proxy;
    proxy.loadFields(store, QString::fromLatin1(SettingKeys::ProxySection), false);
    return proxy;
}

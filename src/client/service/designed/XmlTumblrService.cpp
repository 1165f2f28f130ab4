#include "client/service/designed/XmlTumblrService.h"

#include "client/login/SettingsStore.h"
#include "client/net/HTTPProxySettings.h"
#include "client/service/designed/SignInRequest.h"
#include "client/service/designed/WritePostRequest.h"
#include "client/service/designed/modTumblrReader.h"

namespace {
QString chosenHost(const QString &given, const SettingsStore &settings, const char *name, const char *fallback)
{
    QString host = given.trimmed();
    if (host.isEmpty())
        host = settings.GetValue(QLatin1String(name)).trimmed();
    return host.isEmpty() ? QString::fromLatin1(fallback) : host;
}
}

XmlTumblrService::XmlTumblrService(const SettingsStore &settings, const QString &serviceHost, const QString &webHost)
    : m_settings(settings),
      m_serviceHost(chosenHost(serviceHost, settings, "Service host", DefaultServiceHost)),
      m_webHost(chosenHost(webHost, settings, "Web host", DefaultWebHost))
{
}

int XmlTumblrService::writesPerMinute() const
{
    if (m_writesPerMinute >= 0)
        return m_writesPerMinute;
    bool ok = false;
    const int perMinute = m_settings.GetValue(QStringLiteral("Writes per minute")).trimmed().toInt(&ok);
    return ok && perMinute > 0 ? perMinute : 0;
}

void XmlTumblrService::setServiceHost(const QString &hostText)
{
    m_serviceHost = chosenHost(hostText, m_settings, "Service host", DefaultServiceHost);
}

void XmlTumblrService::setWebHost(const QString &hostText)
{
    m_webHost = chosenHost(hostText, m_settings, "Web host", DefaultWebHost);
}

SignInResult XmlTumblrService::SignIn(const QString &email, const QString &password, IHTTPRequestCallback *callback)
{
    return SignInRequest::Authenticate(m_serviceHost, HTTPProxySettings::Loaded(m_settings), email, password, callback);
}

PageResult XmlTumblrService::ReadPage(const PageRequest &request, IHTTPRequestCallback *callback)
{
    return modTumblrReader::ReadPostsXML(request, callback, HTTPProxySettings::Loaded(m_settings));
}

PostResult XmlTumblrService::ReadPost(const Account &account, const QString &postId, IHTTPRequestCallback *callback)
{
    return modTumblrReader::ReadOnePost(account, postId, callback, HTTPProxySettings::Loaded(m_settings));
}

WriteResult XmlTumblrService::WritePost(const Account &account, const PostRow &post, const QString &tags,
                                        IHTTPRequestCallback *callback)
{
    return WritePostRequest::SendPost(m_serviceHost, HTTPProxySettings::Loaded(m_settings), account, post, tags, callback);
}

#include "client/service/designed/XmlTumblrService.h"

#include "client/login/SettingKeys.h"
#include "client/login/SettingsStore.h"
#include "client/net/HTTPProxySettings.h"
#include "client/net/HTTPRequest.h"
#include "client/service/designed/SignInRequest.h"
#include "client/service/designed/WritePostRequest.h"
#include "client/service/designed/modTumblrReader.h"

namespace {
QString chosenHost(const QString &given, const SettingsStore &settings, Setting key)
{
    const QString host = given.trimmed();
    return host.isEmpty() ? SettingKeys::trimmed(settings, key) : host;
}
}

XmlTumblrService::XmlTumblrService(const SettingsStore &settings, const QString &serviceHost, const QString &webHost)
    : m_settings(settings),
      m_serviceHost(chosenHost(serviceHost, settings, Setting::ServiceHost)),
      m_webHost(chosenHost(webHost, settings, Setting::WebHost))
{
}

ServiceCapabilities XmlTumblrService::capabilities() const
{
    ServiceCapabilities capabilities;
    capabilities.interface = ServiceInterface::Designed;
    capabilities.postsPerRead = modTumblrReader::PageSize;
    capabilities.callsPerWrite = 2; // the post read by id, then written
    capabilities.writesPerMinute = writesPerMinute();
    capabilities.webHost = m_webHost;
    if (HostTarget::parse(m_serviceHost).inClear())
        capabilities.inClearHost = m_serviceHost;
    capabilities.tagRules = TagRules::designed();
    return capabilities;
}

int XmlTumblrService::writesPerMinute() const
{
    if (m_writesPerMinute >= 0)
        return m_writesPerMinute;
    return SettingKeys::number(m_settings, Setting::WritesPerMinute, ServiceInterface::Designed);
}

void XmlTumblrService::setServiceHost(const QString &hostText)
{
    m_serviceHost = chosenHost(hostText, m_settings, Setting::ServiceHost);
}

void XmlTumblrService::setWebHost(const QString &hostText)
{
    m_webHost = chosenHost(hostText, m_settings, Setting::WebHost);
}

SignInResult XmlTumblrService::signIn(const QString &email, const QString &password, IHTTPRequestCallback *callback)
{
    return SignInRequest::Authenticate(m_serviceHost, HTTPProxySettings::Loaded(m_settings), email, password, callback);
}

PageResult XmlTumblrService::readPage(const PageRequest &request, IHTTPRequestCallback *callback)
{
    return modTumblrReader::ReadPostsXML(request, callback, HTTPProxySettings::Loaded(m_settings));
}

PostResult XmlTumblrService::readPost(const Account &account, const PostRow &post, IHTTPRequestCallback *callback)
{
    return modTumblrReader::ReadOnePost(account, post.id, callback, HTTPProxySettings::Loaded(m_settings));
}

WriteResult XmlTumblrService::writePost(const Account &account, const PostRow &post, const QStringList &tags,
                                        IHTTPRequestCallback *callback)
{
    const HTTPProxySettings proxy = HTTPProxySettings::Loaded(m_settings);
    // A write replaces the whole post: read it just before, so that nothing
    // changed on the web since it was listed is written over.
    const PostResult now = modTumblrReader::ReadOnePost(account, post.id, callback, proxy);
    if (!now.accepted())
        return now;
    if (!now.post)
        return ServiceResult::failure(ServiceResult::Refused, {}, QStringLiteral("The post is no longer on the blog."));
    QStringList changed = changedFields(post, *now.post);
    // Written already (the answer to an earlier attempt never came): nothing to send.
    if (changed.isEmpty() && now.post->tags == tags) {
        WriteResult done = now;
        done.answerLine = QStringLiteral("(the post already had these tags: not written again)");
        return done;
    }
    if (TagRule::tagsChangedSinceListed(post.tags, tags, now.post->tags))
        changed.prepend(QStringLiteral("tags"));
    if (!changed.isEmpty()) {
        return ServiceResult::refusal(
            QStringLiteral("The post changed since it was listed (%1); it was not written. \"Get posts\" lists it "
                           "as it is now.")
                .arg(changed.join(QStringLiteral(", "))));
    }
    return WritePostRequest::SendPost(m_serviceHost, proxy, account, post, tags, callback);
}

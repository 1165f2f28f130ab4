#pragma once
#include "client/service/ITumblrService.h"

class SettingsStore;

// The service's designed XML interface: sign-in and writes on the service
// host, reads on each blog's own host, e-mail and password with every call.
class XmlTumblrService final : public ITumblrService
{
public:
    // The hosts come from the settings "Service host" and "Web host" unless
    // given here (the command line's --service and --web-host).
    explicit XmlTumblrService(const SettingsStore &settings, const QString &serviceHost = {},
                              const QString &webHost = {});

    ServiceCapabilities capabilities() const override;
    SignInResult signIn(const QString &email, const QString &password, IHTTPRequestCallback *callback) override;
    PageResult readPage(const PageRequest &request, IHTTPRequestCallback *callback) override;
    PostResult readPost(const Account &account, const PostRow &post, IHTTPRequestCallback *callback) override;
    WriteResult writePost(const Account &account, const PostRow &post, const QStringList &tags,
                          IHTTPRequestCallback *callback) override;

    QString webHost() const { return m_webHost; }
    // The setting "Writes per minute", unless set for this run.
    int writesPerMinute() const;
    void setWritesPerMinute(int perMinute) { m_writesPerMinute = perMinute; } // < 0: the setting

    QString serviceHost() const { return m_serviceHost; }
    void setServiceHost(const QString &hostText);
    void setWebHost(const QString &hostText);

private:
    const SettingsStore &m_settings; // the proxy is read from it for every request
    QString m_serviceHost;
    QString m_webHost;
    int m_writesPerMinute = -1;
};

#pragma once
#include <QDateTime>
#include <QHash>
#include <QUrl>
#include <functional>
#include <optional>

#include "client/net/HTTPRequest.h"
#include "client/service/ITumblrService.h"
#include "client/service/current/JsonReader.h"

class SecretStore;
class SettingsStore;

// The service's current interface: JSON over https, OAuth 2. The browser
// signs the account in (the authorization code flow, the answer received on
// 127.0.0.1); the account's tokens and the application key are kept in the
// secret store. The e-mail box names the account.
class CurrentTumblrService final : public ITumblrService
{
public:
    // serviceHost: where the API and the authorization page are for this run
    // (a simulator: "127.0.0.1:PORT"); empty: the real service.
    CurrentTumblrService(const SettingsStore &settings, SecretStore &secrets, const QString &serviceHost = {});

    ServiceCapabilities capabilities() const override;
    SignInResult signIn(const QString &email, const QString &password, IHTTPRequestCallback *callback) override;
    PageResult readPage(const PageRequest &request, IHTTPRequestCallback *callback) override;
    PostResult readPost(const Account &account, const QString &postId, IHTTPRequestCallback *callback) override;
    WriteResult writePost(const Account &account, const PostRow &post, const QStringList &tags,
                          IHTTPRequestCallback *callback) override;

    QString editorAddress(const QString &blog, const PostRow &post) const override;
    CallBudget budget() const override { return {m_hourLeft, m_dayLeft}; }
    bool needsApplicationKey() const override;
    QString redirectUrl() const override;
    bool setApplicationKey(const QString &clientId, const QString &secret, QString *error) override;
    QString webHost() const;
    // The setting "Writes per minute", unless set for this run.
    int writesPerMinute() const;
    void setWritesPerMinute(int perMinute) { m_writesPerMinute = perMinute; } // < 0: the setting
    void setWebHost(const QString &hostText) { m_webHost = hostText.trimmed(); } // empty: the setting

    // Where the browser is sent back to: http://127.0.0.1:PORT/callback.
    void setRedirectPort(quint16 port) { m_redirectPort = port; }
    quint16 redirectPort() const { return m_redirectPort; }
    // Opens the authorization page (the desktop's browser unless set).
    using BrowserOpener = std::function<bool(const QUrl &)>;
    void setBrowserOpener(BrowserOpener opener) { m_openBrowser = std::move(opener); }
    // How long the browser may take before the sign-in gives up.
    void setBrowserWaitSeconds(int seconds) { m_browserWaitSeconds = seconds; }

    QString apiHost() const { return m_apiHost; }
    // After each accepted write the post is read back and compared with what
    // it was (one more call a post); on unless the setting "Verify writes" is "no".
    bool verifiesWrites() const;
    void setVerifyWrites(bool verify) { m_verify = verify; }

    static constexpr quint16 DefaultRedirectPort = 47321;
    static constexpr auto DefaultApiHost = "https://api.tumblr.com";
    static constexpr auto DefaultAuthorizationHost = "https://www.tumblr.com";
    static constexpr int PostsPerRequest = 20;
    static constexpr int CallsPerWrite = 3; // read, write, read back

private:
    struct AppKey {
        QString clientId;
        QString secret;
    };
    struct Tokens {
        QString access;
        QString refresh;
        QDateTime expiresAt;
    };
    struct ApiAnswer : ServiceResult {
        JsonReader::Envelope envelope;
        QByteArray body; // the answer as received
    };
    struct Call {
        QString method = QStringLiteral("GET");
        QString pathAndQuery;
        HTTPFormData form;
        QByteArray json; // sent as application/json when set
    };

    std::optional<AppKey> appKey() const;
    Tokens tokens(const QString &account);
    bool keepTokens(const QString &account, const Tokens &tokens, QString *error);
    ServiceResult refresh(const QString &account, IHTTPRequestCallback *callback);
    ServiceResult authorizeInBrowser(const QString &account, IHTTPRequestCallback *callback);
    ApiAnswer call(const QString &account, const QString &pathAndQuery, IHTTPRequestCallback *callback);
    ApiAnswer call(const QString &account, const Call &request, IHTTPRequestCallback *callback);
    void noteLimits(const HTTPResult &answer);
    ApiAnswer readPhotoPosts(const PageRequest &request, IHTTPRequestCallback *callback);
    ApiAnswer readNpf(const Account &account, const QString &postId, IHTTPRequestCallback *callback);
    static QString blogPath(const QString &blog);

    const SettingsStore &m_settings;
    SecretStore &m_secrets;
    QString m_apiHost;
    QString m_authorizationHost;
    quint16 m_redirectPort = DefaultRedirectPort;
    BrowserOpener m_openBrowser;
    int m_browserWaitSeconds = 600;
    int m_writesPerMinute = -1;
    QString m_webHost;
    mutable std::optional<AppKey> m_appKey;
    QHash<QString, Tokens> m_tokens; // by account, once read or received
    std::optional<bool> m_verify;    // set for this run; none: the setting
    std::optional<int> m_hourLeft;   // calls left, as the last answer said
    std::optional<int> m_dayLeft;
};

#pragma once
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
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
    PostResult readPost(const Account &account, const PostRow &post, IHTTPRequestCallback *callback) override;
    WriteResult writePost(const Account &account, const PostRow &post, const QStringList &tags,
                          IHTTPRequestCallback *callback) override;
    ServiceResult beginRun(const Account &account, IHTTPRequestCallback *callback) override;
    WriteResult settleWrites(const Account &account, IHTTPRequestCallback *callback) override;
    int uncheckedWrites() const override { return int(m_pending.size()); }
    double callsToWrite(const PostRow &post) const override;

    QString editorAddress(const QString &blog, const PostRow &post) const override;
    CallBudget budget() const override;
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
    static constexpr int CallsPerWrite = 3; // at most: a read, the write, a read back
    // A post's state a write rests on is never older than this when the
    // write goes out (the service's answer takes a few seconds at most of
    // the minute allowed).
    static constexpr qint64 FreshMs = 50 * 1000;
    // Written posts waiting for their shared read-back are read back when
    // the oldest was written this long ago.
    static constexpr qint64 CheckWithinMs = 2 * 60 * 1000;
    // Members the service changes by itself between two reads, never compared.
    static const QStringList &UncomparedMembers();

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
        HTTPResult http; // the exchange, headers and all
    };
    struct Call {
        QString method = QStringLiteral("GET");
        QString pathAndQuery;
        HTTPFormData form;
        QByteArray json;    // sent as application/json when set
        bool replay = true; // sent again after a wait the service asks for; false: the caller decides
    };
    // The two forms a post is read in: each post is compared in its own.
    enum Form { Legacy, Npf };
    struct PostState {
        QJsonObject post;
        QByteArray text; // the post's bytes as received (one-post reads only)
        qint64 readAtMs = 0;
    };
    struct Listed {
        bool blocks = false;
        std::optional<qint64> timestamp;
    };
    // A write accepted, its read-back still due.
    struct Pending {
        PostRow post;
        QStringList tags;
        QJsonObject basis; // the state it rested on, in its own form
        Form form = Legacy;
        qint64 writtenAtMs = 0;
    };

    std::optional<AppKey> appKey() const;
    Tokens tokens(const QString &account);
    bool keepTokens(const QString &account, const Tokens &tokens, QString *error);
    ServiceResult refresh(const QString &account, IHTTPRequestCallback *callback);
    ServiceResult authorizeInBrowser(const QString &account, IHTTPRequestCallback *callback);
    ApiAnswer call(const QString &account, const QString &pathAndQuery, IHTTPRequestCallback *callback);
    ApiAnswer call(const QString &account, const Call &request, IHTTPRequestCallback *callback);
    void noteLimits(const HTTPResult &answer);
    ServiceResult ensureBudget(int calls, IHTTPRequestCallback *callback);
    ApiAnswer readPhotoPosts(const PageRequest &request, IHTTPRequestCallback *callback);
    void notePosts(const QJsonValue &posts, Form form);
    ApiAnswer readWindow(const Account &account, Form form, qint64 timestamp, IHTTPRequestCallback *callback);
    ApiAnswer readOne(const Account &account, const QString &postId, Form form, IHTTPRequestCallback *callback);
    std::optional<PostState> freshState(const QString &postId, Form form, qint64 since = -1) const;
    std::optional<qint64> timestampOf(const PostRow &post) const;
    // The written posts of that form are read back now: the first of a run,
    // the oldest written long ago, or one read of the list could no longer
    // hold them and `next`, the post about to be written.
    bool due(Form form, const PostRow *next) const;
    // Posts of the list read in that form from `newest` back to `oldest`, both included.
    int postsBetween(Form form, qint64 newest, qint64 oldest) const;
    void noteListed(const QString &postId, const QJsonObject &post);
    WriteResult checkPending(const Account &account, Form form, const PostRow *alsoFor, IHTTPRequestCallback *callback);
    qint64 nowMs() const { return m_clock.elapsed(); }
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
    std::optional<int> m_hourLimit, m_dayLimit;
    std::optional<qint64> m_hourResetAtMs, m_dayResetAtMs;

    QElapsedTimer m_clock;
    QHash<QString, Listed> m_listed;     // by post id, from every read of the posts list
    QHash<QString, PostState> m_states[2]; // by form, then post id: the last read of each post
    std::vector<Pending> m_pending;      // in the order written
    // The listed posts by time, newest first, with how many of each form
    // come before each: how many a read of the list from one post holds.
    struct Timeline {
        std::vector<qint64> times;      // descending
        std::vector<int> legacyBefore;  // legacy posts before index i
        int blocks = 0;                 // posts of the new editor in all
    };
    const Timeline &timeline() const;
    mutable std::optional<Timeline> m_timeline; // none: to be built again
    bool m_firstChecked = false;         // the run's first write was read back
};

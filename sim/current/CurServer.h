#pragma once
#include "CurJson.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <deque>
#include <map>
#include <vector>

class QTcpServer;
class QTcpSocket;

// A stand-in for the blogging service's current interface (JSON over HTTP,
// OAuth 2) on 127.0.0.1. One port answers everything: the authorization
// page, the token endpoint and the API.
namespace cursim {

struct Post {
    QString idString;          // decimal text, may exceed 2^53 (e.g. "9007199254740993")
    bool blocks = false;       // made in the new editor (NPF-native)
    QString date;              // "2024-01-31 18:04:05 GMT"
    qint64 timestamp = 0;      // seconds; posts may share one
    QString caption;           // legacy posts: HTML caption as stored (a text post's body)
    QStringList texts;         // new-editor posts: the text blocks' texts, in order (after the image block)
    QString altText;           // the image block's alt_text
    QString photoUrl;          // image address (a path gets the server's address put before it)
    QStringList tags;
    QString slug;
    QString format = QStringLiteral("html");
    QString postUrl;           // empty: the blog's url + "post/ID/SLUG"; a path gets the server's address
    QString linkUrl;
    QString state = QStringLiteral("published");
    QString type = QStringLiteral("photo"); // photo, text, ... (only photo posts answer the photo route)
    bool omitIdString = false; // a damaged answer: the post comes without id_string
    bool canBeTipped = false;  // "can_be_tipped"
    QString publishOn;         // queued posts (state "queue"): when they go out, ISO 8601; "publish_on" when set
    QString interactability = QStringLiteral("everyone"); // "interactability_reblog": everyone or noone
    int editCount = 0;         // edits accepted (either edit route)
    // New-editor posts: top-level fields this simulator does not know, written
    // in the new post format after the known ones, in order. A client that
    // drops or renames what it does not understand is caught by them.
    QList<QPair<QString, Json>> extraFields;
    // Members of the image block beyond type, media and alt_text ("colors", "attribution", ...).
    QList<QPair<QString, Json>> imageExtra;
    // The blocks and layout as the last update sent them, kept verbatim (key
    // order, number literals). Null until then: the content is made from the
    // fields above and the layout is []. Once set, the new post format answers
    // these, and texts, altText, photoUrl and imageExtra follow them.
    Json content;
    Json layout;
};

struct Blog {
    QString name;
    QString title;
    QString url;               // empty: "https://NAME.tumblr.com/"
    QString uuid;              // empty: "t:" and a text made from the name
    bool primary = false;
    QString type = QStringLiteral("public"); // public or private
    std::vector<Post> posts;   // newest first
    bool repeatOnPaging = false; // a page at offset o>0 starts one post early (o-1): a post sharing a timestamp seen twice
    bool loopingNext = false;    // _links.next always points back at offset 0
};

struct User {
    QString name = QStringLiteral("demo");
    std::vector<Blog> blogs;
};

struct App {
    QString clientId;
    QString clientSecret;
    QString redirectUri;       // compared exactly
};

struct Request {
    QString method;
    QString path;              // percent-decoded, without the query
    QList<QPair<QString, QString>> query;      // decoded, in the order received
    QList<QPair<QString, QByteArray>> form;    // a form body's fields, decoded, in order
    QList<QPair<QByteArray, QByteArray>> headers; // as received, names in their letter case
    QByteArray body;
    bool keepAlive = true;     // false after "Connection: close" (or HTTP/1.0 without keep-alive)
    QByteArray header(const QByteArray &name) const; // the first of that name, any letter case
    QString queryValue(const QString &name) const;   // the first of that name; null when absent
    QByteArray formValue(const QString &name) const; // the first of that name; null when absent
};

enum class Endpoint {
    Authorize,
    Token,
    UserInfo,
    Limits,   // GET /v2/user/limits
    Posts,    // GET /v2/blog/BLOG/posts/photo
    OnePost,  // GET /v2/blog/BLOG/posts/ID (and any method there but PUT)
    Edit,     // POST /v2/blog/BLOG/post/edit, the legacy form edit
    Update,   // PUT /v2/blog/BLOG/posts/ID, the new post format edit
    Any,
};

struct Fault {
    enum Kind {
        Status,        // answer `status` with `body` and the header lines in `headers`
                       // (application/json unless `headers` names a Content-Type)
        Unauthorized,  // the 401 envelope, as for an expired token
        RateLimited,   // the 429 envelope "Limit Exceeded" with the X-Ratelimit-* headers, the hour
                       // window spent and reset in `resetSeconds`; no Retry-After unless in `headers`
        MalformedJson, // 200, application/json, a body that is not JSON (`body` if given)
        NotEnvelope,   // 200 with valid JSON that is not the envelope (`body` if given, else [1,2])
        Stall,         // never answer (until the client gives up)
        Close,         // drop the connection without answering; Qt's network manager resends once
                       // on a new connection, so inject it twice to make a client see it
    };
    Kind kind = Status;
    int status = 500;
    QByteArray body;
    QByteArray headers;        // further header lines ("Retry-After: 5\r\n")
    int resetSeconds = 3;
};

class Server : public QObject
{
    Q_OBJECT

public:
    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    // The built-in demo data: user "demo" with the public blogs "demo-cats"
    // (legacy and new-editor photo posts mixed) and "demo-dogs", and a private one.
    static User demoUser();
    // One public blog `blogName` of `posts` legacy photo posts, newest first,
    // ids "1001", "1002", ...; post N has the caption "Photo N" and the tags
    // "tag N" and "shared", so every one is a post to fix.
    static User generatedUser(const QString &blogName, int posts);
    // A legacy photo post with an image path; the rest at plain defaults.
    static Post legacyPost(const QString &idString, const QString &caption, const QStringList &tags = {});
    // A new-editor photo post: an image block, then one text block per text.
    static Post blocksPost(const QString &idString, const QStringList &texts, const QStringList &tags = {});

    void setUser(User user) { m_user = std::move(user); }
    User &user() { return m_user; }
    void addApp(App app) { m_apps.push_back(std::move(app)); }

    // Listens on 127.0.0.1 (0: any free port).
    bool start(quint16 port = 0);
    void stop();
    quint16 port() const;
    QString host() const; // "127.0.0.1:PORT"

    Blog *blog(const QString &name);
    Post *post(const QString &idString);

    // The next `count` requests to `endpoint` get `fault` instead of the normal
    // answer; a request takes its own endpoint's first, then one queued for Any.
    void injectFault(Endpoint endpoint, const Fault &fault, int count = 1);
    void clearFaults() { m_faults.clear(); }

    const QList<Request> &log() const { return m_log; }
    QList<Request> log(Endpoint endpoint) const;
    void clearLog() { m_log.clear(); }
    // Off: nothing is kept per request (a long run in a process of its own).
    void setLogging(bool on) { m_logging = on; }

    // What a new access token's expires_in says, and when it stops working.
    void setAccessTokenLifetime(int seconds) { m_tokenLifetime = seconds; }
    // Every access token issued so far is expired now.
    void expireAccessTokens();
    // No refresh token issued so far works any more.
    void revokeRefreshTokens() { m_refreshTokens.clear(); }
    // After `calls` API calls (user/info, the posts routes and the edit
    // routes, whatever they answer) every further one answers like the
    // RateLimited fault, reset in `resetSeconds`, until resetRateLimit().
    // -1: off, the default.
    void setRateLimitAfter(int calls, int resetSeconds = 3);
    void resetRateLimit();
    // The day's calls so far made such that `left` remain (the day's window starting now).
    void setDayCallsLeft(int left);
    // The hour's limit as a rolling window: at most `limit` API calls in any
    // `seconds`; a call beyond it answers like the RateLimited fault, its
    // Reset the seconds until the oldest call counted leaves the window.
    // The headers and /v2/user/limits then report this window. limit <= 0: off
    // (the default: the hour is counted, never refused).
    void setCallWindow(int limit, int seconds);
    int refusedForLimit() const { return m_refusedForLimit; } // 429s the window answered
    // The legacy edit route empties this member when an edit does not send
    // it, as a careless service might: "caption", "slug", "link_url",
    // "format", "photos", "date" or "state" (a draft becomes published). A
    // client that checks its writes sees it. Empty: unsent fields are kept.
    void setLegacyEditWipes(const QString &field) { m_legacyEditWipes = field; }
    // The new post format's edit loses this member of what it was sent:
    // "layout", "can_be_tipped", "interactability_reblog", "alt_text" (of the
    // image block) or any further top-level field's name. Empty: none.
    void setUpdateDrops(const QString &member) { m_updateDrops = member; }
    // Every answer waits this long (the request takes effect at once).
    void setAnswerDelay(int ms) { m_answerDelayMs = ms > 0 ? ms : 0; }

    // The newest tokens issued, for tests.
    QString issuedAccessToken() const { return m_lastAccessToken; }
    // PKCE (S256): required of every authorization and code exchange; off,
    // the parameters are ignored, as by a server that knows nothing of them.
    void setPkceRequired(bool required) { m_pkceRequired = required; }
    // The state the last authorization page was asked with.
    QString lastState() const { return m_lastState; }
    QString issuedRefreshToken() const { return m_lastRefreshToken; }

    // The plain text blocks a legacy caption becomes in the new post format.
    static QStringList captionTexts(const QString &html);

signals:
    void requestLogged(const cursim::Request &request);

private:
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType;
        QByteArray extraHeaders;
    };
    struct CodeGrant {
        QString clientId, redirectUri, scope;
        QString challenge; // PKCE: the token request must bring its verifier
        qint64 expiresAtMs = 0;
    };
    struct AccessGrant {
        QString clientId, scope;
        qint64 expiresAtMs = 0;
    };
    struct RefreshGrant {
        QString clientId, scope;
    };

    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void processBuffer(QTcpSocket *socket);
    void dropSocket(QTcpSocket *socket);
    void handle(QTcpSocket *socket, Request request);
    void send(QTcpSocket *socket, const QByteArray &bytes, bool close);
    void finishAnswer(QTcpSocket *socket, bool close);
    QByteArray responseBytes(const Reply &reply, bool close) const;
    bool takeFault(Endpoint endpoint, Fault &fault);
    Reply faultReply(const Fault &fault, Endpoint endpoint);

    Reply normalReply(const Request &request, Endpoint endpoint);
    Reply authorizePage(const Request &request);
    Reply authorizeDecision(const Request &request);
    Reply tokenReply(const Request &request);
    Reply apiReply(const Request &request, Endpoint endpoint);
    Reply userInfoReply();
    Reply limitsReply();
    void countCall();
    int hourCallsNow() const; // the calls the hour's window holds now
    Reply postsReply(const Request &request, const Blog &blog);
    Reply onePostReply(const Request &request, const Blog &blog, const QString &id);
    Reply editReply(const Request &request, Blog &blog);
    Reply updateReply(const Request &request, Blog &blog, const QString &id);
    Reply badRequest(const QString &detail) const;
    Reply editedReply(const Post &post) const;

    const App *findApp(const QString &clientId) const;
    Blog *findBlog(const QString &identifier);
    QString newToken();
    qint64 nowMs() const { return m_clock.elapsed(); }
    QByteArray rateHeaders(bool hourSpent, int resetSeconds) const;
    Reply envelope(int status, const QString &msg, const Json &response, const QString &errorDetail = {},
                   int errorCode = 0) const;
    Json npfPost(const Blog &blog, const Post &post) const;
    Json legacyPostJson(const Blog &blog, const Post &post) const;
    Json postCommon(const Blog &blog, const Post &post) const;
    Json npfContent(const Post &post) const;
    QString absolute(const QString &address) const;

    User m_user;
    std::vector<App> m_apps;
    QTcpServer *m_listener = nullptr;
    QHash<QTcpSocket *, QByteArray> m_buffers; // bytes received, not yet handled
    QHash<QTcpSocket *, bool> m_holding;       // an answer is pending (delay, stall) or closing
    std::map<Endpoint, std::deque<Fault>> m_faults;
    QList<Request> m_log;
    bool m_logging = true;
    int m_answerDelayMs = 0;

    QElapsedTimer m_clock;
    QHash<QString, CodeGrant> m_codes;
    QHash<QString, AccessGrant> m_accessTokens;
    QHash<QString, RefreshGrant> m_refreshTokens; // only the current ones
    QString m_lastAccessToken, m_lastRefreshToken;
    QString m_lastState;
    bool m_pkceRequired = false;
    int m_tokenLifetime = 2520;

    // Calls counted in the current hour and day windows, which start at the
    // first call after the previous one ran out.
    int m_hourCalls = 0, m_dayCalls = 0;
    QString m_legacyEditWipes;
    QString m_updateDrops;
    int m_windowLimit = 0, m_windowSeconds = 3600;
    std::deque<qint64> m_windowCalls; // when each call the rolling window holds came
    int m_refusedForLimit = 0;
    qint64 m_hourStartMs = 0, m_dayStartMs = 0;
    int m_callsSinceLimitReset = 0;
    int m_rateLimitAfter = -1;
    int m_rateLimitResetSeconds = 3;
};

}

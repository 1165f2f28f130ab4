#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

// A stand-in for the blogging service's XML interface, on 127.0.0.1.
// The service host answers /api/authenticate and /api/write; every blog has
// its own port and answers /api/read there.
namespace sim {

struct Post {
    QString id;
    QString type = QStringLiteral("photo"); // photo, text, quote, link, ...
    QString date;         // "2026-11-30 18:04:05 GMT"
    QString format = QStringLiteral("html");
    QString slug;
    QString url;          // the post's own address; a path ("/post/1/x") gets the blog's address put before it
    bool hasCaption = true; // false: no <photo-caption> element at all
    QString caption;      // HTML, as stored
    QString linkUrl;      // click-through URL (<photo-link-url>)
    QString photoUrl;     // a path gets the blog's address put before it, like url
    QStringList tags;
    QString group;        // as last written
    QString generator;    // as last written
    int writeCount = 0;   // accepted writes of this post
};

struct Blog {
    QString name;         // short name, e.g. "demo-cats"
    QString title;
    QString type = QStringLiteral("public"); // public or private
    bool emptyUrl = false; // answer url="" (a blog without an address)
    bool ignoreTypeFilter = false; // /api/read answers every type whatever "type" asks for
    std::vector<Post> posts; // newest first
    quint16 port = 0;     // its own listening port once started
};

struct Account {
    QString email;
    QString password;
    QString userName = QStringLiteral("demo");
    std::vector<Blog> blogs;
};

struct Request {
    QString method;
    QString host;          // the Host header
    quint16 localPort = 0; // the port it arrived on
    QString path;
    QList<QPair<QString, QByteArray>> fields; // decoded form fields, in the order received
    QByteArray rawBody;
    QList<QPair<QByteArray, QByteArray>> headers; // as received, names in their letter case
    bool keepAlive = true; // false after "Connection: close" (or HTTP/1.0 without keep-alive)
    QByteArray header(const QByteArray &name) const; // first header of that name, any letter case
    QByteArray field(const QString &name) const; // first field of that name (raw bytes)
    QStringList fieldNames() const;
};

enum class Endpoint { Authenticate, Read, Write, Any };

struct Fault {
    enum Kind {
        Status,            // answer `status` with `body` (text/plain)
        Redirect,          // 301 with Location: `location`
        CloseBeforeAnswer, // drop the connection without answering; a client on a kept-alive
                           // connection may resend once on a new one (Qt's network manager does),
                           // so inject it twice to make the client see the failure
        TruncatedBody,     // announce the real length, send half, close (the request takes effect)
        Stall,             // never answer (until the client gives up)
        Trickle,           // the normal answer, `chunk` bytes every `delayMs`
        MalformedXml,      // 200 with XML that does not parse (`body` if given)
        Empty200,          // 200 with an empty body
        Delay,             // the normal answer after `delayMs` (the request takes effect at once)
        RawResponse,       // `body` is written to the socket as it is (headers included), then close
    };
    Kind kind = Status;
    int status = 500;
    QByteArray body;
    QByteArray location;
    int delayMs = 0;
    int chunk = 1;
    QByteArray headers; // Status: further header lines ("Retry-After: 5\r\n")
};

class Server : public QObject
{
    Q_OBJECT

public:
    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    // The built-in demo data: demo@example.com / demo, two public blogs with a
    // few hundred photo posts, one private blog.
    static Account demoAccount();
    // A seed file (JSON, see README); false with a reason on a bad file.
    static bool loadAccounts(const QString &path, std::vector<Account> &accounts, QString *error);
    // An account `email` / `password` with one public blog holding `posts` photo
    // posts, newest first, ids "1001", "1002", ... (first = newest). Every post has
    // a one-line caption "Photo N" and the tags "tag N" and "shared"; none carries
    // its caption as a tag, so every one is a post to fix.
    static Account generatedAccount(const QString &blogName, int posts, const QString &email,
                                    const QString &password);
    // One photo post with an address path; the rest of its fields at plain defaults.
    static Post photoPost(const QString &id, const QString &caption, const QStringList &tags = {});

    void addAccount(Account account);
    std::vector<Account> &accounts() { return m_accounts; }

    // Listens on 127.0.0.1: the service on servicePort (0: any free port),
    // every blog on servicePort+1, +2, ... when servicePort is given, else any.
    bool start(quint16 servicePort = 0);
    void stop();

    quint16 servicePort() const;
    QString serviceHost() const; // "127.0.0.1:PORT"
    QString blogHost(const QString &blogName) const; // "127.0.0.1:PORT"
    Blog *blog(const QString &blogName);
    Post *post(const QString &postId);

    // A further port serving the same blog (a target for redirect tests).
    QString addBlogAlias(const QString &blogName);

    // The next `count` requests to `endpoint` get `fault` instead of the normal answer.
    void injectFault(Endpoint endpoint, const Fault &fault, int count = 1);
    void clearFaults();

    const QList<Request> &log() const { return m_log; }
    QList<Request> log(Endpoint endpoint) const;
    void clearLog() { m_log.clear(); }
    // Off: nothing is kept per request (a long run in a process of its own).
    void setLogging(bool on) { m_logging = on; }
    // Every normal answer waits this long (the request takes effect at once).
    void setAnswerDelay(int ms) { m_answerDelayMs = ms > 0 ? ms : 0; }

    // Rendering used by the handlers, public for tests of the simulator itself.
    static QByteArray renderPostsPage(const Blog &blog, const QString &blogHost, int start, int num,
                                      const QString &type);
    // The answer to a read with "id": that post alone, whatever its type.
    static QByteArray renderOnePost(const Blog &blog, const QString &blogHost, const QString &id);
    static QByteArray renderAuthenticate(const Account &account, const Server &server);
    // Splits the "tags" field of a write the way the service does.
    static QStringList parseTagsField(const QString &tags);

signals:
    void requestLogged(const sim::Request &request);

private:
    struct Connection;
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType;
        QByteArray extraHeaders;
    };
    Reply normalReply(const Request &request, Endpoint endpoint, quint16 localPort);
    Reply authenticateReply(const Request &request);
    Reply readReply(const Request &request, quint16 localPort);
    Reply writeReply(const Request &request);
    QByteArray responseBytes(const Reply &reply, bool close) const;
    void finishAnswer(QTcpSocket *socket, bool close);
    void processBuffer(QTcpSocket *socket);
    void dropSocket(QTcpSocket *socket);
    bool listen(quint16 port, const QString &blogName, QTcpServer **listener);
    void onNewConnection(QTcpServer *listener);
    void onReadyRead(QTcpSocket *socket);
    void handle(QTcpSocket *socket, Request request);
    void answer(QTcpSocket *socket, int status, const QByteArray &body, const QByteArray &contentType,
                const QByteArray &extraHeaders = {});
    bool takeFault(Endpoint endpoint, Fault &fault);
    Account *findAccount(const QByteArray &email, const QByteArray &password);
    Post *findPost(Account &account, const QString &postId, Blog **blog);
    void sendLater(QTcpSocket *socket, const QByteArray &bytes, int delayMs, bool close);

    std::vector<Account> m_accounts;
    QTcpServer *m_service = nullptr;
    std::map<quint16, QString> m_blogPorts;    // port -> blog name
    std::vector<QTcpServer *> m_listeners;
    QHash<QTcpSocket *, QByteArray> m_buffers;  // bytes received, not yet handled
    QHash<QTcpSocket *, bool> m_holding;        // an answer is pending (delay, trickle, stall) or closing
    std::map<Endpoint, std::deque<Fault>> m_faults;
    QList<Request> m_log;
    bool m_logging = true;
    int m_answerDelayMs = 0;
    // Post id -> (blog, index in its posts); checked on every use, rebuilt on a miss,
    // so tests may change the posts directly.
    QHash<QString, QPair<Blog *, size_t>> m_postIndex;
};

}

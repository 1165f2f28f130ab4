#include "CurServer.h"
#include "CurJson.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace cursim {

namespace {

constexpr qsizetype maxHeaderBytes = 64 * 1024;
constexpr qsizetype maxBodyBytes = 16 * 1024 * 1024;
constexpr int pageLimit = 20;
constexpr int dayLimit = 5000;
constexpr int hourLimit = 1000;
constexpr qint64 hourMs = 3600 * 1000;
constexpr qint64 dayMs = 24 * hourMs;
constexpr qint64 codeLifetimeMs = 10 * 60 * 1000;

const QByteArray jsonType = QByteArrayLiteral("application/json; charset=utf-8");
const QByteArray htmlType = QByteArrayLiteral("text/html; charset=utf-8");

const QStringList knownScopes = {QStringLiteral("basic"), QStringLiteral("write"), QStringLiteral("offline_access")};

struct Route {
    Endpoint endpoint = Endpoint::Any;
    QString blog;
    QString id;
};

Route routeOf(const QString &method, const QString &path)
{
    if (path == QLatin1String("/oauth2/authorize"))
        return {Endpoint::Authorize, {}, {}};
    if (path == QLatin1String("/v2/oauth2/token"))
        return {Endpoint::Token, {}, {}};
    if (path == QLatin1String("/v2/user/info"))
        return {Endpoint::UserInfo, {}, {}};
    if (path == QLatin1String("/v2/user/limits"))
        return {Endpoint::Limits, {}, {}};
    const QStringList parts = path.split(QLatin1Char('/'));
    // "", "v2", "blog", BLOG, "posts" or "post", ID or "edit"
    if (parts.size() != 6 || !parts.at(0).isEmpty() || parts.at(1) != QLatin1String("v2")
        || parts.at(2) != QLatin1String("blog") || parts.at(3).isEmpty() || parts.at(5).isEmpty())
        return {};
    if (parts.at(4) == QLatin1String("post") && parts.at(5) == QLatin1String("edit"))
        return {Endpoint::Edit, parts.at(3), {}};
    if (parts.at(4) != QLatin1String("posts"))
        return {};
    if (parts.at(5) == QLatin1String("photo"))
        return {Endpoint::Posts, parts.at(3), {}};
    // One address, read with GET and replaced with PUT.
    return {method == QLatin1String("PUT") ? Endpoint::Update : Endpoint::OnePost, parts.at(3), parts.at(5)};
}

bool isApi(Endpoint e)
{
    return e == Endpoint::UserInfo || e == Endpoint::Limits || e == Endpoint::Posts || e == Endpoint::OnePost || e == Endpoint::Edit
        || e == Endpoint::Update;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decoding; a '%' without two hex digits stays as it is.
QByteArray percentDecode(const QByteArray &in, bool plusIsSpace)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '%' && i + 2 < in.size() && hexValue(in.at(i + 1)) >= 0 && hexValue(in.at(i + 2)) >= 0) {
            out += char(hexValue(in.at(i + 1)) * 16 + hexValue(in.at(i + 2)));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

// "a=1&b=two+words" as decoded pairs, in order; empty pieces skipped.
QList<QPair<QByteArray, QByteArray>> parsePairs(const QByteArray &text)
{
    QList<QPair<QByteArray, QByteArray>> out;
    for (const QByteArray &piece : text.split('&')) {
        if (piece.isEmpty())
            continue;
        const qsizetype eq = piece.indexOf('=');
        const QByteArray name = eq < 0 ? piece : piece.left(eq);
        const QByteArray value = eq < 0 ? QByteArray("") : piece.mid(eq + 1);
        out.append({percentDecode(name, true), percentDecode(value, true)});
    }
    return out;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QString htmlEscape(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QByteArray htmlPage(const QString &title, const QString &bodyHtml)
{
    return (QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                           "<title>%1</title>"
                           "<style>body{font-family:sans-serif;max-width:32em;margin:3em auto;padding:0 1em}"
                           "button{font-size:1.1em;margin-right:1em;padding:.4em 1.4em}</style>"
                           "</head><body>\n%2\n</body></html>\n")
                .arg(htmlEscape(title), bodyHtml))
        .toUtf8();
}

QString scopeDescription(const QString &scope)
{
    if (scope == QLatin1String("basic"))
        return QStringLiteral("read your account and your blogs' posts");
    if (scope == QLatin1String("write"))
        return QStringLiteral("change and publish posts on your behalf");
    if (scope == QLatin1String("offline_access"))
        return QStringLiteral("keep this access while you are away (refresh tokens)");
    return scope;
}

QString blogUrl(const Blog &blog)
{
    return blog.url.isEmpty() ? QStringLiteral("https://%1.tumblr.com/").arg(blog.name) : blog.url;
}

QString blogUuid(const Blog &blog)
{
    if (!blog.uuid.isEmpty())
        return blog.uuid;
    const QByteArray digest = QCryptographicHash::hash(blog.name.toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("t:") + QString::fromLatin1(digest.toBase64(QByteArray::Base64UrlEncoding).left(22));
}

QString reblogKey(const Post &post)
{
    const QByteArray digest = QCryptographicHash::hash(post.idString.toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(digest.toHex().left(8));
}

Json stringArray(const QStringList &items)
{
    Json a = Json::array();
    for (const QString &s : items)
        a.append(s);
    return a;
}

QString decodeEntities(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&')) {
            out += text.at(i);
            continue;
        }
        const qsizetype semi = text.indexOf(QLatin1Char(';'), i + 1);
        if (semi < 0 || semi - i > 12) {
            out += text.at(i);
            continue;
        }
        const QString name = text.mid(i + 1, semi - i - 1);
        QString replacement;
        if (name == QLatin1String("amp"))
            replacement = QStringLiteral("&");
        else if (name == QLatin1String("lt"))
            replacement = QStringLiteral("<");
        else if (name == QLatin1String("gt"))
            replacement = QStringLiteral(">");
        else if (name == QLatin1String("quot"))
            replacement = QStringLiteral("\"");
        else if (name == QLatin1String("nbsp"))
            replacement = QString(QChar(0x00A0));
        else if (name.startsWith(QLatin1Char('#')) && name.size() > 1) {
            bool ok = false;
            const bool hex = name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X');
            const uint cp = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            if (ok && cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
                const char32_t c = cp;
                replacement = QString::fromUcs4(&c, 1);
            }
        }
        if (replacement.isNull()) {
            out += text.at(i); // an entity not decoded stays as written
            continue;
        }
        out += replacement;
        i = semi;
    }
    return out;
}

constexpr qsizetype maxTagLength = 140; // characters (code points)
constexpr qsizetype maxTags = 30;

const QStringList postStates = {QStringLiteral("published"), QStringLiteral("draft"), QStringLiteral("queue"),
                                QStringLiteral("private")};

// The legacy form's tags: split at commas, blanks trimmed, empty ones dropped.
QStringList splitTags(const QString &text)
{
    QStringList tags;
    for (const QString &piece : text.split(QLatin1Char(','))) {
        const QString tag = piece.trimmed();
        if (!tag.isEmpty())
            tags.append(tag);
    }
    return tags;
}

// Why the service refuses these tags; empty when it takes them.
QString tagsProblem(const QStringList &tags)
{
    if (tags.size() > maxTags)
        return QStringLiteral("Too many tags");
    for (const QString &tag : tags) {
        if (tag.toUcs4().size() > maxTagLength)
            return QStringLiteral("Tag is too long");
    }
    return {};
}

QString dateText(const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" GMT");
}

// "2024-01-31 18:04:05", with or without " GMT", as the legacy form takes it.
std::optional<QDateTime> parseDate(QString text)
{
    text = text.trimmed();
    if (text.endsWith(QLatin1String(" GMT")))
        text.chop(4);
    // Day and time apart: read as local time, a date could fall in a DST gap.
    const QDate day = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime clock = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
    if (text.size() != 19 || text.at(10) != QLatin1Char(' ') || !day.isValid() || !clock.isValid())
        return std::nullopt;
    return QDateTime(day, clock, QTimeZone::utc());
}

// An id in a body names the post of the path, as a number literal or a string.
bool sameId(const Json &value, const QString &id)
{
    return (value.isNumber() && value.numberText() == id) || (value.isString() && value.toString() == id);
}

}

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

QString Request::queryValue(const QString &name) const
{
    for (const auto &q : query) {
        if (q.first == name)
            return q.second;
    }
    return {};
}

QByteArray Request::formValue(const QString &name) const
{
    for (const auto &f : form) {
        if (f.first == name)
            return f.second;
    }
    return {};
}

Server::Server(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

Server::~Server()
{
    stop();
}

bool Server::start(quint16 port)
{
    stop();
    m_listener = new QTcpServer(this);
    if (!m_listener->listen(QHostAddress::LocalHost, port)) {
        delete m_listener;
        m_listener = nullptr;
        return false;
    }
    connect(m_listener, &QTcpServer::newConnection, this, &Server::onNewConnection);
    return true;
}

void Server::stop()
{
    if (m_listener) {
        m_listener->close();
        delete m_listener;
        m_listener = nullptr;
    }
    const QList<QTcpSocket *> sockets = m_buffers.keys();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_buffers.clear();
    m_holding.clear();
}

quint16 Server::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

QString Server::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

Blog *Server::blog(const QString &name)
{
    for (Blog &b : m_user.blogs) {
        if (b.name == name)
            return &b;
    }
    return nullptr;
}

Post *Server::post(const QString &idString)
{
    for (Blog &b : m_user.blogs) {
        for (Post &p : b.posts) {
            if (p.idString == idString)
                return &p;
        }
    }
    return nullptr;
}

Blog *Server::findBlog(const QString &identifier)
{
    const QString suffix = QStringLiteral(".tumblr.com");
    for (Blog &b : m_user.blogs) {
        if (b.name.compare(identifier, Qt::CaseInsensitive) == 0
            || (identifier.endsWith(suffix, Qt::CaseInsensitive)
                && b.name.compare(identifier.chopped(suffix.size()), Qt::CaseInsensitive) == 0)
            || blogUuid(b) == identifier)
            return &b;
    }
    return nullptr;
}

const App *Server::findApp(const QString &clientId) const
{
    for (const App &app : m_apps) {
        if (app.clientId == clientId)
            return &app;
    }
    return nullptr;
}

void Server::injectFault(Endpoint endpoint, const Fault &fault, int count)
{
    auto &queue = m_faults[endpoint];
    for (int i = 0; i < count; ++i)
        queue.push_back(fault);
}

bool Server::takeFault(Endpoint endpoint, Fault &fault)
{
    for (Endpoint e : {endpoint, Endpoint::Any}) {
        auto it = m_faults.find(e);
        if (it != m_faults.end() && !it->second.empty()) {
            fault = it->second.front();
            it->second.pop_front();
            return true;
        }
    }
    return false;
}

QList<Request> Server::log(Endpoint endpoint) const
{
    if (endpoint == Endpoint::Any)
        return m_log;
    QList<Request> out;
    for (const Request &r : m_log) {
        if (routeOf(r.method, r.path).endpoint == endpoint)
            out.append(r);
    }
    return out;
}

void Server::expireAccessTokens()
{
    for (AccessGrant &grant : m_accessTokens)
        grant.expiresAtMs = -1;
}

void Server::setRateLimitAfter(int calls, int resetSeconds)
{
    m_rateLimitAfter = calls;
    m_rateLimitResetSeconds = resetSeconds;
    m_callsSinceLimitReset = 0;
}

void Server::setDayCallsLeft(int left)
{
    m_dayCalls = std::clamp(dayLimit - left, 0, dayLimit);
    m_dayStartMs = nowMs();
}

void Server::resetRateLimit()
{
    m_rateLimitAfter = -1;
    m_callsSinceLimitReset = 0;
}

QString Server::newToken()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString Server::absolute(const QString &address) const
{
    return address.startsWith(QLatin1Char('/')) ? QStringLiteral("http://") + host() + address : address;
}

// ---- connections and HTTP framing ----

void Server::onNewConnection()
{
    while (m_listener && m_listener->hasPendingConnections()) {
        QTcpSocket *socket = m_listener->nextPendingConnection();
        // The socket belongs to the server, not the listener, so stop() can close the listener first.
        socket->setParent(this);
        // Answers go out in one write; do not let them wait for the client's acknowledgement.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropSocket(socket); });
    }
}

void Server::dropSocket(QTcpSocket *socket)
{
    if (!m_buffers.contains(socket))
        return;
    m_buffers.remove(socket);
    m_holding.remove(socket);
    socket->disconnect(this);
    socket->deleteLater();
}

void Server::onReadyRead(QTcpSocket *socket)
{
    if (!m_buffers.contains(socket))
        return;
    m_buffers[socket] += socket->readAll();
    processBuffer(socket);
}

void Server::processBuffer(QTcpSocket *socket)
{
    // Pipelined requests are answered one after the other, in order; a
    // request cut anywhere waits for the rest of its bytes.
    while (m_buffers.contains(socket) && !m_holding.value(socket)) {
        QByteArray &buffer = m_buffers[socket];
        while (buffer.startsWith("\r\n"))
            buffer.remove(0, 2);
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (buffer.size() > maxHeaderBytes) {
                buffer.clear();
                send(socket, responseBytes({431, "Request header too large.\n", "text/plain", {}}, true), true);
            }
            return;
        }
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
            buffer.clear();
            send(socket, responseBytes({400, "Malformed request line.\n", "text/plain", {}}, true), true);
            return;
        }
        Request request;
        request.method = QString::fromLatin1(requestLine.at(0));
        QByteArray target = requestLine.at(1);
        if (const qsizetype q = target.indexOf('?'); q >= 0) {
            for (const auto &pair : parsePairs(target.mid(q + 1)))
                request.query.append({QString::fromUtf8(pair.first), QString::fromUtf8(pair.second)});
            target.truncate(q);
        }
        request.path = QString::fromUtf8(percentDecode(target, false));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        const QByteArray connection = request.header("Connection").toLower();
        request.keepAlive = requestLine.at(2) == "HTTP/1.0" ? connection.contains("keep-alive")
                                                            : !connection.contains("close");
        if (request.header("Transfer-Encoding").toLower().contains("chunked")) {
            buffer.clear();
            send(socket, responseBytes({411, "Send a Content-Length, not a chunked body.\n", "text/plain", {}}, true),
                 true);
            return;
        }
        bool ok = true;
        const QByteArray lengthText = request.header("Content-Length");
        const qsizetype length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&ok);
        if (!ok || length < 0 || length > maxBodyBytes) {
            buffer.clear();
            send(socket,
                 responseBytes({ok && length > 0 ? 413 : 400, "Bad Content-Length.\n", "text/plain", {}}, true),
                 true);
            return;
        }
        const qsizetype bodyStart = headerEnd + 4;
        if (buffer.size() < bodyStart + length)
            return;
        request.body = buffer.mid(bodyStart, length);
        buffer.remove(0, bodyStart + length);
        const QByteArray contentType = request.header("Content-Type").toLower();
        if (contentType.startsWith("application/x-www-form-urlencoded")
            || (contentType.isEmpty() && !request.body.isEmpty())) {
            for (const auto &pair : parsePairs(request.body))
                request.form.append({QString::fromUtf8(pair.first), pair.second});
        }
        handle(socket, std::move(request));
    }
}

QByteArray Server::responseBytes(const Reply &reply, bool close) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    out += "Server: velloria-sim-current\r\n";
    if (!reply.contentType.isEmpty())
        out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += reply.extraHeaders;
    out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    out += reply.body;
    return out;
}

void Server::finishAnswer(QTcpSocket *socket, bool close)
{
    if (!m_buffers.contains(socket))
        return;
    if (close) {
        m_holding[socket] = true; // nothing more is read from a closing connection
        socket->disconnectFromHost();
    } else {
        m_holding.remove(socket);
    }
}

void Server::send(QTcpSocket *socket, const QByteArray &bytes, bool close)
{
    if (m_answerDelayMs <= 0) {
        socket->write(bytes);
        finishAnswer(socket, close);
        return;
    }
    m_holding[socket] = true;
    QTimer::singleShot(m_answerDelayMs, Qt::PreciseTimer, socket, [this, socket, bytes, close] {
        if (!m_buffers.contains(socket))
            return;
        socket->write(bytes);
        finishAnswer(socket, close);
        if (!close)
            processBuffer(socket);
    });
}

void Server::handle(QTcpSocket *socket, Request request)
{
    const Endpoint endpoint = routeOf(request.method, request.path).endpoint;
    const bool close = !request.keepAlive;
    if (m_logging) {
        m_log.append(request);
        emit requestLogged(m_log.constLast());
        if (!m_buffers.contains(socket))
            return; // a listener stopped the server
    }
    // Every API call counts, whatever it is answered; one the rolling window
    // has no room for is refused (and counts, as on the service).
    bool overWindow = false;
    if (isApi(endpoint)) {
        overWindow = m_windowLimit > 0 && hourCallsNow() >= m_windowLimit;
        countCall();
    }
    if (overWindow) {
        ++m_refusedForLimit;
        Reply reply = envelope(429, QStringLiteral("Limit Exceeded"), Json::array(),
                               QStringLiteral("You have exceeded your rate limit."), 0);
        reply.extraHeaders = rateHeaders(false, 0);
        send(socket, responseBytes(reply, close), close);
        return;
    }

    Fault fault;
    Reply reply;
    if (takeFault(endpoint, fault)) {
        if (fault.kind == Fault::Stall) {
            m_holding[socket] = true;
            return;
        }
        if (fault.kind == Fault::Close) {
            finishAnswer(socket, true);
            return;
        }
        reply = faultReply(fault, endpoint);
    } else {
        reply = normalReply(request, endpoint);
    }
    send(socket, responseBytes(reply, close), close);
}

// ---- answers ----

void Server::countCall()
{
    const qint64 now = nowMs();
    if (m_hourCalls == 0 || now - m_hourStartMs >= hourMs) {
        m_hourStartMs = now;
        m_hourCalls = 0;
    }
    if (m_dayCalls == 0 || now - m_dayStartMs >= dayMs) {
        m_dayStartMs = now;
        m_dayCalls = 0;
    }
    ++m_hourCalls;
    ++m_dayCalls;
    ++m_callsSinceLimitReset;
    if (m_windowLimit > 0) {
        // Calls older than the window are of no more use.
        while (!m_windowCalls.empty() && m_windowCalls.front() <= now - qint64(m_windowSeconds) * 1000)
            m_windowCalls.pop_front();
        m_windowCalls.push_back(now);
    }
}

int Server::hourCallsNow() const
{
    if (m_windowLimit <= 0)
        return m_hourCalls;
    const qint64 from = nowMs() - qint64(m_windowSeconds) * 1000;
    return int(m_windowCalls.end() - std::upper_bound(m_windowCalls.begin(), m_windowCalls.end(), from));
}

void Server::setCallWindow(int limit, int seconds)
{
    m_windowLimit = limit;
    m_windowSeconds = std::max(1, seconds);
    m_windowCalls.clear();
    m_refusedForLimit = 0;
}

QByteArray Server::rateHeaders(bool hourSpent, int resetSeconds) const
{
    const qint64 now = nowMs();
    if (m_windowLimit > 0 && !hourSpent) {
        // The rolling window: room comes back as the oldest calls leave it.
        const qint64 from = now - qint64(m_windowSeconds) * 1000;
        // The calls still in the window (the list is in time order).
        const auto first = std::upper_bound(m_windowCalls.begin(), m_windowCalls.end(), from);
        const int held = int(m_windowCalls.end() - first);
        const int left = std::max(0, m_windowLimit - held);
        qint64 reset = m_windowSeconds;
        if (held >= m_windowLimit && held > 0)
            reset = std::max<qint64>(1, (*(first + (held - m_windowLimit)) + qint64(m_windowSeconds) * 1000 - now + 999) / 1000);
        else if (held > 0)
            reset = std::max<qint64>(1, (*first + qint64(m_windowSeconds) * 1000 - now + 999) / 1000);
        QByteArray out;
        out += "X-Ratelimit-Perday-Limit: " + QByteArray::number(dayLimit) + "\r\n";
        out += "X-Ratelimit-Perday-Remaining: " + QByteArray::number(std::max(0, dayLimit - m_dayCalls)) + "\r\n";
        out += "X-Ratelimit-Perday-Reset: "
            + QByteArray::number(m_dayCalls == 0 ? dayMs / 1000 : std::max<qint64>(0, (m_dayStartMs + dayMs - now + 999) / 1000))
            + "\r\n";
        out += "X-Ratelimit-Perhour-Limit: " + QByteArray::number(m_windowLimit) + "\r\n";
        out += "X-Ratelimit-Perhour-Remaining: " + QByteArray::number(left) + "\r\n";
        out += "X-Ratelimit-Perhour-Reset: " + QByteArray::number(reset) + "\r\n";
        return out;
    }
    const auto secondsLeft = [now](qint64 start, qint64 window, int calls) -> qint64 {
        if (calls == 0)
            return window / 1000;
        return std::max<qint64>(0, (start + window - now + 999) / 1000);
    };
    QByteArray out;
    out += "X-Ratelimit-Perday-Limit: " + QByteArray::number(dayLimit) + "\r\n";
    out += "X-Ratelimit-Perday-Remaining: " + QByteArray::number(std::max(0, dayLimit - m_dayCalls)) + "\r\n";
    out += "X-Ratelimit-Perday-Reset: " + QByteArray::number(secondsLeft(m_dayStartMs, dayMs, m_dayCalls)) + "\r\n";
    out += "X-Ratelimit-Perhour-Limit: " + QByteArray::number(hourLimit) + "\r\n";
    out += "X-Ratelimit-Perhour-Remaining: "
        + QByteArray::number(hourSpent ? 0 : std::max(0, hourLimit - m_hourCalls)) + "\r\n";
    out += "X-Ratelimit-Perhour-Reset: "
        + QByteArray::number(hourSpent ? qint64(resetSeconds) : secondsLeft(m_hourStartMs, hourMs, m_hourCalls))
        + "\r\n";
    return out;
}

Server::Reply Server::envelope(int status, const QString &msg, const Json &response, const QString &errorDetail,
                               int errorCode) const
{
    Json meta = Json::object();
    meta.insert(QStringLiteral("status"), status);
    meta.insert(QStringLiteral("msg"), msg);
    Json root = Json::object();
    root.insert(QStringLiteral("meta"), meta);
    root.insert(QStringLiteral("response"), response);
    if (status >= 400) {
        Json error = Json::object();
        error.insert(QStringLiteral("title"), msg);
        error.insert(QStringLiteral("code"), errorCode);
        error.insert(QStringLiteral("detail"), errorDetail.isEmpty() ? msg : errorDetail);
        root.insert(QStringLiteral("errors"), Json::array().append(error));
    }
    return {status, root.write(), jsonType, {}};
}

Server::Reply Server::faultReply(const Fault &fault, Endpoint endpoint)
{
    const QByteArray counted = isApi(endpoint) ? rateHeaders(false, 0) : QByteArray();
    Reply reply;
    switch (fault.kind) {
    case Fault::Status:
        reply = {fault.status, fault.body, fault.headers.toLower().contains("content-type:") ? QByteArray() : jsonType,
                 counted + fault.headers};
        break;
    case Fault::Unauthorized:
        reply = envelope(401, QStringLiteral("Unauthorized"), Json::array(),
                         QStringLiteral("Unable to authorize: the access token has expired."), 1016);
        reply.extraHeaders = counted + fault.headers;
        break;
    case Fault::RateLimited:
        reply = envelope(429, QStringLiteral("Limit Exceeded"), Json::array(),
                         QStringLiteral("You have exceeded your rate limit."), 0);
        reply.extraHeaders = rateHeaders(true, fault.resetSeconds) + fault.headers;
        break;
    case Fault::MalformedJson:
        reply = {200, fault.body.isEmpty() ? QByteArray(R"({"meta":{"status":200,"msg":"OK"},"response":{"posts":[{"id":)")
                                           : fault.body,
                 jsonType, counted + fault.headers};
        break;
    case Fault::NotEnvelope:
        reply = {200, fault.body.isEmpty() ? QByteArray("[1,2]") : fault.body, jsonType, counted + fault.headers};
        break;
    case Fault::Stall:
    case Fault::Close:
        break; // handled before any answer is made
    }
    return reply;
}

Server::Reply Server::normalReply(const Request &request, Endpoint endpoint)
{
    switch (endpoint) {
    case Endpoint::Authorize:
        if (request.method == QLatin1String("GET"))
            return authorizePage(request);
        if (request.method == QLatin1String("POST"))
            return authorizeDecision(request);
        return {405, htmlPage(QStringLiteral("Method not allowed"), QStringLiteral("<p>Use GET or POST.</p>")),
                htmlType, "Allow: GET, POST\r\n"};
    case Endpoint::Token:
        if (request.method != QLatin1String("POST")) {
            Json error = Json::object();
            error.insert(QStringLiteral("error"), "invalid_request");
            error.insert(QStringLiteral("error_description"), "The token endpoint takes POST only.");
            return {405, error.write(), jsonType, "Allow: POST\r\n"};
        }
        return tokenReply(request);
    case Endpoint::UserInfo:
    case Endpoint::Limits:
    case Endpoint::Posts:
    case Endpoint::OnePost:
    case Endpoint::Edit:
    case Endpoint::Update:
        return apiReply(request, endpoint);
    case Endpoint::Any:
        break;
    }
    return envelope(404, QStringLiteral("Not Found"), Json::array(), QStringLiteral("No such route."));
}

// ---- OAuth 2 ----

namespace {

struct AuthorizeCheck {
    int status = 200;
    QString error;       // empty when the parameters are good
    QString description;
};

template <typename Get>
AuthorizeCheck checkAuthorize(const Get &get, const App *app, bool pkceRequired)
{
    if (!app)
        return {400, QStringLiteral("invalid_client"), QStringLiteral("No application is registered with this client_id.")};
    if (get(QStringLiteral("redirect_uri")) != app->redirectUri)
        return {400, QStringLiteral("redirect_url_mismatch"),
                QStringLiteral("The redirect_uri is not the one registered for this application.")};
    if (get(QStringLiteral("response_type")) != QLatin1String("code"))
        return {400, QStringLiteral("unsupported_response_type"), QStringLiteral("Only response_type=code is supported.")};
    const QStringList scopes = get(QStringLiteral("scope")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (scopes.isEmpty())
        return {400, QStringLiteral("invalid_scope"), QStringLiteral("The scope is missing.")};
    for (const QString &s : scopes) {
        if (!knownScopes.contains(s))
            return {400, QStringLiteral("invalid_scope"), QStringLiteral("Unknown scope: %1.").arg(s)};
    }
    if (pkceRequired && (get(QStringLiteral("code_challenge")).size() < 43
                         || get(QStringLiteral("code_challenge_method")) != QLatin1String("S256")))
        return {400, QStringLiteral("invalid_request"), QStringLiteral("A code_challenge with the method S256 is required.")};
    return {};
}

Json oauthError(const QString &error, const QString &description)
{
    Json o = Json::object();
    o.insert(QStringLiteral("error"), error);
    o.insert(QStringLiteral("error_description"), description);
    return o;
}

QString appendQuery(const QString &uri, const QList<QPair<QString, QString>> &params)
{
    QString out = uri;
    bool first = !uri.contains(QLatin1Char('?'));
    for (const auto &p : params) {
        out += first ? QLatin1Char('?') : QLatin1Char('&');
        first = false;
        out += QString::fromLatin1(QUrl::toPercentEncoding(p.first)) + QLatin1Char('=')
            + QString::fromLatin1(QUrl::toPercentEncoding(p.second));
    }
    return out;
}

}

Server::Reply Server::authorizePage(const Request &request)
{
    const auto get = [&request](const QString &name) { return request.queryValue(name); };
    const App *app = findApp(get(QStringLiteral("client_id")));
    const AuthorizeCheck check = checkAuthorize(get, app, m_pkceRequired);
    if (!check.error.isEmpty()) {
        return {check.status,
                htmlPage(QStringLiteral("Authorization failed"),
                         QStringLiteral("<h1>Authorization failed</h1><p><code>%1</code></p><p>%2</p>")
                             .arg(htmlEscape(check.error), htmlEscape(check.description))),
                htmlType, {}};
    }
    m_lastState = get(QStringLiteral("state"));
    QString scopes;
    for (const QString &s : get(QStringLiteral("scope")).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        scopes += QStringLiteral("<li><b>%1</b>: %2</li>").arg(htmlEscape(s), htmlEscape(scopeDescription(s)));
    QString hidden;
    for (const char *name : {"client_id", "response_type", "scope", "state", "redirect_uri", "code_challenge",
                             "code_challenge_method"}) {
        const QString value = get(QLatin1String(name));
        if (!value.isNull())
            hidden += QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">\n")
                          .arg(QLatin1String(name), htmlEscape(value));
    }
    const QString body =
        QStringLiteral("<h1>Authorize application</h1>\n"
                       "<p>The application <b>%1</b> asks to use the account <b>%2</b> and may:</p>\n<ul>%3</ul>\n"
                       "<p>You will be sent back to <code>%4</code>.</p>\n"
                       "<form method=\"post\" action=\"/oauth2/authorize\">\n%5"
                       "<button name=\"decision\" value=\"allow\">Allow</button>\n"
                       "<button name=\"decision\" value=\"deny\">Deny</button>\n</form>")
            .arg(htmlEscape(app->clientId), htmlEscape(m_user.name), scopes, htmlEscape(app->redirectUri), hidden);
    return {200, htmlPage(QStringLiteral("Authorize application"), body), htmlType,
            "Cache-Control: no-store\r\n"};
}

Server::Reply Server::authorizeDecision(const Request &request)
{
    const auto get = [&request](const QString &name) {
        const QByteArray v = request.formValue(name);
        return v.isNull() ? QString() : QString::fromUtf8(v);
    };
    const App *app = findApp(get(QStringLiteral("client_id")));
    const AuthorizeCheck check = checkAuthorize(get, app, m_pkceRequired);
    if (!check.error.isEmpty()) {
        return {check.status,
                htmlPage(QStringLiteral("Authorization failed"),
                         QStringLiteral("<h1>Authorization failed</h1><p><code>%1</code></p><p>%2</p>")
                             .arg(htmlEscape(check.error), htmlEscape(check.description))),
                htmlType, {}};
    }
    QList<QPair<QString, QString>> params;
    if (get(QStringLiteral("decision")) == QLatin1String("allow")) {
        const QString code = newToken();
        // A server that knows nothing of PKCE ignores the challenge.
        const QString challenge = m_pkceRequired ? get(QStringLiteral("code_challenge")) : QString();
        m_codes.insert(code, {app->clientId, app->redirectUri, get(QStringLiteral("scope")), challenge,
                              nowMs() + codeLifetimeMs});
        params.append({QStringLiteral("code"), code});
    } else {
        params.append({QStringLiteral("error"), QStringLiteral("access_denied")});
        params.append({QStringLiteral("error_description"), QStringLiteral("The user denied the request.")});
    }
    const QString state = get(QStringLiteral("state"));
    if (!state.isNull())
        params.append({QStringLiteral("state"), state});
    const QString location = appendQuery(app->redirectUri, params);
    return {302,
            htmlPage(QStringLiteral("Redirecting"),
                     QStringLiteral("<p><a href=\"%1\">Continue</a></p>").arg(htmlEscape(location))),
            htmlType, "Location: " + location.toUtf8() + "\r\nCache-Control: no-store\r\n"};
}

Server::Reply Server::tokenReply(const Request &request)
{
    const QByteArray noStore = "Cache-Control: no-store\r\nPragma: no-cache\r\n";
    const auto error = [&noStore](int status, const char *code, const QString &description) {
        return Reply{status, oauthError(QLatin1String(code), description).write(), jsonType, noStore};
    };
    const auto get = [&request](const QString &name) {
        const QByteArray v = request.formValue(name);
        return v.isNull() ? QString() : QString::fromUtf8(v);
    };

    const QString grantType = get(QStringLiteral("grant_type"));
    if (grantType.isEmpty())
        return error(400, "invalid_request", QStringLiteral("grant_type is missing."));
    if (grantType != QLatin1String("authorization_code") && grantType != QLatin1String("refresh_token"))
        return error(400, "unsupported_grant_type", QStringLiteral("Unknown grant_type: %1.").arg(grantType));

    // The client's credentials come in the form, or as HTTP Basic.
    QString clientId = get(QStringLiteral("client_id"));
    QString clientSecret = get(QStringLiteral("client_secret"));
    const QByteArray authorization = request.header("Authorization");
    if (clientId.isEmpty() && authorization.toLower().startsWith("basic ")) {
        const QByteArray pair = QByteArray::fromBase64(authorization.mid(6).trimmed());
        const qsizetype colon = pair.indexOf(':');
        if (colon > 0) {
            clientId = QString::fromUtf8(percentDecode(pair.left(colon), true));
            clientSecret = QString::fromUtf8(percentDecode(pair.mid(colon + 1), true));
        }
    }
    if (clientId.isEmpty())
        return error(400, "invalid_request", QStringLiteral("client_id is missing."));
    const App *app = findApp(clientId);
    if (!app)
        return error(400, "invalid_client", QStringLiteral("No application is registered with this client_id."));
    if (clientSecret != app->clientSecret)
        return error(401, "invalid_client", QStringLiteral("The client_secret is wrong."));

    QString scope;
    if (grantType == QLatin1String("authorization_code")) {
        const QString code = get(QStringLiteral("code"));
        if (code.isEmpty())
            return error(400, "invalid_request", QStringLiteral("code is missing."));
        // A code is spent by any attempt that names it.
        const auto it = m_codes.constFind(code);
        if (it == m_codes.constEnd())
            return error(400, "invalid_grant", QStringLiteral("The code is unknown or was used already."));
        const CodeGrant grant = *it;
        m_codes.erase(it);
        if (grant.expiresAtMs <= nowMs())
            return error(400, "invalid_grant", QStringLiteral("The code has expired."));
        if (grant.clientId != clientId)
            return error(400, "invalid_grant", QStringLiteral("The code was issued to another application."));
        if (get(QStringLiteral("redirect_uri")) != grant.redirectUri)
            return error(400, "invalid_grant", QStringLiteral("The redirect_uri is not the one the code was issued for."));
        if (!grant.challenge.isEmpty()) {
            const QByteArray verified =
                QCryptographicHash::hash(get(QStringLiteral("code_verifier")).toLatin1(), QCryptographicHash::Sha256)
                    .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            if (get(QStringLiteral("code_verifier")).isEmpty() || QString::fromLatin1(verified) != grant.challenge)
                return error(400, "invalid_grant", QStringLiteral("The code_verifier does not match the challenge."));
        }
        scope = grant.scope;
    } else {
        const QString refresh = get(QStringLiteral("refresh_token"));
        if (refresh.isEmpty())
            return error(400, "invalid_request", QStringLiteral("refresh_token is missing."));
        const auto it = m_refreshTokens.constFind(refresh);
        if (it == m_refreshTokens.constEnd() || it->clientId != clientId)
            return error(400, "invalid_grant", QStringLiteral("The refresh token is not valid."));
        scope = it->scope;
        m_refreshTokens.erase(it); // replaced by the one issued now
    }

    const QString access = newToken();
    m_accessTokens.insert(access, {clientId, scope, nowMs() + qint64(m_tokenLifetime) * 1000});
    m_lastAccessToken = access;
    Json answer = Json::object();
    answer.insert(QStringLiteral("access_token"), access);
    answer.insert(QStringLiteral("expires_in"), m_tokenLifetime);
    if (scope.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(QLatin1String("offline_access"))) {
        const QString refresh = newToken();
        m_refreshTokens.insert(refresh, {clientId, scope});
        m_lastRefreshToken = refresh;
        answer.insert(QStringLiteral("refresh_token"), refresh);
    }
    answer.insert(QStringLiteral("scope"), scope);
    answer.insert(QStringLiteral("token_type"), "bearer");
    return {200, answer.write(), jsonType, noStore};
}

// ---- the API ----

Server::Reply Server::apiReply(const Request &request, Endpoint endpoint)
{
    Reply reply;
    const Route route = routeOf(request.method, request.path);
    const QByteArray authorization = request.header("Authorization");
    const QString token = authorization.toLower().startsWith("bearer ")
        ? QString::fromLatin1(authorization.mid(7).trimmed())
        : QString();
    const auto grant = token.isEmpty() ? m_accessTokens.constEnd() : m_accessTokens.constFind(token);
    if (m_rateLimitAfter >= 0 && m_callsSinceLimitReset > m_rateLimitAfter) {
        reply = envelope(429, QStringLiteral("Limit Exceeded"), Json::array(),
                         QStringLiteral("You have exceeded your rate limit."), 0);
        reply.extraHeaders = rateHeaders(true, m_rateLimitResetSeconds);
        return reply;
    }
    // Update is PUT by its definition; the address it shares is read with GET.
    const char *method = endpoint == Endpoint::Edit ? "POST" : endpoint == Endpoint::Update ? "PUT" : "GET";
    if (request.method != QLatin1String(method)) {
        const QByteArray allow = endpoint == Endpoint::OnePost ? "GET, PUT" : method;
        reply = envelope(405, QStringLiteral("Method Not Allowed"), Json::array(),
                         QStringLiteral("Use %1.").arg(QString::fromLatin1(allow).replace(QLatin1String(", "), QLatin1String(" or "))));
        reply.extraHeaders = "Allow: " + allow + "\r\n";
    } else if (grant == m_accessTokens.constEnd() || grant->expiresAtMs <= nowMs()) {
        reply = envelope(401, QStringLiteral("Unauthorized"), Json::array(),
                         token.isEmpty() ? QStringLiteral("Unable to authorize: no access token.")
                                         : QStringLiteral("Unable to authorize: the access token is not valid or has expired."),
                         1016);
    } else if (endpoint == Endpoint::UserInfo) {
        reply = userInfoReply();
    } else if (endpoint == Endpoint::Limits) {
        reply = limitsReply();
    } else if (Blog *b = findBlog(route.blog); !b) {
        reply = envelope(404, QStringLiteral("Not Found"), Json::array(), QStringLiteral("No blog %1.").arg(route.blog),
                         4012);
    } else if (endpoint == Endpoint::Posts) {
        reply = postsReply(request, *b);
    } else if (endpoint == Endpoint::Edit) {
        reply = editReply(request, *b);
    } else if (endpoint == Endpoint::Update) {
        reply = updateReply(request, *b, route.id);
    } else {
        reply = onePostReply(request, *b, route.id);
    }
    reply.extraHeaders += rateHeaders(false, 0);
    return reply;
}

Server::Reply Server::userInfoReply()
{
    Json blogs = Json::array();
    for (const Blog &b : m_user.blogs) {
        Json o = Json::object();
        o.insert(QStringLiteral("name"), b.name);
        o.insert(QStringLiteral("title"), b.title);
        o.insert(QStringLiteral("url"), blogUrl(b));
        o.insert(QStringLiteral("uuid"), blogUuid(b));
        o.insert(QStringLiteral("primary"), b.primary);
        o.insert(QStringLiteral("type"), b.type);
        o.insert(QStringLiteral("admin"), true);
        o.insert(QStringLiteral("posts"), qint64(b.posts.size()));
        blogs.append(o);
    }
    Json user = Json::object();
    user.insert(QStringLiteral("name"), m_user.name);
    user.insert(QStringLiteral("likes"), 0);
    user.insert(QStringLiteral("following"), 0);
    user.insert(QStringLiteral("default_post_format"), "html");
    user.insert(QStringLiteral("blogs"), blogs);
    Json response = Json::object();
    response.insert(QStringLiteral("user"), user);
    return envelope(200, QStringLiteral("OK"), response);
}

Server::Reply Server::limitsReply()
{
    // The account's own limits, as the service lists them; the calls of the
    // application key are in the headers of every answer.
    const qint64 nowSeconds = QDateTime::currentSecsSinceEpoch();
    const auto limit = [nowSeconds](const char *description, int limit, int remaining, qint64 resetIn) {
        Json o = Json::object();
        o.insert(QStringLiteral("description"), description);
        o.insert(QStringLiteral("limit"), limit);
        o.insert(QStringLiteral("remaining"), remaining);
        o.insert(QStringLiteral("reset_at"), nowSeconds + resetIn);
        return o;
    };
    Json user = Json::object();
    user.insert(QStringLiteral("blogs"), limit("Blogs created per day", 10, 10, 86400));
    user.insert(QStringLiteral("follows"), limit("Blogs followed per day", 200, 200, 86400));
    user.insert(QStringLiteral("likes"), limit("Posts liked per day", 1000, 1000, 86400));
    user.insert(QStringLiteral("posts"), limit("Posts made per day", 250, 250, 86400));
    Json response = Json::object();
    response.insert(QStringLiteral("user"), user);
    return envelope(200, QStringLiteral("OK"), response);
}

Server::Reply Server::postsReply(const Request &request, const Blog &blog)
{
    const auto intParam = [&request](const char *name, int fallback, bool *ok) {
        const QString text = request.queryValue(QLatin1String(name));
        *ok = true;
        return text.isNull() ? fallback : text.toInt(ok);
    };
    bool ok = false;
    int limit = intParam("limit", pageLimit, &ok);
    if (!ok || limit < 1)
        return envelope(400, QStringLiteral("Bad Request"), Json::array(), QStringLiteral("limit must be 1 or more."));
    limit = std::min(limit, pageLimit);
    const int offset = intParam("offset", 0, &ok);
    if (!ok || offset < 0)
        return envelope(400, QStringLiteral("Bad Request"), Json::array(), QStringLiteral("offset must be 0 or more."));
    const bool npf = request.queryValue(QStringLiteral("npf")) == QLatin1String("true");
    // before: only posts older than that time (seconds); not with an offset.
    const QString beforeText = request.queryValue(QStringLiteral("before"));
    std::optional<qint64> before;
    if (!beforeText.isNull()) {
        bool number = false;
        before = beforeText.toLongLong(&number);
        if (!number)
            return envelope(400, QStringLiteral("Bad Request"), Json::array(), QStringLiteral("before must be a time in seconds."));
        if (!request.queryValue(QStringLiteral("offset")).isNull())
            return envelope(400, QStringLiteral("Bad Request"), Json::array(),
                            QStringLiteral("before and offset can't be used together."));
    }

    // Without npf the service reshapes new-editor posts as text posts, so
    // they are not photo posts there.
    std::vector<const Post *> photos;
    for (const Post &p : blog.posts) {
        if (p.type == QLatin1String("photo") && (npf || !p.blocks) && (!before || p.timestamp < *before))
            photos.push_back(&p);
    }
    const qsizetype total = qsizetype(photos.size());
    const qsizetype first = blog.repeatOnPaging && offset > 0 ? offset - 1 : offset;
    Json posts = Json::array();
    for (qsizetype i = first; i < std::min<qsizetype>(total, first + limit); ++i)
        posts.append(npf ? npfPost(blog, *photos[size_t(i)]) : legacyPostJson(blog, *photos[size_t(i)]));

    Json blogInfo = Json::object();
    blogInfo.insert(QStringLiteral("name"), blog.name);
    blogInfo.insert(QStringLiteral("title"), blog.title);
    blogInfo.insert(QStringLiteral("url"), blogUrl(blog));
    blogInfo.insert(QStringLiteral("uuid"), blogUuid(blog));
    Json response = Json::object();
    response.insert(QStringLiteral("blog"), blogInfo);
    response.insert(QStringLiteral("posts"), posts);
    response.insert(QStringLiteral("total_posts"), qint64(total));
    if (!before && (blog.loopingNext || qint64(offset) + limit < total)) {
        const QString nextOffset = QString::number(blog.loopingNext ? 0 : offset + limit);
        Json params = Json::object();
        params.insert(QStringLiteral("limit"), QString::number(limit));
        params.insert(QStringLiteral("offset"), nextOffset);
        QString href = QStringLiteral("/v2/blog/%1/posts/photo?limit=%2&offset=%3").arg(blog.name).arg(limit).arg(nextOffset);
        if (npf) {
            params.insert(QStringLiteral("npf"), "true");
            href += QStringLiteral("&npf=true");
        }
        Json next = Json::object();
        next.insert(QStringLiteral("href"), href);
        next.insert(QStringLiteral("method"), "GET");
        next.insert(QStringLiteral("query_params"), params);
        Json links = Json::object();
        links.insert(QStringLiteral("next"), next);
        response.insert(QStringLiteral("_links"), links);
    }
    return envelope(200, QStringLiteral("OK"), response);
}

Server::Reply Server::onePostReply(const Request &request, const Blog &blog, const QString &id)
{
    const QString format = request.queryValue(QStringLiteral("post_format"));
    if (!format.isNull() && format != QLatin1String("npf") && format != QLatin1String("legacy"))
        return envelope(400, QStringLiteral("Bad Request"), Json::array(),
                        QStringLiteral("post_format must be npf or legacy."));
    const auto it = std::find_if(blog.posts.begin(), blog.posts.end(), [&id](const Post &p) { return p.idString == id; });
    if (it == blog.posts.end())
        return envelope(404, QStringLiteral("Not Found"), Json::array(), QStringLiteral("No post %1.").arg(id));
    if (format == QLatin1String("npf"))
        return envelope(200, QStringLiteral("OK"), npfPost(blog, *it));
    if (it->blocks)
        return envelope(400, QStringLiteral("Bad Request"), Json::array(),
                        QStringLiteral("This post was made in the new editor; ask for post_format=npf."));
    return envelope(200, QStringLiteral("OK"), legacyPostJson(blog, *it));
}

Server::Reply Server::badRequest(const QString &detail) const
{
    return envelope(400, QStringLiteral("Bad Request"), Json::array(), detail);
}

Server::Reply Server::editedReply(const Post &post) const
{
    Json response = Json::object();
    response.insert(QStringLiteral("id"), Json::number(post.idString));
    response.insert(QStringLiteral("id_string"), post.idString);
    return envelope(200, QStringLiteral("OK"), response);
}

Server::Reply Server::editReply(const Request &request, Blog &blog)
{
    const auto field = [&request](const char *name) {
        const QByteArray v = request.formValue(QLatin1String(name));
        return v.isNull() ? QString() : QString::fromUtf8(v);
    };
    const QString id = field("id");
    if (id.isEmpty())
        return badRequest(QStringLiteral("id is missing."));
    const auto it = std::find_if(blog.posts.begin(), blog.posts.end(), [&id](const Post &p) { return p.idString == id; });
    if (it == blog.posts.end())
        return envelope(404, QStringLiteral("Not Found"), Json::array(), QStringLiteral("No post %1.").arg(id));
    if (it->blocks)
        return badRequest(QStringLiteral("This post was made in the new post format; edit it with PUT /v2/blog/%1/posts/%2.")
                              .arg(blog.name, id));

    // Everything is checked before anything changes: a refused edit changes nothing.
    Post edited = *it;
    const QString type = field("type").isNull() ? QStringLiteral("text") : field("type");
    if (edited.type == QLatin1String("photo") && type != QLatin1String("photo")) {
        // As the service does: the post is remade as the type given, and
        // what a text post cannot hold is gone.
        edited.type = QStringLiteral("text");
        edited.photoUrl.clear();
        edited.imageExtra.clear();
    }
    if (const QString tags = field("tags"); !tags.isNull()) {
        edited.tags = splitTags(tags);
        if (const QString problem = tagsProblem(edited.tags); !problem.isEmpty())
            return badRequest(problem);
    }
    if (const QString state = field("state"); !state.isNull()) {
        if (!postStates.contains(state))
            return badRequest(QStringLiteral("Unknown state: %1.").arg(state));
        edited.state = state;
    }
    if (const QString date = field("date"); !date.isNull()) {
        const std::optional<QDateTime> time = parseDate(date);
        if (!time)
            return badRequest(QStringLiteral("date is not a date: %1.").arg(date));
        edited.date = dateText(*time);
        edited.timestamp = time->toSecsSinceEpoch();
    }
    if (const QString format = field("format"); !format.isNull()) {
        if (format != QLatin1String("html") && format != QLatin1String("markdown"))
            return badRequest(QStringLiteral("format must be html or markdown."));
        edited.format = format;
    }
    const bool photo = edited.type == QLatin1String("photo");
    if (const QString text = field(photo ? "caption" : "body"); !text.isNull())
        edited.caption = text;
    if (const QString source = field("source"); photo && !source.isNull())
        edited.photoUrl = source;
    if (const QString slug = field("slug"); !slug.isNull())
        edited.slug = slug;
    if (const QString link = field("link"); !link.isNull())
        edited.linkUrl = link;
    if (const QString publishOn = field("publish_on"); !publishOn.isNull())
        edited.publishOn = publishOn;
    if (edited.state != QLatin1String("queue"))
        edited.publishOn.clear(); // only a queued post has a schedule
    if (m_legacyEditWipes == QLatin1String("caption") && field(photo ? "caption" : "body").isNull())
        edited.caption.clear();
    else if (m_legacyEditWipes == QLatin1String("slug") && field("slug").isNull())
        edited.slug.clear();
    else if (m_legacyEditWipes == QLatin1String("link_url") && field("link").isNull())
        edited.linkUrl.clear();
    else if (m_legacyEditWipes == QLatin1String("format") && field("format").isNull())
        edited.format = edited.format == QLatin1String("markdown") ? QStringLiteral("html") : QStringLiteral("markdown");
    else if (m_legacyEditWipes == QLatin1String("photos") && field("source").isNull())
        edited.photoUrl.clear();
    else if (m_legacyEditWipes == QLatin1String("date") && field("date").isNull())
        edited.date = dateText(QDateTime::fromSecsSinceEpoch(edited.timestamp = QDateTime::currentSecsSinceEpoch(), QTimeZone::utc()));
    else if (m_legacyEditWipes == QLatin1String("state") && field("state").isNull())
        edited.state = QStringLiteral("published");

    ++edited.editCount;
    *it = std::move(edited);
    return editedReply(*it);
}

Server::Reply Server::updateReply(const Request &request, Blog &blog, const QString &id)
{
    const auto it = std::find_if(blog.posts.begin(), blog.posts.end(), [&id](const Post &p) { return p.idString == id; });
    if (it == blog.posts.end())
        return envelope(404, QStringLiteral("Not Found"), Json::array(), QStringLiteral("No post %1.").arg(id));
    if (!it->blocks)
        return badRequest(QStringLiteral("This post can't be edited in the new post format"));
    if (!request.header("Content-Type").toLower().startsWith("application/json"))
        return badRequest(QStringLiteral("Send the post as application/json."));
    const std::optional<Json> parsed = Json::parse(request.body);
    if (!parsed)
        return badRequest(QStringLiteral("Invalid JSON"));
    const Json &body = *parsed;
    if (!body.isObject())
        return badRequest(QStringLiteral("The post must be a JSON object."));

    // What the service makes itself; a client echoing it back is not refused,
    // and nothing of it changes.
    static const QStringList readOnly = {
        QStringLiteral("id"), QStringLiteral("id_string"), QStringLiteral("blog_name"), QStringLiteral("blog"),
        QStringLiteral("post_url"), QStringLiteral("short_url"), QStringLiteral("slug"), QStringLiteral("date"),
        QStringLiteral("timestamp"), QStringLiteral("reblog_key"), QStringLiteral("is_blocks_post_format"),
        QStringLiteral("object_type"), QStringLiteral("type"), QStringLiteral("original_type"), QStringLiteral("trail"),
        QStringLiteral("format"), QStringLiteral("note_count"), QStringLiteral("summary"), QStringLiteral("link_url"),
        QStringLiteral("parent_post_url"), QStringLiteral("genesis_post_id"),
    };
    static const QStringList writable = {
        QStringLiteral("content"), QStringLiteral("layout"), QStringLiteral("state"), QStringLiteral("tags"),
        QStringLiteral("publish_on"), QStringLiteral("can_be_tipped"), QStringLiteral("interactability_reblog"),
    };
    for (const char *name : {"id", "id_string"}) {
        const QString key = QLatin1String(name);
        if (body.contains(key) && !sameId(body[key], id))
            return badRequest(QStringLiteral("%1 is not the id of the post addressed (%2).").arg(key, id));
    }

    const Json &content = body[QStringLiteral("content")];
    if (!body.contains(QStringLiteral("content")))
        return badRequest(QStringLiteral("content is missing."));
    bool blocksGood = content.isArray();
    for (qsizetype i = 0; blocksGood && i < content.size(); ++i)
        blocksGood = content.at(i).isObject() && !content.at(i)[QStringLiteral("type")].toString().isEmpty();
    if (!blocksGood)
        return badRequest(QStringLiteral("content must be an array of blocks, each with a type."));
    if (body.contains(QStringLiteral("layout")) && !body[QStringLiteral("layout")].isArray())
        return badRequest(QStringLiteral("layout must be an array."));
    const Json &state = body[QStringLiteral("state")];
    if (body.contains(QStringLiteral("state")) && !postStates.contains(state.toString()))
        return badRequest(QStringLiteral("Unknown state."));
    const Json &publishOn = body[QStringLiteral("publish_on")];
    if (body.contains(QStringLiteral("publish_on")) && !publishOn.isString())
        return badRequest(QStringLiteral("publish_on must be a date in ISO 8601."));
    const Json &tipped = body[QStringLiteral("can_be_tipped")];
    if (body.contains(QStringLiteral("can_be_tipped")) && !tipped.isBool())
        return badRequest(QStringLiteral("can_be_tipped must be true or false."));
    const Json &reblog = body[QStringLiteral("interactability_reblog")];
    if (body.contains(QStringLiteral("interactability_reblog")) && reblog.toString() != QLatin1String("everyone")
        && reblog.toString() != QLatin1String("noone"))
        return badRequest(QStringLiteral("interactability_reblog must be everyone or noone."));
    QStringList tags;
    if (const Json &t = body[QStringLiteral("tags")]; t.isString()) {
        tags = splitTags(t.toString());
    } else if (t.isArray()) {
        // In an array a tag may hold a comma.
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (!t.at(i).isString())
                return badRequest(QStringLiteral("tags must be strings."));
            if (const QString tag = t.at(i).toString().trimmed(); !tag.isEmpty())
                tags.append(tag);
        }
    } else if (body.contains(QStringLiteral("tags"))) {
        return badRequest(QStringLiteral("tags must be a string or an array of strings."));
    }
    if (const QString problem = tagsProblem(tags); !problem.isEmpty())
        return badRequest(problem);

    // The body is the whole post: what it leaves out takes the default, as
    // on the service, and what was stored for it is lost.
    Post edited = *it;
    edited.content = content;
    edited.layout = body.contains(QStringLiteral("layout")) ? body[QStringLiteral("layout")] : Json::array();
    edited.state = body.contains(QStringLiteral("state")) ? state.toString() : QStringLiteral("published");
    edited.publishOn = publishOn.toString();
    if (edited.state == QLatin1String("queue") && edited.publishOn.isEmpty())
        edited.state = QStringLiteral("published"); // the schedule went with the field
    if (edited.state != QLatin1String("queue"))
        edited.publishOn.clear();
    edited.tags = tags;
    // The default here is the other value than the post had, so that leaving
    // it out always shows.
    edited.canBeTipped = body.contains(QStringLiteral("can_be_tipped")) ? tipped.toBool() : !it->canBeTipped;
    edited.interactability = body.contains(QStringLiteral("interactability_reblog")) ? reblog.toString()
                                                                                    : QStringLiteral("everyone");
    edited.extraFields.clear();
    for (const QString &key : body.keys()) {
        if (!readOnly.contains(key) && !writable.contains(key))
            edited.extraFields.append({key, body[key]});
    }

    // A careless service losing one member of what it was sent.
    if (m_updateDrops == QLatin1String("layout"))
        edited.layout = Json::array();
    else if (m_updateDrops == QLatin1String("can_be_tipped"))
        edited.canBeTipped = !edited.canBeTipped;
    else if (m_updateDrops == QLatin1String("interactability_reblog"))
        edited.interactability = edited.interactability == QLatin1String("noone") ? QStringLiteral("everyone") : QStringLiteral("noone");
    else if (m_updateDrops == QLatin1String("alt_text")) {
        Json blocks = Json::array();
        for (qsizetype i = 0; i < edited.content.size(); ++i) {
            Json block = edited.content.at(i);
            if (block[QStringLiteral("type")].toString() == QLatin1String("image"))
                block.insert(QStringLiteral("alt_text"), "");
            blocks.append(block);
        }
        edited.content = blocks;
    } else if (!m_updateDrops.isEmpty()) {
        edited.extraFields.removeIf([this](const QPair<QString, Json> &f) { return f.first == m_updateDrops; });
    }

    // The fields the rest of the simulator reads follow the blocks.
    edited.texts.clear();
    edited.altText.clear();
    edited.photoUrl.clear();
    edited.imageExtra.clear();
    bool image = false;
    for (qsizetype i = 0; i < edited.content.size(); ++i) {
        const Json &block = edited.content.at(i);
        const QString blockType = block[QStringLiteral("type")].toString();
        if (blockType == QLatin1String("text")) {
            edited.texts.append(block[QStringLiteral("text")].toString());
        } else if (blockType == QLatin1String("image") && !image) {
            image = true;
            edited.altText = block[QStringLiteral("alt_text")].toString();
            edited.photoUrl = block[QStringLiteral("media")].at(0)[QStringLiteral("url")].toString();
            for (const QString &key : block.keys()) {
                if (key != QLatin1String("type") && key != QLatin1String("media") && key != QLatin1String("alt_text"))
                    edited.imageExtra.append({key, block[key]});
            }
        }
    }
    // Without its image it is no photo post any more.
    edited.type = image ? QStringLiteral("photo") : QStringLiteral("text");

    ++edited.editCount;
    *it = std::move(edited);
    return editedReply(*it);
}

Json Server::postCommon(const Blog &blog, const Post &post) const
{
    Json o = Json::object();
    o.insert(QStringLiteral("id"), Json::number(post.idString));
    if (!post.omitIdString)
        o.insert(QStringLiteral("id_string"), post.idString);
    o.insert(QStringLiteral("blog_name"), blog.name);
    const QString postUrl = post.postUrl.isEmpty()
        ? blogUrl(blog) + QStringLiteral("post/") + post.idString + (post.slug.isEmpty() ? QString() : QLatin1Char('/') + post.slug)
        : absolute(post.postUrl);
    o.insert(QStringLiteral("post_url"), postUrl);
    o.insert(QStringLiteral("slug"), post.slug);
    o.insert(QStringLiteral("date"), post.date);
    o.insert(QStringLiteral("timestamp"), post.timestamp);
    o.insert(QStringLiteral("state"), post.state);
    if (!post.publishOn.isEmpty())
        o.insert(QStringLiteral("publish_on"), post.publishOn);
    o.insert(QStringLiteral("format"), post.format);
    o.insert(QStringLiteral("reblog_key"), reblogKey(post));
    o.insert(QStringLiteral("tags"), stringArray(post.tags));
    return o;
}

Json Server::npfPost(const Blog &blog, const Post &post) const
{
    Json o = Json::object();
    o.insert(QStringLiteral("object_type"), "post");
    o.insert(QStringLiteral("type"), "blocks");
    const Json common = postCommon(blog, post);
    for (const QString &key : common.keys())
        o.insert(key, common.value(key));
    o.insert(QStringLiteral("is_blocks_post_format"), post.blocks);
    o.insert(QStringLiteral("content"), npfContent(post));
    o.insert(QStringLiteral("layout"), post.layout.isArray() ? post.layout : Json::array());
    o.insert(QStringLiteral("trail"), Json::array());
    o.insert(QStringLiteral("can_be_tipped"), post.canBeTipped);
    o.insert(QStringLiteral("interactability_reblog"), post.interactability);
    // A legacy post's conversion keeps nothing of the legacy form: its
    // format and click-through link are not in the new post format.
    if (!post.blocks)
        o.remove(QStringLiteral("format"));
    else if (!post.linkUrl.isEmpty())
        o.insert(QStringLiteral("link_url"), post.linkUrl);
    for (const auto &extra : post.extraFields)
        o.insert(extra.first, extra.second);
    return o;
}

Json Server::npfContent(const Post &post) const
{
    if (post.content.isArray())
        return post.content;
    Json content = Json::array();
    if (post.type == QLatin1String("photo") || !post.photoUrl.isEmpty()) {
        Json media = Json::object();
        media.insert(QStringLiteral("url"), absolute(post.photoUrl));
        media.insert(QStringLiteral("type"), "image/jpeg");
        media.insert(QStringLiteral("width"), 500);
        media.insert(QStringLiteral("height"), 375);
        Json image = Json::object();
        image.insert(QStringLiteral("type"), "image");
        image.insert(QStringLiteral("media"), Json::array().append(media));
        image.insert(QStringLiteral("alt_text"), post.altText);
        for (const auto &extra : post.imageExtra)
            image.insert(extra.first, extra.second);
        content.append(image);
    }
    for (const QString &text : post.blocks ? post.texts : captionTexts(post.caption)) {
        Json block = Json::object();
        block.insert(QStringLiteral("type"), "text");
        block.insert(QStringLiteral("text"), text);
        content.append(block);
    }
    return content;
}

Json Server::legacyPostJson(const Blog &blog, const Post &post) const
{
    Json o = Json::object();
    o.insert(QStringLiteral("type"), post.type);
    const Json common = postCommon(blog, post);
    for (const QString &key : common.keys())
        o.insert(key, common.value(key));
    if (post.type == QLatin1String("photo")) {
        o.insert(QStringLiteral("caption"), post.caption);
        Json size = Json::object();
        size.insert(QStringLiteral("url"), absolute(post.photoUrl));
        size.insert(QStringLiteral("width"), 500);
        size.insert(QStringLiteral("height"), 375);
        Json photo = Json::object();
        photo.insert(QStringLiteral("caption"), "");
        photo.insert(QStringLiteral("original_size"), size);
        o.insert(QStringLiteral("photos"), Json::array().append(photo));
    } else if (post.type == QLatin1String("text")) {
        o.insert(QStringLiteral("body"), post.caption);
    }
    if (!post.linkUrl.isEmpty())
        o.insert(QStringLiteral("link_url"), post.linkUrl);
    o.insert(QStringLiteral("is_blocks_post_format"), false);
    return o;
}

QStringList Server::captionTexts(const QString &html)
{
    QStringList pieces;
    QString current;
    const auto flush = [&pieces, &current] {
        const QString text = decodeEntities(current).trimmed();
        if (!text.isEmpty())
            pieces.append(text);
        current.clear();
    };
    for (qsizetype i = 0; i < html.size(); ++i) {
        const QChar c = html.at(i);
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            flush();
            continue;
        }
        // A '<' not followed by a letter, '/' or '!' is text, as in a browser.
        const QChar next = i + 1 < html.size() ? html.at(i + 1) : QChar();
        if (c != QLatin1Char('<') || !(next.isLetter() || next == QLatin1Char('/') || next == QLatin1Char('!'))) {
            current += c;
            continue;
        }
        const qsizetype end = html.indexOf(QLatin1Char('>'), i + 1);
        if (end < 0) {
            current += html.mid(i);
            break;
        }
        QString name = html.mid(i + 1, end - i - 1).trimmed().toLower();
        if (name.startsWith(QLatin1Char('/')))
            name.remove(0, 1);
        qsizetype len = 0;
        while (len < name.size() && name.at(len).isLetterOrNumber())
            ++len;
        name.truncate(len);
        if (name == QLatin1String("p") || name == QLatin1String("br"))
            flush();
        i = end;
    }
    flush();
    return pieces;
}

}

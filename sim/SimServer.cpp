#include "SimServer.h"

#include "SimForm.h"
#include "SimXml.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace sim {

namespace {

constexpr qsizetype maxHeaderBytes = 1024 * 1024;
constexpr int maxPageSize = 50; // the service never hands out more posts at once

const QByteArray xmlDeclaration = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
const QByteArray xmlType = QByteArrayLiteral("text/xml; charset=utf-8");
const QByteArray plainType = QByteArrayLiteral("text/plain; charset=utf-8");

std::optional<Endpoint> endpointOf(const QString &path)
{
    if (path == QLatin1String("/api/authenticate"))
        return Endpoint::Authenticate;
    if (path == QLatin1String("/api/read"))
        return Endpoint::Read;
    if (path == QLatin1String("/api/write"))
        return Endpoint::Write;
    return std::nullopt;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

QString hostText(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// Stored addresses may be paths; they get the blog's address at answer time,
// since the blog's port is only known once the server listens.
QString absoluteUrl(const QString &url, const QString &blogHost)
{
    if (url.startsWith(QLatin1Char('/')))
        return QStringLiteral("http://") + blogHost + url;
    return url;
}

QString attr(const char *name, const QString &value)
{
    return QLatin1Char(' ') + QLatin1String(name) + QStringLiteral("=\"") + xml::attribute(value) + QLatin1Char('"');
}

QString element(const char *name, const QString &value, const QString &attributes = {})
{
    return QLatin1Char('<') + QLatin1String(name) + attributes + QLatin1Char('>') + xml::text(value)
        + QStringLiteral("</") + QLatin1String(name) + QLatin1Char('>');
}

QString reblogKey(const QString &id)
{
    return QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Md5).toHex().left(8));
}

qint64 unixTimestamp(const QString &date)
{
    // Date and time apart: a local date-time would look up the time zone on every post.
    if (date.size() != 23 || !date.endsWith(QLatin1String(" GMT")) || date[10] != u' ')
        return 0;
    const QDate day = QDate::fromString(date.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(date.mid(11, 8), QStringLiteral("HH:mm:ss"));
    if (!day.isValid() || !time.isValid())
        return 0;
    return QDateTime(day, time, Qt::UTC).toSecsSinceEpoch();
}

QString renderPost(const Post &post, const QString &blogHost)
{
    const QString url = absoluteUrl(post.url, blogHost);
    QString out = QStringLiteral("<post") + attr("id", post.id) + attr("url", url) + attr("url-with-slug", url)
        + attr("type", post.type) + attr("date-gmt", post.date) + attr("date", post.date)
        + attr("unix-timestamp", QString::number(unixTimestamp(post.date))) + attr("format", post.format)
        + attr("reblog-key", reblogKey(post.id)) + attr("slug", post.slug) + QLatin1Char('>');
    if (post.type == QLatin1String("photo")) {
        if (post.hasCaption)
            out += element("photo-caption", post.caption);
        if (!post.linkUrl.isEmpty())
            out += element("photo-link-url", post.linkUrl);
        if (!post.photoUrl.isEmpty())
            out += element("photo-url", absoluteUrl(post.photoUrl, blogHost), attr("max-width", QStringLiteral("500")));
    } else if (post.type == QLatin1String("quote")) {
        out += element("quote-text", post.caption);
    } else if (post.type == QLatin1String("link")) {
        out += element("link-text", post.caption);
        out += element("link-url", post.linkUrl);
    } else if (post.hasCaption) {
        out += element("regular-body", post.caption);
    }
    for (const QString &tag : post.tags)
        out += element("tag", tag);
    out += QStringLiteral("</post>");
    return out;
}

}

QByteArray Request::field(const QString &name) const
{
    for (const auto &f : fields) {
        if (f.first == name)
            return f.second;
    }
    return {};
}

QStringList Request::fieldNames() const
{
    QStringList names;
    for (const auto &f : fields)
        names << f.first;
    return names;
}

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

Server::Server(QObject *parent)
    : QObject(parent)
{
}

Server::~Server()
{
    stop();
}

void Server::addAccount(Account account)
{
    m_accounts.push_back(std::move(account));
}

bool Server::listen(quint16 port, const QString &blogName, QTcpServer **listener)
{
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress::LocalHost, port)) {
        qWarning("velloria-sim: cannot listen on 127.0.0.1:%u: %s", unsigned(port),
                 qPrintable(server->errorString()));
        delete server;
        return false;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server] { onNewConnection(server); });
    m_listeners.push_back(server);
    if (!blogName.isNull())
        m_blogPorts[server->serverPort()] = blogName;
    if (listener)
        *listener = server;
    return true;
}

bool Server::start(quint16 servicePort)
{
    if (m_service)
        return true;
    if (!listen(servicePort, QString(), &m_service)) {
        m_service = nullptr;
        return false;
    }
    quint16 next = servicePort ? quint16(servicePort + 1) : 0;
    for (Account &account : m_accounts) {
        for (Blog &blog : account.blogs) {
            QTcpServer *listener = nullptr;
            if (!listen(next, blog.name, &listener)) {
                stop();
                return false;
            }
            blog.port = listener->serverPort();
            if (next)
                ++next;
        }
    }
    return true;
}

void Server::stop()
{
    const auto sockets = m_buffers.keys();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_buffers.clear();
    m_holding.clear();
    for (QTcpServer *listener : m_listeners) {
        listener->disconnect(this);
        listener->close();
        listener->deleteLater();
    }
    m_listeners.clear();
    m_blogPorts.clear();
    m_service = nullptr;
}

quint16 Server::servicePort() const
{
    return m_service ? m_service->serverPort() : 0;
}

QString Server::serviceHost() const
{
    return hostText(servicePort());
}

QString Server::blogHost(const QString &blogName) const
{
    for (const Account &account : m_accounts) {
        for (const Blog &blog : account.blogs) {
            if (blog.name == blogName)
                return hostText(blog.port);
        }
    }
    return {};
}

Blog *Server::blog(const QString &blogName)
{
    for (Account &account : m_accounts) {
        for (Blog &blog : account.blogs) {
            if (blog.name == blogName)
                return &blog;
        }
    }
    return nullptr;
}

Post *Server::post(const QString &postId)
{
    for (Account &account : m_accounts) {
        for (Blog &blog : account.blogs) {
            for (Post &post : blog.posts) {
                if (post.id == postId)
                    return &post;
            }
        }
    }
    return nullptr;
}

QString Server::addBlogAlias(const QString &blogName)
{
    if (!blog(blogName))
        return {};
    QTcpServer *listener = nullptr;
    if (!listen(0, blogName, &listener))
        return {};
    return hostText(listener->serverPort());
}

void Server::injectFault(Endpoint endpoint, const Fault &fault, int count)
{
    auto &queue = m_faults[endpoint];
    for (int i = 0; i < count; ++i)
        queue.push_back(fault);
}

void Server::clearFaults()
{
    m_faults.clear();
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
        if (endpointOf(r.path) == endpoint)
            out.append(r);
    }
    return out;
}

Account *Server::findAccount(const QByteArray &email, const QByteArray &password)
{
    const QString e = QString::fromUtf8(email);
    const QString p = QString::fromUtf8(password);
    for (Account &account : m_accounts) {
        // Addresses are compared without regard to case, passwords exactly.
        if (account.email.compare(e, Qt::CaseInsensitive) == 0 && account.password == p)
            return &account;
    }
    return nullptr;
}

void Server::onNewConnection(QTcpServer *listener)
{
    while (listener->hasPendingConnections()) {
        QTcpSocket *socket = listener->nextPendingConnection();
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
    while (m_buffers.contains(socket) && !m_holding.value(socket)) {
        QByteArray &buffer = m_buffers[socket];
        while (buffer.startsWith("\r\n"))
            buffer.remove(0, 2);
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (buffer.size() > maxHeaderBytes) {
                socket->write(responseBytes({400, "Request header too large.", plainType, {}}, true));
                finishAnswer(socket, true);
            }
            return;
        }
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/")) {
            buffer.clear();
            socket->write(responseBytes({400, "Malformed request line.", plainType, {}}, true));
            finishAnswer(socket, true);
            return;
        }
        Request request;
        request.method = QString::fromLatin1(requestLine.at(0));
        QByteArray target = requestLine.at(1);
        if (const qsizetype q = target.indexOf('?'); q >= 0)
            target.truncate(q);
        request.path = QString::fromUtf8(form::decode(target));
        request.localPort = socket->localPort();
        const bool http10 = requestLine.at(2) == "HTTP/1.0";
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        request.host = QString::fromLatin1(request.header("Host"));
        const QByteArray connection = request.header("Connection").toLower();
        request.keepAlive = http10 ? connection.contains("keep-alive") : !connection.contains("close");
        if (request.header("Transfer-Encoding").toLower().contains("chunked")) {
            buffer.clear();
            socket->write(responseBytes({411, "Chunked bodies are not accepted; send Content-Length.", plainType, {}}, true));
            finishAnswer(socket, true);
            return;
        }
        bool ok = true;
        const QByteArray lengthText = request.header("Content-Length");
        const qsizetype length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&ok);
        if (!ok || length < 0) {
            buffer.clear();
            socket->write(responseBytes({400, "Bad Content-Length.", plainType, {}}, true));
            finishAnswer(socket, true);
            return;
        }
        const qsizetype bodyStart = headerEnd + 4;
        if (buffer.size() < bodyStart + length)
            return;
        request.rawBody = buffer.mid(bodyStart, length);
        buffer.remove(0, bodyStart + length);
        request.fields = form::parse(request.rawBody);
        handle(socket, std::move(request));
    }
}

QByteArray Server::responseBytes(const Reply &reply, bool close) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    out += "Server: velloria-sim\r\n";
    if (!reply.contentType.isEmpty())
        out += "Content-Type: " + reply.contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    out += reply.extraHeaders;
    out += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n";
    out += reply.body;
    return out;
}

void Server::answer(QTcpSocket *socket, int status, const QByteArray &body, const QByteArray &contentType,
                    const QByteArray &extraHeaders)
{
    socket->write(responseBytes({status, body, contentType, extraHeaders}, false));
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

void Server::sendLater(QTcpSocket *socket, const QByteArray &bytes, int delayMs, bool close)
{
    m_holding[socket] = true;
    QTimer::singleShot(std::max(0, delayMs), Qt::PreciseTimer, socket, [this, socket, bytes, close] {
        socket->write(bytes);
        finishAnswer(socket, close);
        if (!close)
            processBuffer(socket);
    });
}

void Server::handle(QTcpSocket *socket, Request request)
{
    const std::optional<Endpoint> endpoint = endpointOf(request.path);
    const quint16 localPort = request.localPort;
    const bool close = !request.keepAlive;
    if (m_logging) {
        m_log.append(request);
        emit requestLogged(m_log.constLast());
        if (!m_buffers.contains(socket))
            return; // a listener stopped the server
    }

    Fault fault;
    if (!takeFault(endpoint.value_or(Endpoint::Any), fault)) {
        const QByteArray bytes = responseBytes(normalReply(request, endpoint.value_or(Endpoint::Any), localPort), close);
        if (m_answerDelayMs > 0) {
            sendLater(socket, bytes, m_answerDelayMs, close);
            return;
        }
        socket->write(bytes);
        finishAnswer(socket, close);
        return;
    }

    switch (fault.kind) {
    case Fault::Status:
        socket->write(responseBytes({fault.status, fault.body, plainType, fault.headers}, close));
        finishAnswer(socket, close);
        break;
    case Fault::Redirect:
        socket->write(responseBytes({301, fault.body, QByteArrayLiteral("text/html; charset=utf-8"),
                                     "Location: " + fault.location + "\r\n"},
                                    close));
        finishAnswer(socket, close);
        break;
    case Fault::CloseBeforeAnswer:
        finishAnswer(socket, true);
        break;
    case Fault::TruncatedBody: {
        const Reply reply = normalReply(request, endpoint.value_or(Endpoint::Any), localPort);
        const QByteArray bytes = responseBytes(reply, true);
        socket->write(bytes.left(bytes.size() - reply.body.size() + reply.body.size() / 2));
        finishAnswer(socket, true);
        break;
    }
    case Fault::Stall:
        m_holding[socket] = true;
        break;
    case Fault::Trickle: {
        const QByteArray bytes = responseBytes(normalReply(request, endpoint.value_or(Endpoint::Any), localPort), close);
        m_holding[socket] = true;
        auto *timer = new QTimer(socket);
        timer->setInterval(std::max(0, fault.delayMs));
        const qsizetype chunk = std::max(1, fault.chunk);
        auto offset = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, bytes, chunk, offset, close] {
            socket->write(bytes.mid(*offset, chunk));
            *offset += chunk;
            if (*offset < bytes.size())
                return;
            timer->stop();
            timer->deleteLater();
            finishAnswer(socket, close);
            if (!close)
                processBuffer(socket);
        });
        timer->start();
        break;
    }
    case Fault::MalformedXml: {
        const QByteArray body = fault.body.isEmpty()
            ? xmlDeclaration + "<tumblr version=\"1.0\"><posts><post id=\"1\"></tumblr>"
            : fault.body;
        socket->write(responseBytes({200, body, xmlType, {}}, close));
        finishAnswer(socket, close);
        break;
    }
    case Fault::Empty200:
        socket->write(responseBytes({200, {}, xmlType, {}}, close));
        finishAnswer(socket, close);
        break;
    case Fault::Delay: {
        // The request takes effect at once; only its answer waits.
        sendLater(socket, responseBytes(normalReply(request, endpoint.value_or(Endpoint::Any), localPort), close),
                  fault.delayMs, close);
        break;
    }
    case Fault::RawResponse:
        socket->write(fault.body);
        finishAnswer(socket, true);
        break;
    }
}

Server::Reply Server::normalReply(const Request &request, Endpoint endpoint, quint16 localPort)
{
    if (endpoint == Endpoint::Any)
        return {404, "Not found.", plainType, {}};
    if (request.method != QLatin1String("POST"))
        return {405, "Only POST is accepted.", plainType, "Allow: POST\r\n"};
    // Like the real service, blog hosts only serve reads and the service host no reads.
    if ((endpoint == Endpoint::Read) == (m_service && localPort == m_service->serverPort()))
        return {404, endpoint == Endpoint::Read ? "No blog at this address." : "Not found.", plainType, {}};
    switch (endpoint) {
    case Endpoint::Authenticate: return authenticateReply(request);
    case Endpoint::Read: return readReply(request, localPort);
    case Endpoint::Write: return writeReply(request);
    case Endpoint::Any: break;
    }
    return {404, "Not found.", plainType, {}};
}

Server::Reply Server::authenticateReply(const Request &request)
{
    for (const char *name : {"email", "password"}) {
        if (!request.fieldNames().contains(QLatin1String(name)))
            return {400, "Missing field: " + QByteArray(name) + '.', plainType, {}};
    }
    const Account *account = findAccount(request.field(QStringLiteral("email")), request.field(QStringLiteral("password")));
    if (!account)
        return {403, "Invalid credentials.", plainType, {}};
    return {200, renderAuthenticate(*account, *this), xmlType, {}};
}

Server::Reply Server::readReply(const Request &request, quint16 localPort)
{
    const auto blogIt = m_blogPorts.find(localPort);
    if (blogIt == m_blogPorts.end())
        return {404, "No blog at this address.", plainType, {}};
    const Account *owner = nullptr;
    const Blog *blog = nullptr;
    for (const Account &account : m_accounts) {
        for (const Blog &b : account.blogs) {
            if (!blog && b.name == blogIt->second) {
                owner = &account;
                blog = &b;
            }
        }
    }
    if (!blog)
        return {404, "No blog at this address.", plainType, {}};
    const QString email = QString::fromUtf8(request.field(QStringLiteral("email")));
    const QString password = QString::fromUtf8(request.field(QStringLiteral("password")));
    if (owner->email.compare(email, Qt::CaseInsensitive) != 0 || owner->password != password)
        return {403, "Invalid credentials.", plainType, {}};
    const QByteArray startText = request.field(QStringLiteral("start"));
    const QByteArray numText = request.field(QStringLiteral("num"));
    const int start = startText.isEmpty() ? 0 : startText.toInt();
    const int num = numText.isEmpty() ? 20 : numText.toInt();
    const QString type = QString::fromUtf8(request.field(QStringLiteral("type")));
    const QString id = QString::fromUtf8(request.field(QStringLiteral("id")));
    if (!id.isEmpty())
        return {200, renderOnePost(*blog, hostText(blog->port), id), xmlType, {}};
    return {200, renderPostsPage(*blog, hostText(blog->port), start, num, type), xmlType, {}};
}

Server::Reply Server::writeReply(const Request &request)
{
    static const char *const required[] = {"group", "email", "password", "post-id", "type", "caption",
                                           "tags", "generator", "format", "slug", "click-through-url", "date"};
    const QStringList names = request.fieldNames();
    for (const char *name : required) {
        if (!names.contains(QLatin1String(name)))
            return {400, "Missing field: " + QByteArray(name) + '.', plainType, {}};
    }
    Account *account = findAccount(request.field(QStringLiteral("email")), request.field(QStringLiteral("password")));
    if (!account)
        return {403, "Invalid credentials.", plainType, {}};
    const auto text = [&request](const char *name) { return QString::fromUtf8(request.field(QLatin1String(name))); };
    const QString postId = text("post-id");
    const QString group = text("group");
    Blog *blogOfPost = nullptr;
    Post *found = findPost(*account, postId, &blogOfPost);
    if (!found)
        return {400, "Unknown post: " + postId.toUtf8() + '.', plainType, {}};
    Blog &blog = *blogOfPost;
    Post &post = *found;
    // The client names the blog by the host of its address; its short name works too.
    bool groupMatches = group == blog.name || group == hostText(blog.port);
    for (const auto &[port, name] : m_blogPorts)
        groupMatches = groupMatches || (name == blog.name && group == hostText(port));
    if (!groupMatches)
        return {400, "Post " + postId.toUtf8() + " is not in group " + group.toUtf8() + '.', plainType, {}};
    post.type = text("type");
    post.caption = text("caption");
    post.hasCaption = post.hasCaption || !post.caption.isEmpty();
    post.tags = parseTagsField(text("tags"));
    post.generator = text("generator");
    post.format = text("format");
    post.slug = text("slug");
    post.linkUrl = text("click-through-url");
    post.date = text("date");
    post.group = group;
    ++post.writeCount;
    return {201, post.id.toUtf8(), plainType, {}};
}

Post *Server::findPost(Account &account, const QString &postId, Blog **blogOut)
{
    const auto indexed = [&]() -> Post * {
        const auto it = m_postIndex.constFind(postId);
        if (it == m_postIndex.cend())
            return nullptr;
        Blog *blog = it->first;
        const size_t at = it->second;
        for (Blog &candidate : account.blogs) {
            if (&candidate == blog && at < blog->posts.size() && blog->posts[at].id == postId) {
                *blogOut = blog;
                return &blog->posts[at];
            }
        }
        return nullptr;
    };
    if (Post *post = indexed())
        return post;
    // Not indexed yet, or the posts changed since: index every account again.
    m_postIndex.clear();
    for (Account &each : m_accounts) {
        for (Blog &blog : each.blogs) {
            for (size_t i = 0; i < blog.posts.size(); ++i)
                m_postIndex.insert(blog.posts[i].id, {&blog, i});
        }
    }
    return indexed();
}

QByteArray Server::renderPostsPage(const Blog &blog, const QString &blogHost, int start, int num, const QString &type)
{
    start = std::max(0, start);
    num = std::clamp(num, 0, maxPageSize);
    const bool everyType = blog.ignoreTypeFilter || type.isEmpty();
    QString posts;
    qsizetype matching = 0;
    for (const Post &post : blog.posts) {
        if (!everyType && post.type != type)
            continue;
        if (matching >= start && matching < qsizetype(start) + num)
            posts += renderPost(post, blogHost);
        ++matching;
        // Every post counts toward "total" only when the filter can skip some.
        if (everyType && matching >= qsizetype(start) + num) {
            matching = qsizetype(blog.posts.size());
            break;
        }
    }
    QString out = QStringLiteral("<tumblr version=\"1.0\"><tumblelog") + attr("name", blog.name)
        + attr("timezone", QStringLiteral("US/Eastern")) + attr("title", blog.title) + QStringLiteral("/><posts")
        + attr("start", QString::number(start)) + attr("total", QString::number(matching))
        + QLatin1Char('>') + posts + QStringLiteral("</posts></tumblr>");
    return xmlDeclaration + out.toUtf8();
}

QByteArray Server::renderOnePost(const Blog &blog, const QString &blogHost, const QString &id)
{
    // The post of that id alone, whatever its type; none when the blog has no such post.
    QString posts;
    int total = 0;
    for (const Post &post : blog.posts) {
        if (post.id == id) {
            posts = renderPost(post, blogHost);
            total = 1;
            break;
        }
    }
    QString out = QStringLiteral("<tumblr version=\"1.0\"><tumblelog") + attr("name", blog.name)
        + attr("timezone", QStringLiteral("US/Eastern")) + attr("title", blog.title) + QStringLiteral("/><posts")
        + attr("start", QStringLiteral("0")) + attr("total", QString::number(total)) + QLatin1Char('>') + posts
        + QStringLiteral("</posts></tumblr>");
    return xmlDeclaration + out.toUtf8();
}

QByteArray Server::renderAuthenticate(const Account &account, const Server &server)
{
    Q_UNUSED(server) // the blogs carry their own ports once the server listens
    QString out = QStringLiteral("<tumblr version=\"1.0\"><user default-post-format=\"html\" can-upload-audio=\"1\" "
                                 "can-upload-aiff=\"1\" can-ask-question=\"1\" can-upload-video=\"1\" "
                                 "max-video-bytes-uploaded=\"26214400\" liked-post-count=\"0\"/>");
    bool primary = true;
    for (const Blog &blog : account.blogs) {
        const QString url = blog.emptyUrl ? QString() : QStringLiteral("http://%1/").arg(hostText(blog.port));
        out += QStringLiteral("<tumblelog") + attr("title", blog.title) + attr("is-admin", QStringLiteral("1"))
            + attr("posts", QString::number(blog.posts.size())) + attr("twitter-enabled", QStringLiteral("0"))
            + attr("draft-count", QStringLiteral("0")) + attr("messages-count", QStringLiteral("0"))
            + attr("queue-count", QStringLiteral("0")) + attr("name", blog.name) + attr("url", url)
            + attr("type", blog.type) + attr("followers", QStringLiteral("0"))
            + attr("is-primary", primary ? QStringLiteral("yes") : QStringLiteral("no"))
            + attr("backup-post-limit", QStringLiteral("30000")) + QStringLiteral("/>");
        primary = false;
    }
    out += QStringLiteral("</tumblr>");
    return xmlDeclaration + out.toUtf8();
}

QStringList Server::parseTagsField(const QString &tags)
{
    // Commas split the text, except inside a piece that opens with a double
    // quote: that piece runs to the closing quote (the quotes are dropped).
    // A quote further inside a piece is an ordinary character. Pieces are
    // trimmed and empty ones dropped.
    QStringList out;
    QString current;
    bool inQuotes = false;
    bool quoted = false;
    const auto flush = [&] {
        const QString piece = current.trimmed();
        if (!piece.isEmpty())
            out << piece;
        current.clear();
        quoted = false;
    };
    for (const QChar ch : tags) {
        if (inQuotes) {
            if (ch == QLatin1Char('"'))
                inQuotes = false;
            else
                current += ch;
        } else if (ch == QLatin1Char(',')) {
            flush();
        } else if (ch == QLatin1Char('"') && !quoted && current.trimmed().isEmpty()) {
            current.clear();
            inQuotes = true;
            quoted = true;
        } else {
            current += ch;
        }
    }
    flush();
    return out;
}

}

#include "client/net/HTTPRequest.h"

#include "client/app/AppInfo.h"
#include "client/app/modSupport.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {
int g_timeoutOverride = 0;

// While nothing arrives the callback is still called this often, so that a
// stop asked for during a stalled exchange takes effect at once.
constexpr int IdleCallbackMs = 200;

// Deleted at once when the exchange is over, never with deleteLater(): a
// whole run happens inside one click handler, where deferred deletes would
// pile up (and be walked on every pass of the event queue) until it returns.
// The exchange never ends inside one of the reply's own signals.
struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const
    {
        if (reply) {
            reply->disconnect();
            delete reply;
        }
    }
};

QString hostText(const HostTarget &target)
{
    const QString host = target.host.contains(u':') ? u'[' + target.host + u']' : target.host;
    return host + u':' + QString::number(target.port);
}

QString secondsText(int ms)
{
    if (ms % 1000 == 0)
        return ms == 1000 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(ms / 1000);
    return QStringLiteral("%1 seconds").arg(ms / 1000.0);
}

// An HTTP status line came back: the exchange completed, whatever the status.
// Qt reports 4xx/5xx answers as content or server errors; those are answers.
bool isCompletedStatusError(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::NoError
        || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
}
}

bool HostTarget::isLoopback(const QString &host)
{
    const QString name = host.trimmed().toLower();
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

HostTarget HostTarget::parse(const QString &hostText, int defaultPort)
{
    HostTarget target;
    QString text = hostText.trimmed();
    bool schemeGiven = true;
    if (text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        target.tls = true;
        text = text.mid(8);
    } else if (text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        text = text.mid(7);
    } else {
        schemeGiven = false;
    }
    const qsizetype slash = text.indexOf(u'/');
    if (slash >= 0)
        text.truncate(slash);

    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close > 0) {
            target.host = text.mid(1, close - 1);
            if (text.mid(close + 1).startsWith(u':'))
                portText = text.mid(close + 2);
        } else {
            target.host = text;
        }
    } else {
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon >= 0 && text.indexOf(u':') == colon) {
            target.host = text.left(colon);
            portText = text.mid(colon + 1);
        } else {
            target.host = text;
        }
    }
    // Without a scheme only a loopback address (a simulator) is plain HTTP:
    // anything else carries the account's password and goes over TLS.
    if (!schemeGiven)
        target.tls = !isLoopback(target.host);

    // A TLS host given with the usual port 80 means the TLS port.
    target.port = target.tls && defaultPort == 80 ? 443 : defaultPort;
    if (!portText.isEmpty()) {
        bool ok = false;
        const int port = portText.toInt(&ok, 10);
        if (ok && port > 0 && port <= 65535)
            target.port = port;
    }
    return target;
}

void HTTPFormData::AddField(const QString &name, const QByteArray &value)
{
    m_fields.append({name, value});
}

QByteArray HTTPFormData::PostData() const
{
    QByteArray data;
    for (const auto &[name, value] : m_fields) {
        if (!data.isEmpty())
            data += '&';
        data += QUrl::toPercentEncoding(name);
        data += '=';
        data += QUrl::toPercentEncoding(value);
    }
    return data;
}

QByteArray HTTPFormData::PostHeaders() const
{
    return QByteArrayLiteral("Content-Type: application/x-www-form-urlencoded\r\n");
}

HTTPRequest::HTTPRequest() = default;

HTTPRequest::~HTTPRequest() = default;

void HTTPRequest::Reset() { m_result = HTTPResult(); }

QByteArray HTTPResult::header(const QByteArray &name) const
{
    for (const auto &[headerName, value] : headers) {
        if (headerName == name)
            return value;
    }
    return {};
}

QString HTTPResult::RequestErrorText() const
{
    if (failed())
        return failureText.isEmpty() ? QStringLiteral("The request failed (error %1).").arg(networkError) : failureText;
    const QString phrase = QString::fromUtf8(reason).trimmed();
    if (phrase.isEmpty())
        return QStringLiteral("The server answered: %1").arg(status);
    return QStringLiteral("The server answered: %1 %2").arg(status).arg(phrase);
}

QByteArray HTTPRequest::ResponseHeaders() const
{
    if (!m_result.hasStatus())
        return {};
    QByteArray text = "HTTP/1.1 " + QByteArray::number(m_result.status);
    if (!m_result.reason.isEmpty())
        text += ' ' + m_result.reason;
    text += "\r\n";
    for (const auto &[name, value] : m_result.headers)
        text += name + ": " + value + "\r\n";
    return text;
}

void HTTPRequest::setTimeoutOverride(int ms) { g_timeoutOverride = ms > 0 ? ms : 0; }

QNetworkAccessManager &HTTPRequest::manager()
{
    // Never destroyed: it must outlive every window and request of the run,
    // and tearing it down after QCoreApplication is gone is not allowed.
    static QNetworkAccessManager *const instance = new QNetworkAccessManager;
    return *instance;
}

QString HTTPRequest::AgentName()
{
    return QString::fromUtf8(AppInfo::Title) + u' '
        + modSupport::FormatVersion(AppInfo::Major, AppInfo::Minor, AppInfo::Revision);
}

bool HTTPRequest::ParseURL(const QString &url, QString &host, int &port, QString &path)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isRelative())
        return false;
    const QString scheme = parsed.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    QString name = parsed.host(QUrl::FullyEncoded);
    if (name.isEmpty())
        return false;
    if (name.contains(u':'))
        name = u'[' + name + u']';
    const bool tls = scheme == QLatin1String("https");
    host = (tls ? QStringLiteral("https://") : QStringLiteral("http://")) + name;
    port = parsed.port(tls ? 443 : 80);
    path = parsed.path(QUrl::FullyEncoded);
    if (path.isEmpty())
        path = QStringLiteral("/");
    if (parsed.hasQuery())
        path += u'?' + parsed.query(QUrl::FullyEncoded);
    return true;
}

HTTPResult HTTPRequest::Send(const HTTPRequestData &request)
{
    // A GET without fields carries no body, so no form type either.
    const bool bodyless = request.body.isEmpty() && request.fields.fields().isEmpty()
                          && request.method.compare(QLatin1String("GET"), Qt::CaseInsensitive) == 0;
    const QByteArray body = request.body.isEmpty() ? request.fields.PostData() : request.body;
    const QByteArray headers = (bodyless || !request.body.isEmpty() ? QByteArray() : request.fields.PostHeaders())
                               + request.extraHeaders;
    m_result = exchange(HostTarget::parse(request.host, request.port), request.method, request.path,
                        bodyless ? QByteArray() : body, headers, request.timeoutMs, request.agent, request.callback);
    return m_result;
}

bool HTTPRequest::SendRequest(const QString &host, int port, const QString &method, const QString &path,
                              const QString &version, const QByteArray &postData,
                              const QByteArray &postHeaders, int timeoutMs, const QString &agent,
                              IHTTPRequestCallback *callback, bool flag)
{
    Q_UNUSED(version) // always HTTP/1.1
    Q_UNUSED(flag)
    m_result = exchange(HostTarget::parse(host, port), method, path, postData, postHeaders, timeoutMs, agent, callback);
    return !m_result.failed();
}

HTTPResult HTTPRequest::exchange(const HostTarget &target, const QString &method, const QString &path,
                                 const QByteArray &postData, const QByteArray &postHeaders, int timeoutMs,
                                 const QString &agent, IHTTPRequestCallback *callback)
{
    HTTPResult result;
    const int timeout = g_timeoutOverride > 0 ? g_timeoutOverride : (timeoutMs > 0 ? timeoutMs : 30000);
    QUrl url;
    url.setScheme(target.tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(target.host);
    url.setPort(target.port);
    QString pathPart = path.isEmpty() ? QStringLiteral("/") : path;
    const qsizetype question = pathPart.indexOf(u'?');
    if (question >= 0) {
        url.setQuery(pathPart.mid(question + 1), QUrl::TolerantMode);
        pathPart.truncate(question);
    }
    url.setPath(pathPart, QUrl::TolerantMode);

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setRawHeader("User-Agent", agent.toUtf8());
    for (const QByteArray &line : postHeaders.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const qsizetype colon = trimmed.indexOf(':');
        if (colon > 0)
            request.setRawHeader(trimmed.left(colon).trimmed(), trimmed.mid(colon + 1).trimmed());
    }

    QNetworkAccessManager &nam = manager();
    const QNetworkProxy proxy = m_proxy.toNetworkProxy();
    if (nam.proxy() != proxy)
        nam.setProxy(proxy);

    const QByteArray verb = method.isEmpty() ? QByteArrayLiteral("POST") : method.toLatin1();
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(
        verb == "GET" && postData.isEmpty() ? nam.get(request) : nam.sendCustomRequest(request, verb, postData));
    QNetworkReply *const r = reply.get();

    QEventLoop loop;
    QTimer timeoutTimer;
    timeoutTimer.setSingleShot(true);
    timeoutTimer.setInterval(timeout);
    QTimer idleTimer;
    idleTimer.setInterval(IdleCallbackMs);

    bool timedOut = false;
    bool cancelled = false;
    bool tooLarge = false;
    bool inCallback = false;
    qint64 sentBefore = 0;
    qint64 totalBytes = -1;

    const auto cancelNow = [&] {
        if (!r->isFinished()) {
            cancelled = true;
            r->abort();
        }
    };
    const auto reportReceived = [&](const QByteArray &block) {
        if (!callback || inCallback || cancelled)
            return;
        inCallback = true;
        bool removeBlock = false;
        bool cancel = false;
        callback->BlockReceived(block, removeBlock, result.body.size(), totalBytes, cancel);
        inCallback = false;
        if (cancel)
            cancelNow();
    };
    const auto readAvailable = [&] {
        // Read even inside a nested callback, so no bytes wait in the reply;
        // the callback hears of them with the next block or idle tick.
        const QByteArray block = r->read(MaxAnswerBytes + 1 - result.body.size());
        result.body += block;
        if (result.body.size() > MaxAnswerBytes && !tooLarge) {
            tooLarge = true;
            r->abort();
        }
        return block;
    };

    QObject::connect(r, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(r, &QNetworkReply::metaDataChanged, &timeoutTimer, qOverload<>(&QTimer::start));
    // Queued: the callback lets window events run, and doing that inside the
    // upload's own progress signal can stall the rest of a large upload.
    QObject::connect(r, &QNetworkReply::uploadProgress, &loop, [&](qint64 sent, qint64 total) {
        timeoutTimer.start();
        if (!callback || inCallback || cancelled || sent <= sentBefore)
            return;
        const QByteArray block = postData.mid(sentBefore, sent - sentBefore);
        sentBefore = sent;
        inCallback = true;
        bool cancel = false;
        callback->BlockSent(block, sent, total, cancel);
        inCallback = false;
        if (cancel)
            cancelNow();
    }, Qt::QueuedConnection);
    QObject::connect(r, &QNetworkReply::downloadProgress, &loop, [&](qint64, qint64 total) {
        timeoutTimer.start();
        if (total >= 0)
            totalBytes = total;
    });
    QObject::connect(r, &QNetworkReply::readyRead, &loop, [&] {
        timeoutTimer.start();
        // The progress signal may come after the first bytes: the announced
        // length is already known from the headers.
        if (totalBytes < 0) {
            bool ok = false;
            const qint64 announced = r->rawHeader("Content-Length").trimmed().toLongLong(&ok);
            if (ok)
                totalBytes = announced;
            if (ok && announced > MaxAnswerBytes && !tooLarge) {
                tooLarge = true;
                r->abort();
                return;
            }
        }
        const QByteArray block = readAvailable();
        if (!block.isEmpty())
            reportReceived(block);
    });
    QObject::connect(&idleTimer, &QTimer::timeout, &loop, [&] { reportReceived(QByteArray()); });
    QObject::connect(&timeoutTimer, &QTimer::timeout, &loop, [&] {
        if (!r->isFinished() && !inCallback) {
            timedOut = true;
            r->abort();
        } else if (inCallback) {
            timeoutTimer.start(50);
        }
    });

    if (!r->isFinished()) {
        timeoutTimer.start();
        idleTimer.start();
        loop.exec();
    }
    timeoutTimer.stop();
    idleTimer.stop();

    if (!cancelled && !timedOut && !tooLarge)
        readAvailable();

    const QVariant status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        result.status = status.toInt();
        result.reason = r->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
        result.headers = r->rawHeaderPairs();
    }

    const QNetworkReply::NetworkError error = r->error();
    bool truncated = false;
    if (status.isValid() && isCompletedStatusError(error) && !cancelled && !timedOut && !tooLarge
        && !r->hasRawHeader("Content-Encoding")) {
        bool ok = false;
        const qint64 announced = r->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        truncated = ok && result.body.size() < announced;
    }

    const QString where = hostText(target);
    if (tooLarge) {
        result.body.clear();
        result.failure = HTTPFailure::Other;
        result.networkError = QNetworkReply::UnknownContentError;
        result.failureText = QStringLiteral("The server's answer is larger than %1 MB, more than any answer of the "
                                            "service; it was not read (%2).")
                                 .arg(MaxAnswerBytes / (1024 * 1024))
                                 .arg(where);
    } else if (cancelled) {
        result.failure = HTTPFailure::Cancelled;
        result.networkError = QNetworkReply::OperationCanceledError;
        result.failureText = QStringLiteral("The request was cancelled.");
    } else if (timedOut) {
        result.failure = HTTPFailure::TimedOut;
        result.networkError = QNetworkReply::TimeoutError;
        result.failureText = QStringLiteral("The server did not answer within %1.").arg(secondsText(timeout));
    } else if (truncated) {
        result.failure = HTTPFailure::Reset;
        result.networkError = QNetworkReply::RemoteHostClosedError;
        result.failureText = QStringLiteral("The connection was closed before the whole answer arrived.");
    } else if (status.isValid() && isCompletedStatusError(error)) {
        result.failure = HTTPFailure::None;
    } else {
        result.networkError = error == QNetworkReply::NoError ? int(QNetworkReply::UnknownNetworkError) : int(error);
        // Through a proxy, a connection that fails before any answer is the proxy's.
        const bool viaProxy = proxy.type() != QNetworkProxy::NoProxy;
        QNetworkReply::NetworkError kind = error;
        if (viaProxy && !status.isValid()
            && (error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::RemoteHostClosedError
                || error == QNetworkReply::HostNotFoundError)) {
            kind = QNetworkReply::UnknownProxyError;
        }
        result.failure = HTTPFailure::Other; // unless a case below names the kind
        switch (kind) {
        case QNetworkReply::ConnectionRefusedError:
            result.failure = HTTPFailure::Refused;
            result.failureText = QStringLiteral("The server refused the connection (%1).").arg(where);
            break;
        case QNetworkReply::RemoteHostClosedError:
            result.failure = HTTPFailure::Reset;
            result.failureText = status.isValid()
                ? QStringLiteral("The connection was closed before the whole answer arrived.")
                : QStringLiteral("The server closed the connection without answering (%1).").arg(where);
            break;
        case QNetworkReply::HostNotFoundError:
            result.failureText = QStringLiteral("The server's address could not be found (%1).").arg(target.host);
            break;
        case QNetworkReply::TimeoutError:
            result.failure = HTTPFailure::TimedOut;
            result.failureText = QStringLiteral("The server did not answer within %1.").arg(secondsText(timeout));
            break;
        case QNetworkReply::SslHandshakeFailedError:
            result.failure = HTTPFailure::Tls;
            result.failureText = QStringLiteral("A secure connection to the server could not be made (%1): %2")
                                  .arg(where, r->errorString());
            break;
        case QNetworkReply::ProxyConnectionRefusedError:
        case QNetworkReply::ProxyConnectionClosedError:
        case QNetworkReply::ProxyNotFoundError:
        case QNetworkReply::ProxyTimeoutError:
        case QNetworkReply::ProxyAuthenticationRequiredError:
        case QNetworkReply::UnknownProxyError:
            result.failure = HTTPFailure::Proxy;
            result.failureText = QStringLiteral("The proxy server failed (%1:%2): %3")
                                  .arg(m_proxy.host)
                                  .arg(m_proxy.port)
                                  .arg(r->errorString());
            break;
        default:
            result.failureText = QStringLiteral("The exchange with the server failed (%1): %2")
                                  .arg(where, r->errorString());
            break;
        }
    }
    return result;
}

#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include "client/net/HTTPProxySettings.h"

class QNetworkAccessManager;

// Progress and cancel hooks of one exchange. Implementers let window events
// run and set cancel to stop the exchange (the request then reports ErrorCode 9).
// While nothing arrives, BlockReceived is also called now and then with an
// empty block, so a stop takes effect during a stalled exchange too.
class IHTTPRequestCallback
{
public:
    virtual ~IHTTPRequestCallback() = default;
    virtual void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes,
                               qint64 totalBytes, bool &cancel) = 0;
    virtual void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) = 0;
    // The service asked to wait before the request is made again: the wait
    // starts, then secondsLeft of it remain (told several times a second).
    virtual void WaitStarted(int seconds) { Q_UNUSED(seconds) }
    // No call is sent until the service's hourly or daily window has room
    // again: the wait starts (Waiting then counts it down).
    virtual void BudgetWaitStarted(int seconds, bool day)
    {
        Q_UNUSED(seconds)
        Q_UNUSED(day)
    }
    virtual void Waiting(int secondsLeft, bool &cancel)
    {
        Q_UNUSED(secondsLeft)
        Q_UNUSED(cancel)
    }
};

// Form fields, sent as application/x-www-form-urlencoded in the order added.
// Values are bytes: callers encode text to UTF-8 (the system's narrow encoding).
class HTTPFormData
{
public:
    void Clear() { m_fields.clear(); }
    void AddField(const QString &name, const QByteArray &value);
    void AddField(const QString &name, const QString &value) { AddField(name, value.toUtf8()); }
    QByteArray PostData() const;    // the encoded body
    QByteArray PostHeaders() const; // "Content-Type: application/x-www-form-urlencoded\r\n"
    const QList<QPair<QString, QByteArray>> &fields() const { return m_fields; }

private:
    QList<QPair<QString, QByteArray>> m_fields;
};

// One place on the network: "host", "host:port", "http://host[:port]" or
// "https://host[:port]". Without a scheme, TLS unless the host is a loopback
// address. Without a port, 80 (443 for TLS).
struct HostTarget {
    bool tls = false;
    QString host;
    int port = 80;
    static HostTarget parse(const QString &hostText, int defaultPort = 80);
    // 127.0.0.0/8, ::1, "localhost": this machine.
    static bool isLoopback(const QString &host);
    // Plain HTTP to another machine: what is sent can be read on the way.
    bool inClear() const { return !tls && !isLoopback(host); }
};

// What one exchange asks for. Fields go out as a form in the order added.
struct HTTPRequestData {
    QString host;     // "host", "host:port", "http(s)://host[:port]" (see HostTarget)
    int port = 80;    // when the host text has none
    QString method = QStringLiteral("POST");
    QString path;
    HTTPFormData fields;
    QByteArray body;          // sent instead of the form when set, with the headers given below
    QByteArray extraHeaders;  // further header lines ("Authorization: Bearer ...\r\n")
    int timeoutMs = 30000; // silence allowed before giving up
    QString agent;
    IHTTPRequestCallback *callback = nullptr;
};

// How an exchange that did not complete ended.
enum class HTTPFailure { None, Refused, Reset, TimedOut, Tls, Proxy, Cancelled, Other };

// What one exchange gave: the answer as received, or why there was none.
struct HTTPResult {
    int status = 0;             // 0 when no status line came
    QByteArray reason;          // the status line's reason phrase
    QList<QPair<QByteArray, QByteArray>> headers; // as received, names in their letter case
    QByteArray body;
    HTTPFailure failure = HTTPFailure::None;
    int networkError = 0;       // QNetworkReply::NetworkError of a failure, 0 when it completed
    QString failureText;        // why it failed, for people

    bool failed() const { return failure != HTTPFailure::None; }
    bool hasStatus() const { return status != 0; }
    // The first header of exactly this name (letter case counts), or a null array.
    QByteArray header(const QByteArray &name) const;
    // Why the request failed, or what the server answered, in words a person understands.
    QString RequestErrorText() const;
};

// One blocking HTTP/1.1 exchange at a time. Send runs a local event loop, so
// window events go on while it waits. Redirects are never followed. The
// accessors with the component's own names read the last result.
class HTTPRequest
{
public:
    enum { CancelledErrorCode = 9 };
    // The longest answer read: far more than a page of 50 posts; a longer one fails.
    static constexpr qint64 MaxAnswerBytes = 8 * 1024 * 1024;

    HTTPRequest();
    ~HTTPRequest();

    void setProxy(const HTTPProxySettings &proxy) { m_proxy = proxy; }
    const HTTPProxySettings &proxy() const { return m_proxy; }

    void Reset();

    HTTPResult Send(const HTTPRequestData &request);

    // The component's own form of Send. Returns !Failed().
    bool SendRequest(const QString &host, int port, const QString &method, const QString &path,
                     const QString &version, const QByteArray &postData, const QByteArray &postHeaders,
                     int timeoutMs, const QString &agent, IHTTPRequestCallback *callback, bool flag);

    const HTTPResult &result() const { return m_result; }
    bool Failed() const { return m_result.failed(); }
    int ErrorCode() const { return m_result.failure == HTTPFailure::Cancelled ? int(CancelledErrorCode) : 0; }
    int LastError() const { return m_result.networkError; } // 0 when the exchange completed
    QString LastErrorText() const { return m_result.failureText; }
    int StatusCode() const { return m_result.status; }
    QByteArray ResponseHeaders() const; // status line + headers, CR LF each
    QByteArray ResponseBody() const { return m_result.body; }

    // Splits an absolute http(s) URL. host keeps its scheme ("http://", "https://").
    static bool ParseURL(const QString &url, QString &host, int &port, QString &path);
    // "Zelvat - Velloria 1.00.0036"
    static QString AgentName();

    // Tests shorten the 30 s time-out with this (0 restores the callers' value).
    static void setTimeoutOverride(int ms);
    // The one network manager of the program (connections are kept alive).
    static QNetworkAccessManager &manager();

private:
    HTTPResult exchange(const HostTarget &target, const QString &method, const QString &path,
                        const QByteArray &postData, const QByteArray &postHeaders, int timeoutMs,
                        const QString &agent, IHTTPRequestCallback *callback);

    HTTPProxySettings m_proxy;
    HTTPResult m_result;
};

#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include "service/HTTPProxySettings.h"

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
// "https://host[:port]" (TLS). Without a port, 80 (443 for https).
struct HostTarget {
    bool tls = false;
    QString host;
    int port = 80;
    static HostTarget parse(const QString &hostText, int defaultPort = 80);
};

// One blocking HTTP/1.1 exchange at a time. SendRequest runs a local event
// loop, so window events go on while it waits. Redirects are never followed.
class HTTPRequest
{
public:
    enum { CancelledErrorCode = 9 };

    HTTPRequest();
    ~HTTPRequest();

    void setProxy(const HTTPProxySettings &proxy) { m_proxy = proxy; }
    const HTTPProxySettings &proxy() const { return m_proxy; }

    void Reset();

    // host may carry ":port" and an http/https scheme (see HostTarget); port is
    // used when the host text has none. Returns !Failed().
    bool SendRequest(const QString &host, int port, const QString &method, const QString &path,
                     const QString &version, const QByteArray &postData, const QByteArray &postHeaders,
                     int timeoutMs, const QString &agent, IHTTPRequestCallback *callback, bool flag);

    bool Failed() const { return m_failed; }
    int ErrorCode() const { return m_errorCode; }   // 9 after a callback cancelled
    int LastError() const { return m_lastError; }   // 0 when the exchange completed
    QString LastErrorText() const { return m_lastErrorText; } // why it failed, for people
    int StatusCode() const { return m_statusCode; }
    QByteArray ResponseHeaders() const { return m_responseHeaders; } // status line + headers, CR LF each
    QByteArray ResponseBody() const { return m_responseBody; }

    // Splits an absolute http(s) URL. host keeps an "https://" prefix for TLS targets.
    static bool ParseURL(const QString &url, QString &host, int &port, QString &path);
    // "Zelvat - Velloria 1.00.0036"
    static QString AgentName();

    // Tests shorten the 30 s time-out with this (0 restores the callers' value).
    static void setTimeoutOverride(int ms);
    // The one network manager of the program (connections are kept alive).
    static QNetworkAccessManager &manager();

private:
    HTTPProxySettings m_proxy;
    bool m_failed = false;
    int m_errorCode = 0;
    int m_lastError = 0;
    QString m_lastErrorText;
    int m_statusCode = 0;
    QByteArray m_responseHeaders;
    QByteArray m_responseBody;
};

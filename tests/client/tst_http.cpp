#include "SimFixture.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "client/login/SettingsStore.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSettings>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {
// Records what the request reports and cancels when told to.
class RecordingCallback final : public IHTTPRequestCallback
{
public:
    void BlockReceived(const QByteArray &block, bool &, qint64 receivedBytes, qint64 totalBytes, bool &cancel) override
    {
        ++receivedCalls;
        if (runEvents)
            QCoreApplication::processEvents();
        if (!block.isEmpty() && received.isEmpty())
            firstBlockTotal = totalBytes;
        received += block;
        lastReceived = receivedBytes;
        lastTotal = totalBytes;
        if (cancelOnReceive && receivedCalls >= cancelOnReceive)
            cancel = true;
    }
    void BlockSent(const QByteArray &block, qint64, qint64, bool &cancel) override
    {
        sent += block;
        if (runEvents)
            QCoreApplication::processEvents();
        if (cancelOnSend)
            cancel = true;
    }

    int receivedCalls = 0;
    QByteArray received;
    QByteArray sent;
    qint64 lastReceived = -1;
    qint64 lastTotal = -1;
    qint64 firstBlockTotal = -1;
    int cancelOnReceive = 0; // cancel at this call (0: never)
    bool runEvents = false;  // like the panels: let window events run in each call
    bool cancelOnSend = false;
};

HTTPFormData signInForm(const QByteArray &email, const QByteArray &password)
{
    HTTPFormData form;
    form.AddField(QStringLiteral("email"), email);
    form.AddField(QStringLiteral("password"), password);
    form.AddField(QStringLiteral("generator"), HTTPRequest::AgentName());
    return form;
}

bool send(HTTPRequest &request, const QString &host, const HTTPFormData &form,
          IHTTPRequestCallback *callback = nullptr, const QString &path = QStringLiteral("/api/authenticate"))
{
    return request.SendRequest(host, 80, QStringLiteral("POST"), path, QStringLiteral("HTTP/1.1"), form.PostData(),
                               form.PostHeaders(), 30000, HTTPRequest::AgentName(), callback, false);
}

}

class TestHttp final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void formData_encodesFieldsInOrder_data();
    void formData_encodesFieldsInOrder();
    void agentName_isTitleAndVersion();
    void parseURL_splitsAbsoluteHttpUrls_data();
    void parseURL_splitsAbsoluteHttpUrls();
    void hostTarget_readsSchemeHostAndPort_data();
    void hostTarget_readsSchemeHostAndPort();

    void signIn_fieldsArriveInOrderWithUtf8BytesIntact();
    void headers_readBackExactly_data();
    void headers_readBackExactly();
    void answer_isACompletedExchange_data();
    void answer_isACompletedExchange();
    void brokenAnswer_failsWithText_data();
    void brokenAnswer_failsWithText();
    void connectionRefused_failsWithText();
    void cancelFromCallback_givesErrorCode9_data();
    void cancelFromCallback_givesErrorCode9();
    void callback_blocksAddUpToTheBody();
    void windowEvents_runWhileWaiting();
    void largeBody_withCallbackRunningEvents_completes();
    void reset_clearsTheLastResults();
    void twoRequests_reuseOneConnection();
    void exchangeEnded_replyIsGoneAtOnce_evenInsideAnEventHandler();

    void proxySettings_roundTripThroughSettingsStore();
    void proxySettings_becomeTheNetworkProxy_data();
    void proxySettings_becomeTheNetworkProxy();
    void proxyUnreachable_failsWithText();

    void requestErrorText_describesFailureOrAnswer();
    void backOff_waitFromTheAnswer_data();
    void backOff_waitFromTheAnswer();
    void backOff_spentWindowsResetWins();

private:
    TestFolders m_folders;
};

void TestHttp::initTestCase()
{
    // Other test programs running at the same time must never pick up the
    // proxies written here.
    QVERIFY(m_folders.isValid());
    QVERIFY(AppConfig::openSettings()->fileName().startsWith(m_folders.path()));
    AppConfig::openSettings()->clear();
}

void TestHttp::cleanup()
{
    HTTPRequest::setTimeoutOverride(0);
}

void TestHttp::formData_encodesFieldsInOrder_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<QByteArray>>("values");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QStringList{QStringLiteral("email"), QStringLiteral("num")}
                           << QList<QByteArray>{"demo@example.com", "50"}
                           << QByteArray("email=demo%40example.com&num=50");
    QTest::newRow("reserved characters") << QStringList{QStringLiteral("tags")}
                                         << QList<QByteArray>{"a b&c=d+e/f?\"g\"%"}
                                         << QByteArray("tags=a%20b%26c%3Dd%2Be%2Ff%3F%22g%22%25");
    QTest::newRow("utf-8 value") << QStringList{QStringLiteral("password")}
                                 << QList<QByteArray>{"p\xC3\xA4ss"} << QByteArray("password=p%C3%A4ss");
    QTest::newRow("empty value kept") << QStringList{QStringLiteral("a"), QStringLiteral("b")}
                                      << QList<QByteArray>{"", "x"} << QByteArray("a=&b=x");
    QTest::newRow("order as added") << QStringList{QStringLiteral("z"), QStringLiteral("a"), QStringLiteral("m")}
                                    << QList<QByteArray>{"1", "2", "3"} << QByteArray("z=1&a=2&m=3");
    QTest::newRow("none") << QStringList() << QList<QByteArray>() << QByteArray();
}

void TestHttp::formData_encodesFieldsInOrder()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QByteArray>, values);
    QFETCH(QByteArray, expected);
    HTTPFormData form;
    form.AddField(QStringLiteral("dropped"), QByteArray("by Clear"));
    form.Clear();
    for (qsizetype i = 0; i < names.size(); ++i)
        form.AddField(names.at(i), values.at(i));
    QCOMPARE(form.PostData(), expected);
    QCOMPARE(form.PostHeaders(), QByteArray("Content-Type: application/x-www-form-urlencoded\r\n"));
}

void TestHttp::agentName_isTitleAndVersion()
{
    QCOMPARE(HTTPRequest::AgentName(), QStringLiteral("Zelvat - Velloria 1.00.0036"));
}

void TestHttp::parseURL_splitsAbsoluteHttpUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("path");
    QTest::newRow("http") << QStringLiteral("http://demo.example.com/api/read") << true
                          << QStringLiteral("http://demo.example.com") << 80 << QStringLiteral("/api/read");
    QTest::newRow("port and query") << QStringLiteral("http://127.0.0.1:8081/api/read?x=1&y=2") << true
                                    << QStringLiteral("http://127.0.0.1") << 8081 << QStringLiteral("/api/read?x=1&y=2");
    QTest::newRow("https") << QStringLiteral("https://blog.example.com/api/read") << true
                           << QStringLiteral("https://blog.example.com") << 443 << QStringLiteral("/api/read");
    QTest::newRow("https with port") << QStringLiteral("https://blog.example.com:8443/x") << true
                                     << QStringLiteral("https://blog.example.com") << 8443 << QStringLiteral("/x");
    QTest::newRow("no path") << QStringLiteral("http://example.com") << true << QStringLiteral("http://example.com") << 80
                             << QStringLiteral("/");
    QTest::newRow("upper-case scheme") << QStringLiteral("HTTP://Example.com/a") << true
                                       << QStringLiteral("http://example.com") << 80 << QStringLiteral("/a");
    QTest::newRow("relative") << QStringLiteral("/api/read") << false << QString() << 0 << QString();
    QTest::newRow("other scheme") << QStringLiteral("ftp://example.com/a") << false << QString() << 0 << QString();
    QTest::newRow("empty host") << QStringLiteral("http:///a") << false << QString() << 0 << QString();
    QTest::newRow("empty") << QString() << false << QString() << 0 << QString();
    QTest::newRow("bad port") << QStringLiteral("http://example.com:99999/") << false << QString() << 0 << QString();
}

void TestHttp::parseURL_splitsAbsoluteHttpUrls()
{
    QFETCH(QString, url);
    QFETCH(bool, ok);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, path);
    QString gotHost;
    int gotPort = 0;
    QString gotPath;
    QCOMPARE(HTTPRequest::ParseURL(url, gotHost, gotPort, gotPath), ok);
    if (!ok)
        return;
    QCOMPARE(gotHost, host);
    QCOMPARE(gotPort, port);
    QCOMPARE(gotPath, path);
}

void TestHttp::hostTarget_readsSchemeHostAndPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("defaultPort");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    // Without a scheme only this machine is plain HTTP.
    QTest::newRow("host") << QStringLiteral("www.tumblr.com") << 80 << true << QStringLiteral("www.tumblr.com") << 443;
    QTest::newRow("localhost") << QStringLiteral("localhost:8080") << 80 << false << QStringLiteral("localhost") << 8080;
    QTest::newRow("other loopback address") << QStringLiteral("127.0.0.2") << 80 << false << QStringLiteral("127.0.0.2")
                                            << 80;
    QTest::newRow("a name that only starts like loopback") << QStringLiteral("127.0.0.1.example.com") << 80 << true
                                                           << QStringLiteral("127.0.0.1.example.com") << 443;
    QTest::newRow("host:port") << QStringLiteral("127.0.0.1:8080") << 80 << false << QStringLiteral("127.0.0.1") << 8080;
    QTest::newRow("http scheme") << QStringLiteral("http://a.example:81") << 80 << false << QStringLiteral("a.example")
                                 << 81;
    QTest::newRow("https scheme") << QStringLiteral("https://a.example") << 80 << true << QStringLiteral("a.example")
                                  << 443;
    QTest::newRow("https explicit port") << QStringLiteral("https://a.example") << 8443 << true
                                         << QStringLiteral("a.example") << 8443;
    QTest::newRow("trailing slash") << QStringLiteral("http://a.example/") << 80 << false
                                    << QStringLiteral("a.example") << 80;
    QTest::newRow("blanks") << QStringLiteral("  a.example:90 ") << 80 << true << QStringLiteral("a.example") << 90;
    QTest::newRow("ipv6") << QStringLiteral("[::1]:8080") << 80 << false << QStringLiteral("::1") << 8080;
}

void TestHttp::hostTarget_readsSchemeHostAndPort()
{
    QFETCH(QString, text);
    QFETCH(int, defaultPort);
    QFETCH(bool, tls);
    QFETCH(QString, host);
    QFETCH(int, port);
    const HostTarget target = HostTarget::parse(text, defaultPort);
    QCOMPARE(target.tls, tls);
    QCOMPARE(target.host, host);
    QCOMPARE(target.port, port);
}

void TestHttp::signIn_fieldsArriveInOrderWithUtf8BytesIntact()
{
    sim::Account account = SimFixture::generatedAccount(QStringLiteral("cats"), 1,
                                                        QStringLiteral("zoë@example.com"), QStringLiteral("pässwörd"));
    SimFixture sim(std::move(account));
    HTTPRequest request;
    QVERIFY(send(request, sim.serviceHost(), signInForm("zo\xC3\xAB@example.com", "p\xC3\xA4ssw\xC3\xB6rd")));
    QCOMPARE(request.StatusCode(), 200);
    QCOMPARE(request.LastError(), 0);
    QVERIFY(request.ResponseBody().contains("<tumblelog"));

    const QList<sim::Request> log = sim.server().log(sim::Endpoint::Authenticate);
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.at(0).method, QStringLiteral("POST"));
    QCOMPARE(log.at(0).path, QStringLiteral("/api/authenticate"));
    QCOMPARE(log.at(0).fieldNames(),
             (QStringList{QStringLiteral("email"), QStringLiteral("password"), QStringLiteral("generator")}));
    QCOMPARE(log.at(0).field(QStringLiteral("email")), QByteArray("zo\xC3\xAB@example.com"));
    QCOMPARE(log.at(0).field(QStringLiteral("password")), QByteArray("p\xC3\xA4ssw\xC3\xB6rd"));
    QCOMPARE(log.at(0).field(QStringLiteral("generator")), QByteArray("Zelvat - Velloria 1.00.0036"));
}

// The headers come back as they arrived, names in their letter case, and a
// redirect is an answer of its own, not followed.
void TestHttp::headers_readBackExactly_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("faultBody");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<bool>("onBlog");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("absent");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("redirect, not followed")
        << int(sim::Fault::Redirect) << QByteArray("moved") << QByteArray("http://127.0.0.1:9/api/read?from=redirect")
        << true << 301
        << QByteArray("HTTP/1.1 301 Moved Permanently\r\n"
                      "Server: velloria-sim\r\n"
                      "Content-Type: text/html; charset=utf-8\r\n"
                      "Content-Length: 5\r\n"
                      "Location: http://127.0.0.1:9/api/read?from=redirect\r\n"
                      "Connection: keep-alive\r\n")
        << QByteArray("\r\nlocation: ") << QByteArray("moved");
    QTest::newRow("names in their received letter case")
        << int(sim::Fault::RawResponse)
        << QByteArray("HTTP/1.1 301 Gone Elsewhere\r\nlocation: http://x/\r\nX-MiXeD-Case: Value\r\n"
                      "content-length: 2\r\n\r\nok")
        << QByteArray() << false << 301
        << QByteArray("HTTP/1.1 301 Gone Elsewhere\r\nlocation: http://x/\r\n"
                      "X-MiXeD-Case: Value\r\ncontent-length: 2\r\n")
        << QByteArray("\r\nLocation: ") << QByteArray("ok");
}

void TestHttp::headers_readBackExactly()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, faultBody);
    QFETCH(QByteArray, location);
    QFETCH(bool, onBlog);
    QFETCH(int, status);
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, absent);
    QFETCH(QByteArray, body);
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Kind(kind);
    fault.location = location;
    fault.body = faultBody;
    sim.server().injectFault(onBlog ? sim::Endpoint::Read : sim::Endpoint::Authenticate, fault);

    HTTPRequest request;
    if (onBlog)
        QVERIFY(send(request, sim.blogHost(QStringLiteral("demo-cats")), signInForm("a", "b"), nullptr,
                     QStringLiteral("/api/read")));
    else
        QVERIFY(send(request, sim.serviceHost(), signInForm("a", "b")));
    QVERIFY(!request.Failed());
    QCOMPARE(request.LastError(), 0);
    QCOMPARE(request.StatusCode(), status);
    QCOMPARE(request.ResponseHeaders(), headers);
    QVERIFY(!request.ResponseHeaders().contains(absent));
    QCOMPARE(request.ResponseBody(), body);
    QCOMPARE(sim.server().log().size(), 1);
}

// A refusal or an empty answer is still a completed exchange: no error, the
// status and the body as they came.
void TestHttp::answer_isACompletedExchange_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("kind"); // -1: nothing injected
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("anyBody"); // any body but an empty one, else exactly `body`
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("403 for a wrong password") << QByteArray("wrong") << -1 << 403 << true << QByteArray();
    for (int status : {400, 404, 500, 503})
        QTest::addRow("status %d", status) << QByteArray("demo") << int(sim::Fault::Status) << status << false
                                           << "Reason " + QByteArray::number(status) + ".";
    QTest::newRow("empty 200") << QByteArray("demo") << int(sim::Fault::Empty200) << 200 << false << QByteArray();
}

void TestHttp::answer_isACompletedExchange()
{
    QFETCH(QByteArray, password);
    QFETCH(int, kind);
    QFETCH(int, status);
    QFETCH(bool, anyBody);
    QFETCH(QByteArray, body);
    SimFixture sim;
    if (kind >= 0) {
        sim::Fault fault;
        fault.kind = sim::Fault::Kind(kind);
        fault.status = status;
        fault.body = body;
        sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    }
    HTTPRequest request;
    QVERIFY(send(request, sim.serviceHost(), signInForm("demo@example.com", password)));
    QVERIFY(!request.Failed());
    QCOMPARE(request.LastError(), 0);
    QCOMPARE(request.StatusCode(), status);
    if (anyBody)
        QVERIFY(!request.ResponseBody().isEmpty());
    else
        QCOMPARE(request.ResponseBody(), body);
}

// An answer cut short, a connection closed without one, a server that never
// answers: each a failure of its own, never a cancel, with its text.
void TestHttp::brokenAnswer_failsWithText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("times");     // the fault is injected this many times
    QTest::addColumn<int>("timeoutMs"); // 0: the normal time-out
    QTest::addColumn<int>("error");     // 0: any error but none
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("textIsStart");
    QTest::newRow("truncated body") << int(sim::Fault::TruncatedBody) << 1 << 0 << 0
                                    << QStringLiteral("The connection was closed before the whole answer arrived.")
                                    << false;
    // A kept-alive connection is tried again on a new one: the fault is there
    // for the second try too.
    QTest::newRow("closed before the answer")
        << int(sim::Fault::CloseBeforeAnswer) << 5 << 0 << 0
        << QStringLiteral("The server closed the connection without answering") << true;
    QTest::newRow("stall times out") << int(sim::Fault::Stall) << 1 << 500 << int(QNetworkReply::TimeoutError)
                                     << QStringLiteral("The server did not answer within 0.5 seconds.") << false;
}

void TestHttp::brokenAnswer_failsWithText()
{
    QFETCH(int, kind);
    QFETCH(int, times);
    QFETCH(int, timeoutMs);
    QFETCH(int, error);
    QFETCH(QString, text);
    QFETCH(bool, textIsStart);
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Kind(kind);
    sim.server().injectFault(sim::Endpoint::Authenticate, fault, times);
    if (timeoutMs)
        HTTPRequest::setTimeoutOverride(timeoutMs);
    HTTPRequest request;
    QVERIFY(!send(request, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QVERIFY(request.Failed());
    QVERIFY(request.LastError() != 0);
    if (error)
        QCOMPARE(request.LastError(), error);
    QVERIFY(request.ErrorCode() != HTTPRequest::CancelledErrorCode);
    if (textIsStart)
        QVERIFY2(request.LastErrorText().startsWith(text), qPrintable(request.LastErrorText()));
    else
        QCOMPARE(request.LastErrorText(), text);
}

void TestHttp::connectionRefused_failsWithText()
{
    const quint16 port = SimFixture::unusedPort();
    HTTPRequest request;
    const QString host = QStringLiteral("127.0.0.1:%1").arg(port);
    QVERIFY(!send(request, host, signInForm("a", "b")));
    QVERIFY(request.Failed());
    QCOMPARE(request.LastError(), int(QNetworkReply::ConnectionRefusedError));
    QCOMPARE(request.LastErrorText(), QStringLiteral("The server refused the connection (%1).").arg(host));
    QCOMPARE(request.StatusCode(), 0);
    QVERIFY(request.ResponseHeaders().isEmpty());
}

// A stop from the callback, while nothing arrives or in the middle of the
// answer, ends the request as cancelled; the request object works again.
void TestHttp::cancelFromCallback_givesErrorCode9_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("onBlog"); // a page of posts, else the sign-in
    QTest::addColumn<int>("cancelAt"); // the callback's call that stops
    QTest::addColumn<bool>("nothingArrives");
    // The idle calls reach a stop while nothing arrives.
    QTest::newRow("during a stall") << int(sim::Fault::Stall) << 1 << 0 << false << 2 << true;
    QTest::newRow("while receiving") << int(sim::Fault::Trickle) << 64 << 20 << true << 3 << false;
}

void TestHttp::cancelFromCallback_givesErrorCode9()
{
    QFETCH(int, kind);
    QFETCH(int, chunk);
    QFETCH(int, delayMs);
    QFETCH(bool, onBlog);
    QFETCH(int, cancelAt);
    QFETCH(bool, nothingArrives);
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Kind(kind);
    fault.chunk = chunk;
    fault.delayMs = delayMs;
    sim.server().injectFault(onBlog ? sim::Endpoint::Read : sim::Endpoint::Authenticate, fault);
    RecordingCallback callback;
    callback.cancelOnReceive = cancelAt;
    HTTPRequest request;
    if (onBlog)
        QVERIFY(!send(request, sim.blogHost(QStringLiteral("demo-cats")), signInForm("demo@example.com", "demo"),
                      &callback, QStringLiteral("/api/read")));
    else
        QVERIFY(!send(request, sim.serviceHost(), signInForm("demo@example.com", "demo"), &callback));
    QVERIFY(request.Failed());
    QCOMPARE(request.ErrorCode(), int(HTTPRequest::CancelledErrorCode));
    QVERIFY(request.LastError() != 0);
    QCOMPARE(callback.receivedCalls, cancelAt);
    if (nothingArrives)
        QVERIFY(callback.received.isEmpty());

    // The same request object works again afterwards.
    request.Reset();
    QVERIFY(send(request, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QCOMPARE(request.ErrorCode(), 0);
    QCOMPARE(request.StatusCode(), 200);
}

void TestHttp::callback_blocksAddUpToTheBody()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Trickle;
    fault.chunk = 512;
    fault.delayMs = 1;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    RecordingCallback callback;
    HTTPRequest request;
    const HTTPFormData form = signInForm("demo@example.com", "demo");
    QVERIFY(send(request, sim.serviceHost(), form, &callback));
    QCOMPARE(request.StatusCode(), 200);
    QVERIFY(!request.ResponseBody().isEmpty());
    QCOMPARE(callback.received, request.ResponseBody());
    QCOMPARE(callback.lastReceived, qint64(request.ResponseBody().size()));
    // The announced length is the total from the first block on.
    QCOMPARE(callback.firstBlockTotal, qint64(request.ResponseBody().size()));
    QCOMPARE(callback.lastTotal, qint64(request.ResponseBody().size()));
    QVERIFY(callback.sent.isEmpty() || callback.sent == form.PostData());
}

void TestHttp::windowEvents_runWhileWaiting()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Delay;
    fault.delayMs = 300;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    bool timerRan = false;
    QTimer::singleShot(10, [&timerRan] { timerRan = true; });
    HTTPRequest request;
    QVERIFY(send(request, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QVERIFY(timerRan);
    QCOMPARE(request.StatusCode(), 200);
}

void TestHttp::largeBody_withCallbackRunningEvents_completes()
{
    SimFixture sim;
    HTTPFormData form = signInForm("demo@example.com", "demo");
    form.AddField(QStringLiteral("caption"), QStringLiteral("Строка — line «0» ").repeated(2000));
    RecordingCallback callback;
    callback.runEvents = true;
    HTTPRequest request;
    QVERIFY(send(request, sim.serviceHost(), form, &callback, QStringLiteral("/api/write")));
    QVERIFY(request.StatusCode() != 0);
    QCOMPARE(sim.server().log().size(), 1);
    QCOMPARE(sim.server().log().at(0).field(QStringLiteral("caption")),
             QStringLiteral("Строка — line «0» ").repeated(2000).toUtf8());
}

void TestHttp::reset_clearsTheLastResults()
{
    SimFixture sim;
    HTTPRequest request;
    send(request, sim.serviceHost(), signInForm("demo@example.com", "wrong"));
    QCOMPARE(request.StatusCode(), 403);
    request.Reset();
    QCOMPARE(request.StatusCode(), 0);
    QVERIFY(!request.Failed());
    QCOMPARE(request.ErrorCode(), 0);
    QCOMPARE(request.LastError(), 0);
    QVERIFY(request.ResponseHeaders().isEmpty());
    QVERIFY(request.ResponseBody().isEmpty());
}

void TestHttp::twoRequests_reuseOneConnection()
{
    SimFixture sim;
    QTcpServer *service = sim.server().findChild<QTcpServer *>();
    QVERIFY(service);
    int connections = 0;
    for (QTcpServer *listener : sim.server().findChildren<QTcpServer *>())
        connect(listener, &QTcpServer::newConnection, this, [&connections] { ++connections; });
    HTTPRequest first;
    HTTPRequest second;
    QVERIFY(send(first, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QVERIFY(send(second, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QCOMPARE(second.StatusCode(), 200);
    QCOMPARE(connections, 1);
}

// A whole run happens inside one click handler, where deferred deletes never
// run: a reply kept until then would hold its buffers for every request.
void TestHttp::exchangeEnded_replyIsGoneAtOnce_evenInsideAnEventHandler()
{
    SimFixture sim;
    sim::Fault stall;
    stall.kind = sim::Fault::Stall;
    sim.server().injectFault(sim::Endpoint::Read, stall);
    QList<qsizetype> liveReplies;
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
        HTTPRequest request;
        for (int i = 0; i < 3; ++i) {
            send(request, sim.serviceHost(), signInForm("demo@example.com", "demo"));
            liveReplies << HTTPRequest::manager().findChildren<QNetworkReply *>().size();
        }
        RecordingCallback callback;
        callback.cancelOnReceive = 2; // stopped by the user during a stall
        send(request, sim.blogHost(QStringLiteral("demo-cats")), signInForm("demo@example.com", "demo"), &callback,
             QStringLiteral("/api/read"));
        liveReplies << HTTPRequest::manager().findChildren<QNetworkReply *>().size();
        send(request, QStringLiteral("127.0.0.1:1"), signInForm("demo@example.com", "demo")); // refused
        liveReplies << HTTPRequest::manager().findChildren<QNetworkReply *>().size();
        ran = true;
    });
    QTRY_VERIFY(ran);
    QCOMPARE(liveReplies, QList<qsizetype>(5, 0));
}

void TestHttp::proxySettings_roundTripThroughSettingsStore()
{
    HTTPProxySettings saved;
    saved.kind = HTTPProxySettings::Socks5;
    saved.host = QStringLiteral("proxy.example");
    saved.port = 1080;
    saved.user = QStringLiteral("zoë");
    saved.password = QStringLiteral("pässwörd");
    {
        SettingsStore store;
        QVERIFY(saved.SaveSettings(store));
    }

    HTTPProxySettings loaded;
    loaded.LoadSettings(SettingsStore(), QStringLiteral("HTTP Proxy"));
    QCOMPARE(loaded.kind, HTTPProxySettings::Socks5);
    QCOMPARE(loaded.host, saved.host);
    QCOMPARE(loaded.port, 1080);
    QCOMPARE(loaded.user, saved.user);
    QCOMPARE(loaded.password, saved.password);
    QVERIFY(AppConfig::openSettings()->childGroups().contains(QStringLiteral("HTTP Proxy")));

    AppConfig::openSettings()->remove(QStringLiteral("HTTP Proxy"));
    loaded.LoadSettings(SettingsStore());
    QCOMPARE(loaded.kind, HTTPProxySettings::None);
    QVERIFY(loaded.host.isEmpty());
}

void TestHttp::proxySettings_becomeTheNetworkProxy_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("expectedType");
    QTest::newRow("none") << int(HTTPProxySettings::None) << QStringLiteral("p") << 1 << int(QNetworkProxy::NoProxy);
    QTest::newRow("http") << int(HTTPProxySettings::Http) << QStringLiteral("p") << 3128
                          << int(QNetworkProxy::HttpProxy);
    QTest::newRow("socks5") << int(HTTPProxySettings::Socks5) << QStringLiteral("p") << 1080
                            << int(QNetworkProxy::Socks5Proxy);
    QTest::newRow("http without host") << int(HTTPProxySettings::Http) << QString() << 3128
                                       << int(QNetworkProxy::NoProxy);
}

void TestHttp::proxySettings_becomeTheNetworkProxy()
{
    QFETCH(int, kind);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, expectedType);
    HTTPProxySettings settings;
    settings.kind = HTTPProxySettings::Kind(kind);
    settings.host = host;
    settings.port = port;
    settings.user = QStringLiteral("u");
    const QNetworkProxy proxy = settings.toNetworkProxy();
    QCOMPARE(int(proxy.type()), expectedType);
    if (expectedType != QNetworkProxy::NoProxy) {
        QCOMPARE(proxy.hostName(), host);
        QCOMPARE(int(proxy.port()), port);
        QCOMPARE(proxy.user(), QStringLiteral("u"));
    }
}

void TestHttp::proxyUnreachable_failsWithText()
{
    SimFixture sim;
    HTTPProxySettings proxy;
    proxy.kind = HTTPProxySettings::Http;
    proxy.host = QStringLiteral("127.0.0.1");
    proxy.port = SimFixture::unusedPort();
    HTTPRequest request;
    request.setProxy(proxy);
    QVERIFY(!send(request, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QVERIFY(request.LastError() != 0);
    QVERIFY2(request.LastErrorText().startsWith(QStringLiteral("The proxy server failed")),
             qPrintable(request.LastErrorText()));
    QVERIFY(sim.server().log().isEmpty());

    // Without the proxy the next request goes straight to the server again.
    request.setProxy(HTTPProxySettings());
    QVERIFY(send(request, sim.serviceHost(), signInForm("demo@example.com", "demo")));
    QCOMPARE(request.StatusCode(), 200);
}

void TestHttp::requestErrorText_describesFailureOrAnswer()
{
    SimFixture sim;
    HTTPRequest request;
    send(request, sim.serviceHost(), signInForm("demo@example.com", "wrong"));
    QCOMPARE(request.result().RequestErrorText(), QStringLiteral("The server answered: 403 Forbidden"));

    const quint16 port = SimFixture::unusedPort();
    send(request, QStringLiteral("127.0.0.1:%1").arg(port), signInForm("a", "b"));
    QCOMPARE(request.result().RequestErrorText(),
             QStringLiteral("The server refused the connection (127.0.0.1:%1).").arg(port));
    QCOMPARE(request.result().failure, HTTPFailure::Refused);
}

void TestHttp::backOff_waitFromTheAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("repeat");
    QTest::addColumn<bool>("asks");
    QTest::addColumn<int>("seconds");
    QTest::newRow("Retry-After seconds") << 429 << QByteArray("Retry-After") << QByteArray("7") << 0 << true << 7;
    QTest::newRow("retry-after in lower case") << 503 << QByteArray("retry-after") << QByteArray(" 12 ") << 3 << true << 12;
    QTest::newRow("Retry-After as an HTTP date") << 429 << QByteArray("Retry-After")
                                                 << QByteArray("Thu, 10 Dec 2026 12:01:30 GMT") << 0 << true << 90;
    QTest::newRow("Retry-After date passed") << 429 << QByteArray("Retry-After")
                                             << QByteArray("Thu, 10 Dec 2026 11:00:00 GMT") << 0 << true << 1;
    QTest::newRow("Retry-After over the limit") << 429 << QByteArray("Retry-After") << QByteArray("100000") << 0 << true
                                                << 900;
    QTest::newRow("X-Ratelimit-Perhour-Reset") << 429 << QByteArray("X-Ratelimit-Perhour-Reset") << QByteArray("120")
                                               << 0 << true << 120;
    QTest::newRow("X-RateLimit-Perday-Reset") << 429 << QByteArray("X-RateLimit-Perday-Reset") << QByteArray("3600")
                                              << 0 << true << 900;
    QTest::newRow("nothing named, first wait") << 429 << QByteArray() << QByteArray() << 0 << true << 30;
    QTest::newRow("nothing named, third wait") << 503 << QByteArray() << QByteArray() << 2 << true << 120;
    QTest::newRow("nothing named, capped") << 429 << QByteArray() << QByteArray() << 5 << true << 900;
    QTest::newRow("unreadable Retry-After") << 429 << QByteArray("Retry-After") << QByteArray("soon") << 1 << true << 60;
    QTest::newRow("500 asks nothing") << 500 << QByteArray() << QByteArray() << 0 << false << 30;
    QTest::newRow("200 asks nothing") << 200 << QByteArray() << QByteArray() << 0 << false << 30;
}

void TestHttp::backOff_waitFromTheAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(int, repeat);
    QFETCH(bool, asks);
    QFETCH(int, seconds);
    HTTPResult answer;
    answer.status = status;
    if (!name.isEmpty())
        answer.headers.append({name, value});
    QCOMPARE(BackOff::AsksToWait(answer), asks);
    const QDateTime now(QDate(2026, 12, 10), QTime(12, 0), Qt::UTC);
    QCOMPARE(BackOff::WaitSeconds(answer, repeat, now), seconds);
}

void TestHttp::backOff_spentWindowsResetWins()
{
    // Both windows named, the day's first: the hour's is the one spent.
    HTTPResult answer;
    answer.status = 429;
    answer.headers = {{"X-Ratelimit-Perday-Limit", "5000"}, {"X-Ratelimit-Perday-Remaining", "4200"},
                      {"X-Ratelimit-Perday-Reset", "50000"}, {"X-Ratelimit-Perhour-Limit", "1000"},
                      {"X-Ratelimit-Perhour-Remaining", "0"}, {"X-Ratelimit-Perhour-Reset", "75"}};
    QCOMPARE(BackOff::WaitSeconds(answer, 0), 75);
    // Neither says it is spent: the first named.
    answer.headers[4].second = "3";
    QCOMPARE(BackOff::WaitSeconds(answer, 0), 900);
}

QTEST_GUILESS_MAIN(TestHttp)
#include "tst_http.moc"

// What the client gives away, and to whom: redirects, plain http, answers
// too long to be real, writes over posts changed on the web.
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUrlQuery>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#include "CurrentSimFixture.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "client/net/HTTPRequest.h"
#include "client/service/current/LoopbackReceiver.h"
#include "client/service/designed/XmlTumblrService.h"
#include "client/service/designed/modTumblrReader.h"

namespace {
const QString Blog = QStringLiteral("hardblog");

// Another host on this machine: records the one request it gets and answers
// with a page of one photo post.
class OtherHost final : public QObject
{
public:
    explicit OtherHost(const QHostAddress &address)
    {
        m_server.listen(address, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_server.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                const qsizetype end = request.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QByteArray headers = request.left(end).toLower();
                const qsizetype at = headers.indexOf("content-length:");
                const qsizetype length = at < 0 ? 0 : headers.mid(at + 15, headers.indexOf('\n', at) - at - 15).trimmed().toLongLong();
                if (request.size() < end + 4 + length)
                    return;
                const QByteArray page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tumblr><posts>"
                                        "<post id=\"9\" type=\"photo\"><photo-caption>Far</photo-caption></post>"
                                        "</posts></tumblr>";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: "
                              + QByteArray::number(page.size()) + "\r\n\r\n" + page);
                socket->disconnectFromHost();
            });
        });
    }
    bool isListening() const { return m_server.isListening(); }
    QString host() const { return m_server.serverAddress().toString() + u':' + QString::number(m_server.serverPort()); }

    QByteArray request;

private:
    QTcpServer m_server;
};
}

class tst_hardening final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void redirect_nextStep_data();
    void redirect_nextStep();
    void redirect_toAnotherHost_credentialsStayBehind();
    void plainHttp_onlyForThisMachineOrWhenNamed_data();
    void plainHttp_onlyForThisMachineOrWhenNamed();
    void answer_longerThanAnyPage_failsWithText_data();
    void answer_longerThanAnyPage_failsWithText();

    void signIn_strongStateAndPkce_withAServerThatRequiresItOrNot_data();
    void signIn_strongStateAndPkce_withAServerThatRequiresItOrNot();
    void signIn_codeExchangeRedirected_notFollowed();
    void loopback_takesOnlyThisSignInsAnswer_once_data();
    void loopback_takesOnlyThisSignInsAnswer_once();
    void loopback_slowRequest_endedAndIgnored();

private:
    std::unique_ptr<CurrentSimFixture> currentFixture();

    TestFolders m_folders;
    int m_run = 0;
};

namespace {
// One request to the receiver as a local process would make it; the answer's status (0: none).
int askReceiver(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return 0;
    socket.write(request);
    QByteArray answer;
    QElapsedTimer timer;
    timer.start();
    while (!answer.contains("\r\n") && timer.elapsed() < 5000) {
        QCoreApplication::processEvents();
        if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(20))
            answer += socket.readAll();
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0 && !answer.isEmpty())
            break;
    }
    return answer.split(' ').value(1).toInt();
}
}

std::unique_ptr<CurrentSimFixture> tst_hardening::currentFixture()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->sync();
    return std::make_unique<CurrentSimFixture>(cursim::Server::generatedUser(QStringLiteral("cats"), 2),
                                               QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(++m_run)));
}

void tst_hardening::initTestCase() { QVERIFY(m_folders.isValid()); }

void tst_hardening::redirect_nextStep_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("step");
    const int follow = int(modTumblrReader::RedirectStep::Follow);
    const int anonymous = int(modTumblrReader::RedirectStep::FollowWithoutCredentials);
    const int refuse = int(modTumblrReader::RedirectStep::Refuse);
    QTest::newRow("same host, other port") << "127.0.0.1:8080" << "http://127.0.0.1:8081" << follow;
    QTest::newRow("same host, other letter case") << "https://Blog.example.com" << "https://blog.example.com" << follow;
    QTest::newRow("plain http up to https") << "http://blog.example.com" << "https://blog.example.com" << follow;
    QTest::newRow("another host") << "127.0.0.1:8080" << "http://127.0.0.2:8080" << anonymous;
    QTest::newRow("another host over https") << "https://a.example.com" << "https://b.example.com" << anonymous;
    QTest::newRow("https down to http, same host") << "https://blog.example.com" << "http://blog.example.com" << refuse;
    QTest::newRow("https down to http, loopback") << "https://blog.example.com" << "http://127.0.0.1" << refuse;
}

void tst_hardening::redirect_nextStep()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, step);
    QCOMPARE(int(modTumblrReader::NextStep(HostTarget::parse(from), HostTarget::parse(to))), step);
}

void tst_hardening::redirect_toAnotherHost_credentialsStayBehind()
{
    OtherHost other(QHostAddress(QStringLiteral("127.0.0.2")));
    if (!other.isListening())
        QSKIP("127.0.0.2 can't be listened on here");
    SimFixture sim(SimFixture::generatedAccount(Blog, 3));
    sim::Fault redirect = SimFixture::fault(sim::Fault::Redirect);
    redirect.location = "http://" + other.host().toLatin1() + "/api/read";
    sim.server().injectFault(sim::Endpoint::Read, redirect);
    sharedTestService().useSimulator(sim);
    const sim::Account &owner = sim.server().accounts().front();
    PageRequest request;
    request.account = Account{sim.blogHost(Blog), owner.email, owner.password};

    const PageResult page = sharedTestService().service().readPage(request, nullptr);

    QVERIFY2(page.accepted(), qPrintable(page.errorText));
    QCOMPARE(page.posts.size(), size_t(1));
    QCOMPARE(page.posts.front().caption, QStringLiteral("Far"));
    // The simulator got them; the other host did not.
    QCOMPARE(sim.server().log(sim::Endpoint::Read).first().field(QStringLiteral("password")), owner.password.toUtf8());
    const QByteArray body = other.request.mid(other.request.indexOf("\r\n\r\n") + 4);
    QVERIFY2(!body.contains("password=") && !body.contains("email="), body.constData());
    QVERIFY(!body.contains(QUrl::toPercentEncoding(owner.password)));
    QVERIFY(body.contains("start=0"));
}

void tst_hardening::plainHttp_onlyForThisMachineOrWhenNamed_data()
{
    QTest::addColumn<QString>("serviceHost");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("warned");
    QTest::newRow("the default") << QString() << true << false;
    QTest::newRow("a name") << "api.example.com" << true << false;
    QTest::newRow("a name and a port") << "api.example.com:8080" << true << false;
    QTest::newRow("this machine") << "127.0.0.1:8766" << false << false;
    QTest::newRow("localhost") << "localhost:8766" << false << false;
    QTest::newRow("http named") << "http://api.example.com" << false << true;
    QTest::newRow("http named, this machine") << "http://127.0.0.1:8766" << false << false;
}

void tst_hardening::plainHttp_onlyForThisMachineOrWhenNamed()
{
    QFETCH(QString, serviceHost);
    QFETCH(bool, tls);
    QFETCH(bool, warned);
    XmlTumblrService service(sharedTestService().settings(), serviceHost);
    QCOMPARE(HostTarget::parse(service.serviceHost()).tls, tls);
    QCOMPARE(!service.capabilities().inClearHost.isEmpty(), warned);
}

void tst_hardening::answer_longerThanAnyPage_failsWithText_data()
{
    QTest::addColumn<QByteArray>("head");
    const QByteArray length = QByteArray::number(HTTPRequest::MaxAnswerBytes + 1);
    QTest::newRow("announced") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\n\r\n");
    QTest::newRow("not announced") << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
}

void tst_hardening::answer_longerThanAnyPage_failsWithText()
{
    QFETCH(QByteArray, head);
    SimFixture sim(SimFixture::generatedAccount(Blog, 1));
    sim::Fault huge = SimFixture::fault(sim::Fault::RawResponse);
    huge.body = head + QByteArray(HTTPRequest::MaxAnswerBytes + 1, 'x');
    sim.server().injectFault(sim::Endpoint::Read, huge);
    HTTPRequestData data;
    data.host = sim.blogHost(Blog);
    data.path = QStringLiteral("/api/read");
    HTTPRequest request;
    const HTTPResult result = request.Send(data);
    QVERIFY(result.failed());
    QVERIFY(result.body.isEmpty());
    QVERIFY2(result.failureText.startsWith(QStringLiteral("The server's answer is larger than 8 MB")),
             qPrintable(result.failureText));
}

void tst_hardening::signIn_strongStateAndPkce_withAServerThatRequiresItOrNot_data()
{
    QTest::addColumn<bool>("required");
    QTest::newRow("a server that requires PKCE") << true;
    QTest::newRow("a server that knows nothing of it") << false;
}

void tst_hardening::signIn_strongStateAndPkce_withAServerThatRequiresItOrNot()
{
    QFETCH(bool, required);
    QStringList states;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto fixture = currentFixture();
        fixture->sim().setPkceRequired(required);
        QString why;
        QVERIFY2(fixture->signIn(&why), qPrintable(why));
        const QUrlQuery sent(fixture->browser().authorizationUrl);
        const QString state = sent.queryItemValue(QStringLiteral("state"));
        // 128 bits at least, base64url.
        QVERIFY2(state.size() >= 22, qPrintable(state));
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]+$")).match(state).hasMatch());
        QCOMPARE(fixture->sim().lastState(), state);
        states << state;
        QCOMPARE(sent.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
        const QString challenge = sent.queryItemValue(QStringLiteral("code_challenge"));
        QCOMPARE(challenge.size(), 43);
        const QList<cursim::Request> exchanges = fixture->sim().log(cursim::Endpoint::Token);
        QCOMPARE(exchanges.size(), 1);
        const QByteArray verifier = exchanges.first().formValue(QStringLiteral("code_verifier"));
        QVERIFY(verifier.size() >= 43);
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                                         .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)),
                 challenge);
        // The verifier never went out with the browser's address.
        QVERIFY(!fixture->browser().authorizationUrl.toString().contains(QString::fromLatin1(verifier)));
    }
    QVERIFY(states.at(0) != states.at(1));
}

void tst_hardening::signIn_codeExchangeRedirected_notFollowed()
{
    OtherHost other(QHostAddress(QStringLiteral("127.0.0.2")));
    if (!other.isListening())
        QSKIP("127.0.0.2 can't be listened on here");
    auto fixture = currentFixture();
    cursim::Fault moved;
    moved.kind = cursim::Fault::Status;
    moved.status = 307;
    moved.headers = "Location: http://" + other.host().toLatin1() + "/v2/oauth2/token\r\n";
    fixture->sim().injectFault(cursim::Endpoint::Token, moved);
    QString why;
    QVERIFY(!fixture->signIn(&why));
    QTest::qWait(200);
    QVERIFY2(other.request.isEmpty(), other.request.constData());
}

void tst_hardening::loopback_takesOnlyThisSignInsAnswer_once_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("another state") << QByteArray("GET /callback?code=x&state=wrong HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("no state") << QByteArray("GET /callback?code=x HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("an error with another state")
        << QByteArray("GET /callback?error=access_denied&state=wrong HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("another path") << QByteArray("GET /other?code=x&state=s3cret HTTP/1.1\r\n\r\n") << 404;
    QTest::newRow("too long") << QByteArray("GET /callback?code=" + QByteArray(9000, 'x') + " HTTP/1.1\r\n\r\n") << 431;
    QTest::newRow("too long, no end of line") << QByteArray(9000, 'x') << 431;
}

void tst_hardening::loopback_takesOnlyThisSignInsAnswer_once()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    const quint16 port = SimFixture::unusedPort();
    LoopbackReceiver receiver(port, QStringLiteral("http://127.0.0.1:%1/callback").arg(port));
    QVERIFY(receiver.isListening());
    receiver.setExpectedState(QStringLiteral("s3cret"));
    QList<QVariantMap> taken;
    connect(&receiver, &QAbstractOAuthReplyHandler::callbackReceived, this,
            [&taken](const QVariantMap &values) { taken << values; });

    QCOMPARE(askReceiver(port, request), status);
    QVERIFY(taken.isEmpty());
    QCOMPARE(receiver.ignored(), 1);

    // The browser's real answer is still taken, its values decoded; nothing after it.
    QCOMPARE(askReceiver(port, "GET /callback?code=a%2Fb&state=s3cret&note=two+words HTTP/1.1\r\n\r\n"), 200);
    QCOMPARE(taken.size(), 1);
    QCOMPARE(taken.first().value(QStringLiteral("code")).toString(), QStringLiteral("a/b"));
    QCOMPARE(taken.first().value(QStringLiteral("note")).toString(), QStringLiteral("two words"));
    QCOMPARE(askReceiver(port, "GET /callback?code=c&state=s3cret HTTP/1.1\r\n\r\n"), 0);
    QCOMPARE(taken.size(), 1);
}

void tst_hardening::loopback_slowRequest_endedAndIgnored()
{
    const quint16 port = SimFixture::unusedPort();
    LoopbackReceiver receiver(port, QStringLiteral("http://127.0.0.1:%1/callback").arg(port));
    receiver.setRequestTimeLimit(300);
    receiver.setExpectedState(QStringLiteral("s3cret"));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(askReceiver(port, "GET /callback?code=x&state=s3cret HTTP/1.1\r\n"), 408); // the blank line never comes
    QVERIFY(timer.elapsed() < 3000);
    QCOMPARE(receiver.ignored(), 1);
}

QTEST_MAIN(tst_hardening)
#include "tst_hardening.moc"

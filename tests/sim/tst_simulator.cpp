// The simulator itself, spoken to over loopback with raw sockets, so that
// these tests do not depend on the program's HTTP client.
#include "SimFixture.h"
#include "SimServer.h"
#include "TestFolders.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

#include <optional>
#include <set>

namespace {

struct Response {
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray headerBlock; // status line and header lines as sent
    QByteArray body;
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return {};
    }
};

// A bare HTTP client: writes bytes, collects bytes, splits one response.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, [this] {
            m_received += m_socket.readAll();
            ++m_reads;
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        (void)QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }

    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes) { m_socket.write(bytes); }
    QByteArray &received() { return m_received; }
    int reads() const { return m_reads; }

    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }

    // Takes one complete response off the received bytes.
    std::optional<Response> response(int ms = 5000)
    {
        std::optional<Response> result;
        (void)QTest::qWaitFor([&] { return (result = split()).has_value(); }, ms);
        return result;
    }

private:
    std::optional<Response> split()
    {
        const qsizetype end = m_received.indexOf("\r\n\r\n");
        if (end < 0)
            return std::nullopt;
        Response r;
        r.headerBlock = m_received.left(end + 2);
        const QList<QByteArray> lines = m_received.left(end).split('\n');
        r.status = lines.value(0).split(' ').value(1).toInt();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            r.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        }
        const qsizetype length = r.header("Content-Length").toLongLong();
        if (m_received.size() < end + 4 + length)
            return std::nullopt;
        r.body = m_received.mid(end + 4, length);
        m_received.remove(0, end + 4 + length);
        return r;
    }

    QTcpSocket m_socket;
    QByteArray m_received;
    int m_reads = 0;
};

using Fields = QList<QPair<QByteArray, QByteArray>>;

QByteArray formBody(const Fields &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += QUrl::toPercentEncoding(QString::fromUtf8(name)) + '=' + QUrl::toPercentEncoding(QString::fromUtf8(value));
    }
    return body;
}

QByteArray postRequest(const QByteArray &path, quint16 port, const QByteArray &body, const QByteArray &extra = {})
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
        + "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\n" + extra + "\r\n" + body;
}

std::optional<Response> exchange(quint16 port, const QByteArray &path, const Fields &fields)
{
    RawClient client(port);
    client.send(postRequest(path, port, formBody(fields)));
    return client.response();
}

quint16 portOf(const QString &host)
{
    return quint16(host.section(QLatin1Char(':'), 1).toUInt());
}

Fields readFields(const QByteArray &email, const QByteArray &password, int start, int num,
                  const QByteArray &type = "photo")
{
    return {{"email", email}, {"password", password}, {"start", QByteArray::number(start)},
            {"num", QByteArray::number(num)}, {"generator", "Zelvat - Velloria 1.00.0036"}, {"type", type}};
}

Fields writeFields(const QByteArray &group, const QByteArray &postId)
{
    return {{"group", group},
            {"email", "user@example.com"},
            {"password", "secret"},
            {"post-id", postId},
            {"type", "photo"},
            {"caption", "Новый <b>caption</b> 🐈"},
            {"tags", "cats, \"big, fluffy\", \"Новый caption\""},
            {"generator", "Zelvat - Velloria 1.00.0036"},
            {"format", "markdown"},
            {"slug", "new-slug"},
            {"click-through-url", "https://example.com/x?a=1&b=2"},
            {"date", "2026-01-02 03:04:05 GMT"}};
}

struct PageInfo {
    bool wellFormed = false;
    int start = -1;
    int total = -1;
    QStringList ids;
    QStringList types;
    QStringList captions;
    QList<QStringList> tags;
    QStringList urls;
    QString tumblelogTitle;
};

PageInfo parsePage(const QByteArray &xml)
{
    PageInfo page;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto name = reader.name();
        if (name == QLatin1String("tumblelog")) {
            page.tumblelogTitle = reader.attributes().value(QLatin1String("title")).toString();
        } else if (name == QLatin1String("posts")) {
            page.start = reader.attributes().value(QLatin1String("start")).toInt();
            page.total = reader.attributes().value(QLatin1String("total")).toInt();
        } else if (name == QLatin1String("post")) {
            page.ids << reader.attributes().value(QLatin1String("id")).toString();
            page.types << reader.attributes().value(QLatin1String("type")).toString();
            page.urls << reader.attributes().value(QLatin1String("url")).toString();
            page.captions << QString();
            page.tags << QStringList();
        } else if (name == QLatin1String("photo-caption")) {
            page.captions.last() = reader.readElementText();
        } else if (name == QLatin1String("tag")) {
            page.tags.last() << reader.readElementText();
        }
    }
    page.wellFormed = !reader.hasError();
    return page;
}

}

class tst_simulator final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }

    void authenticate_rightCredentials_listsEveryBlogWithItsAddress();
    void authenticate_refused_answersOneLine_data();
    void authenticate_refused_answersOneLine();
    void authenticate_blogWithoutAddress_hasEmptyUrl();

    void read_page_data();
    void read_page();
    void read_typeFilter_leavesOutOtherTypesUnlessBlogIgnoresIt();
    void read_byId_answersThatPostAloneOfAnyType();
    void read_wrongCredentials_answers403();
    void eachHost_servesOnlyItsOwnRequests();
    void read_aliasPort_servesTheSameBlog();

    void keepAlive_twoRequestsOnOneSocket_bothAnswered();
    void connectionClose_closesAfterTheAnswer();
    void unknownPathAndMethod_answer404And405();

    void write_accepted_storesEveryFieldAsReceived();
    void write_afterPostsChangedDirectly_reachesTheRightPost();
    void answerDelay_holdsEveryAnswer();
    void page_unixTimestamp_fromTheGmtDate_data();
    void page_unixTimestamp_fromTheGmtDate();
    void write_groupByHostOrName_accepted_data();
    void write_groupByHostOrName_accepted();
    void write_refused_data();
    void write_refused();

    void parseTagsField_splitsLikeTheService_data();
    void parseTagsField_splitsLikeTheService();

    void escaping_roundTripsThroughXmlReader_data();
    void escaping_roundTripsThroughXmlReader();

    void fault_status_answersGivenStatusAndBody();
    void fault_redirect_sendsLocationHeaderExactly();
    void fault_closeBeforeAnswer_closesWithoutBytes();
    void fault_truncatedBody_announcesFullLengthSendsHalf();
    void fault_stall_sendsNothing();
    void fault_trickle_sendsTheNormalAnswerInPieces();
    void fault_delay_sendsTheNormalAnswer();
    void fault_malformedXml_doesNotParse();
    void fault_empty200_hasEmptyBody();
    void fault_rawResponse_isWrittenAsIs();
    void fault_count_appliesToTheNextRequestsOnly();
    void fault_anyEndpoint_matchesEveryPath();

    void log_keepsFieldsInOrderWithRawBytes();

    void demoData_isDeterministicAndVaried();
    void loadAccounts_validFile_isServed();
    void loadAccounts_badFile_saysWhereAndWhy_data();
    void loadAccounts_badFile_saysWhereAndWhy();

private:
    TestFolders m_folders;
};

void tst_simulator::authenticate_rightCredentials_listsEveryBlogWithItsAddress()
{
    SimFixture sim;
    const auto r = exchange(sim.server().servicePort(), "/api/authenticate",
                            {{"email", "demo@example.com"}, {"password", "demo"}, {"generator", "x"}});
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QCOMPARE(r->header("Content-Type"), QByteArray("text/xml; charset=utf-8"));
    QVERIFY(r->body.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tumblr version=\"1.0\">"));

    QStringList seen;
    QXmlStreamReader reader(r->body);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("tumblelog")) {
            const auto a = reader.attributes();
            seen << a.value(QLatin1String("name")).toString() + QLatin1Char('|') + a.value(QLatin1String("title")).toString()
                    + QLatin1Char('|') + a.value(QLatin1String("url")).toString() + QLatin1Char('|')
                    + a.value(QLatin1String("type")).toString();
        }
    }
    QVERIFY(!reader.hasError());
    const QStringList expected = {
        QStringLiteral("demo-cats|Cats & Kittens|http://%1/|public").arg(sim.blogHost(QStringLiteral("demo-cats"))),
        QStringLiteral("demo-travel|Путешествия и фото|http://%1/|public").arg(sim.blogHost(QStringLiteral("demo-travel"))),
        QStringLiteral("demo-private|Private notes|http://%1/|private").arg(sim.blogHost(QStringLiteral("demo-private"))),
    };
    QCOMPARE(seen, expected);
}

void tst_simulator::authenticate_refused_answersOneLine_data()
{
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("wrong password") << Fields{{"email", "demo@example.com"}, {"password", "Demo"}, {"generator", "x"}}
                                    << 403 << QByteArray("Invalid credentials.");
    QTest::newRow("unknown address") << Fields{{"email", "nobody@example.com"}, {"password", "demo"}, {"generator", "x"}}
                                     << 403 << QByteArray("Invalid credentials.");
    QTest::newRow("no password") << Fields{{"email", "demo@example.com"}, {"generator", "x"}} << 400
                                 << QByteArray("Missing field: password.");
    QTest::newRow("no email") << Fields{{"password", "demo"}} << 400 << QByteArray("Missing field: email.");
}

void tst_simulator::authenticate_refused_answersOneLine()
{
    QFETCH(Fields, fields);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    SimFixture sim;
    const auto r = exchange(sim.server().servicePort(), "/api/authenticate", fields);
    QVERIFY(r);
    QCOMPARE(r->status, status);
    QCOMPARE(r->header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
    QCOMPARE(r->body, body);
}

void tst_simulator::authenticate_blogWithoutAddress_hasEmptyUrl()
{
    sim::Account account = SimFixture::generatedAccount(QStringLiteral("b1"), 1);
    account.blogs.front().emptyUrl = true;
    SimFixture sim(account);
    const auto r = exchange(sim.server().servicePort(), "/api/authenticate",
                            {{"email", "user@example.com"}, {"password", "secret"}, {"generator", "x"}});
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QVERIFY2(r->body.contains(" name=\"b1\" url=\"\" type=\"public\""), r->body.constData());
}

void tst_simulator::read_page_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("num");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("firstId");
    QTest::newRow("first page") << 0 << 50 << 50 << QStringLiteral("1001");
    QTest::newRow("second page") << 50 << 50 << 50 << QStringLiteral("1051");
    QTest::newRow("last, short page") << 100 << 50 << 20 << QStringLiteral("1101");
    QTest::newRow("past the end") << 120 << 50 << 0 << QString();
    QTest::newRow("one post") << 119 << 50 << 1 << QStringLiteral("1120");
    QTest::newRow("more than 50 asked") << 0 << 80 << 50 << QStringLiteral("1001");
}

void tst_simulator::read_page()
{
    QFETCH(int, start);
    QFETCH(int, num);
    QFETCH(int, count);
    QFETCH(QString, firstId);
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("pages"), 120));
    const quint16 port = portOf(sim.blogHost(QStringLiteral("pages")));
    const auto r = exchange(port, "/api/read", readFields("user@example.com", "secret", start, num));
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    const PageInfo page = parsePage(r->body);
    QVERIFY(page.wellFormed);
    QCOMPARE(page.start, start);
    QCOMPARE(page.total, 120);
    QCOMPARE(page.ids.size(), count);
    QCOMPARE(page.ids.value(0), firstId);
    if (count) {
        QCOMPARE(page.urls.first(), QStringLiteral("http://%1/post/%2/photo-%2").arg(sim.blogHost(QStringLiteral("pages")), firstId));
        QCOMPARE(page.captions.first(), QStringLiteral("Photo %1").arg(firstId.toInt() - 1000));
    }
}

void tst_simulator::read_typeFilter_leavesOutOtherTypesUnlessBlogIgnoresIt()
{
    sim::Account account = SimFixture::generatedAccount(QStringLiteral("mixed"), 10);
    auto &posts = account.blogs.front().posts;
    posts[2].type = QStringLiteral("text");
    posts[5].type = QStringLiteral("quote");
    SimFixture sim(account);
    const quint16 port = portOf(sim.blogHost(QStringLiteral("mixed")));

    PageInfo page = parsePage(exchange(port, "/api/read", readFields("user@example.com", "secret", 0, 50))->body);
    QCOMPARE(page.total, 8);
    QVERIFY(!page.types.contains(QStringLiteral("text")));

    page = parsePage(exchange(port, "/api/read", readFields("user@example.com", "secret", 0, 50, ""))->body);
    QCOMPARE(page.total, 10);

    sim.blog(QStringLiteral("mixed")).ignoreTypeFilter = true;
    page = parsePage(exchange(port, "/api/read", readFields("user@example.com", "secret", 0, 50))->body);
    QCOMPARE(page.total, 10);
    QCOMPARE(page.types.value(2), QStringLiteral("text"));
    QCOMPARE(page.types.value(5), QStringLiteral("quote"));
}

void tst_simulator::read_byId_answersThatPostAloneOfAnyType()
{
    sim::Account account = SimFixture::generatedAccount(QStringLiteral("mixed"), 10);
    account.blogs.front().posts[4].type = QStringLiteral("text");
    SimFixture sim(account);
    const quint16 port = portOf(sim.blogHost(QStringLiteral("mixed")));
    const auto byId = [&](const QByteArray &id) {
        Fields fields = readFields("user@example.com", "secret", 0, 50);
        fields.append({"id", id});
        return parsePage(exchange(port, "/api/read", fields)->body);
    };

    PageInfo page = byId("1007");
    QVERIFY(page.wellFormed);
    QCOMPARE(page.ids, QStringList{QStringLiteral("1007")});
    QCOMPARE(page.total, 1);
    QCOMPARE(page.tags.value(0), (QStringList{QStringLiteral("tag 7"), QStringLiteral("shared")}));
    page = byId("1005"); // a text post, though the type asks for photos
    QCOMPARE(page.ids, QStringList{QStringLiteral("1005")});
    page = byId("9999");
    QVERIFY(page.wellFormed);
    QCOMPARE(page.ids, QStringList());
    QCOMPARE(page.total, 0);
}

void tst_simulator::read_wrongCredentials_answers403()
{
    SimFixture sim;
    const quint16 port = portOf(sim.blogHost(QStringLiteral("demo-private")));
    auto r = exchange(port, "/api/read", readFields("demo@example.com", "wrong", 0, 50));
    QVERIFY(r);
    QCOMPARE(r->status, 403);
    QCOMPARE(r->body, QByteArray("Invalid credentials."));
    r = exchange(port, "/api/read", readFields("demo@example.com", "demo", 0, 50));
    QCOMPARE(r->status, 200); // the owner reads a private blog
}

void tst_simulator::eachHost_servesOnlyItsOwnRequests()
{
    SimFixture sim;
    const quint16 blogPort = portOf(sim.blogHost(QStringLiteral("demo-cats")));
    const auto read = exchange(sim.server().servicePort(), "/api/read", readFields("demo@example.com", "demo", 0, 50));
    QVERIFY(read);
    QCOMPARE(read->status, 404);
    const auto auth = exchange(blogPort, "/api/authenticate", {{"email", "demo@example.com"}, {"password", "demo"}});
    QVERIFY(auth);
    QCOMPARE(auth->status, 404);
    const auto write = exchange(blogPort, "/api/write", writeFields("demo-cats", "790000000000"));
    QVERIFY(write);
    QCOMPARE(write->status, 404);
}

void tst_simulator::read_aliasPort_servesTheSameBlog()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("moved"), 3));
    const QString alias = sim.server().addBlogAlias(QStringLiteral("moved"));
    QVERIFY(!alias.isEmpty());
    QVERIFY(alias != sim.blogHost(QStringLiteral("moved")));
    const auto r = exchange(portOf(alias), "/api/read", readFields("user@example.com", "secret", 0, 50));
    QVERIFY(r);
    QCOMPARE(parsePage(r->body).ids, (QStringList{QStringLiteral("1001"), QStringLiteral("1002"), QStringLiteral("1003")}));
}

void tst_simulator::keepAlive_twoRequestsOnOneSocket_bothAnswered()
{
    SimFixture sim;
    const quint16 port = sim.server().servicePort();
    RawClient client(port);
    const QByteArray body = formBody({{"email", "demo@example.com"}, {"password", "demo"}, {"generator", "x"}});
    client.send(postRequest("/api/authenticate", port, body));
    const auto first = client.response();
    QVERIFY(first);
    QCOMPARE(first->status, 200);
    QCOMPARE(first->header("Connection"), QByteArray("keep-alive"));
    client.send(postRequest("/api/authenticate", port, body));
    const auto second = client.response();
    QVERIFY(second);
    QCOMPARE(second->body, first->body);
    QVERIFY(client.connected());

    // Two requests in one write are answered in order.
    client.send(postRequest("/api/authenticate", port, body) + postRequest("/api/nothing", port, {}));
    QCOMPARE(client.response()->status, 200);
    QCOMPARE(client.response()->status, 404);
    QCOMPARE(sim.server().log().size(), 4);
}

void tst_simulator::connectionClose_closesAfterTheAnswer()
{
    SimFixture sim;
    const quint16 port = sim.server().servicePort();
    RawClient client(port);
    client.send(postRequest("/api/authenticate", port, formBody({{"email", "demo@example.com"}, {"password", "demo"}}),
                            "Connection: close\r\n"));
    const auto r = client.response();
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QCOMPARE(r->header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
}

void tst_simulator::unknownPathAndMethod_answer404And405()
{
    SimFixture sim;
    const quint16 port = sim.server().servicePort();
    RawClient client(port);
    client.send(postRequest("/api/other", port, "a=1"));
    QCOMPARE(client.response()->status, 404);
    client.send("GET /api/authenticate HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const auto r = client.response();
    QCOMPARE(r->status, 405);
    QCOMPARE(r->header("Allow"), QByteArray("POST"));
    QCOMPARE(sim.server().log().last().method, QStringLiteral("GET"));
}

void tst_simulator::write_afterPostsChangedDirectly_reachesTheRightPost()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("w"), 3));
    const QByteArray group = sim.blogHost(QStringLiteral("w")).toUtf8();
    const quint16 port = sim.server().servicePort();
    QCOMPARE(exchange(port, "/api/write", writeFields(group, "1002"))->status, 201);

    // Tests change the posts in place: every post moves one place down, one goes.
    std::vector<sim::Post> &posts = sim.blog(QStringLiteral("w")).posts;
    posts.insert(posts.begin(), SimFixture::photoPost(QStringLiteral("2001"), QStringLiteral("New")));
    posts.erase(posts.begin() + 1); // 1001
    QCOMPARE(exchange(port, "/api/write", writeFields(group, "1003"))->status, 201);
    QCOMPARE(sim.post(QStringLiteral("1003")).writeCount, 1);
    QCOMPARE(sim.post(QStringLiteral("1002")).writeCount, 1);
    QCOMPARE(sim.post(QStringLiteral("2001")).writeCount, 0);
    const auto gone = exchange(port, "/api/write", writeFields(group, "1001"));
    QCOMPARE(gone->status, 400);
    QCOMPARE(gone->body, QByteArray("Unknown post: 1001."));
}

void tst_simulator::answerDelay_holdsEveryAnswer()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("d"), 3));
    sim.server().setAnswerDelay(80);
    const QByteArray group = sim.blogHost(QStringLiteral("d")).toUtf8();
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto written = exchange(sim.server().servicePort(), "/api/write", writeFields(group, "1001"));
        QVERIFY(written);
        QCOMPARE(written->status, 201);
        QVERIFY2(timer.elapsed() >= 80, qPrintable(QString::number(timer.elapsed())));
    }
    QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 2);
}

void tst_simulator::page_unixTimestamp_fromTheGmtDate_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("timestamp");
    QTest::newRow("GMT date") << QStringLiteral("2026-11-30 18:04:05 GMT") << QStringLiteral("1796061845");
    QTest::newRow("another form") << QStringLiteral("Mon, 30 Nov 2026 18:04:05") << QStringLiteral("0");
    QTest::newRow("no such day") << QStringLiteral("2026-02-30 18:04:05 GMT") << QStringLiteral("0");
}

void tst_simulator::page_unixTimestamp_fromTheGmtDate()
{
    QFETCH(QString, date);
    QFETCH(QString, timestamp);
    sim::Post post = SimFixture::photoPost(QStringLiteral("1"), QStringLiteral("A"));
    post.date = date;
    const sim::Blog blog = SimFixture::makeBlog(QStringLiteral("t"), QStringLiteral("T"), {post});
    const QByteArray page = sim::Server::renderPostsPage(blog, QStringLiteral("127.0.0.1:1"), 0, 50, {});
    QVERIFY2(page.contains("unix-timestamp=\"" + timestamp.toUtf8() + '"'), page.constData());
}

void tst_simulator::write_accepted_storesEveryFieldAsReceived()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("w"), 3));
    const QByteArray group = sim.blogHost(QStringLiteral("w")).toUtf8();
    const auto r = exchange(sim.server().servicePort(), "/api/write", writeFields(group, "1002"));
    QVERIFY(r);
    QCOMPARE(r->status, 201);
    QCOMPARE(r->body, QByteArray("1002"));
    const sim::Post &post = sim.post(QStringLiteral("1002"));
    QCOMPARE(post.caption, QStringLiteral("Новый <b>caption</b> 🐈"));
    QCOMPARE(post.tags, (QStringList{QStringLiteral("cats"), QStringLiteral("big, fluffy"), QStringLiteral("Новый caption")}));
    QCOMPARE(post.format, QStringLiteral("markdown"));
    QCOMPARE(post.slug, QStringLiteral("new-slug"));
    QCOMPARE(post.linkUrl, QStringLiteral("https://example.com/x?a=1&b=2"));
    QCOMPARE(post.date, QStringLiteral("2026-01-02 03:04:05 GMT"));
    QCOMPARE(post.group, QString::fromUtf8(group));
    QCOMPARE(post.generator, QStringLiteral("Zelvat - Velloria 1.00.0036"));
    QCOMPARE(post.writeCount, 1);
    QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 0);

    // The next read shows the written post.
    const PageInfo page = parsePage(
        exchange(portOf(QString::fromUtf8(group)), "/api/read", readFields("user@example.com", "secret", 1, 1))->body);
    QCOMPARE(page.captions, QStringList{QStringLiteral("Новый <b>caption</b> 🐈")});
    QCOMPARE(page.tags.value(0).value(1), QStringLiteral("big, fluffy"));
}

void tst_simulator::write_groupByHostOrName_accepted_data()
{
    QTest::addColumn<bool>("byName");
    QTest::newRow("host of the blog's url") << false;
    QTest::newRow("blog name") << true;
}

void tst_simulator::write_groupByHostOrName_accepted()
{
    QFETCH(bool, byName);
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("w"), 1));
    const QByteArray group = byName ? QByteArray("w") : sim.blogHost(QStringLiteral("w")).toUtf8();
    QCOMPARE(exchange(sim.server().servicePort(), "/api/write", writeFields(group, "1001"))->status, 201);
}

void tst_simulator::write_refused_data()
{
    QTest::addColumn<QString>("drop");      // a field left out
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("postId");
    QTest::addColumn<QByteArray>("group");  // empty: the blog's host
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("wrong password") << QString() << QByteArray("Secret") << QByteArray("1001") << QByteArray() << 403
                                    << QByteArray("Invalid credentials.");
    QTest::newRow("unknown post") << QString() << QByteArray("secret") << QByteArray("999") << QByteArray() << 400
                                  << QByteArray("Unknown post: 999.");
    QTest::newRow("other group") << QString() << QByteArray("secret") << QByteArray("1001") << QByteArray("elsewhere")
                                 << 400 << QByteArray("Post 1001 is not in group elsewhere.");
    for (const char *field : {"group", "post-id", "caption", "tags", "slug", "click-through-url", "date"}) {
        QTest::addRow("no %s", field) << QString::fromLatin1(field) << QByteArray("secret") << QByteArray("1001")
                                      << QByteArray() << 400 << "Missing field: " + QByteArray(field) + '.';
    }
}

void tst_simulator::write_refused()
{
    QFETCH(QString, drop);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, postId);
    QFETCH(QByteArray, group);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("w"), 1));
    Fields fields = writeFields(group.isEmpty() ? sim.blogHost(QStringLiteral("w")).toUtf8() : group, postId);
    fields[2].second = password;
    fields.removeIf([&](const auto &f) { return f.first == drop.toUtf8(); });
    const auto r = exchange(sim.server().servicePort(), "/api/write", fields);
    QVERIFY(r);
    QCOMPARE(r->status, status);
    QCOMPARE(r->body, body);
    QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 0);
    QCOMPARE(sim.post(QStringLiteral("1001")).caption, QStringLiteral("Photo 1"));
}

void tst_simulator::parseTagsField_splitsLikeTheService_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tags");
    QTest::newRow("plain") << QStringLiteral("cats, dogs") << QStringList{QStringLiteral("cats"), QStringLiteral("dogs")};
    QTest::newRow("no blanks") << QStringLiteral("a,b,c") << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("quoted with commas") << QStringLiteral("cat, \"big, comma, fluffy\"")
                                        << QStringList{QStringLiteral("cat"), QStringLiteral("big, comma, fluffy")};
    QTest::newRow("quoted first") << QStringLiteral("\"a, b\",c") << QStringList{QStringLiteral("a, b"), QStringLiteral("c")};
    QTest::newRow("blanks trimmed") << QStringLiteral("  one  ,   two words  ")
                                    << QStringList{QStringLiteral("one"), QStringLiteral("two words")};
    QTest::newRow("blanks inside quotes trimmed") << QStringLiteral("\"  x  \"") << QStringList{QStringLiteral("x")};
    QTest::newRow("empty pieces dropped") << QStringLiteral("a,, ,b,") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("empty text") << QString() << QStringList{};
    QTest::newRow("empty quotes") << QStringLiteral("\"\", a") << QStringList{QStringLiteral("a")};
    QTest::newRow("quote inside a piece is kept") << QStringLiteral("say \"hi\", x")
                                                  << QStringList{QStringLiteral("say \"hi\""), QStringLiteral("x")};
    QTest::newRow("text after closing quote joins") << QStringLiteral("\"a,b\"c, d")
                                                    << QStringList{QStringLiteral("a,bc"), QStringLiteral("d")};
    QTest::newRow("unclosed quote runs to the end") << QStringLiteral("x, \"a, b")
                                                    << QStringList{QStringLiteral("x"), QStringLiteral("a, b")};
    QTest::newRow("cyrillic and emoji") << QStringLiteral("котики, \"🐈, 🐱\"")
                                        << QStringList{QStringLiteral("котики"), QStringLiteral("🐈, 🐱")};
}

void tst_simulator::parseTagsField_splitsLikeTheService()
{
    QFETCH(QString, text);
    QFETCH(QStringList, tags);
    QCOMPARE(sim::Server::parseTagsField(text), tags);
}

void tst_simulator::escaping_roundTripsThroughXmlReader_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF") << QStringLiteral("one\r\ntwo") << QStringLiteral("one\r\ntwo");
    QTest::newRow("lone CR") << QStringLiteral("one\rtwo") << QStringLiteral("one\rtwo");
    QTest::newRow("markup") << QStringLiteral("<p>a &amp; b</p> > <") << QStringLiteral("<p>a &amp; b</p> > <");
    QTest::newRow("quotes") << QStringLiteral("\"double\" 'single' “typographic”") << QStringLiteral("\"double\" 'single' “typographic”");
    QTest::newRow("emoji outside the BMP") << QStringLiteral("cat 🐈 box 📦") << QStringLiteral("cat 🐈 box 📦");
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
    QTest::newRow("control characters dropped") << QStringLiteral("a\x01" "b\x1F" "c") << QStringLiteral("abc");
    QTest::newRow("lone surrogate dropped") << (QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b")) << QStringLiteral("ab");
}

void tst_simulator::escaping_roundTripsThroughXmlReader()
{
    QFETCH(QString, caption);
    QFETCH(QString, expected);
    sim::Blog blog = SimFixture::makeBlog(QStringLiteral("esc"), caption,
                                          {SimFixture::photoPost(QStringLiteral("1"), caption, {caption, QStringLiteral("x")})});
    blog.posts.front().slug = caption;
    const QByteArray xml = sim::Server::renderPostsPage(blog, QStringLiteral("127.0.0.1:1"), 0, 50, QStringLiteral("photo"));
    QXmlStreamReader reader(xml);
    QString text, tag, slug, title;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("tumblelog"))
            title = reader.attributes().value(QLatin1String("title")).toString();
        else if (reader.name() == QLatin1String("post"))
            slug = reader.attributes().value(QLatin1String("slug")).toString();
        else if (reader.name() == QLatin1String("photo-caption"))
            text = reader.readElementText();
        else if (reader.name() == QLatin1String("tag") && tag.isNull())
            tag = reader.readElementText();
    }
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    QCOMPARE(text, expected);
    QCOMPARE(tag, expected);
    QCOMPARE(slug, expected);  // attribute
    QCOMPARE(title, expected); // attribute
}

void tst_simulator::fault_status_answersGivenStatusAndBody()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Status;
    fault.status = 503;
    fault.body = "Down for maintenance.\r\nTry later.";
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    const auto r = exchange(sim.server().servicePort(), "/api/authenticate", {{"email", "demo@example.com"}, {"password", "demo"}});
    QVERIFY(r);
    QCOMPARE(r->status, 503);
    QCOMPARE(r->body, fault.body);
    QCOMPARE(sim.server().log().size(), 1);
}

void tst_simulator::fault_redirect_sendsLocationHeaderExactly()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Redirect;
    fault.location = "  http://127.0.0.1:9/x  ";
    sim.server().injectFault(sim::Endpoint::Read, fault);
    const quint16 port = portOf(sim.blogHost(QStringLiteral("demo-cats")));
    RawClient client(port);
    client.send(postRequest("/api/read", port, formBody(readFields("demo@example.com", "demo", 0, 50))));
    const auto r = client.response();
    QVERIFY(r);
    QCOMPARE(r->status, 301);
    QVERIFY(r->headerBlock.startsWith("HTTP/1.1 301 Moved Permanently\r\n"));
    QVERIFY2(r->headerBlock.contains("\r\nLocation:   http://127.0.0.1:9/x  \r\n"), r->headerBlock.constData());
}

void tst_simulator::fault_closeBeforeAnswer_closesWithoutBytes()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::CloseBeforeAnswer;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    const quint16 port = sim.server().servicePort();
    RawClient client(port);
    client.send(postRequest("/api/authenticate", port, "email=a&password=b"));
    QVERIFY(client.waitClosed());
    QVERIFY(client.received().isEmpty());
    QCOMPARE(sim.server().log().size(), 1);
}

void tst_simulator::fault_truncatedBody_announcesFullLengthSendsHalf()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::TruncatedBody;
    sim.server().injectFault(sim::Endpoint::Read, fault);
    const quint16 port = portOf(sim.blogHost(QStringLiteral("demo-cats")));
    RawClient client(port);
    client.send(postRequest("/api/read", port, formBody(readFields("demo@example.com", "demo", 0, 50))));
    QVERIFY(client.waitClosed());
    const QByteArray &got = client.received();
    const qsizetype end = got.indexOf("\r\n\r\n");
    QVERIFY(end > 0);
    const QByteArray full = sim::Server::renderPostsPage(*sim.server().blog(QStringLiteral("demo-cats")),
                                                         sim.blogHost(QStringLiteral("demo-cats")), 0, 50, QStringLiteral("photo"));
    QVERIFY(got.left(end).contains("\r\nContent-Length: " + QByteArray::number(full.size()) + "\r\n"));
    QCOMPARE(got.mid(end + 4), full.left(full.size() / 2));
}

void tst_simulator::fault_stall_sendsNothing()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Stall;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    const quint16 port = sim.server().servicePort();
    RawClient client(port);
    client.send(postRequest("/api/authenticate", port, "email=a&password=b"));
    QTest::qWait(300);
    QVERIFY(client.received().isEmpty());
    QVERIFY(client.connected());
    QCOMPARE(sim.server().log().size(), 1);
}

void tst_simulator::fault_trickle_sendsTheNormalAnswerInPieces()
{
    SimFixture sim;
    const quint16 port = sim.server().servicePort();
    const Fields fields{{"email", "demo@example.com"}, {"password", "demo"}, {"generator", "x"}};
    const auto normal = exchange(port, "/api/authenticate", fields);
    sim::Fault fault;
    fault.kind = sim::Fault::Trickle;
    fault.chunk = 200;
    fault.delayMs = 5;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault);
    RawClient client(port);
    client.send(postRequest("/api/authenticate", port, formBody(fields)));
    const auto r = client.response();
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QCOMPARE(r->body, normal->body);
    QVERIFY(client.reads() > 1);
    // The connection stays usable after a trickled answer.
    client.send(postRequest("/api/authenticate", port, formBody(fields)));
    QCOMPARE(client.response()->body, normal->body);
}

void tst_simulator::fault_delay_sendsTheNormalAnswer()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("d"), 1));
    sim::Fault fault;
    fault.kind = sim::Fault::Delay;
    fault.delayMs = 50;
    sim.server().injectFault(sim::Endpoint::Write, fault);
    const auto r = exchange(sim.server().servicePort(), "/api/write", writeFields("d", "1001"));
    QVERIFY(r);
    QCOMPARE(r->status, 201);
    QCOMPARE(r->body, QByteArray("1001"));
    QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 1);
}

void tst_simulator::fault_malformedXml_doesNotParse()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::MalformedXml;
    sim.server().injectFault(sim::Endpoint::Read, fault);
    const auto r = exchange(portOf(sim.blogHost(QStringLiteral("demo-cats"))), "/api/read",
                            readFields("demo@example.com", "demo", 0, 50));
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QXmlStreamReader reader(r->body);
    while (!reader.atEnd())
        reader.readNext();
    QVERIFY(reader.hasError());
}

void tst_simulator::fault_empty200_hasEmptyBody()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Empty200;
    sim.server().injectFault(sim::Endpoint::Read, fault);
    const auto r = exchange(portOf(sim.blogHost(QStringLiteral("demo-cats"))), "/api/read",
                            readFields("demo@example.com", "demo", 0, 50));
    QVERIFY(r);
    QCOMPARE(r->status, 200);
    QCOMPARE(r->header("Content-Length"), QByteArray("0"));
    QVERIFY(r->body.isEmpty());
}

void tst_simulator::fault_rawResponse_isWrittenAsIs()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::RawResponse;
    fault.body = "HTTP/1.1 301 Moved\r\nlocation: http://127.0.0.1:1/\r\nContent-Length: 0\r\n\r\n";
    sim.server().injectFault(sim::Endpoint::Read, fault);
    const quint16 port = portOf(sim.blogHost(QStringLiteral("demo-cats")));
    RawClient client(port);
    client.send(postRequest("/api/read", port, "a=1"));
    QVERIFY(client.waitClosed());
    QCOMPARE(client.received(), fault.body);
}

void tst_simulator::fault_count_appliesToTheNextRequestsOnly()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Status;
    fault.status = 500;
    sim.server().injectFault(sim::Endpoint::Authenticate, fault, 2);
    const Fields fields{{"email", "demo@example.com"}, {"password", "demo"}};
    const quint16 port = sim.server().servicePort();
    QCOMPARE(exchange(port, "/api/authenticate", fields)->status, 500);
    QCOMPARE(exchange(port, "/api/authenticate", fields)->status, 500);
    QCOMPARE(exchange(port, "/api/authenticate", fields)->status, 200);

    // A fault for another endpoint leaves this one alone; clearFaults drops it.
    sim.server().injectFault(sim::Endpoint::Write, fault);
    QCOMPARE(exchange(port, "/api/authenticate", fields)->status, 200);
    sim.server().clearFaults();
    QCOMPARE(exchange(port, "/api/write", fields)->status, 400);
}

void tst_simulator::fault_anyEndpoint_matchesEveryPath()
{
    SimFixture sim;
    sim::Fault fault;
    fault.kind = sim::Fault::Status;
    fault.status = 502;
    sim.server().injectFault(sim::Endpoint::Any, fault, 3);
    const quint16 port = sim.server().servicePort();
    QCOMPARE(exchange(port, "/api/authenticate", {})->status, 502);
    QCOMPARE(exchange(port, "/api/write", {})->status, 502);
    QCOMPARE(exchange(port, "/elsewhere", {})->status, 502);
    QCOMPARE(exchange(port, "/elsewhere", {})->status, 404);
}

void tst_simulator::log_keepsFieldsInOrderWithRawBytes()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("log"), 1));
    QSignalSpy spy(&sim.server(), &sim::Server::requestLogged);
    const quint16 port = sim.server().servicePort();
    // Hand-encoded body: '+' for a blank, %XX for UTF-8 bytes, a field twice.
    const QByteArray body = "zeta=%D0%9A%D0%BE%D1%82+%F0%9F%90%88&alpha=a%2Bb%26c%3D&empty=&zeta=second&bare";
    RawClient client(port);
    client.send(postRequest("/api/write", port, body));
    QVERIFY(client.response());
    QCOMPARE(spy.count(), 1);

    const sim::Request request = sim.server().log().last();
    QCOMPARE(request.method, QStringLiteral("POST"));
    QCOMPARE(request.path, QStringLiteral("/api/write"));
    QCOMPARE(request.host, QStringLiteral("127.0.0.1:%1").arg(port));
    QCOMPARE(request.localPort, port);
    QCOMPARE(request.rawBody, body);
    QCOMPARE(request.fieldNames(),
             (QStringList{QStringLiteral("zeta"), QStringLiteral("alpha"), QStringLiteral("empty"), QStringLiteral("zeta"),
                          QStringLiteral("bare")}));
    QCOMPARE(request.fields.at(0).second, QByteArray("\xD0\x9A\xD0\xBE\xD1\x82 \xF0\x9F\x90\x88"));
    QCOMPARE(request.field(QStringLiteral("zeta")), QByteArray("\xD0\x9A\xD0\xBE\xD1\x82 \xF0\x9F\x90\x88"));
    QCOMPARE(request.field(QStringLiteral("alpha")), QByteArray("a+b&c="));
    QCOMPARE(request.field(QStringLiteral("empty")), QByteArray());
    QCOMPARE(request.header("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(spy.first().first().value<sim::Request>().rawBody, body);

    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 1);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 0);
    sim.server().clearLog();
    QVERIFY(sim.server().log().isEmpty());
}

void tst_simulator::demoData_isDeterministicAndVaried()
{
    const sim::Account a = sim::Server::demoAccount();
    const sim::Account b = sim::Server::demoAccount();
    QCOMPARE(a.email, QStringLiteral("demo@example.com"));
    QCOMPARE(a.password, QStringLiteral("demo"));
    QCOMPARE(a.blogs.size(), size_t(3));
    QCOMPARE(a.blogs[2].type, QStringLiteral("private"));

    std::set<QString> ids;
    int noCaption = 0, emptyCaption = 0, otherTypes = 0, emoji = 0, cyrillic = 0, commaTags = 0, captionAsTag = 0;
    for (size_t i = 0; i < a.blogs.size(); ++i) {
        const auto &posts = a.blogs[i].posts;
        QCOMPARE(posts.size(), b.blogs[i].posts.size());
        for (size_t j = 0; j < posts.size(); ++j) {
            const sim::Post &p = posts[j];
            QCOMPARE(p.caption, b.blogs[i].posts[j].caption);
            QCOMPARE(p.tags, b.blogs[i].posts[j].tags);
            QVERIFY2(ids.insert(p.id).second, qPrintable(p.id));
            if (j > 0)
                QVERIFY(posts[j - 1].date > p.date);
            noCaption += !p.hasCaption;
            emptyCaption += p.hasCaption && p.caption.isEmpty();
            otherTypes += p.type != QLatin1String("photo");
            emoji += p.caption.contains(QStringLiteral("🐈")) || p.caption.contains(QStringLiteral("🏔"));
            cyrillic += p.caption.contains(QStringLiteral("Кот")) || p.caption.contains(QStringLiteral("Горы"));
            commaTags += p.tags.contains(QStringLiteral("big, comma, fluffy"));
            for (const QString &tag : p.tags)
                captionAsTag += !p.caption.isEmpty() && tag.compare(p.caption.trimmed(), Qt::CaseInsensitive) == 0;
        }
    }
    QCOMPARE(a.blogs[0].posts.size(), size_t(260));
    QCOMPARE(a.blogs[1].posts.size(), size_t(140));
    QVERIFY(noCaption > 0);
    QVERIFY(emptyCaption > 0);
    QVERIFY(otherTypes > 0);
    QVERIFY(emoji > 0);
    QVERIFY(cyrillic > 0);
    QVERIFY(commaTags > 0);
    QVERIFY(captionAsTag > 0);
}

void tst_simulator::loadAccounts_validFile_isServed()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("seed.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"accounts":[{"email":"me@example.com","password":"pw","blogs":[
        {"name":"seeded","title":"Seeded ‘blog’","posts":[
          {"id":"5","caption":"<p>Five</p>","tags":["a","b, c"],"slug":"five","date":"2026-01-01 00:00:00 GMT"},
          {"id":6,"type":"text","caption":"six"},
          {"id":"7","hasCaption":false}]}]}]})");
    file.close();
    std::vector<sim::Account> accounts;
    QString error;
    QVERIFY2(sim::Server::loadAccounts(path, accounts, &error), qPrintable(error));
    SimFixture sim(std::move(accounts));
    const sim::Post &five = sim.post(QStringLiteral("5"));
    QCOMPARE(five.tags, (QStringList{QStringLiteral("a"), QStringLiteral("b, c")}));
    QCOMPARE(sim.post(QStringLiteral("6")).type, QStringLiteral("text"));
    QVERIFY(!sim.post(QStringLiteral("7")).hasCaption);
    const auto r = exchange(portOf(sim.blogHost(QStringLiteral("seeded"))), "/api/read", readFields("me@example.com", "pw", 0, 50));
    const PageInfo page = parsePage(r->body);
    QCOMPARE(page.ids, (QStringList{QStringLiteral("5"), QStringLiteral("7")}));
    QCOMPARE(page.tumblelogTitle, QStringLiteral("Seeded ‘blog’"));
    QCOMPARE(page.urls.first(), QStringLiteral("http://%1/post/5/five").arg(sim.blogHost(QStringLiteral("seeded"))));
    QVERIFY(!r->body.contains("<photo-caption></photo-caption>")); // post 7 has none at all
}

void tst_simulator::loadAccounts_badFile_saysWhereAndWhy_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("not JSON") << QByteArray("{\"accounts\": [") << QStringLiteral("not valid JSON");
    QTest::newRow("no accounts") << QByteArray("{}") << QStringLiteral("\"accounts\"");
    QTest::newRow("no password") << QByteArray(R"({"accounts":[{"email":"a"}]})") << QStringLiteral("accounts[0]");
    QTest::newRow("blog without name") << QByteArray(R"({"accounts":[{"email":"a","password":"b","blogs":[{}]}]})")
                                       << QStringLiteral("accounts[0].blogs[0]: \"name\"");
    QTest::newRow("bad blog type") << QByteArray(R"({"accounts":[{"email":"a","password":"b","blogs":[{"name":"x","type":"secret"}]}]})")
                                   << QStringLiteral("\"type\"");
    QTest::newRow("id twice") << QByteArray(R"({"accounts":[{"email":"a","password":"b","blogs":[{"name":"x","posts":[{"id":"1"},{"id":"1"}]}]}]})")
                              << QStringLiteral("posts[1]: id 1 is used twice");
    QTest::newRow("tags not strings") << QByteArray(R"({"accounts":[{"email":"a","password":"b","blogs":[{"name":"x","posts":[{"id":"1","tags":[1]}]}]}]})")
                                      << QStringLiteral("\"tags\"");
}

void tst_simulator::loadAccounts_badFile_saysWhereAndWhy()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, mentions);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    std::vector<sim::Account> accounts;
    QString error;
    QVERIFY(!sim::Server::loadAccounts(path, accounts, &error));
    QVERIFY2(error.contains(mentions), qPrintable(error));
    QVERIFY(error.startsWith(path));
    QVERIFY(accounts.empty());

    QVERIFY(!sim::Server::loadAccounts(dir.filePath(QStringLiteral("missing.json")), accounts, &error));
    QVERIFY(error.contains(QStringLiteral("cannot open")));
}

QTEST_GUILESS_MAIN(tst_simulator)
#include "tst_simulator.moc"

// The simulator of the service's current interface, spoken to over loopback
// with Qt's network manager (and raw sockets for the HTTP framing). Answers
// are checked with Qt's JSON classes, a reader independent of the simulator's.
#include "CurJson.h"
#include "CurServer.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

using cursim::Endpoint;
using cursim::Fault;
using cursim::Json;
using cursim::Server;

namespace {

const QString redirect = QStringLiteral("http://127.0.0.1:47321/callback");
const QString allScopes = QStringLiteral("basic write offline_access");
const QByteArray bigId = "9007199254740993"; // 2^53 + 1: a double would make it ...992

struct Answer {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return {};
    }
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QJsonObject response() const { return json().value(QLatin1String("response")).toObject(); }
    // A parameter of the Location's query, decoded.
    QString locationParam(const QString &name) const
    {
        return QUrlQuery(QUrl(QString::fromUtf8(header("Location")))).queryItemValue(name, QUrl::FullyDecoded);
    }
};

using Fields = QList<QPair<QString, QString>>;

QByteArray formBody(const Fields &fields)
{
    QByteArray out;
    for (const auto &f : fields) {
        if (!out.isEmpty())
            out += '&';
        out += QUrl::toPercentEncoding(f.first) + '=' + QUrl::toPercentEncoding(f.second);
    }
    return out;
}

QStringList texts(const QJsonArray &content)
{
    QStringList out;
    for (const QJsonValue &block : content) {
        if (block[QLatin1String("type")].toString() == QLatin1String("text"))
            out.append(block[QLatin1String("text")].toString());
    }
    return out;
}

// The response member of a 200 envelope as the server wrote it: the last one.
QByteArray responseText(const QByteArray &body)
{
    const QByteArray key = "\"response\":";
    const qsizetype at = body.indexOf(key);
    return at < 0 || !body.endsWith('}') ? QByteArray() : body.mid(at + key.size()).chopped(1);
}

// The post's tags array as written (no tag holds a ']'), replaced by `tags`.
QByteArray withTags(QByteArray post, const QByteArray &tags)
{
    const qsizetype from = post.indexOf("\"tags\":[");
    const qsizetype to = from < 0 ? -1 : post.indexOf(']', from);
    if (to < 0)
        return {};
    return post.replace(from, to + 1 - from, "\"tags\":" + tags);
}

QStringList idStrings(const QJsonObject &response)
{
    QStringList out;
    for (const QJsonValue &p : response[QLatin1String("posts")].toArray())
        out.append(p[QLatin1String("id_string")].toString());
    return out;
}

}

class TestCurrentSim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void codeFlow();
    void authorizeRefusals_data();
    void authorizeRefusals();
    void deny();
    void tokenRefusals_data();
    void tokenRefusals();
    void refreshRotation();
    void expiredAccessToken();
    void paging_data();
    void paging();
    void pageLimits_data();
    void pageLimits();
    void blogIdentifiers();
    void damagedPaging();
    void npfAndLegacyShapes();
    void onePost_data();
    void onePost();
    void captionTexts_data();
    void captionTexts();
    void rateLimit();
    void faults_data();
    void faults();
    void dropAndStall();
    void httpFraming();
    void jsonRoundTrip_data();
    void jsonRoundTrip();
    void jsonRejects_data();
    void jsonRejects();
    void jsonWriter();
    void legacyEdit_data();
    void legacyEdit();
    void updateEcho();
    void updateLeftOut_data();
    void updateLeftOut();
    void updateRefusals_data();
    void updateRefusals();
    void writeRoutes();

private:
    Answer call(const QByteArray &verb, const QString &target, const QByteArray &body = {},
                const QByteArray &token = {}, int timeoutMs = 0,
                const QByteArray &contentType = "application/x-www-form-urlencoded");
    Answer edit(const Fields &fields, const QByteArray &token)
    {
        return call("POST", QStringLiteral("/v2/blog/cats/post/edit"), formBody(fields), token);
    }
    Answer put(const QString &id, const QByteArray &json, const QByteArray &token,
               const QByteArray &contentType = "application/json")
    {
        return call("PUT", QStringLiteral("/v2/blog/cats/posts/") + id, json, token, 0, contentType);
    }
    void decorate(cursim::Post *post);
    Answer get(const QString &target, const QByteArray &token) { return call("GET", target, {}, token); }
    Answer post(const QString &target, const Fields &fields) { return call("POST", target, formBody(fields)); }
    Fields authorizeFields(const QString &scope = allScopes) const;
    QString newCode(const QString &scope = allScopes);
    Answer exchange(const QString &code);
    Answer refresh(const QString &refreshToken);
    QByteArray login(const QString &scope = allScopes);

    std::unique_ptr<Server> m_server;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

void TestCurrentSim::init()
{
    m_server = std::make_unique<Server>();
    m_nam = std::make_unique<QNetworkAccessManager>();
    m_nam->setProxy(QNetworkProxy::NoProxy);

    cursim::Blog cats;
    cats.name = QStringLiteral("cats");
    cats.title = QStringLiteral("Cats");
    cats.uuid = QStringLiteral("t:cats-uuid");
    cats.primary = true;
    cats.posts.push_back(Server::legacyPost(QString::fromLatin1(bigId),
                                            QStringLiteral("<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>"),
                                            {QStringLiteral("sunset")}));
    cats.posts.back().linkUrl = QStringLiteral("https://example.com/x");
    cats.posts.push_back(Server::blocksPost(QStringLiteral("1006"), {QStringLiteral("Block one"), QStringLiteral("Block two")}));
    cats.posts.back().altText = QStringLiteral("a cat");
    cats.posts.push_back(Server::legacyPost(QStringLiteral("1005"), QStringLiteral("Plain")));
    cats.posts.push_back(Server::legacyPost(QStringLiteral("1004"), QString()));
    cats.posts.push_back(Server::legacyPost(QStringLiteral("1003"), QStringLiteral("A text post")));
    cats.posts.back().type = QStringLiteral("text");
    cats.posts.push_back(Server::legacyPost(QStringLiteral("1002"), QStringLiteral("Two")));
    cats.posts.push_back(Server::blocksPost(QStringLiteral("1001"), {QStringLiteral("Last")}));
    cats.posts.push_back(Server::legacyPost(QStringLiteral("1000"), QStringLiteral("Oldest")));
    cursim::Blog dogs;
    dogs.name = QStringLiteral("dogs");
    dogs.title = QStringLiteral("Dogs");
    dogs.type = QStringLiteral("private");
    cursim::User user;
    user.name = QStringLiteral("tester");
    user.blogs = {cats, dogs};
    m_server->setUser(user);
    m_server->addApp({QStringLiteral("key"), QStringLiteral("secret"), redirect});
    QVERIFY(m_server->start());
}

void TestCurrentSim::cleanup()
{
    m_nam.reset();
    m_server.reset();
}

Answer TestCurrentSim::call(const QByteArray &verb, const QString &target, const QByteArray &body,
                            const QByteArray &token, int timeoutMs, const QByteArray &contentType)
{
    QNetworkRequest request(QUrl(QStringLiteral("http://") + m_server->host() + target));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    if (!body.isNull())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    if (timeoutMs > 0)
        request.setTransferTimeout(timeoutMs);
    std::unique_ptr<QNetworkReply> reply(m_nam->sendCustomRequest(request, verb, body));
    // A local loop rather than qWaitFor, which naps between looks.
    QEventLoop loop;
    connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    if (!reply->isFinished())
        return {};
    Answer a;
    a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    a.error = reply->error();
    if (reply->isOpen())
        a.body = reply->readAll();
    a.headers = reply->rawHeaderPairs();
    return a;
}

Fields TestCurrentSim::authorizeFields(const QString &scope) const
{
    return {{QStringLiteral("client_id"), QStringLiteral("key")},
            {QStringLiteral("response_type"), QStringLiteral("code")},
            {QStringLiteral("scope"), scope},
            {QStringLiteral("state"), QStringLiteral("s t&a/t=e?é")},
            {QStringLiteral("redirect_uri"), redirect}};
}

QString TestCurrentSim::newCode(const QString &scope)
{
    Fields fields = authorizeFields(scope);
    fields.append({QStringLiteral("decision"), QStringLiteral("allow")});
    return post(QStringLiteral("/oauth2/authorize"), fields).locationParam(QStringLiteral("code"));
}

Answer TestCurrentSim::exchange(const QString &code)
{
    return post(QStringLiteral("/v2/oauth2/token"),
                {{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
                 {QStringLiteral("code"), code},
                 {QStringLiteral("client_id"), QStringLiteral("key")},
                 {QStringLiteral("client_secret"), QStringLiteral("secret")},
                 {QStringLiteral("redirect_uri"), redirect}});
}

Answer TestCurrentSim::refresh(const QString &refreshToken)
{
    return post(QStringLiteral("/v2/oauth2/token"),
                {{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                 {QStringLiteral("refresh_token"), refreshToken},
                 {QStringLiteral("client_id"), QStringLiteral("key")},
                 {QStringLiteral("client_secret"), QStringLiteral("secret")}});
}

QByteArray TestCurrentSim::login(const QString &scope)
{
    return exchange(newCode(scope)).json().value(QLatin1String("access_token")).toString().toLatin1();
}

void TestCurrentSim::codeFlow()
{
    // The page, as a browser gets it.
    const Answer page = get(QStringLiteral("/oauth2/authorize?") + QString::fromLatin1(formBody(authorizeFields())), {});
    QCOMPARE(page.status, 200);
    QVERIFY(page.header("Content-Type").startsWith("text/html"));
    const QString html = QString::fromUtf8(page.body);
    QVERIFY(html.contains(QLatin1String("<form method=\"post\" action=\"/oauth2/authorize\">")));
    QVERIFY(html.contains(QLatin1String("<button name=\"decision\" value=\"allow\">Allow</button>")));
    QVERIFY(html.contains(QLatin1String("<button name=\"decision\" value=\"deny\">Deny</button>")));
    for (const QString &word : allScopes.split(QLatin1Char(' ')))
        QVERIFY2(html.contains(QStringLiteral("<b>%1</b>").arg(word)), qPrintable(word));
    QVERIFY(html.contains(QLatin1String("<b>key</b>")));

    // Submitting the page's own hidden inputs, as the browser would.
    Fields fields;
    const QRegularExpression input(QStringLiteral("<input type=\"hidden\" name=\"([^\"]+)\" value=\"([^\"]*)\">"));
    for (auto it = input.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        QString value = m.captured(2);
        value.replace(QLatin1String("&quot;"), QLatin1String("\"")).replace(QLatin1String("&lt;"), QLatin1String("<"))
            .replace(QLatin1String("&gt;"), QLatin1String(">")).replace(QLatin1String("&#39;"), QLatin1String("'"))
            .replace(QLatin1String("&amp;"), QLatin1String("&"));
        fields.append({m.captured(1), value});
    }
    QCOMPARE(fields, authorizeFields());
    fields.append({QStringLiteral("decision"), QStringLiteral("allow")});
    const Answer allowed = post(QStringLiteral("/oauth2/authorize"), fields);
    QCOMPARE(allowed.status, 302);
    QVERIFY(allowed.header("Location").startsWith((redirect + QStringLiteral("?code=")).toUtf8()));
    QCOMPARE(allowed.locationParam(QStringLiteral("state")), authorizeFields().at(3).second);
    const QString code = allowed.locationParam(QStringLiteral("code"));
    QVERIFY(code.size() >= 20);

    const Answer token = exchange(code);
    QCOMPARE(token.status, 200);
    QVERIFY(token.header("Content-Type").startsWith("application/json"));
    const QJsonObject t = token.json();
    QCOMPARE(t.keys(), (QStringList{"access_token", "expires_in", "refresh_token", "scope", "token_type"}));
    QCOMPARE(t[QLatin1String("expires_in")].toInt(), 2520);
    QCOMPARE(t[QLatin1String("scope")].toString(), allScopes);
    QCOMPARE(t[QLatin1String("token_type")].toString(), QStringLiteral("bearer"));
    QCOMPARE(t[QLatin1String("access_token")].toString(), m_server->issuedAccessToken());
    QCOMPARE(t[QLatin1String("refresh_token")].toString(), m_server->issuedRefreshToken());
    QCOMPARE(m_server->log(Endpoint::Token).constLast().formValue(QStringLiteral("grant_type")),
             QByteArray("authorization_code"));

    // A code works once.
    QCOMPARE(exchange(code).json()[QLatin1String("error")].toString(), QStringLiteral("invalid_grant"));

    const QByteArray access = t[QLatin1String("access_token")].toString().toLatin1();
    const Answer info = get(QStringLiteral("/v2/user/info"), access);
    QCOMPARE(info.status, 200);
    QCOMPARE(m_server->log(Endpoint::UserInfo).constLast().header("authorization"), "Bearer " + access);
    const QJsonObject meta = info.json()[QLatin1String("meta")].toObject();
    QCOMPARE(meta[QLatin1String("status")].toInt(), 200);
    QCOMPARE(meta[QLatin1String("msg")].toString(), QStringLiteral("OK"));
    const QJsonObject user = info.response()[QLatin1String("user")].toObject();
    QCOMPARE(user[QLatin1String("name")].toString(), QStringLiteral("tester"));
    const QJsonArray blogs = user[QLatin1String("blogs")].toArray();
    QCOMPARE(blogs.size(), 2);
    QCOMPARE(blogs[0][QLatin1String("name")].toString(), QStringLiteral("cats"));
    QCOMPARE(blogs[0][QLatin1String("uuid")].toString(), QStringLiteral("t:cats-uuid"));
    QCOMPARE(blogs[0][QLatin1String("primary")].toBool(), true);
    QCOMPARE(blogs[0][QLatin1String("admin")].toBool(), true);
    QCOMPARE(blogs[0][QLatin1String("posts")].toInt(), 8);
    QCOMPARE(blogs[0][QLatin1String("url")].toString(), QStringLiteral("https://cats.tumblr.com/"));
    QCOMPARE(blogs[1][QLatin1String("name")].toString(), QStringLiteral("dogs"));
    QCOMPARE(blogs[1][QLatin1String("type")].toString(), QStringLiteral("private"));
}

void TestCurrentSim::authorizeRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("says");
    QTest::newRow("unknown client") << "client_id" << "nobody" << "invalid_client";
    QTest::newRow("other redirect") << "redirect_uri" << "http://127.0.0.1:47321/other" << "redirect_url_mismatch";
    QTest::newRow("redirect with a slash more") << "redirect_uri" << redirect + '/' << "redirect_url_mismatch";
    QTest::newRow("implicit flow") << "response_type" << "token" << "unsupported_response_type";
    QTest::newRow("unknown scope") << "scope" << "basic everything" << "invalid_scope";
}

void TestCurrentSim::authorizeRefusals()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, says);
    Fields fields = authorizeFields();
    for (auto &f : fields) {
        if (f.first == name)
            f.second = value;
    }
    for (const Answer &a : {get(QStringLiteral("/oauth2/authorize?") + QString::fromLatin1(formBody(fields)), {}),
                            post(QStringLiteral("/oauth2/authorize"), fields + Fields{{"decision", "allow"}})}) {
        QCOMPARE(a.status, 400);
        QVERIFY(a.header("Content-Type").startsWith("text/html"));
        QVERIFY2(a.body.contains(says.toUtf8()), a.body.constData());
        QVERIFY(a.header("Location").isEmpty());
    }
}

void TestCurrentSim::deny()
{
    Fields fields = authorizeFields();
    fields.append({QStringLiteral("decision"), QStringLiteral("deny")});
    const Answer a = post(QStringLiteral("/oauth2/authorize"), fields);
    QCOMPARE(a.status, 302);
    QVERIFY(a.header("Location").startsWith((redirect + QStringLiteral("?error=access_denied&")).toUtf8()));
    QVERIFY(!a.locationParam(QStringLiteral("error_description")).isEmpty());
    QCOMPARE(a.locationParam(QStringLiteral("state")), authorizeFields().at(3).second);
    QVERIFY(a.locationParam(QStringLiteral("code")).isEmpty());
}

void TestCurrentSim::tokenRefusals_data()
{
    QTest::addColumn<Fields>("changes"); // "CODE" stands for a fresh code; an empty value drops the field
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::newRow("wrong secret") << Fields{{"client_secret", "nope"}} << 401 << "invalid_client";
    QTest::newRow("unknown client") << Fields{{"client_id", "nobody"}} << 400 << "invalid_client";
    QTest::newRow("no client") << Fields{{"client_id", ""}} << 400 << "invalid_request";
    QTest::newRow("no grant type") << Fields{{"grant_type", ""}} << 400 << "invalid_request";
    QTest::newRow("password grant") << Fields{{"grant_type", "password"}} << 400 << "unsupported_grant_type";
    QTest::newRow("no code") << Fields{{"code", ""}} << 400 << "invalid_request";
    QTest::newRow("made-up code") << Fields{{"code", "made-up"}} << 400 << "invalid_grant";
    QTest::newRow("other redirect") << Fields{{"redirect_uri", redirect + "/x"}} << 400 << "invalid_grant";
    QTest::newRow("no redirect") << Fields{{"redirect_uri", ""}} << 400 << "invalid_grant";
    QTest::newRow("made-up refresh") << Fields{{"grant_type", "refresh_token"}, {"refresh_token", "made-up"}} << 400
                                     << "invalid_grant";
}

void TestCurrentSim::tokenRefusals()
{
    QFETCH(Fields, changes);
    QFETCH(int, status);
    QFETCH(QString, error);
    Fields fields = {{"grant_type", "authorization_code"}, {"code", newCode()}, {"client_id", "key"},
                     {"client_secret", "secret"}, {"redirect_uri", redirect}};
    for (const auto &c : changes) {
        const auto it = std::find_if(fields.begin(), fields.end(), [&c](const auto &f) { return f.first == c.first; });
        if (it == fields.end())
            fields.append(c);
        else if (c.second.isEmpty())
            fields.erase(it);
        else
            it->second = c.second;
    }
    const Answer a = post(QStringLiteral("/v2/oauth2/token"), fields);
    QCOMPARE(a.status, status);
    QCOMPARE(a.json().keys(), (QStringList{"error", "error_description"}));
    QCOMPARE(a.json()[QLatin1String("error")].toString(), error);
}

void TestCurrentSim::refreshRotation()
{
    const QByteArray first = login();
    const QString r1 = m_server->issuedRefreshToken();
    const Answer renewed = refresh(r1);
    QCOMPARE(renewed.status, 200);
    const QString a2 = renewed.json()[QLatin1String("access_token")].toString();
    const QString r2 = renewed.json()[QLatin1String("refresh_token")].toString();
    QVERIFY(!a2.isEmpty() && a2 != QString::fromLatin1(first));
    QVERIFY(!r2.isEmpty() && r2 != r1);
    QCOMPARE(renewed.json()[QLatin1String("scope")].toString(), allScopes);

    // The old one is spent; the new one works, once.
    const Answer old = refresh(r1);
    QCOMPARE(old.status, 400);
    QCOMPARE(old.json()[QLatin1String("error")].toString(), QStringLiteral("invalid_grant"));
    const Answer again = refresh(r2);
    QCOMPARE(again.status, 200);
    QCOMPARE(refresh(r2).status, 400);
    QCOMPARE(get(QStringLiteral("/v2/user/info"), again.json()[QLatin1String("access_token")].toString().toLatin1()).status,
             200);
    QCOMPARE(m_server->issuedRefreshToken(), again.json()[QLatin1String("refresh_token")].toString());

    m_server->revokeRefreshTokens();
    QCOMPARE(refresh(m_server->issuedRefreshToken()).status, 400);

    // Without offline_access there is no refresh token at all.
    const Answer online = exchange(newCode(QStringLiteral("basic write")));
    QCOMPARE(online.status, 200);
    QVERIFY(!online.json().contains(QLatin1String("refresh_token")));
    QCOMPARE(online.json()[QLatin1String("scope")].toString(), QStringLiteral("basic write"));
}

void TestCurrentSim::expiredAccessToken()
{
    const QByteArray access = login();
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 200);
    m_server->expireAccessTokens();
    for (const QByteArray &token : {access, QByteArray("made-up"), QByteArray()}) {
        const Answer a = get(QStringLiteral("/v2/user/info"), token);
        QCOMPARE(a.status, 401);
        QCOMPARE(a.json().keys(), (QStringList{"errors", "meta", "response"}));
        QCOMPARE(a.json()[QLatin1String("meta")].toObject(),
                 (QJsonObject{{"status", 401}, {"msg", "Unauthorized"}}));
        QCOMPARE(a.json()[QLatin1String("response")].toArray(), QJsonArray());
        const QJsonObject error = a.json()[QLatin1String("errors")].toArray().at(0).toObject();
        QCOMPARE(error[QLatin1String("title")].toString(), QStringLiteral("Unauthorized"));
        QCOMPARE(error[QLatin1String("code")].toInt(), 1016);
        QVERIFY(!error[QLatin1String("detail")].toString().isEmpty());
        QCOMPARE(a.header("X-Ratelimit-Perday-Limit"), QByteArray("5000"));
    }
    // A refresh brings a working token, with the lifetime set.
    m_server->setAccessTokenLifetime(60);
    const Answer renewed = refresh(m_server->issuedRefreshToken());
    QCOMPARE(renewed.json()[QLatin1String("expires_in")].toInt(), 60);
    QCOMPARE(get(QStringLiteral("/v2/user/info"), m_server->issuedAccessToken().toLatin1()).status, 200);
    m_server->setAccessTokenLifetime(0);
    refresh(m_server->issuedRefreshToken());
    QCOMPARE(get(QStringLiteral("/v2/user/info"), m_server->issuedAccessToken().toLatin1()).status, 401);
}

void TestCurrentSim::paging_data()
{
    QTest::addColumn<bool>("npf");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QList<QStringList>>("pages");
    const QString big = QString::fromLatin1(bigId);
    QTest::newRow("npf, 3 a page") << true << 3
                                   << QList<QStringList>{{big, "1006", "1005"}, {"1004", "1002", "1001"}, {"1000"}};
    QTest::newRow("legacy, 2 a page") << false << 2 << QList<QStringList>{{big, "1005"}, {"1004", "1002"}, {"1000"}};
    QTest::newRow("legacy, one page") << false << 20 << QList<QStringList>{{big, "1005", "1004", "1002", "1000"}};
    QTest::newRow("npf, exactly full") << true << 7
                                       << QList<QStringList>{{big, "1006", "1005", "1004", "1002", "1001", "1000"}};
}

void TestCurrentSim::paging()
{
    QFETCH(bool, npf);
    QFETCH(int, limit);
    QFETCH(QList<QStringList>, pages);
    const QByteArray access = login();
    QString target = QStringLiteral("/v2/blog/cats/posts/photo?limit=%1%2").arg(limit).arg(npf ? "&npf=true" : "");
    int offset = 0;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const Answer a = get(target, access);
        QCOMPARE(a.status, 200);
        const QJsonObject r = a.response();
        QCOMPARE(idStrings(r), pages.at(i));
        QCOMPARE(r[QLatin1String("total_posts")].toInt(), npf ? 7 : 5);
        QCOMPARE(r[QLatin1String("blog")].toObject(),
                 (QJsonObject{{"name", "cats"}, {"title", "Cats"}, {"url", "https://cats.tumblr.com/"}, {"uuid", "t:cats-uuid"}}));
        if (i + 1 == pages.size()) {
            QVERIFY(!r.contains(QLatin1String("_links")));
            break;
        }
        offset += limit;
        const QJsonObject next = r[QLatin1String("_links")][QLatin1String("next")].toObject();
        const QString href = QStringLiteral("/v2/blog/cats/posts/photo?limit=%1&offset=%2%3").arg(limit).arg(offset).arg(npf ? "&npf=true" : "");
        QCOMPARE(next[QLatin1String("href")].toString(), href);
        QCOMPARE(next[QLatin1String("method")].toString(), QStringLiteral("GET"));
        QJsonObject params{{"limit", QString::number(limit)}, {"offset", QString::number(offset)}};
        if (npf)
            params.insert(QLatin1String("npf"), QStringLiteral("true"));
        QCOMPARE(next[QLatin1String("query_params")].toObject(), params);
        target = href;
    }
}

void TestCurrentSim::pageLimits_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("count");
    QTest::newRow("default 20") << "" << 200 << 20;
    QTest::newRow("50 clamped") << "limit=50" << 200 << 20;
    QTest::newRow("1") << "limit=1" << 200 << 1;
    QTest::newRow("offset near the end") << "offset=23" << 200 << 2;
    QTest::newRow("offset past the end") << "offset=99" << 200 << 0;
    QTest::newRow("0") << "limit=0" << 400 << 0;
    QTest::newRow("negative") << "limit=-1" << 400 << 0;
    QTest::newRow("not a number") << "limit=ten" << 400 << 0;
    QTest::newRow("negative offset") << "offset=-3" << 400 << 0;
}

void TestCurrentSim::pageLimits()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(int, count);
    m_server->setUser(Server::generatedUser(QStringLiteral("gen"), 25));
    const Answer a = get(QStringLiteral("/v2/blog/gen/posts/photo?") + query, login());
    QCOMPARE(a.status, status);
    QCOMPARE(a.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), status);
    if (status != 200) {
        QCOMPARE(a.json()[QLatin1String("errors")].toArray().size(), 1);
        return;
    }
    const QJsonArray posts = a.response()[QLatin1String("posts")].toArray();
    QCOMPARE(posts.size(), count);
    if (query.isEmpty()) {
        QCOMPARE(posts[0][QLatin1String("id_string")].toString(), QStringLiteral("1001"));
        QCOMPARE(posts[0][QLatin1String("caption")].toString(), QStringLiteral("Photo 1"));
        QCOMPARE(posts[0][QLatin1String("tags")].toArray(), (QJsonArray{"tag 1", "shared"}));
    }
}

void TestCurrentSim::blogIdentifiers()
{
    const QByteArray access = login();
    for (const char *id : {"cats", "cats.tumblr.com", "t:cats-uuid"}) {
        const Answer a = get(QStringLiteral("/v2/blog/%1/posts/photo").arg(QLatin1String(id)), access);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.response()[QLatin1String("blog")][QLatin1String("name")].toString(), QStringLiteral("cats"));
    }
    for (const char *path : {"/v2/blog/nobody/posts/photo", "/v2/blog/nobody/posts/1005", "/v2/elsewhere", "/"}) {
        const Answer a = get(QLatin1String(path), access);
        QCOMPARE(a.status, 404);
        QCOMPARE(a.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), 404);
        QCOMPARE(a.json()[QLatin1String("errors")].toArray().size(), 1);
    }
    const Answer wrongMethod = call("DELETE", QStringLiteral("/v2/user/info"), {}, access);
    QCOMPARE(wrongMethod.status, 405);
    QCOMPARE(wrongMethod.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), 405);
}

void TestCurrentSim::damagedPaging()
{
    const QByteArray access = login();
    m_server->blog(QStringLiteral("cats"))->repeatOnPaging = true;
    const QString page2 = QStringLiteral("/v2/blog/cats/posts/photo?limit=3&offset=3&npf=true");
    QCOMPARE(idStrings(get(page2, access).response()), (QStringList{"1005", "1004", "1002"}));
    QCOMPARE(get(page2, access).response()[QLatin1String("_links")][QLatin1String("next")][QLatin1String("href")].toString(),
             QStringLiteral("/v2/blog/cats/posts/photo?limit=3&offset=6&npf=true"));

    m_server->blog(QStringLiteral("cats"))->repeatOnPaging = false;
    m_server->blog(QStringLiteral("cats"))->loopingNext = true;
    for (const char *offset : {"0", "3", "6"}) {
        const QJsonObject next = get(QStringLiteral("/v2/blog/cats/posts/photo?limit=3&offset=%1").arg(QLatin1String(offset)), access)
                                     .response()[QLatin1String("_links")][QLatin1String("next")].toObject();
        QCOMPARE(next[QLatin1String("href")].toString(), QStringLiteral("/v2/blog/cats/posts/photo?limit=3&offset=0"));
    }
}

void TestCurrentSim::npfAndLegacyShapes()
{
    const QByteArray access = login();
    const Answer npf = get(QStringLiteral("/v2/blog/cats/posts/photo?npf=true"), access);
    // The id is the exact number literal, not a double's rounding.
    QVERIFY(npf.body.contains("\"id\":" + bigId + ",\"id_string\":\"" + bigId + "\""));
    const QJsonArray posts = npf.response()[QLatin1String("posts")].toArray();
    const QJsonObject legacy = posts[0].toObject();
    QCOMPARE(legacy[QLatin1String("object_type")].toString(), QStringLiteral("post"));
    QCOMPARE(legacy[QLatin1String("type")].toString(), QStringLiteral("blocks"));
    QCOMPARE(legacy[QLatin1String("is_blocks_post_format")].toBool(), false);
    QCOMPARE(legacy[QLatin1String("blog_name")].toString(), QStringLiteral("cats"));
    // The conversion keeps nothing of the legacy form: no click-through link, no format.
    QVERIFY(!legacy.contains(QLatin1String("link_url")));
    QVERIFY(!legacy.contains(QLatin1String("format")));
    QCOMPARE(legacy[QLatin1String("tags")].toArray(), QJsonArray{"sunset"});
    for (const char *key : {"post_url", "slug", "date", "timestamp", "state", "reblog_key", "layout", "trail",
                            "can_be_tipped"})
        QVERIFY2(legacy.contains(QLatin1String(key)), key);
    const QJsonArray content = legacy[QLatin1String("content")].toArray();
    const QJsonObject image = content[0].toObject();
    QCOMPARE(image[QLatin1String("type")].toString(), QStringLiteral("image"));
    QCOMPARE(image[QLatin1String("media")][0][QLatin1String("url")].toString(),
             QStringLiteral("http://%1/media/%2_500.jpg").arg(m_server->host(), QString::fromLatin1(bigId)));
    QCOMPARE(image[QLatin1String("media")][0][QLatin1String("type")].toString(), QStringLiteral("image/jpeg"));
    QCOMPARE(texts(content), (QStringList{"Sunset at beach & sea", "two"}));

    const QJsonObject blocks = posts[1].toObject();
    QCOMPARE(blocks[QLatin1String("is_blocks_post_format")].toBool(), true);
    QCOMPARE(blocks[QLatin1String("content")][0][QLatin1String("alt_text")].toString(), QStringLiteral("a cat"));
    QCOMPARE(texts(blocks[QLatin1String("content")].toArray()), (QStringList{"Block one", "Block two"}));
    QVERIFY(!blocks.contains(QLatin1String("link_url")));
    QCOMPARE(texts(posts[3][QLatin1String("content")].toArray()), QStringList()); // no caption

    // Legacy: new-editor posts are left out; the caption is the stored HTML.
    const Answer old = get(QStringLiteral("/v2/blog/cats/posts/photo"), access);
    QVERIFY(old.body.contains("\"id\":" + bigId + ","));
    const QJsonObject first = old.response()[QLatin1String("posts")][0].toObject();
    QCOMPARE(first[QLatin1String("type")].toString(), QStringLiteral("photo"));
    QCOMPARE(first[QLatin1String("caption")].toString(), QStringLiteral("<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>"));
    QCOMPARE(first[QLatin1String("is_blocks_post_format")].toBool(), false);
    QCOMPARE(first[QLatin1String("photos")][0][QLatin1String("caption")].toString(), QString());
    QCOMPARE(first[QLatin1String("photos")][0][QLatin1String("original_size")].toObject(),
             (QJsonObject{{"url", image[QLatin1String("media")][0][QLatin1String("url")]}, {"width", 500}, {"height", 375}}));
    QCOMPARE(first[QLatin1String("link_url")].toString(), QStringLiteral("https://example.com/x"));
    QVERIFY(!first.contains(QLatin1String("content")));

    // A damaged answer: the id alone.
    m_server->post(QString::fromLatin1(bigId))->omitIdString = true;
    const QJsonObject damaged = get(QStringLiteral("/v2/blog/cats/posts/photo?limit=1"), access).response()[QLatin1String("posts")][0].toObject();
    QVERIFY(!damaged.contains(QLatin1String("id_string")));
    QVERIFY(damaged.contains(QLatin1String("id")));
}

void TestCurrentSim::onePost_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("type"); // of the post answered
    QTest::newRow("legacy by default") << "/v2/blog/cats/posts/1005" << 200 << "photo";
    QTest::newRow("legacy asked") << "/v2/blog/cats/posts/1005?post_format=legacy" << 200 << "photo";
    QTest::newRow("npf asked") << "/v2/blog/cats/posts/1005?post_format=npf" << 200 << "blocks";
    QTest::newRow("new-editor post as npf") << "/v2/blog/cats/posts/1006?post_format=npf" << 200 << "blocks";
    QTest::newRow("new-editor post as legacy") << "/v2/blog/cats/posts/1006" << 400 << "";
    QTest::newRow("a text post") << "/v2/blog/cats/posts/1003" << 200 << "text";
    QTest::newRow("by uuid") << "/v2/blog/t:cats-uuid/posts/1005" << 200 << "photo";
    QTest::newRow("another blog's post") << "/v2/blog/dogs/posts/1005" << 404 << "";
    QTest::newRow("unknown id") << "/v2/blog/cats/posts/42" << 404 << "";
    QTest::newRow("unknown format") << "/v2/blog/cats/posts/1005?post_format=html" << 400 << "";
}

void TestCurrentSim::onePost()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QString, type);
    const Answer a = get(target, login());
    QCOMPARE(a.status, status);
    QCOMPARE(a.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), status);
    if (status == 200) {
        QCOMPARE(a.response()[QLatin1String("type")].toString(), type);
        QCOMPARE(a.response()[QLatin1String("id_string")].toString(), target.section(QLatin1Char('/'), 5).section(QLatin1Char('?'), 0, 0));
    }
}

void TestCurrentSim::captionTexts_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("paragraphs") << "<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>"
                                << QStringList{"Sunset at beach & sea", "two"};
    QTest::newRow("plain") << "Just words" << QStringList{"Just words"};
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("breaks") << "one<br>two<BR/>three<br />four" << QStringList{"one", "two", "three", "four"};
    QTest::newRow("new lines") << "a\nb\r\nc\n\n" << QStringList{"a", "b", "c"};
    QTest::newRow("empty paragraphs dropped") << "<p></p><p> &nbsp; </p><p>x</p>" << QStringList{"x"};
    QTest::newRow("entities") << "&lt;b&gt; &quot;q&quot; &#39;s&#39; &#233;&#x1F600;"
                              << QStringList{QString::fromUtf8("<b> \"q\" 's' é😀")};
    QTest::newRow("nbsp inside") << "a&nbsp;b" << QStringList{QStringLiteral("a") + QChar(0xA0) + QStringLiteral("b")};
    QTest::newRow("unknown entity kept") << "Tom&mdash;Jerry &bogus" << QStringList{"Tom&mdash;Jerry &bogus"};
    QTest::newRow("a lone less-than") << "3 < 4 and <a href=\"x\">link</a>" << QStringList{"3 < 4 and link"};
    QTest::newRow("unicode") << QString::fromUtf8("<p>Кот 🐈</p>") << QStringList{QString::fromUtf8("Кот 🐈")};
}

void TestCurrentSim::captionTexts()
{
    QFETCH(QString, html);
    QFETCH(QStringList, texts);
    QCOMPARE(Server::captionTexts(html), texts);
}

void TestCurrentSim::rateLimit()
{
    const QByteArray access = login(); // the token endpoint does not count
    m_server->setRateLimitAfter(2);
    for (int call = 1; call <= 2; ++call) {
        const Answer a = get(QStringLiteral("/v2/blog/cats/posts/photo?limit=1"), access);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.header("X-Ratelimit-Perday-Limit"), QByteArray("5000"));
        QCOMPARE(a.header("X-Ratelimit-Perday-Remaining"), QByteArray::number(5000 - call));
        QCOMPARE(a.header("X-Ratelimit-Perhour-Limit"), QByteArray("1000"));
        QCOMPARE(a.header("X-Ratelimit-Perhour-Remaining"), QByteArray::number(1000 - call));
        QVERIFY(a.header("X-Ratelimit-Perhour-Reset").toInt() > 3500);
        QVERIFY(a.header("X-Ratelimit-Perday-Reset").toInt() > 86000);
    }
    for (const char *path : {"/v2/user/info", "/v2/blog/cats/posts/1005"}) {
        const Answer limited = get(QLatin1String(path), access);
        QCOMPARE(limited.status, 429);
        QCOMPARE(limited.json()[QLatin1String("meta")].toObject(), (QJsonObject{{"status", 429}, {"msg", "Limit Exceeded"}}));
        QCOMPARE(limited.json()[QLatin1String("errors")][0][QLatin1String("title")].toString(), QStringLiteral("Limit Exceeded"));
        QCOMPARE(limited.header("X-Ratelimit-Perhour-Remaining"), QByteArray("0"));
        QCOMPARE(limited.header("X-Ratelimit-Perhour-Reset"), QByteArray("3"));
        QCOMPARE(limited.header("X-Ratelimit-Perday-Limit"), QByteArray("5000"));
        QVERIFY(!limited.header("X-Ratelimit-Perday-Remaining").isEmpty());
        QVERIFY(!limited.header("X-Ratelimit-Perday-Reset").isEmpty());
        QVERIFY(limited.header("Retry-After").isNull());
    }
    m_server->resetRateLimit();
    const Answer after = get(QStringLiteral("/v2/user/info"), access);
    QCOMPARE(after.status, 200);
    QCOMPARE(after.header("X-Ratelimit-Perhour-Remaining"), QByteArray("995")); // the refused ones counted too

    Fault fault;
    fault.kind = Fault::RateLimited;
    fault.resetSeconds = 9;
    fault.headers = "Retry-After: 7\r\n";
    m_server->injectFault(Endpoint::UserInfo, fault);
    const Answer injected = get(QStringLiteral("/v2/user/info"), access);
    QCOMPARE(injected.status, 429);
    QCOMPARE(injected.header("Retry-After"), QByteArray("7"));
    QCOMPARE(injected.header("X-Ratelimit-Perhour-Reset"), QByteArray("9"));
}

void TestCurrentSim::faults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body"); // the fault's; the answer's is checked below
    QTest::newRow("status") << int(Fault::Status) << 503 << QByteArray("{\"down\":true}");
    QTest::newRow("unauthorized") << int(Fault::Unauthorized) << 401 << QByteArray();
    QTest::newRow("malformed") << int(Fault::MalformedJson) << 200 << QByteArray();
    QTest::newRow("malformed, given") << int(Fault::MalformedJson) << 200 << QByteArray("{\"meta\":");
    QTest::newRow("not the envelope") << int(Fault::NotEnvelope) << 200 << QByteArray();
    QTest::newRow("not the envelope, given") << int(Fault::NotEnvelope) << 200 << QByteArray("{\"posts\":[]}");
}

void TestCurrentSim::faults()
{
    QFETCH(int, kind);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    const QByteArray access = login();
    Fault fault;
    fault.kind = Fault::Kind(kind);
    fault.status = status;
    fault.body = body;
    m_server->injectFault(Endpoint::Posts, fault, 2);
    m_server->injectFault(Endpoint::Any, Fault{}); // a 500, for whichever request finds no fault of its own

    for (int i = 0; i < 2; ++i) {
        const Answer a = get(QStringLiteral("/v2/blog/cats/posts/photo"), access);
        QCOMPARE(a.status, status);
        QVERIFY(a.header("Content-Type").startsWith("application/json"));
        QCOMPARE(a.header("X-Ratelimit-Perday-Limit"), QByteArray("5000"));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(a.body, &error);
        switch (fault.kind) {
        case Fault::Status: QCOMPARE(a.body, body); break;
        case Fault::Unauthorized:
            QCOMPARE(doc[QLatin1String("errors")][0][QLatin1String("code")].toInt(), 1016);
            break;
        case Fault::MalformedJson:
            QVERIFY(error.error != QJsonParseError::NoError);
            QVERIFY(!a.body.isEmpty());
            if (!body.isEmpty())
                QCOMPARE(a.body, body);
            break;
        case Fault::NotEnvelope:
            QCOMPARE(error.error, QJsonParseError::NoError);
            QVERIFY(!doc.isObject() || !doc.object().contains(QLatin1String("meta")));
            if (!body.isEmpty())
                QCOMPARE(a.body, body);
            break;
        default: QFAIL("not in the table");
        }
    }
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 500); // Any's turn
    QCOMPARE(get(QStringLiteral("/v2/blog/cats/posts/photo"), access).status, 200);
    m_server->injectFault(Endpoint::Any, Fault{}, 3);
    m_server->clearFaults();
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 200);
}

void TestCurrentSim::dropAndStall()
{
    const QByteArray access = login();
    Fault close;
    close.kind = Fault::Close;
    m_server->injectFault(Endpoint::UserInfo, close, 2); // the network manager resends once
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 200);

    Fault stall;
    stall.kind = Fault::Stall;
    m_server->injectFault(Endpoint::Token, stall);
    const Answer stalled = call("POST", QStringLiteral("/v2/oauth2/token"), "grant_type=refresh_token", {}, 300);
    QCOMPARE(stalled.error, QNetworkReply::OperationCanceledError);
    QCOMPARE(stalled.status, 0);
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 200);

    // Every answer waits, but still arrives.
    m_server->setAnswerDelay(150);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(get(QStringLiteral("/v2/user/info"), access).status, 200);
    QVERIFY(timer.elapsed() >= 140);
}

void TestCurrentSim::httpFraming()
{
    const QByteArray access = login();
    const QByteArray form = formBody({{"grant_type", "refresh_token"}, {"refresh_token", m_server->issuedRefreshToken()},
                                      {"client_id", "key"}, {"client_secret", "secret"}});
    const QByteArray bytes = "GET /v2/user/info HTTP/1.1\r\nHost: x\r\nauthorization: bearer " + access
        + "\r\n\r\n"
          "POST /v2/oauth2/token HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
          "Content-Length: "
        + QByteArray::number(form.size()) + "\r\n\r\n" + form
        + "GET /v2/blog/cats/posts/photo?limit=1 HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + access
        + "\r\nConnection: close\r\n\r\n";
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    // Three pipelined requests, cut at awkward places: mid-line, mid-body.
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    qsizetype from = 0;
    for (const qsizetype cut : {qsizetype(7), qsizetype(60), bytes.indexOf("grant_type") + 5, bytes.size() - 3, bytes.size()}) {
        socket.write(bytes.mid(from, cut - from));
        socket.flush();
        QTest::qWait(30);
        from = cut;
    }
    QVERIFY(QTest::qWaitFor([&socket] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
    received += socket.readAll();

    QList<int> statuses;
    QList<QByteArray> bodies;
    qsizetype at = 0;
    while (at < received.size()) {
        const qsizetype end = received.indexOf("\r\n\r\n", at);
        QVERIFY(end > 0);
        const QByteArray head = received.mid(at, end - at);
        statuses.append(head.mid(9, 3).toInt());
        const QRegularExpression length(QStringLiteral("\r\nContent-Length: (\\d+)"));
        const int size = length.match(QString::fromLatin1(head)).captured(1).toInt();
        bodies.append(received.mid(end + 4, size));
        at = end + 4 + size;
        QCOMPARE(head.contains("Connection: close"), statuses.size() == 3);
    }
    QCOMPARE(statuses, (QList<int>{200, 200, 200}));
    QVERIFY(bodies[0].contains("\"user\":"));
    QVERIFY(bodies[1].contains("\"access_token\":"));
    QVERIFY(bodies[2].contains("\"total_posts\":"));
    QCOMPARE(m_server->log(Endpoint::Token).constLast().body, form);
}

void TestCurrentSim::jsonRoundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("key order kept") << QByteArray(R"({"b":1,"a":[true,false,null],"c":{}})")
                                    << QByteArray(R"({"b":1,"a":[true,false,null],"c":{}})");
    QTest::newRow("blanks dropped") << QByteArray(" \t\r\n[ 1 , { } , [ ] , \"\" ]\n") << QByteArray(R"([1,{},[],""])");
    QTest::newRow("2^53+1") << bigId << bigId;
    QTest::newRow("beyond 64 bits") << QByteArray("[123456789012345678901234567890]")
                                    << QByteArray("[123456789012345678901234567890]");
    QTest::newRow("number forms") << QByteArray("[-0,0.5,-1.25e+10,2E-3,1e5]") << QByteArray("[-0,0.5,-1.25e+10,2E-3,1e5]");
    QTest::newRow("escapes") << QByteArray(R"("\"\\\/\b\f\n\r\t")") << QByteArray(R"("\"\\/\b\f\n\r\t")");
    QTest::newRow("control characters") << QByteArray(R"("\u0001\u001f\u007f")") << QByteArray(R"("\u0001\u001F\u007F")");
    QTest::newRow("unicode escapes") << QByteArray(R"("\u00e9\u20AC\ud83d\ude00")") << QByteArray("\"é€😀\"");
    QTest::newRow("raw UTF-8") << QByteArray("\"Кот 🐈\"") << QByteArray("\"Кот 🐈\"");
    QTest::newRow("U+2028 and NUL") << QByteArray("[\"\u2028\",\"\\u0000\"]") << QByteArray("[\"\u2028\",\"\\u0000\"]");
    QTest::newRow("keys escaped") << QByteArray(R"({"a\"b":"\u003c"})") << QByteArray(R"({"a\"b":"<"})");
    QTest::newRow("deep but allowed") << QByteArray(200, '[') + QByteArray(200, ']') << QByteArray(200, '[') + QByteArray(200, ']');
}

void TestCurrentSim::jsonRoundTrip()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, written);
    QString error;
    const std::optional<Json> parsed = Json::parse(input, &error);
    QVERIFY2(parsed.has_value(), qPrintable(error));
    QCOMPARE(parsed->write(), written);
    QCOMPARE(Json::parse(written), parsed); // writing changes nothing a reader sees
}

void TestCurrentSim::jsonRejects_data()
{
    QTest::addColumn<QByteArray>("input");
    const QList<QByteArray> rows = {
        "", " ", "[1,]", R"({"a":1,})", "[1 2]", "{a:1}", "'x'", R"({"a" 1})", R"({"a":1,"a":2})",
        "01", "-01", "1.", ".5", "+1", "1e", "-", "0x10", "NaN", "Infinity", "tru", "nul", "[1]x", "1 2", "/*c*/1",
        "\"\t\"", "\"a\nb\"", R"("\x")", R"("\u12")", R"("\ud800")", R"("\ud800\u0041")", R"("\udc00")",
        "\"unclosed", "[", "{", "\"\xff\"", "\"\xc0\xaf\"", "\"\xed\xa0\x80\"", "\"\xf4\x90\x80\x80\"", "\"\xe2\x82\"",
        "\xef\xbb\xbf{}", QByteArray(300, '[') + QByteArray(300, ']'), QByteArray("[1]\0", 4),
    };
    for (qsizetype i = 0; i < rows.size(); ++i)
        QTest::addRow("%d: %s", int(i), rows.at(i).left(24).toPercentEncoding(" [],{}:\"'").constData()) << rows.at(i);
}

void TestCurrentSim::jsonRejects()
{
    QFETCH(QByteArray, input);
    QString error;
    QVERIFY(!Json::parse(input, &error).has_value());
    QVERIFY(error.startsWith(QLatin1String("offset ")));
}

void TestCurrentSim::jsonWriter()
{
    Json post = Json::object();
    post.insert(QStringLiteral("id"), Json::number(QString::fromLatin1(bigId)));
    post.insert(QStringLiteral("text"), QStringLiteral("a\"b\\c\x01\x1f/ é 🐈 \u2028"));
    post.insert(QStringLiteral("n"), qint64(-9007199254740993LL));
    post.insert(QStringLiteral("list"), Json::array().append(true).append(Json()).append(1));
    post.insert(QStringLiteral("id"), Json::number(QStringLiteral("7"))); // replaced in place
    QCOMPARE(post.keys(), (QStringList{"id", "text", "n", "list"}));
    const QByteArray out = post.write();
    QCOMPARE(out, QByteArray("{\"id\":7,\"text\":\"a\\\"b\\\\c\\u0001\\u001F/ é 🐈 \u2028\",\"n\":-9007199254740993,"
                             "\"list\":[true,null,1]}"));
    // Qt's reader, a peer, sees the same text.
    QCOMPARE(QJsonDocument::fromJson(out)[QLatin1String("text")].toString(), post.value(QStringLiteral("text")).toString());
    QCOMPARE(Json::parse(out)->value(QStringLiteral("n")).toInteger(), std::optional<qint64>(-9007199254740993LL));

    // Lone surrogates cannot be UTF-8: written as U+FFFD.
    QCOMPARE(Json(QString(QChar(0xD800)) + QLatin1Char('x')).write(), QByteArray("\"\xEF\xBF\xBDx\""));
    for (const char *bad : {"", "1.", "01", "abc", "1 ", "NaN"})
        QVERIFY2(Json::number(QLatin1String(bad)).isNull(), bad);
    QCOMPARE(Json::number(QStringLiteral("-1.5e3")).write(), QByteArray("-1.5e3"));
    QCOMPARE(cursim::jsonQuote(QStringLiteral("<\t>")), QByteArray("\"<\\t>\""));
}

void TestCurrentSim::legacyEdit_data()
{
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail");   // the start of errors[0].detail
    QTest::addColumn<QString>("type");     // of the post afterwards
    QTest::addColumn<QStringList>("tags"); // afterwards
    QTest::addColumn<QString>("caption");  // afterwards: the caption, or a text post's body
    const QString big = QString::fromLatin1(bigId);
    const QString caption = QStringLiteral("<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>");
    const QString long140 = QString(140, QLatin1Char('x'));
    QString emoji140; // 280 UTF-16 units, 140 characters
    for (int i = 0; i < 140; ++i)
        emoji140 += QString::fromUtf8("🐈");
    QStringList thirty;
    for (int i = 1; i <= 30; ++i)
        thirty.append(QStringLiteral("t%1").arg(i));

    QTest::newRow("photo, tags only") << Fields{{"id", big}, {"type", "photo"}, {"tags", " sunset , Sunset at beach & sea,, two "}}
                                      << 200 << "" << "photo" << QStringList{"sunset", "Sunset at beach & sea", "two"} << caption;
    QTest::newRow("no type: a text post now") << Fields{{"id", big}, {"tags", "sunset,x"}} << 200 << "" << "text"
                                              << QStringList{"sunset", "x"} << caption;
    QTest::newRow("type text") << Fields{{"id", big}, {"type", "text"}, {"tags", "a"}} << 200 << "" << "text"
                               << QStringList{"a"} << caption;
    QTest::newRow("type quote") << Fields{{"id", big}, {"type", "quote"}, {"tags", "a"}} << 200 << "" << "text"
                                << QStringList{"a"} << caption;
    QTest::newRow("caption; tags not sent, kept") << Fields{{"id", big}, {"type", "photo"}, {"caption", "<p>New</p>"}}
                                                  << 200 << "" << "photo" << QStringList{"sunset"} << "<p>New</p>";
    QTest::newRow("empty tags clear them") << Fields{{"id", big}, {"type", "photo"}, {"tags", " , "}} << 200 << ""
                                           << "photo" << QStringList() << caption;
    QTest::newRow("140 characters") << Fields{{"id", big}, {"type", "photo"}, {"tags", long140}} << 200 << "" << "photo"
                                    << QStringList{long140} << caption;
    QTest::newRow("140 characters beyond the BMP") << Fields{{"id", big}, {"type", "photo"}, {"tags", emoji140}} << 200
                                                   << "" << "photo" << QStringList{emoji140} << caption;
    QTest::newRow("30 tags") << Fields{{"id", big}, {"type", "photo"}, {"tags", thirty.join(",")}} << 200 << ""
                             << "photo" << thirty << caption;
    QTest::newRow("slug, date, state") << Fields{{"id", big}, {"type", "photo"}, {"slug", "new-slug"},
                                                 {"date", "2024-02-03 04:05:06"}, {"state", "draft"}}
                                       << 200 << "" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("queued") << Fields{{"id", big}, {"type", "photo"}, {"state", "queue"},
                                      {"publish_on", "2024-03-01T10:00:00Z"}}
                            << 200 << "" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("not a date") << Fields{{"id", big}, {"type", "photo"}, {"date", "tomorrow"}} << 400
                                << "date is not a date" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("141 characters") << Fields{{"id", big}, {"type", "photo"}, {"tags", "ok," + long140 + "y"}} << 400
                                    << "Tag is too long" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("31 tags") << Fields{{"id", big}, {"type", "photo"}, {"tags", thirty.join(",") + ",t31"}} << 400
                             << "Too many tags" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("a refused edit changes nothing") << Fields{{"id", big}, {"caption", "x"}, {"state", "gone"}} << 400
                                                    << "Unknown state" << "photo" << QStringList{"sunset"} << caption;
    QTest::newRow("new-editor post") << Fields{{"id", "1006"}, {"type", "photo"}, {"tags", "a"}} << 400
                                     << "This post was made in the new post format" << "photo" << QStringList() << "";
    QTest::newRow("no id") << Fields{{"type", "photo"}, {"tags", "a"}} << 400 << "id is missing" << "" << QStringList() << "";
    QTest::newRow("unknown id") << Fields{{"id", "42"}, {"type", "photo"}} << 404 << "No post 42" << "" << QStringList() << "";
    QTest::newRow("another blog's post") << Fields{{"id", "1"}, {"type", "photo"}} << 404 << "No post 1" << "" << QStringList() << "";
}

void TestCurrentSim::legacyEdit()
{
    QFETCH(Fields, fields);
    QFETCH(int, status);
    QFETCH(QString, detail);
    QFETCH(QString, type);
    QFETCH(QStringList, tags);
    QFETCH(QString, caption);
    m_server->blog(QStringLiteral("dogs"))->posts.push_back(Server::legacyPost(QStringLiteral("1"), QStringLiteral("Dog")));
    const QByteArray access = login();
    QString id;
    for (const auto &f : fields) {
        if (f.first == "id")
            id = f.second;
    }
    const Answer a = edit(fields, access);
    QCOMPARE(a.status, status);
    QCOMPARE(a.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), status);
    QCOMPARE(m_server->log(Endpoint::Edit).constLast().body, formBody(fields));
    const cursim::Post *stored = m_server->post(id);
    if (status != 200) {
        QVERIFY2(a.json()[QLatin1String("errors")][0][QLatin1String("detail")].toString().startsWith(detail), a.body.constData());
        if (stored)
            QCOMPARE(stored->editCount, 0);
        if (!type.isEmpty()) {
            QCOMPARE(stored->type, type);
            QCOMPARE(stored->tags, tags);
            QCOMPARE(stored->caption, caption);
        }
        return;
    }
    QCOMPARE(a.body, "{\"meta\":{\"status\":200,\"msg\":\"OK\"},\"response\":{\"id\":" + id.toLatin1() + ",\"id_string\":\""
                         + id.toLatin1() + "\"}}");
    QCOMPARE(stored->editCount, 1);

    // What a later read shows, in both forms.
    const QJsonObject legacy = get(QStringLiteral("/v2/blog/cats/posts/") + id, access).response();
    QCOMPARE(legacy[QLatin1String("type")].toString(), type);
    QCOMPARE(legacy[QLatin1String("tags")].toVariant().toStringList(), tags);
    QCOMPARE(legacy[QLatin1String("link_url")].toString(), QStringLiteral("https://example.com/x")); // not sent, kept
    for (const auto &f : fields) {
        if (f.first == "slug" || f.first == "state" || f.first == "publish_on")
            QCOMPARE(legacy[f.first].toString(), f.second);
        if (f.first == "date") {
            QCOMPARE(legacy[QLatin1String("date")].toString(), f.second + QStringLiteral(" GMT"));
            QCOMPARE(legacy[QLatin1String("timestamp")].toInteger(), 1706933106); // the row's date, in UTC
        }
    }
    const QJsonObject npf = get(QStringLiteral("/v2/blog/cats/posts/%1?post_format=npf").arg(id), access).response();
    const QJsonArray content = npf[QLatin1String("content")].toArray();
    QCOMPARE(texts(content), Server::captionTexts(caption));
    if (type == QLatin1String("photo")) {
        QCOMPARE(legacy[QLatin1String("caption")].toString(), caption);
        QVERIFY(legacy[QLatin1String("photos")][0][QLatin1String("original_size")][QLatin1String("url")].toString().endsWith(
            QStringLiteral("/media/%1_500.jpg").arg(id)));
        QCOMPARE(content[0][QLatin1String("type")].toString(), QStringLiteral("image"));
        QVERIFY(idStrings(get(QStringLiteral("/v2/blog/cats/posts/photo"), access).response()).contains(id));
    } else {
        // The photo is gone, the caption is a body: the post fell out of the photo posts.
        QCOMPARE(legacy[QLatin1String("body")].toString(), caption);
        QVERIFY(!legacy.contains(QLatin1String("caption")));
        QVERIFY(!legacy.contains(QLatin1String("photos")));
        QCOMPARE(content.size(), texts(content).size());
        QVERIFY(!idStrings(get(QStringLiteral("/v2/blog/cats/posts/photo?npf=true"), access).response()).contains(id));
    }
}

// Post 1006 with everything a careless edit loses.
void TestCurrentSim::decorate(cursim::Post *post)
{
    post->extraFields = {{QStringLiteral("some_future_field"), *Json::parse(R"({"a":[1,2.50,"x"]})")},
                         {QStringLiteral("n"), Json::number(QStringLiteral("2.50"))}};
    post->imageExtra = {{QStringLiteral("colors"), *Json::parse(R"({"c0":"a1b2c3","c1":"000000"})")},
                        {QStringLiteral("attribution"),
                         *Json::parse(R"({"type":"app","url":"https://example.com/app","app_name":"Cam"})")}};
    post->layout = *Json::parse(R"([{"type":"rows","display":[{"blocks":[0]},{"blocks":[1,2]}]}])");
    post->canBeTipped = true;
    post->state = QStringLiteral("queue");
    post->publishOn = QStringLiteral("2024-03-01T10:00:00+00:00");
    post->interactability = QStringLiteral("noone");
    post->tags = {QStringLiteral("one"), QStringLiteral("big, comma")};
}

void TestCurrentSim::updateEcho()
{
    const QByteArray access = login();
    decorate(m_server->post(QStringLiteral("1006")));
    const Answer first = get(QStringLiteral("/v2/blog/cats/posts/1006?post_format=npf"), access);
    QCOMPARE(first.status, 200);
    const QByteArray before = responseText(first.body);
    for (const QByteArray &part :
         {QByteArray(R"("tags":["one","big, comma"])"), QByteArray(R"("alt_text":"a cat","colors":{"c0":"a1b2c3","c1":"000000"},"attribution":{)"),
          QByteArray(R"("layout":[{"type":"rows","display":[{"blocks":[0]},{"blocks":[1,2]}]}])"),
          QByteArray(R"("state":"queue","publish_on":"2024-03-01T10:00:00+00:00")"),
          QByteArray(R"("can_be_tipped":true,"interactability_reblog":"noone")"),
          QByteArray(R"("some_future_field":{"a":[1,2.50,"x"]},"n":2.50})")})
        QVERIFY2(before.contains(part), part.constData());
    // The photo route writes the same post the same way.
    QVERIFY(get(QStringLiteral("/v2/blog/cats/posts/photo?npf=true"), access).body.contains(before));

    // The post echoed whole, tags changed (one with a comma, kept in an array).
    const QByteArray tags = R"(["one","big, comma","Block one Block two"])";
    const QByteArray sent = withTags(before, tags);
    QVERIFY(!sent.isEmpty());
    const Answer put1 = put(QStringLiteral("1006"), sent, access);
    QCOMPARE(put1.status, 200);
    QCOMPARE(put1.body, QByteArray(R"({"meta":{"status":200,"msg":"OK"},"response":{"id":1006,"id_string":"1006"}})"));
    QCOMPARE(m_server->log(Endpoint::Update).constLast().body, sent);
    const QByteArray after = responseText(get(QStringLiteral("/v2/blog/cats/posts/1006?post_format=npf"), access).body);
    QCOMPARE(after, sent); // all but the tags as before: order and number literals too
    QCOMPARE(withTags(after, R"(["one","big, comma"])"), before);
    QVERIFY(get(QStringLiteral("/v2/blog/cats/posts/photo?npf=true"), access).body.contains(after));
    const cursim::Post *stored = m_server->post(QStringLiteral("1006"));
    QCOMPARE(stored->tags, (QStringList{"one", "big, comma", "Block one Block two"}));
    QCOMPARE(stored->editCount, 1);
    QCOMPARE(stored->texts, (QStringList{"Block one", "Block two"}));

    // Tags as one comma-separated string; blocks changed: kept as sent, and the texts follow them.
    QByteArray body = withTags(after, "\" x, y ,,\"");
    body.replace("\"Block two\"", "\"Changed\",\"formatting\":[{\"start\":0,\"end\":7,\"type\":\"bold\"}]");
    body.replace("\"alt_text\":\"a cat\"", "\"alt_text\":\"another cat\"");
    QCOMPARE(put(QStringLiteral("1006"), body, access).status, 200);
    const QByteArray third = responseText(get(QStringLiteral("/v2/blog/cats/posts/1006?post_format=npf"), access).body);
    QVERIFY(third.contains(R"({"type":"text","text":"Changed","formatting":[{"start":0,"end":7,"type":"bold"}]})"));
    QVERIFY(third.contains(R"("tags":["x","y"])"));
    QCOMPARE(stored->texts, (QStringList{"Block one", "Changed"}));
    QCOMPARE(stored->altText, QStringLiteral("another cat"));
    QCOMPARE(stored->editCount, 2);
}

void TestCurrentSim::updateLeftOut_data()
{
    QTest::addColumn<QString>("leftOut"); // a member of the post read, not sent back
    QTest::addColumn<bool>("tipped");     // can_be_tipped before
    QTest::addColumn<QString>("check");   // a member of the post read afterwards
    QTest::addColumn<QJsonValue>("value"); // undefined: absent
    QTest::newRow("nothing left out") << "" << true << "can_be_tipped" << QJsonValue(true);
    QTest::newRow("can_be_tipped, was true") << "can_be_tipped" << true << "can_be_tipped" << QJsonValue(false);
    QTest::newRow("can_be_tipped, was false") << "can_be_tipped" << false << "can_be_tipped" << QJsonValue(true);
    QTest::newRow("publish_on: no schedule") << "publish_on" << true << "publish_on" << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("publish_on: published now") << "publish_on" << true << "state" << QJsonValue("published");
    QTest::newRow("state") << "state" << true << "state" << QJsonValue("published");
    QTest::newRow("an unknown field") << "some_future_field" << true << "some_future_field" << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("the other unknown field kept") << "some_future_field" << true << "n" << QJsonValue(2.5);
    QTest::newRow("layout") << "layout" << true << "layout" << QJsonValue(QJsonArray());
    QTest::newRow("tags") << "tags" << true << "tags" << QJsonValue(QJsonArray());
    QTest::newRow("interactability_reblog") << "interactability_reblog" << true << "interactability_reblog"
                                            << QJsonValue("everyone");
    QTest::newRow("a read-only field: nothing lost") << "slug" << true << "slug" << QJsonValue("block-one-block-two");
}

void TestCurrentSim::updateLeftOut()
{
    QFETCH(QString, leftOut);
    QFETCH(bool, tipped);
    QFETCH(QString, check);
    QFETCH(QJsonValue, value);
    const QByteArray access = login();
    cursim::Post *post = m_server->post(QStringLiteral("1006"));
    decorate(post);
    post->canBeTipped = tipped;
    const QString target = QStringLiteral("/v2/blog/cats/posts/1006?post_format=npf");
    QJsonObject sent = get(target, access).response();
    QVERIFY(leftOut.isEmpty() || sent.contains(leftOut));
    sent.remove(leftOut);
    QCOMPARE(put(QStringLiteral("1006"), QJsonDocument(sent).toJson(QJsonDocument::Compact), access).status, 200);
    const QJsonObject read = get(target, access).response();
    QCOMPARE(read.value(check), value);
    QCOMPARE(post->editCount, 1);
}

void TestCurrentSim::updateRefusals_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("detail"); // the start of errors[0].detail
    const QByteArray json = "application/json";
    const QByteArray minimal = R"({"content":[{"type":"text","text":"x"}]})";
    QByteArray thirtyOne = R"({"content":[],"tags":[)";
    for (int i = 1; i <= 31; ++i)
        thirtyOne += (i > 1 ? ",\"t" : "\"t") + QByteArray::number(i) + '"';
    thirtyOne += "]}";
    QTest::newRow("a legacy photo post") << QString::fromLatin1(bigId) << minimal << json << 400
                                         << "This post can't be edited in the new post format";
    QTest::newRow("a legacy text post") << "1003" << minimal << json << 400
                                        << "This post can't be edited in the new post format";
    QTest::newRow("malformed") << "1006" << QByteArray(R"({"content":[})") << json << 400 << "Invalid JSON";
    QTest::newRow("trailing comma") << "1006" << QByteArray(R"({"content":[],})") << json << 400 << "Invalid JSON";
    QTest::newRow("empty body") << "1006" << QByteArray("") << json << 400 << "Invalid JSON";
    QTest::newRow("not an object") << "1006" << QByteArray("[1]") << json << 400 << "The post must be a JSON object";
    QTest::newRow("no content") << "1006" << QByteArray(R"({"tags":"a"})") << json << 400 << "content is missing";
    QTest::newRow("content not an array") << "1006" << QByteArray(R"({"content":{}})") << json << 400 << "content must be";
    QTest::newRow("a block without a type") << "1006" << QByteArray(R"({"content":[{"text":"x"}]})") << json << 400
                                            << "content must be";
    QTest::newRow("another id") << "1006" << QByteArray(R"({"id":1007,"content":[]})") << json << 400 << "id is not";
    QTest::newRow("another id_string") << "1006" << QByteArray(R"({"id_string":"1007","content":[]})") << json << 400
                                       << "id_string is not";
    QTest::newRow("id as a string") << "1006" << QByteArray(R"({"id":"1006","content":[]})") << json << 200 << "";
    QTest::newRow("tag too long") << "1006" << R"({"content":[],"tags":[")" + QByteArray(141, 'x') + "\"]}" << json
                                  << 400 << "Tag is too long";
    QTest::newRow("tag too long, in a string") << "1006" << R"({"content":[],"tags":"a, )" + QByteArray(141, 'x') + "\"}"
                                               << json << 400 << "Tag is too long";
    QTest::newRow("too many tags") << "1006" << thirtyOne << json << 400 << "Too many tags";
    QTest::newRow("tags not strings") << "1006" << QByteArray(R"({"content":[],"tags":[1]})") << json << 400 << "tags must be";
    QTest::newRow("unknown state") << "1006" << QByteArray(R"({"content":[],"state":"gone"})") << json << 400 << "Unknown state";
    QTest::newRow("can_be_tipped not a bool") << "1006" << QByteArray(R"({"content":[],"can_be_tipped":1})") << json << 400
                                              << "can_be_tipped must be";
    QTest::newRow("a form") << "1006" << QByteArray("content=x") << QByteArray("application/x-www-form-urlencoded") << 400
                            << "Send the post as application/json";
    QTest::newRow("unknown post") << "42" << minimal << json << 404 << "No post 42";
}

void TestCurrentSim::updateRefusals()
{
    QFETCH(QString, id);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(int, status);
    QFETCH(QString, detail);
    const QByteArray access = login();
    const QByteArray before = get(QStringLiteral("/v2/blog/cats/posts/%1?post_format=npf").arg(id), access).body;
    const Answer a = put(id, body, access, contentType);
    QCOMPARE(a.status, status);
    QCOMPARE(a.json()[QLatin1String("meta")][QLatin1String("status")].toInt(), status);
    if (status == 200)
        return;
    QVERIFY2(a.json()[QLatin1String("errors")][0][QLatin1String("detail")].toString().startsWith(detail), a.body.constData());
    QCOMPARE(a.json()[QLatin1String("response")].toArray(), QJsonArray());
    // Refused: nothing changed.
    QCOMPARE(get(QStringLiteral("/v2/blog/cats/posts/%1?post_format=npf").arg(id), access).body, before);
    if (const cursim::Post *stored = m_server->post(id))
        QCOMPARE(stored->editCount, 0);
}

void TestCurrentSim::writeRoutes()
{
    const QByteArray access = login();
    const Fields fields = {{"id", "1005"}, {"type", "photo"}, {"tags", "a"}};
    const QByteArray json = R"({"content":[]})";
    const auto both = [&](const QByteArray &token) {
        return QList<Answer>{edit(fields, token), put(QStringLiteral("1006"), json, token)};
    };

    // A valid token, as everywhere in the API.
    for (const QByteArray &token : {QByteArray(), QByteArray("made-up")}) {
        for (const Answer &a : both(token)) {
            QCOMPARE(a.status, 401);
            QCOMPARE(a.json()[QLatin1String("errors")][0][QLatin1String("code")].toInt(), 1016);
        }
    }
    QCOMPARE(m_server->post(QStringLiteral("1005"))->editCount, 0);
    QCOMPARE(m_server->post(QStringLiteral("1006"))->editCount, 0);

    // They count like the reads.
    QList<QByteArray> remaining;
    for (const Answer &a : both(access)) {
        QCOMPARE(a.status, 200);
        remaining.append(a.header("X-Ratelimit-Perhour-Remaining"));
    }
    QCOMPARE(remaining, (QList<QByteArray>{"995", "994"})); // the four refused counted too
    m_server->setRateLimitAfter(1);
    QCOMPARE(edit(fields, access).status, 200);
    for (const Answer &a : both(access)) {
        QCOMPARE(a.status, 429);
        QCOMPARE(a.header("X-Ratelimit-Perhour-Remaining"), QByteArray("0"));
    }
    m_server->resetRateLimit();
    QCOMPARE(m_server->post(QStringLiteral("1005"))->editCount, 2);

    // Each has its own log and faults; the PUT is no read of the post.
    QCOMPARE(m_server->log(Endpoint::Edit).size(), 2 + 1 + 2);
    QCOMPARE(m_server->log(Endpoint::Update).size(), 2 + 1 + 1);
    QVERIFY(m_server->log(Endpoint::OnePost).isEmpty());
    QCOMPARE(m_server->log(Endpoint::Update).constLast().method, QStringLiteral("PUT"));
    Fault fault;
    fault.status = 503;
    m_server->injectFault(Endpoint::Update, fault);
    m_server->injectFault(Endpoint::Edit, fault);
    for (const Answer &a : both(access)) {
        QCOMPARE(a.status, 503);
        QCOMPARE(a.header("X-Ratelimit-Perday-Limit"), QByteArray("5000"));
    }
    QCOMPARE(m_server->post(QStringLiteral("1006"))->editCount, 1);
    QCOMPARE(get(QStringLiteral("/v2/blog/cats/posts/1006?post_format=npf"), access).status, 200);

    // Other methods.
    const Answer getEdit = get(QStringLiteral("/v2/blog/cats/post/edit"), access);
    QCOMPARE(getEdit.status, 405);
    QCOMPARE(getEdit.header("Allow"), QByteArray("POST"));
    const Answer deletePost = call("DELETE", QStringLiteral("/v2/blog/cats/posts/1006"), {}, access);
    QCOMPARE(deletePost.status, 405);
    QCOMPARE(deletePost.header("Allow"), QByteArray("GET, PUT"));
    QCOMPARE(put(QStringLiteral("1006"), json, access).status, 200);
    QCOMPARE(call("PUT", QStringLiteral("/v2/blog/nobody/posts/1006"), json, access, 0, "application/json").status, 404);
    QCOMPARE(call("POST", QStringLiteral("/v2/blog/nobody/post/edit"), formBody(fields), access).status, 404);
}

QTEST_GUILESS_MAIN(TestCurrentSim)
#include "tst_currentsim.moc"

#include "TestFolders.h"

#include "client/login/SecretStore.h"
#include "client/posts/TagRules.h"
#include "client/service/current/JsonReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QtTest>

namespace {
QJsonValue responseOf(const QByteArray &json)
{
    const std::optional<JsonReader::Envelope> envelope = JsonReader::ParseEnvelope(json);
    return envelope ? envelope->response : QJsonValue();
}

QJsonObject object(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }
}

class TestJsonReader final : public QObject
{
    Q_OBJECT

private slots:
    void envelope_data();
    void envelope();
    void blogList_publicBlogsAsTitleBarName();
    void post_data();
    void post();
    void postsAnswer_nextOffsetAndLeftOutPosts_data();
    void postsAnswer_nextOffsetAndLeftOutPosts();

    void replaceMember_data();
    void replaceMember();
    void firstElement_data();
    void firstElement();

    void secretFile_roundTripReadableByUserAlone();
    void secretFile_damaged_refusedAndKept();
    void secretStore_noDesktopStore_fallsBackToTheFile();

private:
    TestFolders m_folders;
};

void TestJsonReader::envelope_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("isEnvelope");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("ok") << QByteArray(R"({"meta":{"status":200,"msg":"OK"},"response":{"a":1}})") << true << 200
                        << "OK";
    QTest::newRow("error detail wins over msg")
        << QByteArray(R"({"meta":{"status":401,"msg":"Unauthorized"},"response":[],"errors":[{"title":"Unauthorized","code":1016,"detail":"Token expired"}]})")
        << true << 401 << "Token expired";
    QTest::newRow("title when no detail")
        << QByteArray(R"({"meta":{"status":404,"msg":"Not Found"},"response":[],"errors":[{"title":"Gone"}]})") << true
        << 404 << "Gone";
    QTest::newRow("array") << QByteArray("[1,2]") << false << 0 << "";
    QTest::newRow("no meta") << QByteArray(R"({"response":{}})") << false << 0 << "";
    QTest::newRow("status as text") << QByteArray(R"({"meta":{"status":"200"}})") << false << 0 << "";
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << false << 0 << "";
    QTest::newRow("cut off") << QByteArray(R"({"meta":{"status":200,)") << false << 0 << "";
    QTest::newRow("OAuth error") << QByteArray(R"({"error":"invalid_grant","error_description":"Refresh token revoked"})")
                                 << false << 0 << "Refresh token revoked";
}

void TestJsonReader::envelope()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, isEnvelope);
    QFETCH(int, status);
    QFETCH(QString, refusal);
    const std::optional<JsonReader::Envelope> envelope = JsonReader::ParseEnvelope(body);
    QCOMPARE(envelope.has_value(), isEnvelope);
    if (envelope)
        QCOMPARE(envelope->status, status);
    QCOMPARE(JsonReader::RefusalText(body), refusal);
}

void TestJsonReader::blogList_publicBlogsAsTitleBarName()
{
    const QByteArray body = R"({"meta":{"status":200,"msg":"OK"},"response":{"user":{"name":"demo","blogs":[
        {"name":"cats","title":"Cats & more","type":"public"},
        {"name":"secret","title":"Hidden","type":"private"},
        {"name":"two-lines","title":"Line one\nline two","type":"public"},
        {"name":"","title":"No name","type":"public"},
        {"name":"untitled","title":"","type":"public"}]}}})";
    QCOMPARE(JsonReader::BlogList(responseOf(body)),
             std::optional<QString>(QStringLiteral("Cats & more | cats\r\nLine one line two | two-lines\r\n | untitled")));
    QCOMPARE(JsonReader::BlogList(responseOf(R"({"meta":{"status":200},"response":{"user":{"name":"x"}}})")),
             std::nullopt);

    // A thousand blogs: a thousand lines, none lost.
    QByteArray many = R"({"meta":{"status":200},"response":{"user":{"blogs":[)";
    for (int i = 0; i < 1000; ++i)
        many += (i ? "," : "") + QByteArray(R"({"name":"b)") + QByteArray::number(i) + R"(","title":"T","type":"public"})";
    many += "]}}}";
    const std::optional<QString> list = JsonReader::BlogList(responseOf(many));
    QVERIFY(list);
    QCOMPARE(list->split(QStringLiteral("\r\n")).size(), 1000);
    QVERIFY(list->endsWith(QStringLiteral("T | b999")));
}

void TestJsonReader::post_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("fields"); // date, id, caption, raw caption, tags, format, slug, link, url

    QTest::newRow("legacy: caption HTML, first line of its text")
        << QByteArray(R"({"type":"photo","id":123,"id_string":"123","date":"2024-01-31 18:04:05 GMT",
            "caption":"<p>Sunset <b>at</b> beach &amp; sea</p><p>second</p>","tags":["cat","a, b"],"format":"html",
            "slug":"sunset","link_url":"http://example.com/x","post_url":"https://demo.tumblr.com/post/123/sunset"})")
        << true
        << QStringList{"2024-01-31 18:04:05 GMT", "123", "Sunset at beach & sea",
                       "<p>Sunset <b>at</b> beach &amp; sea</p><p>second</p>", "cat, \"a, b\"", "html", "sunset",
                       "http://example.com/x", "https://demo.tumblr.com/post/123/sunset"};
    QTest::newRow("blocks: first line of the text blocks, every text block kept")
        << QByteArray(R"({"type":"blocks","id":9007199254740993,"id_string":"9007199254740993","date":"2024-02-01 00:00:00 GMT",
            "content":[{"type":"image","media":[{"url":"u"}],"alt_text":"a cat"},{"type":"text","text":""},
                       {"type":"text","text":"Hello there\nmore"},{"type":"text","text":"Second block"}],
            "tags":[],"format":"markdown","slug":"","post_url":"p","is_blocks_post_format":true})")
        << true
        << QStringList{"2024-02-01 00:00:00 GMT", "9007199254740993", "Hello there", "Hello there\nmore\nSecond block",
                       "", "markdown", "", "", "p"};
    QTest::newRow("no id_string: the number alone is not trusted")
        << QByteArray(R"({"type":"photo","id":9007199254740993,"caption":"x"})") << false << QStringList{};
    QTest::newRow("id_string not a number") << QByteArray(R"({"type":"photo","id_string":"12a","caption":"x"})")
                                            << false << QStringList{};
    QTest::newRow("id_string as a number") << QByteArray(R"({"type":"photo","id_string":12,"caption":"x"})") << false
                                           << QStringList{};
    QTest::newRow("id beyond 64 bits") << QByteArray(R"({"type":"photo","id_string":"123456789012345678901","caption":"x"})")
                                       << false << QStringList{};
}

void TestJsonReader::post()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, read);
    QFETCH(QStringList, fields);
    const std::optional<PostRow> row = JsonReader::ReadPost(object(json));
    QCOMPARE(row.has_value(), read);
    if (!row)
        return;
    QCOMPARE((QStringList{row->date, row->id, row->caption, row->rawCaption, TagRule::TagsText(row->tags), row->format, row->slug,
                          row->clickThroughUrl, row->postUrl}),
             fields);
}

void TestJsonReader::postsAnswer_nextOffsetAndLeftOutPosts_data()
{
    QTest::addColumn<QByteArray>("links");
    QTest::addColumn<qint64>("next"); // -1: none

    QTest::newRow("query_params as text") << QByteArray(R"("_links":{"next":{"href":"/v2/blog/x/posts/photo?offset=40","query_params":{"offset":"20"}}})") << qint64(20);
    QTest::newRow("query_params as number") << QByteArray(R"("_links":{"next":{"query_params":{"offset":60}}})") << qint64(60);
    QTest::newRow("href alone") << QByteArray(R"("_links":{"next":{"href":"/v2/blog/x/posts/photo?limit=20&offset=40&npf=true"}})") << qint64(40);
    QTest::newRow("no next") << QByteArray(R"("_links":{})") << qint64(-1);
    QTest::newRow("no links") << QByteArray(R"("x":0)") << qint64(-1);
    QTest::newRow("negative") << QByteArray(R"("_links":{"next":{"query_params":{"offset":"-5"}}})") << qint64(-1);
}

void TestJsonReader::postsAnswer_nextOffsetAndLeftOutPosts()
{
    QFETCH(QByteArray, links);
    QFETCH(qint64, next);
    const QByteArray body = R"({"posts":[
        {"type":"photo","id_string":"1","caption":"one"},
        {"type":"text","id_string":"2","body":"not a photo"},
        {"type":"blocks","id_string":"3","content":[{"type":"text","text":"text only"}]},
        {"type":"photo","id":4,"caption":"no id_string"},
        {"type":"blocks","id_string":"5","content":[{"type":"image","media":[]},{"type":"text","text":"five"}]}],
        "total_posts":5,)" + links + "}";
    const std::optional<JsonReader::PostsAnswer> answer = JsonReader::ReadPostsAnswer(object(body));
    QVERIFY(answer);
    QCOMPARE(answer->received, 5);
    QCOMPARE(answer->withoutId, 1);
    QStringList ids;
    for (const PostRow &row : answer->posts)
        ids << row.id;
    QCOMPARE(ids, (QStringList{"1", "5"}));
    QCOMPARE(answer->nextOffset.value_or(-1), next);
    QVERIFY(!JsonReader::ReadPostsAnswer(object(R"({"total_posts":0})")));
}

void TestJsonReader::replaceMember_data()
{
    QTest::addColumn<QByteArray>("object");
    QTest::addColumn<QByteArray>("expected"); // empty: no such member

    QTest::newRow("own member, the rest byte for byte")
        << QByteArray(R"({"id":9007199254740993,"n":2.50,"tags":["a","b"],"z":"x"})")
        << QByteArray(R"({"id":9007199254740993,"n":2.50,"tags":"NEW","z":"x"})");
    QTest::newRow("a deeper tags is not the post's")
        << QByteArray(R"({"content":[{"tags":["inner"]}],"meta":{"tags":1},"tags":[]})")
        << QByteArray(R"({"content":[{"tags":["inner"]}],"meta":{"tags":1},"tags":"NEW"})");
    QTest::newRow("strings holding braces, quotes and the key")
        << QByteArray(R"({"text":"}\"tags\":{[","tags" : [ "a" ] , "after":null})")
        << QByteArray(R"({"text":"}\"tags\":{[","tags" : "NEW" , "after":null})");
    QTest::newRow("an escaped key") << QByteArray(R"({"ta\u0067s":true})") << QByteArray(R"({"ta\u0067s":"NEW"})");
    QTest::newRow("spaces and lines") << QByteArray(" {\n \"tags\"\t:\r\n false \n}\n")
                                      << QByteArray(" {\n \"tags\"\t:\r\n \"NEW\" \n}\n");
    QTest::newRow("no tags") << QByteArray(R"({"tag":1,"x":{"tags":2}})") << QByteArray();
    QTest::newRow("not an object") << QByteArray(R"(["tags",1])") << QByteArray();
    QTest::newRow("not JSON") << QByteArray(R"({"tags":[1,)") << QByteArray();
}

void TestJsonReader::replaceMember()
{
    QFETCH(QByteArray, object);
    QFETCH(QByteArray, expected);
    const std::optional<QByteArray> changed = JsonReader::ReplaceMember(object, QStringLiteral("tags"), "\"NEW\"");
    QCOMPARE(changed.value_or(QByteArray()), expected);
}

void TestJsonReader::firstElement_data()
{
    QTest::addColumn<QByteArray>("array");
    QTest::addColumn<QByteArray>("first"); // empty: none

    QTest::newRow("object, bytes as they came") << QByteArray(R"( [ {"b":1.50,"a":"]"} , {"c":2}])")
                                                << QByteArray(R"({"b":1.50,"a":"]"})");
    QTest::newRow("number") << QByteArray("[9007199254740993]") << QByteArray("9007199254740993");
    QTest::newRow("empty") << QByteArray("[ ]") << QByteArray();
    QTest::newRow("object") << QByteArray(R"({"a":[1]})") << QByteArray();
}

void TestJsonReader::firstElement()
{
    QFETCH(QByteArray, array);
    QFETCH(QByteArray, first);
    const std::optional<JsonReader::Span> span = JsonReader::FirstElement(array);
    QCOMPARE(span ? array.mid(span->begin, span->end - span->begin) : QByteArray(), first);
}

void TestJsonReader::secretFile_roundTripReadableByUserAlone()
{
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("secrets-roundtrip"));
    SecretStore store(SecretStore::Backend::File, folder);
    QCOMPARE(store.read(QStringLiteral("k")), std::nullopt);
    const QByteArray value("token \0 with a NUL and \xC3\xA9", 26);
    QString error;
    QVERIFY2(store.write(QStringLiteral("k"), value, &error), qPrintable(error));
    QVERIFY(store.write(QStringLiteral("other"), "x", &error));
    QCOMPARE(SecretStore(SecretStore::Backend::File, folder).read(QStringLiteral("k")), std::optional<QByteArray>(value));
    QCOMPARE(QFileInfo(store.filePath()).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther
                                                         | QFileDevice::WriteGroup | QFileDevice::WriteOther),
             QFileDevice::Permissions());
    QVERIFY(store.remove(QStringLiteral("k"), &error));
    QCOMPARE(store.read(QStringLiteral("k")), std::nullopt);
    QCOMPARE(store.read(QStringLiteral("other")), std::optional<QByteArray>("x"));
}

void TestJsonReader::secretFile_damaged_refusedAndKept()
{
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("secrets-damaged"));
    QVERIFY(QDir().mkpath(folder));
    SecretStore store(SecretStore::Backend::File, folder);
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"tokens of a": "cut)");
    file.close();

    QString error;
    QCOMPARE(store.read(QStringLiteral("tokens of a"), &error), std::nullopt);
    QVERIFY(error.contains(QStringLiteral("damaged")));
    error.clear();
    QVERIFY(!store.write(QStringLiteral("k"), "v", &error));
    QVERIFY(error.contains(store.filePath()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(R"({"tokens of a": "cut)"));
}

void TestJsonReader::secretStore_noDesktopStore_fallsBackToTheFile()
{
    // A session bus that is not there: no secret service, no wallet.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/velloria-test-bus");
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("secrets-auto"));
    SecretStore store(SecretStore::Backend::Auto, folder);
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY2(store.write(QStringLiteral("k"), "v", &error), qPrintable(error));
    QVERIFY(timer.elapsed() < 10000);
    QCOMPARE(store.where(), store.filePath());
    QVERIFY(QFile::exists(store.filePath()));
    QCOMPARE(SecretStore(SecretStore::Backend::File, folder).read(QStringLiteral("k")), std::optional<QByteArray>("v"));
}

QTEST_MAIN(TestJsonReader) // turning caption HTML into text needs QGuiApplication
#include "tst_jsonreader.moc"

#include "TestFolders.h"

#include "client/service/designed/XMLDocument.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QByteArray PostsPage = R"(<?xml version="1.0" encoding="UTF-8"?>
<tumblr version="1.0">
  <tumblelog name="demo-cats" title="Кошки &amp; co"/>
  <posts start="0" total="2">
    <post id="101" type="photo" date="2026-11-30 18:04:05 GMT" format="html" slug="cat">
      <photo-caption>&lt;b&gt;Cat&lt;/b&gt; &#x1F431;</photo-caption>
      <photo-link-url>http://example.com/cat</photo-link-url>
      <tag>cat</tag>
      <tag>big, fluffy</tag>
    </post>
    <post id="102" type="text" date="2026-11-29">
      <regular-body><![CDATA[<p>text & more</p>]]></regular-body>
    </post>
  </posts>
</tumblr>
)";
}

class TestXml final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }

    void selectNodes_absolutePathFromRoot_givesNodesInOrder();
    void selectNodes_relativePathsAndAttributes();
    void missingNodes_readAsEmptyText_data();
    void missingNodes_readAsEmptyText();
    void getNamedItem_givesAttribute();
    void text_keepsCdataEntitiesAndCarriageReturns();
    void parseError_hasNumberLineColumnAndReason_data();
    void parseError_hasNumberLineColumnAndReason();
    void declaredEncoding_decodesText_data();
    void declaredEncoding_decodesText();
    void unknownEncoding_isAnError();
    void innerXml_keepsChildMarkupAsItStands_data();
    void innerXml_keepsChildMarkupAsItStands();
    void entityBomb_failsQuickly_data();
    void entityBomb_failsQuickly();
    void externalEntity_isNeverRead();
    void deepNesting_isAnError();
    void load_readsFileBytes();
    void load_missingFile_isAnError();
    void failedLoad_leavesEmptyDocument();

private:
    TestFolders m_folders;
};

void TestXml::selectNodes_absolutePathFromRoot_givesNodesInOrder()
{
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    const XMLNodeList posts = doc.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    QCOMPARE(posts.Length(), 2);
    QCOMPARE(doc.NodeText(posts.Item(0).SelectSingleNode(QStringLiteral("@id"))), QStringLiteral("101"));
    QCOMPARE(doc.NodeText(posts.Item(1).SelectSingleNode(QStringLiteral("@id"))), QStringLiteral("102"));
    QVERIFY(posts.Item(2).isNull());
    QVERIFY(posts.Item(-1).isNull());

    // An absolute path from any node starts at the document again.
    QCOMPARE(posts.Item(1).SelectNodes(QStringLiteral("/tumblr/tumblelog")).Length(), 1);
    // The first step names the root element itself.
    QCOMPARE(doc.Root().SelectNodes(QStringLiteral("/posts/post")).Length(), 0);
}

void TestXml::selectNodes_relativePathsAndAttributes()
{
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    const XMLNode post = doc.Root().SelectSingleNode(QStringLiteral("/tumblr/posts/post"));
    QVERIFY(!post.isNull());
    QCOMPARE(post.name(), QStringLiteral("post"));
    QCOMPARE(doc.NodeText(post.SelectSingleNode(QStringLiteral("@date"))), QStringLiteral("2026-11-30 18:04:05 GMT"));
    QCOMPARE(doc.NodeText(post.SelectSingleNode(QStringLiteral("photo-caption"))),
             QStringLiteral("<b>Cat</b> \U0001F431"));
    const XMLNodeList tags = post.SelectNodes(QStringLiteral("tag"));
    QCOMPARE(tags.Length(), 2);
    QCOMPARE(tags.Item(0).Text(), QStringLiteral("cat"));
    QCOMPARE(tags.Item(1).Text(), QStringLiteral("big, fluffy"));

    const XMLNode tumblr = doc.Root().SelectSingleNode(QStringLiteral("/tumblr"));
    QCOMPARE(tumblr.SelectNodes(QStringLiteral("posts/post/@id")).Length(), 2);
    QCOMPARE(doc.NodeText(tumblr.SelectSingleNode(QStringLiteral("tumblelog/@title"))), QStringLiteral("Кошки & co"));
}

void TestXml::missingNodes_readAsEmptyText_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing attribute") << QStringLiteral("@slug");
    QTest::newRow("missing element") << QStringLiteral("photo-caption");
    QTest::newRow("missing deeper") << QStringLiteral("a/b/@c");
    QTest::newRow("empty path") << QString();
}

void TestXml::missingNodes_readAsEmptyText()
{
    QFETCH(QString, path);
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    const XMLNode textPost = doc.Root().SelectNodes(QStringLiteral("/tumblr/posts/post")).Item(1);
    const XMLNode missing = textPost.SelectSingleNode(path);
    QVERIFY(missing.isNull());
    QCOMPARE(doc.NodeText(missing), QString());
    QCOMPARE(textPost.SelectNodes(path).Length(), 0);
    QCOMPARE(missing.SelectNodes(QStringLiteral("x")).Length(), 0);
}

void TestXml::getNamedItem_givesAttribute()
{
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    const XMLNode post = doc.Root().SelectSingleNode(QStringLiteral("/tumblr/posts/post"));
    QCOMPARE(post.GetNamedItem(QStringLiteral("type")).Text(), QStringLiteral("photo"));
    QVERIFY(post.GetNamedItem(QStringLiteral("TYPE")).isNull());
    QVERIFY(doc.Root().GetNamedItem(QStringLiteral("type")).isNull());
}

void TestXml::text_keepsCdataEntitiesAndCarriageReturns()
{
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    QCOMPARE(doc.Root().SelectSingleNode(QStringLiteral("/tumblr/posts/post/regular-body")).Text(),
             QStringLiteral("<p>text & more</p>"));

    QVERIFY(doc.LoadXML("<a><b>one&#13;&#10;two</b><c attr=\"x&#13;y\"/></a>"));
    QCOMPARE(doc.Root().SelectSingleNode(QStringLiteral("/a/b")).Text(), QStringLiteral("one\r\ntwo"));
    QCOMPARE(doc.Root().SelectSingleNode(QStringLiteral("/a/c/@attr")).Text(), QStringLiteral("x\ry"));
}

void TestXml::parseError_hasNumberLineColumnAndReason_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<long>("line");
    QTest::newRow("mismatched tag") << QByteArray("<a>\n  <b></c>\n</a>") << 2L;
    QTest::newRow("truncated") << QByteArray("<a>\n<b>text") << 2L;
    QTest::newRow("not xml") << QByteArray("<html>\n<body>Service unavailable<br></body></html>") << 2L;
    QTest::newRow("undeclared entity") << QByteArray("<a>&nbsp;</a>") << 1L;
    QTest::newRow("empty") << QByteArray() << 1L;
    QTest::newRow("plain text") << QByteArray("Not found") << 1L;
}

void TestXml::parseError_hasNumberLineColumnAndReason()
{
    QFETCH(QByteArray, xml);
    QFETCH(long, line);
    XMLDocument doc;
    QVERIFY(!doc.LoadXML(xml));
    const auto &error = doc.ParseError();
    QVERIFY(error.Number != 0);
    QCOMPARE(error.Line, line);
    QVERIFY(error.LinePos >= 1);
    QVERIFY(!error.Reason.isEmpty());
}

void TestXml::declaredEncoding_decodesText_data()
{
    QTest::addColumn<QByteArray>("xml");
    const QString text = QStringLiteral("Ça coûte €5 \U0001F431");
    const QByteArray body = "<a t=\"x\">" + text.toUtf8() + "</a>";
    QTest::newRow("utf-8 declared") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + body;
    QTest::newRow("utf-8 undeclared") << body;

    const QString latinText = QStringLiteral("Ça coûte 5");
    QTest::newRow("iso-8859-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a t=\"x\">")
                                       + latinText.toLatin1() + "</a>";

    QStringEncoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QTest::newRow("utf-16 with bom")
        << QByteArray(utf16(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a t=\"x\">") + text
                            + QStringLiteral("</a>")));
}

void TestXml::declaredEncoding_decodesText()
{
    QFETCH(QByteArray, xml);
    XMLDocument doc;
    QVERIFY2(doc.LoadXML(xml), qPrintable(doc.ParseError().Reason));
    const QString text = doc.Root().SelectSingleNode(QStringLiteral("/a")).Text();
    if (QByteArray(QTest::currentDataTag()) == "iso-8859-1")
        QCOMPARE(text, QStringLiteral("Ça coûte 5"));
    else
        QCOMPARE(text, QStringLiteral("Ça coûte €5 \U0001F431"));
    QCOMPARE(doc.Root().SelectSingleNode(QStringLiteral("/a/@t")).Text(), QStringLiteral("x"));
}

void TestXml::unknownEncoding_isAnError()
{
    XMLDocument doc;
    QVERIFY(!doc.LoadXML("<?xml version=\"1.0\" encoding=\"x-no-such-encoding\"?><a>text</a>"));
    QVERIFY(!doc.ParseError().Reason.isEmpty());
}

void TestXml::entityBomb_failsQuickly_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("billion laughs") << QByteArray(R"(<?xml version="1.0"?>
<!DOCTYPE lolz [
 <!ENTITY lol "lol">
 <!ENTITY lol1 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">
 <!ENTITY lol2 "&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;">
 <!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">
 <!ENTITY lol4 "&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;">
 <!ENTITY lol5 "&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;">
 <!ENTITY lol6 "&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;">
 <!ENTITY lol7 "&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;">
 <!ENTITY lol8 "&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;">
 <!ENTITY lol9 "&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;">
]>
<lolz>&lol9;</lolz>)");

    // Each entity stays under the per-entity bound; together they would not.
    QByteArray wide = "<!DOCTYPE a [<!ENTITY e \"" + QByteArray(9000, 'x') + "\">]><a>";
    for (int i = 0; i < 20000; ++i)
        wide += "&e;";
    wide += "</a>";
    QTest::newRow("many medium entities") << wide;
}

void TestXml::entityBomb_failsQuickly()
{
    QFETCH(QByteArray, xml);
    XMLDocument doc;
    QVERIFY(!doc.LoadXML(xml));
    QVERIFY(!doc.ParseError().Reason.isEmpty());
}

void TestXml::externalEntity_isNeverRead()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString secretPath = dir.filePath(QStringLiteral("secret.txt"));
    QFile secret(secretPath);
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("TOP-SECRET");
    secret.close();

    for (const QString &target : {QStringLiteral("file://") + secretPath, QStringLiteral("file:///etc/passwd"),
                                  QStringLiteral("http://127.0.0.1:9/x")}) {
        const QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY ext SYSTEM \"" + target.toUtf8()
            + "\">]><a>&ext;</a>";
        XMLDocument doc;
        if (doc.LoadXML(xml)) {
            const QString text = doc.Root().SelectSingleNode(QStringLiteral("/a")).Text();
            QVERIFY(!text.contains(QStringLiteral("TOP-SECRET")));
            QVERIFY(!text.contains(QStringLiteral("root:")));
        } else {
            QVERIFY(!doc.ParseError().Reason.isEmpty());
        }
    }
}

void TestXml::deepNesting_isAnError()
{
    QByteArray xml;
    for (int i = 0; i < 100000; ++i)
        xml += "<a>";
    XMLDocument doc;
    QVERIFY(!doc.LoadXML(xml));
    QCOMPARE(doc.ParseError().Reason, QStringLiteral("The document is nested too deeply."));

    QByteArray fine;
    for (int i = 0; i < 200; ++i)
        fine += "<a>";
    fine += "x";
    for (int i = 0; i < 200; ++i)
        fine += "</a>";
    QVERIFY(doc.LoadXML(fine));
}

void TestXml::load_readsFileBytes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("XMLpage.tmp"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(PostsPage);
    file.close();
    XMLDocument doc;
    QVERIFY(doc.Load(path));
    QCOMPARE(doc.Root().SelectNodes(QStringLiteral("/tumblr/posts/post")).Length(), 2);
}

void TestXml::load_missingFile_isAnError()
{
    XMLDocument doc;
    QVERIFY(!doc.Load(QStringLiteral("/nonexistent/XML0000.tmp")));
    QVERIFY(doc.ParseError().Number != 0);
    QVERIFY(!doc.ParseError().Reason.isEmpty());
}

void TestXml::failedLoad_leavesEmptyDocument()
{
    XMLDocument doc;
    QVERIFY(doc.LoadXML(PostsPage));
    QVERIFY(!doc.LoadXML("<tumblr><posts><post id=\"1\">"));
    QCOMPARE(doc.Root().SelectNodes(QStringLiteral("/tumblr/posts/post")).Length(), 0);
    QVERIFY(doc.LoadXML(PostsPage));
    QCOMPARE(doc.ParseError().Number, 0L);
}

void TestXml::innerXml_keepsChildMarkupAsItStands_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("inner");
    QTest::addColumn<QString>("text");
    const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    QTest::newRow("bold word") << declaration + "<p><c>Hi <b>you</b>!</c></p>" << QStringLiteral("Hi <b>you</b>!")
                               << QStringLiteral("Hi !");
    QTest::newRow("escaped text only") << declaration + "<p><c>Hi &lt;b&gt;you&lt;/b&gt;!</c></p>"
                                       << QStringLiteral("Hi <b>you</b>!") << QStringLiteral("Hi <b>you</b>!");
    QTest::newRow("entities, attributes, empty element and CR LF kept")
        << declaration + "<p><c>a &amp; <a href=\"x?y=1&amp;z=2\">link</a><br/>\r\nnext</c></p>"
        << QStringLiteral("a &amp; <a href=\"x?y=1&amp;z=2\">link</a><br/>\r\nnext") << QStringLiteral("a & \nnext");
    const QString wide = QStringLiteral("Ёж 🐈 <i>кот</i> €");
    QTest::newRow("multi-byte UTF-8 before and inside") << declaration + QStringLiteral("<p t=\"ё\"><c>%1</c></p>").arg(wide).toUtf8()
                                                        << wide << QStringLiteral("Ёж 🐈  €");
    QStringEncoder utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QTest::newRow("UTF-16 with BOM")
        << QByteArray(utf16(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><p><c>%1</c></p>").arg(wide)))
        << wide << QStringLiteral("Ёж 🐈  €");
    QTest::newRow("ISO-8859-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p><c>Caf\xe9 <b>cr\xe8me</b></c></p>")
                                << QStringLiteral("Café <b>crème</b>") << QStringLiteral("Café ");
}

void TestXml::innerXml_keepsChildMarkupAsItStands()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, inner);
    QFETCH(QString, text);
    XMLDocument doc;
    QVERIFY2(doc.LoadXML(xml), qPrintable(doc.ParseError().Reason));
    const XMLNode node = doc.Root().SelectSingleNode(QStringLiteral("/p/c"));
    QCOMPARE(node.InnerXml(), inner);
    QCOMPARE(node.Text(), text);
}

QTEST_MAIN(TestXml)
#include "tst_xml.moc"

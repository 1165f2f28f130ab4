#include "TestFolders.h"

#include <QDir>
#include <QtTest>

#include "client/posts/TagRules.h"
#include "client/service/designed/XMLDocument.h"
#include "client/service/designed/modTumblrReader.h"

using namespace modTumblrReader;
using TagRule::CaptionIsTag;
using TagRule::NormalizeText;

namespace {
// The row a post gives when the download lists it; none when it is left out.
std::optional<PostRow> listedRow(const XMLDocument &document, const XMLNode &post)
{
    PostRow row = ReadPostRow(document, post);
    if (!TagRule::needsFix(row, TagRules::designed()))
        return std::nullopt;
    return row;
}

QByteArray page(const QByteArray &posts)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tumblr version=\"1.0\"><posts start=\"0\" total=\"1\">" + posts
           + "</posts></tumblr>";
}

// A photo post with the given caption element body (null: no element) and tags.
QByteArray photoPost(const QByteArray &caption, const QList<QByteArray> &tags = {},
                     const QByteArray &attributes = "id=\"7\" type=\"photo\" date=\"2026-01-02 03:04:05 GMT\" "
                                                    "format=\"html\" slug=\"a-slug\" url=\"http://b.example/post/7\"")
{
    QByteArray xml = "<post " + attributes + ">";
    if (!caption.isNull())
        xml += "<photo-caption>" + caption + "</photo-caption>";
    xml += "<photo-link-url>http://click.example/x</photo-link-url>";
    for (const QByteArray &tag : tags)
        xml += "<tag>" + tag + "</tag>";
    return xml + "</post>";
}

QStringList xmlFilesIn(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("XML*")}, QDir::Files);
}
}

class tst_reader final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void NormalizeText_foldsCaseBlanksAndTypography_data();
    void NormalizeText_foldsCaseBlanksAndTypography();
    void CaptionIsTag_comparesNormalizedTagWithStrippedCaption_data();
    void CaptionIsTag_comparesNormalizedTagWithStrippedCaption();

    void AddPostRow_fillsOrLeavesOutTheRow_data();
    void AddPostRow_fillsOrLeavesOutTheRow();
    void AddPostRow_missingAttributesGiveEmptyFields();
    void AddPhotoPosts_keepsOnlyPhotoTypeInOrder();

    void ParsePostsPage_validPage_givesPostsAndRemovesTempFile();
    void ParsePostsPage_badInput_failsWithNumberAndPosition_data();
    void ParsePostsPage_badInput_failsWithNumberAndPosition();
    void ParsePostsPage_afterAFailure_readsTheNextPage();
    void ParsePostsPage_externalEntity_isNeverRead();
    void ParsePostsPage_latin1Declared_isDecodedByDeclaration();

private:
    TestFolders m_folders;
};

void tst_reader::initTestCase()
{
    QVERIFY(m_folders.isValid());
    // A private temporary folder, so leftover page files can be counted.
    QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_folders.tempPath()).canonicalPath());
}

void tst_reader::cleanup() {}

void tst_reader::NormalizeText_foldsCaseBlanksAndTypography_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("upper case") << "Sunset at Beach" << "SUNSET AT BEACH";
    QTest::newRow("trimmed") << "  cat \t" << "CAT";
    QTest::newRow("no-break space") << QString::fromUtf8("big\u00A0cat") << "BIG CAT";
    QTest::newRow("right single quote") << QString::fromUtf8("it\u2019s") << "IT'S";
    QTest::newRow("double quotes removed") << QString::fromUtf8("\u201Chello\u201D") << "HELLO";
    QTest::newRow("ellipsis") << QString::fromUtf8("wait\u2026") << "WAIT...";
    QTest::newRow("ascii quotes stay") << "\"a\"" << "\"A\"";
    QTest::newRow("six characters stay") << "#a/b?" << "#A/B?";
}

void tst_reader::NormalizeText_foldsCaseBlanksAndTypography()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(NormalizeText(text), expected);
}

void tst_reader::CaptionIsTag_comparesNormalizedTagWithStrippedCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("expected");
    QTest::newRow("same") << "cat" << "cat" << true;
    QTest::newRow("different case") << "Sunset" << "sUNSET" << true;
    QTest::newRow("blanks around") << "  cat " << "cat  " << true;
    QTest::newRow("six characters off the caption") << "Sunset? at #Beach" << "Sunset at Beach" << true;
    QTest::newRow("all six off the caption") << "a#b\"c\\d/e|f?g" << "abcdefg" << true;
    QTest::newRow("six characters kept on the tag side") << "Sunset at Beach" << "Sunset? at #Beach" << false;
    QTest::newRow("typographic quotes in the caption") << QString::fromUtf8("\u201CHi\u201D") << "hi" << true;
    QTest::newRow("apostrophe folds") << QString::fromUtf8("it\u2019s") << "it's" << true;
    QTest::newRow("ellipsis folds") << QString::fromUtf8("wait\u2026") << "wait..." << true;
    QTest::newRow("no-break space folds") << QString::fromUtf8("big\u00A0cat") << "big cat" << true;
    QTest::newRow("different words") << "cat" << "dog" << false;
    QTest::newRow("comma counts") << "cat, dog" << "cat dog" << false;
    QTest::newRow("empty both") << QString() << QString() << true;
    QTest::newRow("caption only marks vs empty tag") << "#?" << QString() << true;
}

void tst_reader::CaptionIsTag_comparesNormalizedTagWithStrippedCaption()
{
    QFETCH(QString, caption);
    QFETCH(QString, tag);
    QFETCH(bool, expected);
    QCOMPARE(CaptionIsTag(caption, tag), expected);
}

void tst_reader::AddPostRow_fillsOrLeavesOutTheRow_data()
{
    QTest::addColumn<QByteArray>("post");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("rawCaption");
    QTest::addColumn<QString>("tags");

    QTest::newRow("plain caption, no tags") << photoPost("Sunset") << true << "Sunset" << "Sunset" << QString();
    QTest::newRow("no caption element") << photoPost(QByteArray()) << false << QString() << QString() << QString();
    QTest::newRow("empty caption") << photoPost("") << false << QString() << QString() << QString();
    QTest::newRow("caption is a tag") << photoPost("Cat", {"cat"}) << false << QString() << QString() << QString();
    QTest::newRow("caption is a later tag, other case")
        << photoPost("Big Cat", {"pets", "animals", "BIG CAT"}) << false << QString() << QString() << QString();
    QTest::newRow("caption with typographic quotes is a tag")
        << photoPost("\xE2\x80\x9C" "Hello\xE2\x80\x9D") << true << QString::fromUtf8("\u201CHello\u201D")
        << QString::fromUtf8("\u201CHello\u201D") << QString();
    QTest::newRow("typographic quotes folded against tag")
        << photoPost("\xE2\x80\x9C" "Hello\xE2\x80\x9D", {"x", "hello"}) << false << QString() << QString()
        << QString();
    QTest::newRow("caption with marks is a tag") << photoPost("Sunset? at #Beach", {"Sunset at Beach"}) << false
                                                 << QString() << QString() << QString();
    QTest::newRow("tags joined") << photoPost("Sunset", {"cat", "dog"}) << true << "Sunset" << "Sunset"
                                 << "cat, dog";
    QTest::newRow("tag with comma quoted") << photoPost("Sunset", {"cat", "big, comma, fluffy"}) << true << "Sunset"
                                           << "Sunset" << "cat, \"big, comma, fluffy\"";
    QTest::newRow("tag with double quote unchanged")
        << photoPost("Sunset", {"say &quot;hi&quot;", "x"}) << true << "Sunset" << "Sunset" << "say \"hi\", x";
    QTest::newRow("empty tag between separators") << photoPost("Sunset", {"a", "", "b"}) << true << "Sunset"
                                                   << "Sunset" << "a, , b";
    QTest::newRow("entities decoded once, first line only")
        << photoPost("&lt;b&gt;Tom &amp;amp; Jerry&lt;/b&gt;\n&lt;p&gt;second&lt;/p&gt;") << true << "Tom & Jerry"
        << "<b>Tom &amp; Jerry</b>\n<p>second</p>" << QString();
    QTest::newRow("line break inside the first line")
        << photoPost("one&lt;br&gt;two") << true << "one" << "one<br>two" << QString();
    QTest::newRow("markup-only first line") << photoPost("&lt;img src=\"/dev/zero\"&gt;\nsecond line") << true
                                            << QString() << "<img src=\"/dev/zero\">\nsecond line" << QString();
    QTest::newRow("empty first line") << photoPost("\nsecond line") << true << QString() << "\nsecond line"
                                      << QString();
    QTest::newRow("script gives nothing of itself")
        << photoPost("&lt;script&gt;alert(1)&lt;/script&gt;Hi") << true << "Hi"
        << "<script>alert(1)</script>Hi" << QString();
    QTest::newRow("CDATA caption") << photoPost("<![CDATA[<i>Rain</i> &amp; sun]]>") << true << "Rain & sun"
                                   << "<i>Rain</i> &amp; sun" << QString();
    // A caption that arrives as markup rather than escaped text is kept as it stands.
    QTest::newRow("caption as markup") << photoPost("Hi <b>you</b>!") << true << "Hi you!" << "Hi <b>you</b>!"
                                       << QString();
    QTest::newRow("caption as markup with a link and entities")
        << photoPost("Tom &amp; <a href=\"http://x.example/?a=1&amp;b=2\">Jerry</a>") << true << "Tom & Jerry"
        << "Tom &amp; <a href=\"http://x.example/?a=1&amp;b=2\">Jerry</a>" << QString();
}

void tst_reader::AddPostRow_fillsOrLeavesOutTheRow()
{
    QFETCH(QByteArray, post);
    QFETCH(bool, listed);
    XMLDocument document;
    QVERIFY2(document.LoadXML(page(post)), qPrintable(document.ParseError().Reason));
    const XMLNodeList nodes = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    QCOMPARE(nodes.Length(), 1);
    const std::optional<PostRow> row = listedRow(document, nodes.Item(0));
    QCOMPARE(row.has_value(), listed);
    if (!listed)
        return;
    QFETCH(QString, caption);
    QFETCH(QString, rawCaption);
    QFETCH(QString, tags);
    QCOMPARE(row->caption, caption);
    QCOMPARE(row->rawCaption, rawCaption);
    QCOMPARE(TagRule::TagsText(row->tags), tags);
    QCOMPARE(row->id, QStringLiteral("7"));
    QCOMPARE(row->date, QStringLiteral("2026-01-02 03:04:05 GMT"));
    QCOMPARE(row->format, QStringLiteral("html"));
    QCOMPARE(row->slug, QStringLiteral("a-slug"));
    QCOMPARE(row->clickThroughUrl, QStringLiteral("http://click.example/x"));
    QCOMPARE(row->postUrl, QStringLiteral("http://b.example/post/7"));
}

void tst_reader::AddPostRow_missingAttributesGiveEmptyFields()
{
    XMLDocument document;
    QVERIFY(document.LoadXML(page("<post type=\"photo\"><photo-caption>Only</photo-caption></post>")));
    const XMLNodeList nodes = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    const std::optional<PostRow> row = listedRow(document, nodes.Item(0));
    QVERIFY(row);
    QCOMPARE(row->caption, QStringLiteral("Only"));
    QVERIFY(row->id.isEmpty());
    QVERIFY(row->date.isEmpty());
    QVERIFY(row->format.isEmpty());
    QVERIFY(row->slug.isEmpty());
    QVERIFY(row->clickThroughUrl.isEmpty());
    QVERIFY(row->postUrl.isEmpty());
    QVERIFY(row->tags.isEmpty());
}

void tst_reader::AddPhotoPosts_keepsOnlyPhotoTypeInOrder()
{
    const QByteArray posts = photoPost("one", {}, "id=\"1\" type=\"photo\"")
                             + "<post id=\"2\" type=\"text\"><photo-caption>text</photo-caption></post>"
                             + photoPost("three", {}, "id=\"3\" type=\"Photo\"")
                             + photoPost("four", {}, "id=\"4\" type=\"photo\"")
                             + photoPost(QByteArray(), {}, "id=\"5\" type=\"photo\"")
                             + photoPost("six", {}, "id=\"6\"");
    XMLDocument document;
    QVERIFY(document.LoadXML(page(posts)));
    const XMLNodeList nodes = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    QCOMPARE(nodes.Length(), 6);
    const std::vector<PostRow> rows = AddPhotoPosts(document, nodes);
    QStringList ids;
    for (const PostRow &row : rows)
        ids << row.id;
    QCOMPARE(ids, (QStringList{"1", "4", "5"}));
    // The one without a caption is not listed.
    QVERIFY(!TagRule::needsFix(rows[2], TagRules::designed()));
}

void tst_reader::ParsePostsPage_validPage_givesPostsAndRemovesTempFile()
{
    XMLDocument document;
    XMLNodeList posts;
    QString error;
    QVERIFY(ParsePostsPage(document, page(photoPost("a") + photoPost("b") + photoPost("c")), posts, error));
    QCOMPARE(posts.Length(), 3);
    QCOMPARE(error, QString());
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_badInput_failsWithNumberAndPosition_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("not XML") << QByteArray("Service unavailable, try later");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("HTML page") << QByteArray("<html><body><p>Oops<br></body></html>");
    QTest::newRow("truncated") << page(photoPost("a") + photoPost("b")).left(120);
    QTest::newRow("unknown encoding declared")
        << QByteArray("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><tumblr><posts/></tumblr>");
    QTest::newRow("entity bomb")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lollollollollollollollollollol\">"
                      "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
                      "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
                      "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
                      "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
                      "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
                      "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
                      "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
                      "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>"
                      "<tumblr><posts><post type=\"photo\"><photo-caption>&lol9;</photo-caption></post>"
                      "</posts></tumblr>");
    QByteArray deep = "<tumblr><posts><post type=\"photo\"><photo-caption>";
    for (int i = 0; i < 5000; ++i)
        deep += "<b>";
    QTest::newRow("thousands of nested elements") << deep;
}

void tst_reader::ParsePostsPage_badInput_failsWithNumberAndPosition()
{
    QFETCH(QByteArray, xml);
    XMLDocument document;
    XMLNodeList posts;
    QString error;
    QVERIFY(!ParsePostsPage(document, xml, posts, error));
    QCOMPARE(posts.Length(), 0);
    const QRegularExpression layout(
        QStringLiteral("^Number:      \\S+\r\nDescription: [^\r\n]*\r\nLine, Col:   \\d+, \\d+$"));
    QVERIFY2(layout.match(error).hasMatch(), qPrintable(error));
    QVERIFY(!error.contains(QStringLiteral("root:")));
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_afterAFailure_readsTheNextPage()
{
    XMLDocument document;
    XMLNodeList posts;
    QString error;
    QVERIFY(!ParsePostsPage(document, "<tumblr><posts>", posts, error));
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());

    // The same document object reads the next page normally.
    QVERIFY(ParsePostsPage(document, page(photoPost("x")), posts, error));
    QCOMPARE(posts.Length(), 1);
}

void tst_reader::ParsePostsPage_externalEntity_isNeverRead()
{
    XMLDocument document;
    XMLNodeList posts;
    QString error;
    const QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE t [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
                           "<tumblr><posts><post type=\"photo\" id=\"1\"><photo-caption>x&xxe;</photo-caption>"
                           "</post></posts></tumblr>";
    // Either refused or read without the file's content.
    if (ParsePostsPage(document, xml, posts, error)) {
        for (const PostRow &row : AddPhotoPosts(document, posts))
            QVERIFY(!row.rawCaption.contains(QStringLiteral("root")));
    } else {
        QVERIFY(!error.contains(QStringLiteral("root:")));
    }
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_latin1Declared_isDecodedByDeclaration()
{
    XMLDocument document;
    XMLNodeList posts;
    QString error;
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><tumblr><posts>"
                           "<post type=\"photo\" id=\"1\"><photo-caption>Caf\xE9</photo-caption></post>"
                           "</posts></tumblr>";
    QVERIFY(ParsePostsPage(document, xml, posts, error));
    const std::vector<PostRow> rows = AddPhotoPosts(document, posts);
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(rows[0].caption, QString::fromUtf8("Caf\u00E9"));
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

QTEST_MAIN(tst_reader) // turning caption HTML into text needs QGuiApplication
#include "tst_reader.moc"

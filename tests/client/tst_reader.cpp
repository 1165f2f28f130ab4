#include "TestFolders.h"

#include <QDir>
#include <QtTest>

#include "ScriptedRunHost.h"
#include "client/service/IResultIndicator.h"
#include "client/service/designed/XMLDocument.h"
#include "client/service/designed/modTumblrReader.h"

using namespace modTumblrReader;

namespace {
class FakeIndicator final : public IResultIndicator
{
public:
    void setResultColor(Color c) override
    {
        color = c;
        ++colorChanges;
    }
    QString resultCaption() const override { return caption; }
    void setResultCaption(const QString &text) override { caption = text; }
    Color color = Green;
    int colorChanges = 0;
    QString caption;
};

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
    void ParsePostsPage_badInput_asksRetryWithNumberAndPosition_data();
    void ParsePostsPage_badInput_asksRetryWithNumberAndPosition();
    void ParsePostsPage_retryAnswer_givesRetry();
    void ParsePostsPage_externalEntity_isNeverRead();
    void ParsePostsPage_latin1Declared_isDecodedByDeclaration();

private:
    TestFolders m_folders;
    ScriptedRunHost m_dialogs;
};

void tst_reader::initTestCase()
{
    QVERIFY(m_folders.isValid());
    // A private temporary folder, so leftover page files can be counted.
    QCOMPARE(QDir(QDir::tempPath()).canonicalPath(), QDir(m_folders.tempPath()).canonicalPath());
}

void tst_reader::cleanup()
{
    m_dialogs.clear();
}

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
    const std::optional<PostRow> row = AddPostRow(document, nodes.Item(0));
    QCOMPARE(row.has_value(), listed);
    if (!listed)
        return;
    QFETCH(QString, caption);
    QFETCH(QString, rawCaption);
    QFETCH(QString, tags);
    QCOMPARE(row->caption, caption);
    QCOMPARE(row->rawCaption, rawCaption);
    QCOMPARE(row->tags, tags);
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
    const std::optional<PostRow> row = AddPostRow(document, nodes.Item(0));
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
    QCOMPARE(int(rows.size()), 2);
    QCOMPARE(rows[0].id, QStringLiteral("1"));
    QCOMPARE(rows[1].id, QStringLiteral("4"));
}

void tst_reader::ParsePostsPage_validPage_givesPostsAndRemovesTempFile()
{
    XMLDocument document;
    XMLNodeList posts;
    FakeIndicator indicator;
    m_dialogs.indicator = &indicator;
    const ParseOutcome outcome =
        ParsePostsPage(document, page(photoPost("a") + photoPost("b") + photoPost("c")), posts, m_dialogs);
    QCOMPARE(outcome, ParseOutcome::Parsed);
    QCOMPARE(posts.Length(), 3);
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(indicator.colorChanges, 0);
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_badInput_asksRetryWithNumberAndPosition_data()
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

void tst_reader::ParsePostsPage_badInput_asksRetryWithNumberAndPosition()
{
    QFETCH(QByteArray, xml);
    XMLDocument document;
    XMLNodeList posts;
    FakeIndicator indicator;
    m_dialogs.indicator = &indicator;
    m_dialogs.answer(false);
    const ParseOutcome outcome = ParsePostsPage(document, xml, posts, m_dialogs);

    QCOMPARE(outcome, ParseOutcome::Stop);
    QCOMPARE(posts.Length(), 0);
    QCOMPARE(indicator.color, IResultIndicator::Red);
    QCOMPARE(m_dialogs.shown.size(), 1);
    const ScriptedRunHost::Shown box = m_dialogs.shown.first();
    QVERIFY(box.retryCancel);
    const QRegularExpression layout(QStringLiteral(
        "^Error parse received XML\\. Try download it again\\?\r\n\r\nNumber:      \\S+\r\nDescription: [^\r\n]*"
        "\r\nLine, Col:   \\d+, \\d+$"));
    QVERIFY2(layout.match(box.text).hasMatch(), qPrintable(box.text));
    QVERIFY(!box.text.contains(QStringLiteral("root:")));
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_retryAnswer_givesRetry()
{
    XMLDocument document;
    XMLNodeList posts;
    FakeIndicator indicator;
    m_dialogs.indicator = &indicator;
    m_dialogs.answer(true);
    QCOMPARE(ParsePostsPage(document, "<tumblr><posts>", posts, m_dialogs), ParseOutcome::Retry);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());

    // The same document object reads the next page normally.
    QCOMPARE(ParsePostsPage(document, page(photoPost("x")), posts, m_dialogs), ParseOutcome::Parsed);
    QCOMPARE(posts.Length(), 1);
}

void tst_reader::ParsePostsPage_externalEntity_isNeverRead()
{
    XMLDocument document;
    XMLNodeList posts;
    FakeIndicator indicator;
    m_dialogs.indicator = &indicator;
    const QByteArray xml = "<?xml version=\"1.0\"?><!DOCTYPE t [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
                           "<tumblr><posts><post type=\"photo\" id=\"1\"><photo-caption>x&xxe;</photo-caption>"
                           "</post></posts></tumblr>";
    const ParseOutcome outcome = ParsePostsPage(document, xml, posts, m_dialogs);
    // Either refused with the question or read without the file's content.
    if (outcome == ParseOutcome::Parsed) {
        for (const PostRow &row : AddPhotoPosts(document, posts))
            QVERIFY(!row.rawCaption.contains(QStringLiteral("root")));
    } else {
        QCOMPARE(m_dialogs.shown.size(), 1);
    }
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

void tst_reader::ParsePostsPage_latin1Declared_isDecodedByDeclaration()
{
    XMLDocument document;
    XMLNodeList posts;
    FakeIndicator indicator;
    m_dialogs.indicator = &indicator;
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><tumblr><posts>"
                           "<post type=\"photo\" id=\"1\"><photo-caption>Caf\xE9</photo-caption></post>"
                           "</posts></tumblr>";
    QCOMPARE(ParsePostsPage(document, xml, posts, m_dialogs), ParseOutcome::Parsed);
    const std::vector<PostRow> rows = AddPhotoPosts(document, posts);
    QCOMPARE(int(rows.size()), 1);
    QCOMPARE(rows[0].caption, QString::fromUtf8("Caf\u00E9"));
    QCOMPARE(xmlFilesIn(m_folders.tempPath()), QStringList());
}

QTEST_MAIN(tst_reader) // turning caption HTML into text needs QGuiApplication
#include "tst_reader.moc"

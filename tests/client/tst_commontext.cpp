#include "TestFolders.h"

#include "client/app/modCommon.h"

#include <QTcpServer>
#include <QTest>

using namespace modCommon;

class TestCommonText final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }

    void stripTagChars_removesOnlyTheSixCharacters_data();
    void stripTagChars_removesOnlyTheSixCharacters();
    void htmlToText_givesInnerText_data();
    void htmlToText_givesInnerText();
    void htmlToText_scriptNeitherRunsNorShows_data();
    void htmlToText_scriptNeitherRunsNorShows();
    void htmlToText_readsNothingFromFilesOrNetwork();
    void htmlToText_thousandsOfNestedTags_giveTheirText_data();
    void htmlToText_thousandsOfNestedTags_giveTheirText();
    void safeCLng_readsDecimalOrGivesZero_data();
    void safeCLng_readsDecimalOrGivesZero();
    void serverMessageText_keepsOneLineAnswersOnly_data();
    void serverMessageText_keepsOneLineAnswersOnly();

private:
    TestFolders m_folders;
};

void TestCommonText::stripTagChars_removesOnlyTheSixCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all six between letters")
        << QStringLiteral("a#b\"c\\d/e|f?" "g") << QStringLiteral("abcdefg");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("none of them") << QStringLiteral("Cats, dogs & birds!") << QStringLiteral("Cats, dogs & birds!");
    QTest::newRow("blanks kept") << QStringLiteral(" # a ") << QStringLiteral("  a ");
    QTest::newRow("repeated") << QStringLiteral("##?" "?//") << QString();
    QTest::newRow("cyrillic and emoji") << QStringLiteral("Кот/\U0001F431?") << QStringLiteral("Кот\U0001F431");
    QTest::newRow("typographic quotes kept") << QStringLiteral("\u201Cq\u201D") << QStringLiteral("\u201Cq\u201D");
}

void TestCommonText::stripTagChars_removesOnlyTheSixCharacters()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(StripTagChars(text), expected);
}

void TestCommonText::htmlToText_givesInnerText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    QTest::newRow("entity and line break") << QStringLiteral("Tom &amp; Jerry<br>next")
                                           << QStringLiteral("Tom & Jerry\r\nnext");
    QTest::newRow("character entities")
        << QStringLiteral("&lt;b&gt; &quot;q&quot; &#x1F600; a&nbsp;b")
        << QStringLiteral("<b> \"q\" \U0001F600 a\u00A0b");
    QTest::newRow("paragraphs") << QStringLiteral("<p>a</p><p>b</p>") << QStringLiteral("a\r\nb");
    QTest::newRow("divs") << QStringLiteral("x<div>y<div>z</div></div>") << QStringLiteral("x\r\ny\r\nz");
    QTest::newRow("two breaks") << QStringLiteral("a<br><br>b") << QStringLiteral("a\r\n\r\nb");
    QTest::newRow("trailing break") << QStringLiteral("a<br/>") << QStringLiteral("a");
    QTest::newRow("inline markup") << QStringLiteral("<b>bold</b> <i>it</i> <a href=\"http://x/\">link</a>")
                                   << QStringLiteral("bold it link");
    QTest::newRow("list") << QStringLiteral("<ul><li>one</li><li>two</li></ul>") << QStringLiteral("one\r\ntwo");
    QTest::newRow("table") << QStringLiteral("<table><tr><td>a</td><td>b</td></tr></table>")
                           << QStringLiteral("a\r\nb");
    QTest::newRow("iframe content") << QStringLiteral("x<iframe src=\"http://127.0.0.1:9/\">inner</iframe>y")
                                    << QStringLiteral("xy");
    QTest::newRow("image leaves nothing") << QStringLiteral("a<img src=\"cat.png\">b") << QStringLiteral("ab");
    QTest::newRow("only an image") << QStringLiteral("<img src=\"cat.png\">") << QString();
    QTest::newRow("style") << QStringLiteral("<style>p { color: red }</style>c") << QStringLiteral("c");
    QTest::newRow("comment") << QStringLiteral("<!-- note -->d") << QStringLiteral("d");
    QTest::newRow("cyrillic and emoji") << QStringLiteral("Зэнора \U0001F600") << QStringLiteral("Зэнора \U0001F600");
    QTest::newRow("plain text collapses blanks") << QStringLiteral("  plain   text\twith  blanks ")
                                                 << QStringLiteral("plain text with blanks");
    QTest::newRow("less-than as text") << QStringLiteral("1 < 2 and I <3 cats") << QStringLiteral("1 < 2 and I <3 cats");
    QTest::newRow("empty") << QString() << QString();
    // Text without markup, entities or runs of blanks comes back as it is.
    QTest::newRow("plain caption") << QStringLiteral("Photo 1001") << QStringLiteral("Photo 1001");
    const QString punctuation = QStringLiteral("!\"#$%'()*+,-./:;=?@[\\]^_`{|}~");
    QTest::newRow("every plain punctuation mark") << punctuation << punctuation;
    QTest::newRow("punctuation between words") << QStringLiteral("It's 100% \"real\" - (a/b) {c} [d] e=f? g@h ~i")
                                               << QStringLiteral("It's 100% \"real\" - (a/b) {c} [d] e=f? g@h ~i");
    QTest::newRow("greater-than alone") << QStringLiteral("a > b") << QStringLiteral("a > b");
}

void TestCommonText::htmlToText_givesInnerText()
{
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(HTMLToText(html), expected);
}

void TestCommonText::htmlToText_scriptNeitherRunsNorShows_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    QTest::newRow("lower case") << QStringLiteral("a<script>document.write('x')</script>b") << QStringLiteral("ab");
    QTest::newRow("upper case") << QStringLiteral("a<SCRIPT type=\"text/javascript\">alert(1)</SCRIPT>b")
                                << QStringLiteral("ab");
    QTest::newRow("mixed case, spaced end") << QStringLiteral("a<ScRiPt>x</sCrIpT >b") << QStringLiteral("ab");
    QTest::newRow("unterminated") << QStringLiteral("a<script>alert(1)") << QStringLiteral("a");
    QTest::newRow("two scripts") << QStringLiteral("<script>1</script>a<script>2</script>b")
                                 << QStringLiteral("ab");
}

void TestCommonText::htmlToText_scriptNeitherRunsNorShows()
{
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QCOMPARE(HTMLToText(html), expected);
}

void TestCommonText::htmlToText_readsNothingFromFilesOrNetwork()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1/x.png").arg(server.serverPort());

    // /dev/zero never ends: reading it would hang the call.
    const QString html = QStringLiteral("a<img src=\"/dev/zero\">b<img src=\"file:///dev/zero\">"
                                        "<img src=\"%1\"><link rel=\"stylesheet\" href=\"%1\">"
                                        "<iframe src=\"%1\"></iframe>c")
                             .arg(address);
    QCOMPARE(HTMLToText(html), QStringLiteral("abc"));
    QTest::qWait(100);
    QVERIFY(!server.hasPendingConnections());
}

void TestCommonText::htmlToText_thousandsOfNestedTags_giveTheirText_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("closed");
    for (const char *tag : {"b", "div", "span", "blockquote", "table", "ul"}) {
        QTest::addRow("%s closed", tag) << QString::fromLatin1(tag) << true;
        QTest::addRow("%s unclosed", tag) << QString::fromLatin1(tag) << false;
    }
}

void TestCommonText::htmlToText_thousandsOfNestedTags_giveTheirText()
{
    QFETCH(QString, tag);
    QFETCH(bool, closed);
    QString html;
    for (int i = 0; i < 5000; ++i)
        html += u'<' + tag + u'>';
    html += QStringLiteral("deep &amp; down");
    if (closed) {
        for (int i = 0; i < 5000; ++i)
            html += QStringLiteral("</") + tag + u'>';
    }
    QCOMPARE(HTMLToText(html), QStringLiteral("deep & down"));
}

void TestCommonText::safeCLng_readsDecimalOrGivesZero_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("twelve") << QStringLiteral("12") << 12;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("letters") << QStringLiteral("abc") << 0;
    QTest::newRow("blanks around") << QStringLiteral(" 7 ") << 7;
    QTest::newRow("negative") << QStringLiteral("-3") << -3;
    QTest::newRow("plus sign") << QStringLiteral("+5") << 5;
    QTest::newRow("largest") << QStringLiteral("2147483647") << 2147483647;
    QTest::newRow("smallest") << QStringLiteral("-2147483648") << int(-2147483647 - 1);
    QTest::newRow("too large") << QStringLiteral("2147483648") << 0;
    QTest::newRow("digits then letters") << QStringLiteral("12ab") << 0;
    QTest::newRow("hexadecimal") << QStringLiteral("0x10") << 0;
    QTest::newRow("fraction") << QStringLiteral("1.5") << 0;
}

void TestCommonText::safeCLng_readsDecimalOrGivesZero()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(SafeCLng(text), expected);
}

void TestCommonText::serverMessageText_keepsOneLineAnswersOnly_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii line") << QByteArray("Invalid credentials.") << QStringLiteral("Invalid credentials.");
    QTest::newRow("utf-8 decoded once") << QByteArray("\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0")
                                        << QStringLiteral("Ошибка");
    QTest::newRow("two lines") << QByteArray("first\r\nsecond") << QString();
    QTest::newRow("trailing lf") << QByteArray("line\n") << QString();
    QTest::newRow("carriage return") << QByteArray("a\rb") << QString();
    QTest::newRow("html page") << QByteArray("<html>\n<body>error</body>\n</html>") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestCommonText::serverMessageText_keepsOneLineAnswersOnly()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QCOMPARE(ServerMessageText(body), expected);
}

QTEST_MAIN(TestCommonText)
#include "tst_commontext.moc"

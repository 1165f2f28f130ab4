// The tag rules, written once for both interfaces: the tag a caption gives,
// which posts are listed, which can't be fixed, and the tags text of a write.
#include <QtTest>

#include "client/posts/TagRules.h"

namespace {
PostRow post(const QString &caption, const QStringList &tags)
{
    PostRow row;
    row.id = QStringLiteral("1");
    row.caption = caption;
    row.rawCaption = caption;
    row.tags = tags;
    return row;
}

TagRules rulesNamed(const QString &name) { return name == QLatin1String("current") ? TagRules::current() : TagRules::designed(); }
}

class tst_tagrules final : public QObject
{
    Q_OBJECT

private slots:
    void captionTag_underEachInterfacesRules_data();
    void captionTag_underEachInterfacesRules();
    void needsFix_leavesOutTaggedAndCaptionless_data();
    void needsFix_leavesOutTaggedAndCaptionless();
    void cantFixReason_onlyWhereTheServiceSetsLimits_data();
    void cantFixReason_onlyWhereTheServiceSetsLimits();
    void writeText_quotesOnlyTheAddedTags_data();
    void writeText_quotesOnlyTheAddedTags();
};

void tst_tagrules::captionTag_underEachInterfacesRules_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tag");
    QTest::newRow("designed: six characters out") << "designed" << "Sunset? at #Beach" << "Sunset at Beach";
    QTest::newRow("designed: commas kept, not trimmed") << "designed" << " Hello, world " << " Hello, world ";
    QTest::newRow("designed: marks only give an empty tag") << "designed" << "#?/" << "";
    QTest::newRow("designed: control characters out") << "designed" << QString::fromUtf8("Bell\x07 end") << "Bell end";
    QTest::newRow("current: commas out, trimmed") << "current" << " Hello, world " << "Hello world";
    QTest::newRow("current: control characters kept")
        << "current" << QString::fromUtf8("Bell\x07 end") << QString::fromUtf8("Bell\x07 end");
}

void tst_tagrules::captionTag_underEachInterfacesRules()
{
    QFETCH(QString, rules);
    QFETCH(QString, caption);
    QFETCH(QString, tag);
    QCOMPARE(TagRule::captionTag(caption, rulesNamed(rules)), tag);
}

void tst_tagrules::needsFix_leavesOutTaggedAndCaptionless_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<bool>("listed");
    QTest::newRow("untagged") << "designed" << "Sunset" << QStringList{"cat"} << true;
    QTest::newRow("no caption") << "designed" << "" << QStringList() << false;
    QTest::newRow("caption among the tags, other case") << "designed" << "Big Cat" << QStringList{"x", "BIG CAT"} << false;
    QTest::newRow("designed: the comma form is another tag") << "designed" << "Hello, world" << QStringList{"Hello world"}
                                                             << true;
    QTest::newRow("current: as this interface writes it") << "current" << "Hello, world" << QStringList{"Hello world"}
                                                          << false;
}

void tst_tagrules::needsFix_leavesOutTaggedAndCaptionless()
{
    QFETCH(QString, rules);
    QFETCH(QString, caption);
    QFETCH(QStringList, tags);
    QFETCH(bool, listed);
    QCOMPARE(TagRule::needsFix(post(caption, tags), rulesNamed(rules)), listed);
}

void tst_tagrules::cantFixReason_onlyWhereTheServiceSetsLimits_data()
{
    QTest::addColumn<QString>("rules");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("tagCount");
    QTest::addColumn<QString>("reason"); // the start of it; empty: can be fixed
    QTest::newRow("designed: no limits") << "designed" << QString(200, u'x') << 40 << "";
    QTest::newRow("designed: an empty tag is still sent") << "designed" << "#?" << 0 << "";
    QTest::newRow("current: fine") << "current" << "Sunset" << 29 << "";
    QTest::newRow("current: no text for a tag") << "current" << "#, ?" << 0 << "Not written: its caption leaves no text";
    QTest::newRow("current: thirty tags already") << "current" << "Sunset" << 30 << "Not written: the post already has 30";
    QTest::newRow("current: 140 characters") << "current" << QString(140, u'x') << 0 << "";
    QTest::newRow("current: 141 characters") << "current" << QString(141, u'x') << 0
                                           << "Not written: its caption tag would be longer than 140";
}

void tst_tagrules::cantFixReason_onlyWhereTheServiceSetsLimits()
{
    QFETCH(QString, rules);
    QFETCH(QString, caption);
    QFETCH(int, tagCount);
    QFETCH(QString, reason);
    QStringList tags;
    for (int i = 0; i < tagCount; ++i)
        tags << QStringLiteral("tag%1").arg(i);
    const QString why = TagRule::cantFixReason(post(caption, tags), rulesNamed(rules));
    if (reason.isEmpty())
        QCOMPARE(why, QString());
    else
        QVERIFY2(why.startsWith(reason), qPrintable(why));
}

void tst_tagrules::writeText_quotesOnlyTheAddedTags_data()
{
    QTest::addColumn<QStringList>("postTags");
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QString>("text");
    QTest::newRow("caption tag added") << QStringList{"cat"} << QStringList{"cat", "Sunset at Beach"}
                                       << "cat, \"Sunset at Beach\"";
    QTest::newRow("post without tags") << QStringList() << QStringList{"Sunset"} << "\"Sunset\"";
    QTest::newRow("added tag with a comma") << QStringList{"a, b"} << QStringList{"a, b", "x, y"} << "\"a, b\", \"x, y\"";
    QTest::newRow("empty caption tag") << QStringList{"cat"} << QStringList{"cat", ""} << "cat, \"\"";
    QTest::newRow("put back as they were") << QStringList{"cat", "a, b"} << QStringList{"cat", "a, b"} << "cat, \"a, b\"";
    QTest::newRow("other tags than the post's") << QStringList{"cat"} << QStringList{"dog"} << "dog";
}

void tst_tagrules::writeText_quotesOnlyTheAddedTags()
{
    QFETCH(QStringList, postTags);
    QFETCH(QStringList, tags);
    QFETCH(QString, text);
    QCOMPARE(TagRule::WriteText(postTags, tags), text);
    // What the service reads back from it.
    QStringList expected;
    for (const QString &tag : tags) {
        if (!tag.isEmpty())
            expected << tag;
    }
    QCOMPARE(TagRule::TagList(text), expected);
}

QTEST_APPLESS_MAIN(tst_tagrules)
#include "tst_tagrules.moc"

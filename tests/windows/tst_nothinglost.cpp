// A write replaces the whole post on the service, so any byte the program
// gets wrong on the way down and back up is lost. These tests download a blog
// of awkward posts through the posts window, fix them all, and compare the
// service's posts with a copy taken before.
//
// What the service's tags field cannot carry is left out of the data: a tag
// holding both a comma and a double quote, a tag that starts with a double
// quote, empty tags, and tags with blanks at either end (the service trims).
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <map>

#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/posts/PostsListView.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/frmUndoRuns.h"
#include "windows/posts/ucPostsFixer.h"
#include "client/posts/PostsModel.h"

using namespace PostsWindowDriver;

namespace {
const QString Blog = QStringLiteral("realblog");
const QString EMail = QStringLiteral("writer@example.com");
const QString Password = QStringLiteral("pa$$ w0rd&=?");

enum class Kind {
    ToFix,        // listed, written once with one more tag
    NoCaption,    // no caption element: not listed
    EmptyCaption, // empty caption: not listed
    Tagged,       // already carries its caption as a tag: not listed
    EmptyShown,   // listed, but its first line shows nothing: dropped without a write
};

struct Seed {
    QString caption;
    Kind kind = Kind::ToFix;
};

QString longCaption()
{
    QString text = QStringLiteral("<p>A very long story &amp; more</p>\r\n");
    const QString para = QStringLiteral("<p>Строка — line «%1» with emoji 🦊 and a comma, and \"quotes\".</p>\n");
    for (int i = 0; text.size() < 20 * 1024; ++i)
        text += para.arg(i);
    return text;
}

// Captions as real blogs hold them.
QList<Seed> captionSeeds()
{
    return {
        {QStringLiteral("<p>Sunset &amp; sea &lt;3 &quot;quoted&quot; &#8212; caf&eacute; &#x1F305;</p>")},
        {QStringLiteral("Кошка на окне, зима 2024")},
        {QStringLiteral("🐈‍⬛ Night cat 🌙 𝔉𝔞𝔫𝔠𝔶 𝒯𝑒𝓍𝓉")},
        {QStringLiteral("שלום עולם \u200F مرحبا بالعالم")},
        {QStringLiteral("“Typographic” ‘quotes’ … and — dashes")},
        {QStringLiteral("Apples, pears, and plums")},
        {QStringLiteral("He said \"hi\" and left")},
        {QStringLiteral("What? #sunset / path \\ back | pipe")},
        {QStringLiteral("#\"\\/|?")},
        {QStringLiteral("First line\r\nSecond line\r\nThird line")},
        {QStringLiteral("Unix first\nunix second\n")},
        {QStringLiteral("<p>Para one</p>\r\n<p>Para two</p>\n<p>Para three</p>")},
        {QStringLiteral("<b>Bold</b> <i>it</i> <a href=\"http://x.test/?a=1&amp;b=2\">link</a>")},
        {QStringLiteral("&nbsp;Spaced&nbsp;out&nbsp; words")},
        {QStringLiteral("Tab\there and  two  blanks")},
        {QStringLiteral("<p>Emoji only line 😀😃😄</p><p>second para</p>")},
        {QStringLiteral("Math 2 < 3 & 5 > 4")},
        {QStringLiteral("Ελληνικά και Ქართული და 日本語のキャプション")},
        {longCaption()},
        {QStringLiteral("<p></p>\nOnly the second line has words"), Kind::EmptyShown},
        {QStringLiteral("<img src=\"/a.jpg\">\r\nAfter an image"), Kind::EmptyShown},
        {QString(), Kind::EmptyCaption},
        {QString(), Kind::NoCaption},
        {QStringLiteral("Already tagged"), Kind::Tagged},
    };
}

// Tag lists of real blogs (no empty tag, no blanks at the ends, no tag with
// both a comma and a double quote, none starting with a double quote).
QList<QStringList> tagSeeds()
{
    return {
        {},
        {QStringLiteral("cat")},
        {QStringLiteral("кошка"), QStringLiteral("🐈")},
        {QStringLiteral("big, fluffy")},
        {QStringLiteral("say \"hi\"")},
        {QStringLiteral("a"), QStringLiteral("b, c"), QStringLiteral("d")},
        {QStringLiteral("RTL שלום")},
        {QStringLiteral("#hashtag"), QStringLiteral("tag/with/slash"), QStringLiteral("back\\slash")},
        {QStringLiteral("“curly”"), QStringLiteral("it’s"), QStringLiteral("…")},
        {QStringLiteral("one, two, three"), QStringLiteral("x")},
    };
}

const QStringList Formats = {QStringLiteral("html"), QStringLiteral("markdown"), QString()};
const QStringList Slugs = {QStringLiteral("sunset-sea"), QString(), QStringLiteral("кошка-на-окне"),
                           QStringLiteral("a_b.c~d")};
const QStringList LinkUrls = {QString(), QStringLiteral("http://example.com/café/ñandú?x=1&y=ü#frag"),
                              QStringLiteral("https://example.org/a%20b/c+d?q=x%26y&r=\"z\""),
                              QStringLiteral("http://пример.рф/путь")};

sim::Account awkwardAccount(int count, std::map<QString, Kind> &kinds)
{
    const QList<Seed> captions = captionSeeds();
    const QList<QStringList> tags = tagSeeds();
    std::vector<sim::Post> posts;
    for (int i = 0; i < count; ++i) {
        const Seed &seed = captions.at(i % captions.size());
        sim::Post post = SimFixture::photoPost(QString::number(50000 + i), seed.caption,
                                               tags.at((i / captions.size() + i) % tags.size()));
        post.hasCaption = seed.kind != Kind::NoCaption;
        if (seed.kind == Kind::Tagged) {
            post.caption = QStringLiteral("Already tagged #%1?").arg(i);
            post.tags.append(QStringLiteral("ALREADY TAGGED %1").arg(i));
        }
        post.format = Formats.at(i % Formats.size());
        post.slug = Slugs.at(i % Slugs.size());
        post.linkUrl = LinkUrls.at(i % LinkUrls.size());
        post.date = QStringLiteral("2025-%1-%2 %3:%4:05 GMT")
                        .arg(1 + i % 12, 2, 10, QLatin1Char('0'))
                        .arg(1 + i % 28, 2, 10, QLatin1Char('0'))
                        .arg(i % 24, 2, 10, QLatin1Char('0'))
                        .arg(i % 60, 2, 10, QLatin1Char('0'));
        kinds[post.id] = seed.kind;
        posts.push_back(std::move(post));
    }
    sim::Account account;
    account.email = EMail;
    account.password = Password;
    account.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("A real blog"), std::move(posts)));
    return account;
}

// The tag the service ends up with: the shown caption less the six
// characters, trimmed the way the service trims; nothing when that is empty.
QStringList expectedTags(const QStringList &before, const QString &shownCaption)
{
    QString tag;
    for (const QChar c : shownCaption) {
        if (!QStringLiteral("#\"\\/|?").contains(c))
            tag += c;
    }
    tag = tag.trimmed();
    return tag.isEmpty() ? before : before + QStringList{tag};
}

struct Snapshot {
    std::map<QString, sim::Post> posts; // by id, before anything was written
    std::map<QString, QString> shown;   // display caption of every listed post
    QStringList listed;                 // ids in list order
};

void compareUntouchedFields(const sim::Post &now, const sim::Post &before)
{
    QCOMPARE(now.id, before.id);
    QCOMPARE(now.type, before.type);
    QCOMPARE(now.caption, before.caption);
    QCOMPARE(now.hasCaption, before.hasCaption);
    QCOMPARE(now.format, before.format);
    QCOMPARE(now.slug, before.slug);
    QCOMPARE(now.linkUrl, before.linkUrl);
    QCOMPARE(now.date, before.date);
    QCOMPARE(now.url, before.url);
    QCOMPARE(now.photoUrl, before.photoUrl);
}
}

class TestNothingLost final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Settings and temporary files of our own: other test programs may write a proxy into theirs meanwhile.
        QVERIFY(m_folders.isValid());
        setDialogs(&m_dialogs);
    }
    void init()
    {
        m_dialogs.clear();
        m_dialogs.onShow = nullptr;
        m_kinds.clear();
    }
    void cleanupTestCase()
    {
        setDialogs(nullptr);
        sharedTestService().useServiceHost({});
    }

    void fixAll_everyFieldKept_tagsGainOneTag()
    {
        SimFixture sim(awkwardAccount(312, m_kinds));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const Snapshot before = snapshot(sim, *window);
        checkListedKinds(before);

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QVERIFY2(m_dialogs.shown.isEmpty(), qPrintable(m_dialogs.texts().join(QStringLiteral("\n--\n"))));
        QCOMPARE(window->posts().count(), 0);
        verifyWrittenOnce(sim, before, before.listed);
    }

    void fixAll_thenUndone_everyFieldAsBefore_changedPostNamed()
    {
        SimFixture sim(awkwardAccount(140, m_kinds));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const Snapshot before = snapshot(sim, *window);
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        QCOMPARE(window->posts().count(), 0);
        std::map<QString, sim::Post> fixed;
        for (const sim::Post &post : sim.blog(Blog).posts)
            fixed[post.id] = post;
        // One post gets a tag by hand after the run: the undo keeps it and names it.
        const QString touched = before.listed.at(3);
        sim.post(touched).tags.append(QStringLiteral("added by hand"));

        undo(*window, 0);

        QCOMPARE(m_dialogs.shown.size(), 1);
        const QString summary = m_dialogs.shown.first().text;
        QVERIFY2(summary.contains(QStringLiteral("1 posts were changed since the run and were left as they are"))
                     && summary.contains(QStringLiteral("(post ") + touched + QLatin1Char(')')),
                 qPrintable(summary));
        for (const sim::Post &post : sim.blog(Blog).posts) {
            const sim::Post &old = before.posts.at(post.id);
            compareUntouchedFields(post, old);
            if (post.id == touched)
                QCOMPARE(post.tags, fixed.at(post.id).tags + QStringList{QStringLiteral("added by hand")});
            else
                QCOMPARE(post.tags, old.tags);
        }

        // Undoing the undo brings the fixed state back.
        m_dialogs.clear();
        undo(*window, 0);
        QCOMPARE(m_dialogs.shown.size(), 1);
        for (const sim::Post &post : sim.blog(Blog).posts) {
            compareUntouchedFields(post, before.posts.at(post.id));
            if (post.id != touched)
                QCOMPARE(post.tags, fixed.at(post.id).tags);
        }
    }

    void stoppedHalfWay_unsentRowsStay_sentWrittenOnce()
    {
        SimFixture sim(awkwardAccount(120, m_kinds));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const Snapshot before = snapshot(sim, *window);
        const int stallAt = 40; // the 40th write never gets an answer
        sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), stallAt - 1);
        sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Stall), 1);
        int writes = 0;
        connect(&sim.server(), &sim::Server::requestLogged, window.get(), [&](const sim::Request &request) {
            if (request.path == QLatin1String("/api/write") && ++writes == stallAt)
                QTimer::singleShot(100, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
        });

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QVERIFY(m_dialogs.shown.isEmpty());
        QVERIFY(window->isVisible());
        checkHalfWay(sim, *window, before, stallAt);

        // A second run picks up where the first stopped.
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        QCOMPARE(window->posts().count(), 0);
        verifyWrittenOnce(sim, before, before.listed);
    }

    void refusedHalfWay_cancelled_unsentRowsStay_sentWrittenOnce()
    {
        SimFixture sim(awkwardAccount(120, m_kinds));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const Snapshot before = snapshot(sim, *window);
        const int refusedAt = 25;
        sim::Fault refused = SimFixture::fault(sim::Fault::Status);
        refused.status = 400;
        refused.body = "Slow down.";
        sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), refusedAt - 1);
        sim.server().injectFault(sim::Endpoint::Write, refused, 1);
        m_dialogs.answer(DialogServices::Cancel);

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QCOMPARE(m_dialogs.shown.size(), 1);
        checkHalfWay(sim, *window, before, refusedAt);

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        QCOMPARE(window->posts().count(), 0);
        verifyWrittenOnce(sim, before, before.listed);
    }

    void refusedThenRetried_writtenOnce()
    {
        SimFixture sim(awkwardAccount(60, m_kinds));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const Snapshot before = snapshot(sim, *window);
        sim::Fault refused = SimFixture::fault(sim::Fault::Status);
        refused.status = 500;
        refused.body = "Busy.";
        sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), 9);
        sim.server().injectFault(sim::Endpoint::Write, refused, 2);
        m_dialogs.answer(DialogServices::Retry);
        m_dialogs.answer(DialogServices::Retry);

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QCOMPARE(m_dialogs.shown.size(), 2);
        QCOMPARE(window->posts().count(), 0);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("2"));
        verifyWrittenOnce(sim, before, before.listed);
    }

private:
    // Ctrl+Z in the window, then "Undo" on the chooser's row.
    void undo(frmPostsList &window, int row)
    {
        auto opened = std::make_shared<bool>(false);
        whenModal<frmUndoRuns>([opened, row](frmUndoRuns *dialog) {
            *opened = true;
            auto *runs = dialog->findChild<QTreeWidget *>(QStringLiteral("tvRuns"));
            runs->setCurrentItem(runs->topLevelItem(row));
            QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdUndo")), Qt::LeftButton);
        });
        QTest::keyClick(list(window), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(*opened);
    }

    Snapshot snapshot(SimFixture &sim, frmPostsList &window)
    {
        Snapshot shot;
        for (const sim::Post &post : sim.blog(Blog).posts)
            shot.posts[post.id] = post;
        for (int row = 0; row < window.posts().count(); ++row) {
            const PostRow &listed = window.posts().at(row);
            shot.shown[listed.id] = listed.caption;
            shot.listed << listed.id;
        }
        return shot;
    }

    // Every post is listed or not as its kind says, in the service's order.
    void checkListedKinds(const Snapshot &before)
    {
        QStringList expected;
        for (const auto &[id, post] : before.posts) {
            const Kind kind = m_kinds.at(id);
            if (kind == Kind::ToFix || kind == Kind::EmptyShown)
                expected << id;
        }
        QStringList listedSorted = before.listed;
        listedSorted.sort();
        QCOMPARE(listedSorted, expected);
        QVERIFY(before.listed.size() > 200);
        for (const auto &[id, shown] : before.shown)
            QCOMPARE(shown.isEmpty(), m_kinds.at(id) == Kind::EmptyShown);
    }

    // Posts in `fixedIds` were sent (or dropped unsent when they showed no
    // caption); every other post is exactly as before.
    void verifyWrittenOnce(SimFixture &sim, const Snapshot &before, const QStringList &fixedIds)
    {
        int written = 0;
        for (const sim::Post &post : sim.blog(Blog).posts) {
            const sim::Post &old = before.posts.at(post.id);
            compareUntouchedFields(post, old);
            const bool sent = fixedIds.contains(post.id) && m_kinds.at(post.id) == Kind::ToFix;
            if (!sent) {
                QVERIFY2(post.writeCount == 0, qPrintable(post.id));
                QCOMPARE(post.tags, old.tags);
                continue;
            }
            ++written;
            QVERIFY2(post.writeCount == 1, qPrintable(post.id));
            QCOMPARE(post.tags, expectedTags(old.tags, before.shown.at(post.id)));
            QCOMPARE(post.generator, QStringLiteral("Zelvat - Velloria 1.00.0036"));
        }
        QVERIFY(written > 0);
    }

    // The run ended at the `failedAt`-th write: the rows before it are gone and
    // written once, that row and all after it are listed as before, unwritten.
    void checkHalfWay(SimFixture &sim, frmPostsList &window, const Snapshot &before, int failedAt)
    {
        QStringList sent;
        int writes = 0;
        int firstUnsent = 0;
        for (; firstUnsent < before.listed.size(); ++firstUnsent) {
            const QString &id = before.listed.at(firstUnsent);
            if (m_kinds.at(id) == Kind::ToFix && ++writes == failedAt)
                break;
            sent << id;
        }
        QCOMPARE(listedIds(window), before.listed.mid(firstUnsent));
        for (int row = 0; row < window.posts().count(); ++row)
            QCOMPARE(window.posts().at(row).caption, before.shown.at(window.posts().at(row).id));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblResult"))->palette().color(QPalette::Window),
                 QColor(255, 0, 0));
        verifyWrittenOnce(sim, before, sent);
    }

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::map<QString, Kind> m_kinds;
};

QTEST_MAIN(TestNothingLost)
#include "tst_nothinglost.moc"

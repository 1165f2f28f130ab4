// Posts added since the last finished fix run: a download that stops at the
// first post not newer than a time, the journal's record of how a run ended,
// the posts a download leaves out and why, and the post dates they rest on.
#include <QDir>
#include <QtTest>

#include "CurrentSimFixture.h"
#include "QuietObserver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/posts/PostDate.h"
#include "client/posts/PostsModel.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/FixRun.h"
#include "client/runs/RunJournal.h"
#include "client/runs/RunObserver.h"

namespace {

const QString Blog = QStringLiteral("newblog");

class Observer final : public QuietObserver
{
public:
    bool stopRequested() const override { return stop; }
    void finished(const RunReport &finishedReport) override { report = finishedReport; }
    void postLeftOut(const PostRow &post, const QString &reason) override { leftOut << post.id + u' ' + reason; }

    bool stop = false;
    RunReport report;
    QStringList leftOut;
};

QString dateText(const QDateTime &time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'")); }

const QDateTime Newest(QDate(2026, 11, 30), QTime(12, 0), QTimeZone::utc());

// `count` posts to fix a minute apart, then one tagged and one without a caption.
sim::Account account(int count)
{
    std::vector<sim::Post> posts;
    for (int i = 0; i < count; ++i) {
        sim::Post post = SimFixture::photoPost(QString::number(5001 + i), QStringLiteral("Photo %1").arg(i + 1));
        post.date = dateText(Newest.addSecs(-60 * i));
        posts.push_back(post);
    }
    sim::Post tagged = SimFixture::photoPost(QStringLiteral("6001"), QStringLiteral("Tagged"), {QStringLiteral("tagged")});
    tagged.date = dateText(Newest.addSecs(-60 * count));
    posts.push_back(tagged);
    sim::Post bare = SimFixture::photoPost(QStringLiteral("6002"), QString());
    bare.date = dateText(Newest.addSecs(-60 * (count + 1)));
    posts.push_back(bare);
    sim::Account result;
    result.email = QStringLiteral("user@example.com");
    result.password = QStringLiteral("secret");
    result.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("New blog"), std::move(posts)));
    return result;
}

Account designedAccount(SimFixture &sim) { return {sim.blogHost(Blog), QStringLiteral("user@example.com"), QStringLiteral("secret")}; }

// Every page, stopping at the first post not newer than that.
DownloadSettingsData pagesNewerThan(const QDateTime &newerThan)
{
    DownloadSettingsData settings = allPages();
    settings.NewerThan = newerThan;
    return settings;
}
}

class tst_newposts final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void postDate_parse_data();
    void postDate_parse();
    void download_newerThan_stopsAtTheFirstPostNotNewer();
    void download_newerThan_current_oneReadWhenLittleIsNew();
    void download_postsLeftOut_toldWithTheReason();
    void journal_finishedRun_endRecordedAndRead();
    void journal_stoppedRun_endsStopped();
    void journal_runWithoutWrites_leavesNoTrace();

private:
    TestFolders m_folders;
};

void tst_newposts::initTestCase()
{
    QVERIFY(m_folders.isValid());
    sharedTestService().service().setWritesPerMinute(0);
}

void tst_newposts::postDate_parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("time");
    const QDateTime noon(QDate(2026, 11, 30), QTime(18, 4, 5), QTimeZone::utc());
    QTest::newRow("both interfaces") << QStringLiteral("2026-11-30 18:04:05 GMT") << noon;
    QTest::newRow("without zone") << QStringLiteral("2026-11-30 18:04:05") << noon;
    QTest::newRow("UTC") << QStringLiteral("2026-11-30 18:04:05 UTC") << noon;
    QTest::newRow("ISO") << QStringLiteral("2026-11-30T20:04:05+02:00") << noon;
    QTest::newRow("e-mail date") << QStringLiteral("Mon, 30 Nov 2026 18:04:05 +0000") << noon;
    QTest::newRow("nothing") << QString() << QDateTime();
    QTest::newRow("not a date") << QStringLiteral("yesterday") << QDateTime();
    QTest::newRow("no such day") << QStringLiteral("2026-02-30 10:00:00 GMT") << QDateTime();
}

void tst_newposts::postDate_parse()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, time);
    QCOMPARE(PostDate::parse(text), time);
}

void tst_newposts::download_newerThan_stopsAtTheFirstPostNotNewer()
{
    SimFixture sim(account(120));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    Observer observer;
    // Posts 1 to 3 are newer than post 4.
    QVERIFY(DownloadRun(sharedTestService().service(), rows, observer)
                .run(designedAccount(sim), pagesNewerThan(Newest.addSecs(-60 * 3))));
    QCOMPARE(rows.count(), 3);
    QCOMPARE(rows.at(2).id, QStringLiteral("5003"));
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 1);
    QCOMPARE(observer.report.outcome, RunReport::Done);

    // None newer: one read, nothing listed.
    sim.server().clearLog();
    PostsModel none;
    QVERIFY(DownloadRun(sharedTestService().service(), none, observer).run(designedAccount(sim), pagesNewerThan(Newest)));
    QCOMPARE(none.count(), 0);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 1);

    // Without a time every page is read.
    sim.server().clearLog();
    PostsModel all;
    QVERIFY(DownloadRun(sharedTestService().service(), all, observer).run(designedAccount(sim), allPages()));
    QCOMPARE(all.count(), 120);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 3);
}

void tst_newposts::download_newerThan_current_oneReadWhenLittleIsNew()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 70), m_folders.path());
    QString why;
    QVERIFY2(sim.signIn(&why), qPrintable(why));
    const QDateTime second = PostDate::parse(sim.sim().blog(Blog)->posts.at(1).date);
    QVERIFY(second.isValid());
    sim.sim().clearLog();
    PostsModel rows;
    Observer observer;
    QVERIFY(DownloadRun(sim.service(), rows, observer).run(sim.account(Blog), pagesNewerThan(second)));
    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.at(0).id, QStringLiteral("1001"));
    // One read of 20 posts, not the three of a page of 50 nor the four of the whole blog.
    QCOMPARE(sim.sim().log(cursim::Endpoint::Posts).size(), 1);
}

void tst_newposts::download_postsLeftOut_toldWithTheReason()
{
    SimFixture sim(account(2));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    Observer observer;
    QVERIFY(DownloadRun(sharedTestService().service(), rows, observer).run(designedAccount(sim), allPages()));
    QCOMPARE(rows.count(), 2);
    QCOMPARE(observer.leftOut, (QStringList{QStringLiteral("6001 Not listed: it carries its caption as a tag already."),
                                            QStringLiteral("6002 Not listed: it has no caption.")}));
}

void tst_newposts::journal_finishedRun_endRecordedAndRead()
{
    SimFixture sim(account(3));
    sharedTestService().useSimulator(sim);
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("journal-done"));
    PostsModel rows;
    Observer observer;
    QVERIFY(DownloadRun(sharedTestService().service(), rows, observer).run(designedAccount(sim), allPages()));
    QVERIFY(FixRun(sharedTestService().service(), rows, observer, folder).fix(designedAccount(sim)));

    const JournalContents contents = RunJournal::Read(RunJournal::filePath(folder, sim.blogHost(Blog)), sim.blogHost(Blog));
    QVERIFY2(contents.problem().isEmpty(), qPrintable(contents.problem())); // the end record is one of ours
    QCOMPARE(contents.runs.size(), size_t(1));
    QCOMPARE(contents.runs.front().ended, QLatin1String(RunJournal::Done));
    QCOMPARE(contents.runs.front().written(), 3);
    QCOMPARE(contents.runs.front().newestPost(), Newest);
}

void tst_newposts::journal_stoppedRun_endsStopped()
{
    SimFixture sim(account(3));
    sharedTestService().useSimulator(sim);
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("journal-stopped"));
    PostsModel rows;
    Observer observer;
    QVERIFY(DownloadRun(sharedTestService().service(), rows, observer).run(designedAccount(sim), allPages()));
    class StopAfterOne final : public RunObserver
    {
    public:
        // As Esc after the first row: the next request gives way.
        void BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &cancel) override { cancel = written > 0; }
        void BlockSent(const QByteArray &, qint64, qint64, bool &cancel) override { cancel = written > 0; }
        void stepSucceeded() override {}
        void progress(long) override {}
        void rowsAdded(int) override {}
        void rowWritten(int) override { ++written; }
        bool askRetry(const RunProblem &) override { return false; }
        bool stopRequested() const override { return written > 0; }
        void finished(const RunReport &) override {}
        int written = 0;
    } stopping;
    QVERIFY(!FixRun(sharedTestService().service(), rows, stopping, folder).fix(designedAccount(sim)));
    const JournalContents contents = RunJournal::Read(RunJournal::filePath(folder, sim.blogHost(Blog)), sim.blogHost(Blog));
    QCOMPARE(contents.runs.size(), size_t(1));
    QCOMPARE(contents.runs.front().ended, QLatin1String(RunJournal::Stopped));
    QCOMPARE(contents.runs.front().written(), 1);
}

void tst_newposts::journal_runWithoutWrites_leavesNoTrace()
{
    SimFixture sim(account(1));
    sharedTestService().useSimulator(sim);
    const QString folder = QDir(m_folders.path()).filePath(QStringLiteral("journal-empty"));
    PostsModel rows;
    Observer observer;
    QVERIFY(FixRun(sharedTestService().service(), rows, observer, folder).fix(designedAccount(sim)));
    const QString path = RunJournal::filePath(folder, sim.blogHost(Blog));
    QCOMPARE(QFileInfo(path).size(), 0);
    QVERIFY(RunJournal::Read(path).runs.empty());
}

QTEST_MAIN(tst_newposts)
#include "tst_newposts.moc"

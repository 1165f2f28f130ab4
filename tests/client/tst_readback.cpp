// The current interface's writes, proved in each post's own form: what a
// careless service loses is caught at the first post, the reads are shared
// by the posts of the list, and the service's budget is kept without one
// refusal.
#include "CurrentSimFixture.h"
#include "QuietObserver.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "client/net/BackOff.h"
#include "client/posts/PostsModel.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/FixRun.h"
#include "client/runs/RunEstimate.h"
#include "client/runs/RunJournal.h"
#include "client/runs/RunObserver.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSettings>
#include <QTimeZone>
#include <QtTest>

#include <functional>

namespace {

class Observer final : public QuietObserver
{
public:
    void BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &cancel) override { cancel = stop; }
    void BlockSent(const QByteArray &, qint64, qint64, bool &cancel) override { cancel = stop; }
    void WaitStarted(int seconds) override
    {
        waits << seconds;
        if (onWait)
            onWait();
    }
    void BudgetWaitStarted(int seconds, bool day) override { budgetWaits << qMakePair(seconds, day); }
    void Waiting(int, bool &cancel) override { cancel = stop; }
    bool askRetry(const RunProblem &problem) override
    {
        asked << problem;
        return false;
    }
    bool firstWriteChecked(const WriteCheck &check) override
    {
        checks << check;
        return goOnAfterFirst;
    }
    bool stopRequested() const override { return stop; }
    void finished(const RunReport &finished) override { report = finished; }

    QList<int> waits;
    QList<QPair<int, bool>> budgetWaits;
    QList<RunProblem> asked;
    QList<WriteCheck> checks;
    std::function<void()> onWait;
    bool goOnAfterFirst = true;
    bool stop = false;
    RunReport report;
};

constexpr qint64 Newest = 1706724245; // 2024-01-31 18:04:05 GMT

cursim::Post dated(cursim::Post post, int minutesOlder)
{
    post.timestamp = Newest - qint64(minutesOlder) * 60;
    post.date = QDateTime::fromSecsSinceEpoch(post.timestamp, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        + QStringLiteral(" GMT");
    return post;
}

cursim::Post legacy(int n)
{
    cursim::Post post = cursim::Server::legacyPost(QString::number(1000 + n), QStringLiteral("<p>Legacy <b>%1</b></p>").arg(n),
                                                   {QStringLiteral("tag %1").arg(n)});
    post.linkUrl = QStringLiteral("https://example.com/click/%1").arg(n);
    post.state = QStringLiteral("private");
    return dated(post, n);
}

cursim::Post editor(int n)
{
    cursim::Post post = cursim::Server::blocksPost(QString::number(1000 + n), {QStringLiteral("Editor %1").arg(n)},
                                                   {QStringLiteral("tag %1").arg(n)});
    post.altText = QStringLiteral("A cat, %1").arg(n);
    post.canBeTipped = true;
    post.interactability = QStringLiteral("noone");
    post.layout = *cursim::Json::parse(R"([{"type":"rows","display":[{"blocks":[0]},{"blocks":[1]}]}])");
    post.extraFields.append({QStringLiteral("some_future_field"), *cursim::Json::parse(R"({"a":[1,2.50]})")});
    return dated(post, n);
}

// A blog of `count` posts, newest first; `isEditor(n)` says which the new editor made.
cursim::User blogOf(int count, const std::function<bool(int)> &isEditor)
{
    cursim::User user;
    cursim::Blog blog;
    blog.name = QStringLiteral("cats");
    blog.title = QStringLiteral("Cats");
    blog.primary = true;
    for (int n = 1; n <= count; ++n)
        blog.posts.push_back(isEditor(n) ? editor(n) : legacy(n));
    user.blogs.push_back(std::move(blog));
    return user;
}

struct Calls {
    int legacyCalls = 0, editorCalls = 0, other = 0;
};

// The calls of a run, each put down to the kind of post it served: the
// legacy route and the list read without npf serve legacy posts; the
// update, a post read alone in the new format and the list read in it, the
// new editor's posts.
Calls callsByKind(const QList<cursim::Request> &log)
{
    Calls calls;
    for (const cursim::Request &request : log) {
        if (request.path.endsWith(QLatin1String("/post/edit")))
            ++calls.legacyCalls;
        else if (request.method == QLatin1String("PUT"))
            ++calls.editorCalls;
        else if (request.path.endsWith(QLatin1String("/posts/photo")))
            ++(request.queryValue(QStringLiteral("npf")) == QLatin1String("true") ? calls.editorCalls : calls.legacyCalls);
        else if (request.path.contains(QLatin1String("/posts/")))
            ++(request.queryValue(QStringLiteral("post_format")) == QLatin1String("legacy") ? calls.legacyCalls
                                                                                            : calls.editorCalls);
        else if (request.path.startsWith(QLatin1String("/v2/")))
            ++calls.other;
    }
    return calls;
}

} // namespace

class tst_readback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void legacyRouteLosesAMember_runStopsAtTheFirstPost_namingIt_data();
    void legacyRouteLosesAMember_runStopsAtTheFirstPost_namingIt();
    void editorRouteLosesAMember_runStopsAtTheFirstPost_namingIt_data();
    void editorRouteLosesAMember_runStopsAtTheFirstPost_namingIt();
    void laterPostChangedOnTheWeb_caughtByTheSharedReadBack_runStops();
    void callsPerPost_mixedBlog_withinTheGoals_andUndoSharesReadsToo_data();
    void callsPerPost_mixedBlog_withinTheGoals_andUndoSharesReadsToo();
    void waitForALimitedWrite_postReadAgain_webEditKept();
    void hourWindowOf60_shortReset_no429_waitsShown_runComplete();
    void firstWrite_shownOnTheBlogsFirstRunOnly_stopKeepsTheRest();
    void estimate_textAndDurations();

private:
    std::unique_ptr<CurrentSimFixture> makeFixture(cursim::User user);
    bool list(PostsModel &rows, Observer &observer);
    QString journals() const { return QDir(m_folders.path()).filePath(QStringLiteral("journals-%1").arg(m_run)); }

    TestFolders m_folders;
    std::unique_ptr<CurrentSimFixture> m_fixture;
    int m_run = 0;
};

void tst_readback::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    BackOff::setSecondForTesting(10);
}

void tst_readback::init()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->setValue(QStringLiteral("Writes per minute"), QStringLiteral("0"));
    settings->sync();
    ++m_run;
}

void tst_readback::cleanup() { m_fixture.reset(); }

std::unique_ptr<CurrentSimFixture> tst_readback::makeFixture(cursim::User user)
{
    auto fixture = std::make_unique<CurrentSimFixture>(
        std::move(user), QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(m_run)));
    QString why;
    if (!fixture->signIn(&why))
        qWarning("sign-in: %s", qPrintable(why));
    return fixture;
}

bool tst_readback::list(PostsModel &rows, Observer &observer)
{
    return DownloadRun(m_fixture->service(), rows, observer).run(m_fixture->account(QStringLiteral("cats")), allPages());
}

void tst_readback::legacyRouteLosesAMember_runStopsAtTheFirstPost_namingIt_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("named");
    QTest::newRow("caption") << "caption" << "caption";
    QTest::newRow("click-through link") << "link_url" << "link_url";
    QTest::newRow("format") << "format" << "format";
    QTest::newRow("photo") << "photos" << "photos";
    QTest::newRow("slug") << "slug" << "slug";
    QTest::newRow("date") << "date" << "date";
    QTest::newRow("state") << "state" << "state";
}

void tst_readback::legacyRouteLosesAMember_runStopsAtTheFirstPost_namingIt()
{
    QFETCH(QString, member);
    QFETCH(QString, named);
    m_fixture = makeFixture(blogOf(6, [](int) { return false; }));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    QCOMPARE(rows.count(), 6);
    m_fixture->sim().setLegacyEditWipes(member);

    QVERIFY(!FixRun(m_fixture->service(), rows, observer, journals()).fix(m_fixture->account(QStringLiteral("cats"))));

    QCOMPARE(observer.report.outcome, RunReport::Failed);
    QCOMPARE(observer.report.problem.kind, RunProblem::WriteFailed);
    const QString text = observer.report.problem.text;
    QVERIFY2(text.contains(QStringLiteral("Post 1001")) && text.contains(QRegularExpression(QStringLiteral("changed: [^.;]*\\b") + named)),
             qPrintable(text));
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Edit).size(), 1); // the first post, and no other
    QCOMPARE(rows.count(), 6);                                         // its row stays
}

void tst_readback::editorRouteLosesAMember_runStopsAtTheFirstPost_namingIt_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("named");
    QTest::newRow("layout") << "layout" << "layout";
    QTest::newRow("tips") << "can_be_tipped" << "can_be_tipped";
    QTest::newRow("reblogs") << "interactability_reblog" << "interactability_reblog";
    QTest::newRow("image description") << "alt_text" << "content";
    QTest::newRow("a field of the future") << "some_future_field" << "some_future_field";
}

void tst_readback::editorRouteLosesAMember_runStopsAtTheFirstPost_namingIt()
{
    QFETCH(QString, member);
    QFETCH(QString, named);
    m_fixture = makeFixture(blogOf(6, [](int) { return true; }));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    m_fixture->sim().setUpdateDrops(member);

    QVERIFY(!FixRun(m_fixture->service(), rows, observer, journals()).fix(m_fixture->account(QStringLiteral("cats"))));

    QCOMPARE(observer.report.problem.kind, RunProblem::WriteFailed);
    const QString text = observer.report.problem.text;
    QVERIFY2(text.contains(QStringLiteral("Post 1001")) && text.contains(QStringLiteral("changed: ") + named), qPrintable(text));
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Update).size(), 1);
    QCOMPARE(rows.count(), 6);
}

void tst_readback::laterPostChangedOnTheWeb_caughtByTheSharedReadBack_runStops()
{
    // After the first post the read-backs are shared: a post changed between
    // its write and its read-back is still caught, named, and journaled so.
    m_fixture = makeFixture(blogOf(30, [](int) { return false; }));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    int edits = 0;
    connect(&m_fixture->sim(), &cursim::Server::requestLogged, this, [&](const cursim::Request &request) {
        if (request.path.endsWith(QLatin1String("/post/edit")) && ++edits == 4)
            QTimer::singleShot(0, this, [&] { m_fixture->sim().post(QStringLiteral("1004"))->slug = QStringLiteral("edited"); });
    });

    QVERIFY(!FixRun(m_fixture->service(), rows, observer, journals()).fix(m_fixture->account(QStringLiteral("cats"))));

    QCOMPARE(observer.report.problem.kind, RunProblem::WriteFailed);
    QCOMPARE(observer.report.problem.postId, QStringLiteral("1004"));
    QVERIFY2(observer.report.problem.text.contains(QRegularExpression(QStringLiteral("changed: [^.;]*slug"))),
             qPrintable(observer.report.problem.text));
    QVERIFY(m_fixture->sim().log(cursim::Endpoint::Edit).size() < 30); // stopped there
    // Every post the run wrote is in the journal, the one found changed as unknown.
    const JournalContents journal = RunJournal::Read(RunJournal::filePath(journals(), QStringLiteral("cats")), QStringLiteral("cats"));
    QCOMPARE(journal.runs.size(), size_t(1));
    int written = 0;
    for (const JournalRun::Post &post : journal.runs.front().posts) {
        if (post.before.id == QLatin1String("1004"))
            QCOMPARE(post.state, JournalRun::Post::Unknown);
        else if (post.state == JournalRun::Post::Written)
            ++written;
    }
    QCOMPARE(written + 1, int(m_fixture->sim().log(cursim::Endpoint::Edit).size()));
}

void tst_readback::callsPerPost_mixedBlog_withinTheGoals_andUndoSharesReadsToo_data()
{
    QTest::addColumn<int>("posts");
    QTest::addColumn<int>("pace");
    // Newer posts from the new editor, older legacy ones, a stretch of both between.
    QTest::newRow("120 posts, no pace") << 120 << 0;
    QTest::newRow("60 posts, 600 a minute") << 60 << 600;
}

void tst_readback::callsPerPost_mixedBlog_withinTheGoals_andUndoSharesReadsToo()
{
    QFETCH(int, posts);
    QFETCH(int, pace);
    const int third = posts / 3;
    m_fixture = makeFixture(blogOf(posts, [third](int n) { return n <= third || (n <= 2 * third && n % 2 == 0); }));
    m_fixture->service().setWritesPerMinute(pace);
    const Account account = m_fixture->account(QStringLiteral("cats"));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    QCOMPARE(rows.count(), posts);
    const int editors = third + third / 2;
    const int legacies = posts - editors;
    m_fixture->sim().clearLog();

    QVERIFY(FixRun(m_fixture->service(), rows, observer, journals()).fix(account));
    QCOMPARE(rows.count(), 0);
    const Calls fix = callsByKind(m_fixture->sim().log());
    QCOMPARE(int(m_fixture->sim().log(cursim::Endpoint::Edit).size()), legacies);
    QCOMPARE(int(m_fixture->sim().log(cursim::Endpoint::Update).size()), editors);
    const double legacyRate = double(fix.legacyCalls) / legacies;
    const double editorRate = double(fix.editorCalls) / editors;
    qInfo("fix: %d legacy posts %.3f calls a post, %d new-editor posts %.3f calls a post, %d calls besides",
          legacies, legacyRate, editors, editorRate, fix.other);
    QVERIFY2(legacyRate <= 1.2, qPrintable(QString::number(legacyRate)));
    QVERIFY2(editorRate <= 2.1, qPrintable(QString::number(editorRate)));
    QCOMPARE(fix.other, 1); // the budget, at the start

    // Undo reads its posts from the list too.
    m_fixture->sim().clearLog();
    const JournalContents journal = RunJournal::Read(RunJournal::filePath(journals(), QStringLiteral("cats")), QStringLiteral("cats"));
    QVERIFY(FixRun(m_fixture->service(), rows, observer, journals()).undo(account, journal.runs.front()));
    QCOMPARE(observer.report.undo.putBack, posts);
    const int undoCalls = int(m_fixture->sim().log().size());
    qInfo("undo: %d calls for %d posts, %.3f a post", undoCalls, posts, double(undoCalls) / posts);
    QVERIFY(undoCalls <= legacies * 13 / 10 + editors * 22 / 10 + 2);
    QCOMPARE(m_fixture->sim().post(QStringLiteral("1001"))->tags, QStringList{QStringLiteral("tag 1")});
}

void tst_readback::waitForALimitedWrite_postReadAgain_webEditKept()
{
    m_fixture = makeFixture(blogOf(3, [](int) { return true; }));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    cursim::Fault limited;
    limited.kind = cursim::Fault::RateLimited;
    limited.resetSeconds = 2;
    m_fixture->sim().injectFault(cursim::Endpoint::Update, limited);
    // While the run waits, the post is edited on the web.
    observer.onWait = [this] {
        cursim::Post *post = m_fixture->sim().post(QStringLiteral("1001"));
        post->texts = QStringList{QStringLiteral("Edited on the web")};
    };

    QVERIFY(FixRun(m_fixture->service(), rows, observer, journals()).fix(m_fixture->account(QStringLiteral("cats"))));

    QCOMPARE(observer.waits.size(), 1);
    const cursim::Post *post = m_fixture->sim().post(QStringLiteral("1001"));
    QCOMPARE(post->texts, QStringList{QStringLiteral("Edited on the web")}); // not written over
    QCOMPARE(post->tags, (QStringList{QStringLiteral("tag 1"), QStringLiteral("Editor 1")}));
    // Read alone once before the refused write and once after the wait.
    int reads = 0;
    for (const cursim::Request &request : m_fixture->sim().log(cursim::Endpoint::OnePost))
        reads += request.path.endsWith(QLatin1String("/1001")) ? 1 : 0;
    QCOMPARE(reads, 2);
}

void tst_readback::hourWindowOf60_shortReset_no429_waitsShown_runComplete()
{
    m_fixture = makeFixture(blogOf(150, [](int n) { return n % 10 == 0; }));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    // 60 calls in any 2 seconds, from now on.
    m_fixture->sim().setCallWindow(60, 2);
    m_fixture->sim().clearLog();
    QElapsedTimer took;
    took.start();

    QVERIFY(FixRun(m_fixture->service(), rows, observer, journals()).fix(m_fixture->account(QStringLiteral("cats"))));

    QCOMPARE(m_fixture->sim().refusedForLimit(), 0);
    QVERIFY(observer.waits.isEmpty()); // no back-off: nothing was refused
    QVERIFY(!observer.budgetWaits.isEmpty());
    for (const auto &wait : observer.budgetWaits)
        QVERIFY(!wait.second && wait.first >= 1 && wait.first <= 2); // the hour's window, as short as the service says
    QCOMPARE(rows.count(), 0);
    const int calls = int(m_fixture->sim().log().size());
    QVERIFY(calls > 60);
    QVERIFY2(took.elapsed() >= (calls / 60 - 1) * 2000, qPrintable(QString::number(took.elapsed())));
    for (int n = 1; n <= 150; ++n)
        QCOMPARE(m_fixture->sim().post(QString::number(1000 + n))->tags.size(), 2);
}

void tst_readback::firstWrite_shownOnTheBlogsFirstRunOnly_stopKeepsTheRest()
{
    m_fixture = makeFixture(blogOf(5, [](int n) { return n == 2; }));
    const Account account = m_fixture->account(QStringLiteral("cats"));
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    observer.goOnAfterFirst = false;

    QVERIFY(!FixRun(m_fixture->service(), rows, observer, journals()).fix(account));

    QCOMPARE(observer.report.outcome, RunReport::Stopped);
    QCOMPARE(observer.checks.size(), 1);
    const WriteCheck &check = observer.checks.first();
    QCOMPARE(check.post.id, QStringLiteral("1001"));
    QCOMPARE(check.tagsBefore, QStringList{QStringLiteral("tag 1")});
    QCOMPARE(check.tagsAfter, (QStringList{QStringLiteral("tag 1"), QStringLiteral("Legacy 1")}));
    QVERIFY(check.changed.isEmpty());
    QVERIFY(check.membersCompared >= 10);
    QCOMPARE(rows.count(), 4); // the first is written and gone; the rest stay
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Edit).size(), 1);
    QCOMPARE(observer.report.unchecked, 0);

    // The blog's next run goes through without asking.
    observer.checks.clear();
    QVERIFY(FixRun(m_fixture->service(), rows, observer, journals()).fix(account));
    QVERIFY(observer.checks.isEmpty());
    QCOMPARE(rows.count(), 0);
}

void tst_readback::estimate_textAndDurations()
{
    RunEstimate estimate;
    estimate.posts = 98;
    estimate.calls = 120;
    estimate.seconds = 600;
    estimate.postsToday = 4100;
    QCOMPARE(estimate.text(), QLocale::system().toString(98) + QStringLiteral(" posts, about ") + QLocale::system().toString(120)
                                  + QStringLiteral(" calls: about 10 min; today's calls allow ")
                                  + QLocale::system().toString(4100) + QStringLiteral(" posts"));
    const QList<QPair<qint64, QString>> durations{{30, "less than a minute"}, {61, "about 2 min"}, {3600, "about 1 h"},
                                                  {3660, "about 1 h 1 min"}, {5 * 86400, "about 5 days"}};
    for (const auto &[seconds, text] : durations)
        QCOMPARE(RunEstimate::durationText(seconds), text);

    // From the service's own numbers: 10 legacy posts at 10 a minute, the hour's budget plenty.
    m_fixture = makeFixture(blogOf(10, [](int) { return false; }));
    m_fixture->service().setWritesPerMinute(10);
    PostsModel rows;
    Observer observer;
    QVERIFY(list(rows, observer));
    const RunEstimate listed = RunEstimate::of(rows, m_fixture->service());
    QCOMPARE(listed.posts, 10);
    QCOMPARE(listed.calls, 11);
    QCOMPARE(listed.seconds, qint64(60));
    QVERIFY(listed.postsToday && *listed.postsToday > 4000 && *listed.postsToday < 5000);
    // 5 calls left in a window of 6 an hour: the rest waits for the window's room.
    m_fixture->sim().setCallWindow(6, 3600);
    QVERIFY(m_fixture->service().beginRun(m_fixture->account(QStringLiteral("cats")), &observer).accepted());
    const RunEstimate limited = RunEstimate::of(rows, m_fixture->service());
    QCOMPARE(limited.calls, 11);
    QVERIFY2(limited.seconds > 3500 && limited.seconds <= 3600, qPrintable(QString::number(limited.seconds)));
}

QTEST_MAIN(tst_readback) // turning caption HTML into text needs QGuiApplication
#include "tst_readback.moc"

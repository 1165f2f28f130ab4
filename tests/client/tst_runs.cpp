// The runs without any window: DownloadRun and FixRun against both
// simulators, with an observer that records what a window would be told.
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <functional>

#include "CurrentSimFixture.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "client/net/BackOff.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/FixRun.h"
#include "client/runs/RunJournal.h"

namespace {

const QString Blog = QStringLiteral("runblog");

// What a window would be told, and answers from a queue (Stop when empty).
class RecordingObserver final : public RunObserver
{
public:
    void BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &cancel) override { cancel = stop; }
    void BlockSent(const QByteArray &, qint64, qint64, bool &cancel) override { cancel = stop; }
    void WaitStarted(int seconds) override { waits << seconds; }
    void BudgetWaitStarted(int seconds, bool day) override
    {
        budgetWaits << qMakePair(seconds, day);
        if (onBudgetWait)
            onBudgetWait();
    }
    void Waiting(int, bool &cancel) override { cancel = stop; }

    void stepSucceeded() override { ++steps; }
    void progress(long number) override { numbers << number; }
    void rowsAdded(int count) override { added << count; }
    void rowWritten(int row) override
    {
        written << row;
        if (onWritten)
            onWritten();
    }
    bool askRetry(const RunProblem &problem) override
    {
        asked << problem;
        return !answers.isEmpty() && answers.takeFirst();
    }
    bool stopRequested() const override { return stop; }
    void finished(const RunReport &finishedReport) override
    {
        ++finishedCount;
        report = finishedReport;
    }

    QList<bool> answers;
    QList<RunProblem> asked;
    QList<long> numbers;
    QList<int> added;
    QList<int> written;
    QList<int> waits;
    QList<QPair<int, bool>> budgetWaits;
    std::function<void()> onBudgetWait;
    int steps = 0;
    int finishedCount = 0;
    RunReport report;
    bool stop = false;
    std::function<void()> onWritten;
};

DownloadSettingsData allPages()
{
    DownloadSettingsData settings;
    settings.Cancelled = false;
    return settings;
}

QStringList ids(const PostsModel &rows)
{
    QStringList out;
    for (int i = 0; i < rows.count(); ++i)
        out << rows.at(i).id;
    return out;
}

Account designedAccount(SimFixture &sim)
{
    const sim::Account &owner = sim.server().accounts().front();
    return Account{sim.blogHost(Blog), owner.email, owner.password};
}

// Every post to fix of the simulator's blog, listed as "Get posts" lists them.
bool listAll(SimFixture &sim, PostsModel &rows, RecordingObserver &observer)
{
    return DownloadRun(sharedTestService().service(), rows, observer).run(designedAccount(sim), allPages());
}

QList<QJsonObject> journalRecords(const QString &path)
{
    QList<QJsonObject> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            records << QJsonDocument::fromJson(line).object();
    }
    return records;
}

int countRecords(const QList<QJsonObject> &records, const char *type)
{
    return int(std::count_if(records.begin(), records.end(),
                             [type](const QJsonObject &record) { return record.value("record") == QLatin1String(type); }));
}

// A blog of mixed posts: photo posts to fix, one already tagged, one without a caption, a text post.
sim::Account mixedAccount(int toFix)
{
    std::vector<sim::Post> posts;
    for (int i = 0; i < toFix; ++i)
        posts.push_back(SimFixture::photoPost(QString::number(5001 + i), QStringLiteral("Photo %1").arg(i + 1),
                                              {QStringLiteral("t%1").arg(i)}));
    posts.push_back(SimFixture::photoPost(QStringLiteral("6001"), QStringLiteral("Tagged"), {QStringLiteral("tagged")}));
    posts.push_back(SimFixture::photoPost(QStringLiteral("6002"), QString()));
    sim::Post text = SimFixture::photoPost(QStringLiteral("6003"), QStringLiteral("Words"));
    text.type = QStringLiteral("text");
    posts.push_back(text);
    sim::Account account;
    account.email = QStringLiteral("user@example.com");
    account.password = QStringLiteral("secret");
    account.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("Run blog"), std::move(posts)));
    return account;
}
}

class tst_runs final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void download_designed_listsOnlyPostsToFix_pageByPage();
    void download_failedRead_askedThenReadAgainWhereItWent();
    void download_unreadablePage_askedThenStopped();
    void download_postSeenTwice_listedOnce();
    void fix_designed_writesEveryRowAndEmptiesTheModel();
    void fix_designed_postChangedOnTheWebSinceListed_notWrittenAndNamed_data();
    void fix_designed_postChangedOnTheWebSinceListed_notWrittenAndNamed();
    void undo_designed_postEditedSinceTheRun_leftAsItIs();
    void fix_intentsShareOneWaitForTheDisk_andNeverTrailTheWrite_data();
    void fix_intentsShareOneWaitForTheDisk_andNeverTrailTheWrite();
    void fix_stopped_intentsNotSentAreClosed();
    void fix_stoppedBetweenRows_noFurtherRequest();
    void undo_designed_putsBackWhatTheRunWrote();
    void journal_tagsAsTextOfEarlierVersions_readAsLists();
    void journal_incompleteOrForeignRecords_refusedAndSaid_data();
    void journal_incompleteOrForeignRecords_refusedAndSaid();
    void current_downloadFixUndo_throughTheSameRuns();
    void current_dayAlmostSpent_waitsForTheDaysReset_escStops();

private:
    QString journalPath(const QString &blog) const { return RunJournal::filePath(m_journals, blog); }

    TestFolders m_folders;
    QString m_journals;
    int m_run = 0;
};

void tst_runs::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    BackOff::setSecondForTesting(10);
}

void tst_runs::init()
{
    m_journals = QDir(m_folders.path()).filePath(QStringLiteral("journals-%1").arg(++m_run));
    sharedTestService().service().setWritesPerMinute(0);
}

void tst_runs::download_designed_listsOnlyPostsToFix_pageByPage()
{
    SimFixture sim(mixedAccount(101));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    DownloadRun run(sharedTestService().service(), rows, observer);

    QVERIFY(run.run(designedAccount(sim), allPages()));

    QCOMPARE(rows.count(), 101);
    QCOMPARE(rows.at(0).id, QStringLiteral("5001"));
    QCOMPARE(rows.at(100).id, QStringLiteral("5101"));
    QCOMPARE(rows.at(0).tags, QStringList{QStringLiteral("t0")});
    QStringList starts;
    for (const sim::Request &request : sim.server().log(sim::Endpoint::Read))
        starts << QString::fromUtf8(request.field(QStringLiteral("start")));
    QCOMPARE(starts, (QStringList{"0", "50", "100"}));
    QCOMPARE(observer.steps, 3);
    QCOMPARE(observer.numbers, (QList<long>{1, 2, 3, 4}));
    QCOMPARE(observer.added, (QList<int>{50, 50, 1}));
    QCOMPARE(observer.finishedCount, 1);
    QCOMPARE(observer.report.outcome, RunReport::Done);
    QVERIFY(observer.asked.isEmpty());
}

void tst_runs::download_failedRead_askedThenReadAgainWhereItWent()
{
    SimFixture sim(mixedAccount(3));
    sharedTestService().useSimulator(sim);
    sim::Fault busy = SimFixture::fault(sim::Fault::Status);
    busy.status = 500;
    sim.server().injectFault(sim::Endpoint::Read, busy);
    PostsModel rows;
    RecordingObserver observer;
    observer.answers = {true};
    DownloadRun run(sharedTestService().service(), rows, observer);

    QVERIFY(run.run(designedAccount(sim), allPages()));

    QCOMPARE(observer.asked.size(), 1);
    QCOMPARE(observer.asked.first().kind, RunProblem::ReadFailed);
    QVERIFY(!observer.asked.first().text.isEmpty());
    QCOMPARE(ids(rows), (QStringList{"5001", "5002", "5003"}));
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 2);
    QCOMPARE(observer.report.outcome, RunReport::Done);
}

void tst_runs::download_unreadablePage_askedThenStopped()
{
    SimFixture sim(mixedAccount(60));
    sharedTestService().useSimulator(sim);
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Delay));
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::MalformedXml));
    PostsModel rows;
    RecordingObserver observer;
    DownloadRun run(sharedTestService().service(), rows, observer);

    QVERIFY(!run.run(designedAccount(sim), allPages()));

    QCOMPARE(observer.asked.size(), 1);
    QCOMPARE(observer.asked.first().kind, RunProblem::PageUnreadable);
    QVERIFY2(observer.asked.first().text.startsWith(QStringLiteral("Number:      ")),
             qPrintable(observer.asked.first().text));
    QCOMPARE(rows.count(), 50); // the first page stays listed
    QCOMPARE(observer.report.outcome, RunReport::Failed);
    QCOMPARE(observer.report.problem.kind, RunProblem::None); // asked about already
}

void tst_runs::download_postSeenTwice_listedOnce()
{
    // A cumulative download of the same page lists nothing twice.
    SimFixture sim(mixedAccount(3));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    DownloadRun run(sharedTestService().service(), rows, observer);
    QVERIFY(run.run(designedAccount(sim), allPages()));
    DownloadSettingsData again = allPages();
    again.Cumulative = true;
    QVERIFY(run.run(designedAccount(sim), again));
    QCOMPARE(ids(rows), (QStringList{"5001", "5002", "5003"}));
}

void tst_runs::fix_designed_writesEveryRowAndEmptiesTheModel()
{
    SimFixture sim(mixedAccount(3));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    RecordingObserver fixing;
    FixRun run(sharedTestService().service(), rows, fixing, m_journals);

    QVERIFY(run.fix(designedAccount(sim)));

    QCOMPARE(rows.count(), 0);
    QCOMPARE(fixing.written, (QList<int>{0, 0, 0}));
    QCOMPARE(fixing.numbers, (QList<long>{1, 2, 3, 4}));
    QCOMPARE(fixing.steps, 3);
    QCOMPARE(fixing.report.outcome, RunReport::Done);
    const QList<sim::Request> writes = sim.server().log(sim::Endpoint::Write);
    QCOMPARE(writes.size(), 3);
    QCOMPARE(writes.at(0).field(QStringLiteral("tags")), QByteArray("t0, \"Photo 1\""));
    QCOMPARE(sim.post(QStringLiteral("5002")).tags, (QStringList{"t1", "Photo 2"}));
}

void tst_runs::fix_designed_postChangedOnTheWebSinceListed_notWrittenAndNamed_data()
{
    QTest::addColumn<QString>("field");
    QTest::newRow("caption") << "caption";
    QTest::newRow("tags") << "tags";
    QTest::newRow("slug") << "slug";
    QTest::newRow("date") << "date";
    QTest::newRow("click-through URL") << "click-through URL";
}

void tst_runs::fix_designed_postChangedOnTheWebSinceListed_notWrittenAndNamed()
{
    QFETCH(QString, field);
    SimFixture sim(mixedAccount(3));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    sim::Post &edited = sim.post(QStringLiteral("5002"));
    if (field == QLatin1String("caption"))
        edited.caption = QStringLiteral("Photo 2, edited on the web");
    else if (field == QLatin1String("tags"))
        edited.tags << QStringLiteral("added on the web");
    else if (field == QLatin1String("slug"))
        edited.slug = QStringLiteral("new-slug");
    else if (field == QLatin1String("date"))
        edited.date = QStringLiteral("2020-01-01 00:00:00 GMT");
    else
        edited.linkUrl = QStringLiteral("http://example.com/new");
    const sim::Post before = edited;

    QVERIFY(!FixRun(sharedTestService().service(), rows, observer, m_journals).fix(designedAccount(sim)));

    QCOMPARE(observer.asked.size(), 1);
    QCOMPARE(observer.asked.first().kind, RunProblem::WriteRefused);
    QCOMPARE(observer.asked.first().postId, QStringLiteral("5002"));
    QVERIFY2(observer.asked.first().serverMessage.contains(QStringLiteral("changed since it was listed (%1)").arg(field)),
             qPrintable(observer.asked.first().serverMessage));
    QCOMPARE(ids(rows), (QStringList{"5002", "5003"})); // the first went through; the changed one stays
    QCOMPARE(sim.post(QStringLiteral("5002")).writeCount, 0);
    QCOMPARE(sim.post(QStringLiteral("5002")).caption, before.caption);
    QCOMPARE(sim.post(QStringLiteral("5002")).tags, before.tags);
}

void tst_runs::undo_designed_postEditedSinceTheRun_leftAsItIs()
{
    SimFixture sim(mixedAccount(2));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    QVERIFY(FixRun(sharedTestService().service(), rows, observer, m_journals).fix(designedAccount(sim)));
    // The caption is edited after the run; the tags are still what the run wrote.
    sim.post(QStringLiteral("5001")).caption = QStringLiteral("Rewritten on the web");
    const JournalRun fixRun = RunJournal::Read(journalPath(designedAccount(sim).groupName)).runs.front();
    const qsizetype writesBefore = sim.server().log(sim::Endpoint::Write).size();

    RecordingObserver undoing;
    QVERIFY(FixRun(sharedTestService().service(), rows, undoing, m_journals).undo(designedAccount(sim), fixRun));

    QCOMPARE(undoing.report.undo.putBack, 1);
    QCOMPARE(undoing.report.undo.changed.size(), size_t(1));
    QCOMPARE(undoing.report.undo.changed.front().id, QStringLiteral("5001"));
    QCOMPARE(sim.post(QStringLiteral("5001")).caption, QStringLiteral("Rewritten on the web"));
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size() - writesBefore, 1);
}

void tst_runs::fix_intentsShareOneWaitForTheDisk_andNeverTrailTheWrite_data()
{
    QTest::addColumn<int>("perMinute");
    QTest::addColumn<int>("intentsAtFirstWrite");
    QTest::newRow("no pace: as many as the run puts down at once") << 0 << 12;
    QTest::newRow("600 a minute: the writes of the next second") << 600 << 10;
    QTest::newRow("10 a minute: one at a time") << 10 << 1;
}

void tst_runs::fix_intentsShareOneWaitForTheDisk_andNeverTrailTheWrite()
{
    QFETCH(int, perMinute);
    QFETCH(int, intentsAtFirstWrite);
    SimFixture sim(mixedAccount(12));
    sharedTestService().useSimulator(sim);
    sharedTestService().service().setWritesPerMinute(perMinute);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    const QString path = journalPath(designedAccount(sim).groupName);
    QList<int> intentsAtWrite;
    QStringList unrecorded;
    connect(&sim.server(), &sim::Server::requestLogged, this, [&](const sim::Request &request) {
        if (request.path != QLatin1String("/api/write"))
            return;
        const QList<QJsonObject> records = journalRecords(path);
        intentsAtWrite << countRecords(records, "write");
        const QString id = QString::fromUtf8(request.field(QStringLiteral("post-id")));
        if (std::none_of(records.begin(), records.end(), [&id](const QJsonObject &record) {
                return record.value("record") == QLatin1String("write")
                       && record.value("post").toObject().value("id") == id;
            }))
            unrecorded << id;
        // The first write shows the group; the rest would only wait out the pace.
        observer.stop = true;
    });
    FixRun run(sharedTestService().service(), rows, observer, m_journals);
    run.fix(designedAccount(sim));
    disconnect(&sim.server(), nullptr, this, nullptr);

    QCOMPARE(unrecorded, QStringList());
    QCOMPARE(intentsAtWrite, QList<int>{intentsAtFirstWrite});
    sharedTestService().service().setWritesPerMinute(0);
}

void tst_runs::fix_stopped_intentsNotSentAreClosed()
{
    SimFixture sim(mixedAccount(8));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    // The stop comes after the second write: the third, slow to be answered, is cancelled in flight.
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), 2);
    sim::Fault slow = SimFixture::fault(sim::Fault::Delay);
    slow.delayMs = 3000;
    sim.server().injectFault(sim::Endpoint::Write, slow);
    observer.onWritten = [&observer] {
        if (observer.written.size() == 2)
            QTimer::singleShot(300, [&observer] { observer.stop = true; }); // while the third is under way
    };
    FixRun run(sharedTestService().service(), rows, observer, m_journals);

    QVERIFY(!run.fix(designedAccount(sim)));

    QCOMPARE(observer.report.outcome, RunReport::Stopped);
    QCOMPARE(rows.count(), 6);
    const JournalContents contents = RunJournal::Read(journalPath(designedAccount(sim).groupName));
    QCOMPARE(contents.problem(), QString());
    QCOMPARE(contents.runs.size(), size_t(1));
    const JournalRun &journaled = contents.runs.front();
    QCOMPARE(journaled.posts.size(), size_t(8));
    QCOMPARE(journaled.written(), 2);
    QCOMPARE(journaled.unknown(), 1); // the one stopped in flight may have reached the service
    QCOMPARE(journaled.posts.back().state, JournalRun::Post::NotWritten);
}

void tst_runs::fix_stoppedBetweenRows_noFurtherRequest()
{
    SimFixture sim(mixedAccount(8));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    observer.onWritten = [&observer] {
        if (observer.written.size() == 2)
            observer.stop = true; // Esc (or Ctrl+C) between two rows
    };
    sim.server().clearLog();

    QVERIFY(!FixRun(sharedTestService().service(), rows, observer, m_journals).fix(designedAccount(sim)));

    QCOMPARE(observer.report.outcome, RunReport::Stopped);
    QCOMPARE(rows.count(), 6);
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 2);
    const JournalRun journaled = RunJournal::Read(journalPath(designedAccount(sim).groupName)).runs.front();
    QCOMPARE(journaled.written(), 2);
    QCOMPARE(journaled.unknown(), 0);
}

void tst_runs::undo_designed_putsBackWhatTheRunWrote()
{
    SimFixture sim(mixedAccount(4));
    sharedTestService().useSimulator(sim);
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(listAll(sim, rows, observer));
    QVERIFY(FixRun(sharedTestService().service(), rows, observer, m_journals).fix(designedAccount(sim)));
    sim.post(QStringLiteral("5004")).tags.append(QStringLiteral("by hand"));
    const JournalRun fixRun = RunJournal::Read(journalPath(designedAccount(sim).groupName)).runs.front();

    RecordingObserver undoing;
    QVERIFY(FixRun(sharedTestService().service(), rows, undoing, m_journals).undo(designedAccount(sim), fixRun));

    QCOMPARE(undoing.report.outcome, RunReport::Done);
    QCOMPARE(undoing.report.undo.runPosts, 4);
    QCOMPARE(undoing.report.undo.putBack, 3);
    QCOMPARE(undoing.report.undo.changed.size(), size_t(1));
    QCOMPARE(undoing.report.undo.changed.front().id, QStringLiteral("5004"));
    QCOMPARE(sim.post(QStringLiteral("5001")).tags, QStringList{QStringLiteral("t0")});
    QCOMPARE(sim.post(QStringLiteral("5004")).tags, (QStringList{"t3", "Photo 4", "by hand"}));
    // The undo writes every field as the fix found it.
    const sim::Request last = sim.server().log(sim::Endpoint::Write).last();
    QCOMPARE(last.field(QStringLiteral("tags")), QByteArray("t2"));
    QCOMPARE(last.field(QStringLiteral("caption")), QByteArray("Photo 3"));
}

void tst_runs::journal_tagsAsTextOfEarlierVersions_readAsLists()
{
    const QString path = journalPath(QStringLiteral("old.example"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"record":"write","run":"r1","kind":"fix","started":"2026-01-01T10:00:00.000Z","blog":"old.example",)"
               R"("post":{"id":"7",)" R"("date":"d","caption":"c","rawCaption":"c","format":"html","slug":"","clickThroughUrl":"","postUrl":"",)" R"("tags":"cat, \"a, b\""},"tagsSent":"cat, \"a, b\", \"Sunset\""})"
               "\n"
               R"({"record":"outcome","run":"r1","id":"7","outcome":"accepted"})"
               "\n"
               R"({"record":"write","run":"r1","kind":"fix","started":"2026-01-01T10:00:00.000Z","blog":"old.example",)"
               R"("post":{"id":"8",)" R"("date":"d","caption":"c","rawCaption":"c","format":"html","slug":"","clickThroughUrl":"","postUrl":"",)" R"("tags":["x"]},"tagsSent":["x","y"]})"
               "\n"
               R"({"record":"outcome","run":"r1","id":"8","outcome":"not sent"})"
               "\n");
    file.close();
    const JournalContents contents = RunJournal::Read(path);
    QCOMPARE(contents.problem(), QString());
    QCOMPARE(contents.runs.size(), size_t(1));
    const JournalRun &run = contents.runs.front();
    QCOMPARE(run.posts.size(), size_t(2));
    QCOMPARE(run.posts[0].before.tags, (QStringList{"cat", "a, b"}));
    QCOMPARE(run.posts[0].tagsSent, (QStringList{"cat", "a, b", "Sunset"}));
    QCOMPARE(run.posts[0].state, JournalRun::Post::Written);
    QCOMPARE(run.posts[1].tagsSent, (QStringList{"x", "y"}));
    QCOMPARE(run.posts[1].state, JournalRun::Post::NotWritten);
}

void tst_runs::journal_incompleteOrForeignRecords_refusedAndSaid_data()
{
    QTest::addColumn<QString>("drop");  // a member of the post left out; empty: none
    QTest::addColumn<QString>("blog");  // the record's blog
    QTest::addColumn<bool>("refused");
    QTest::newRow("complete") << QString() << "own.example" << false;
    QTest::newRow("blog in another letter case") << QString() << "OWN.example" << false;
    QTest::newRow("another blog") << QString() << "other.example" << true;
    for (const char *field : {"date", "caption", "rawCaption", "tags", "format", "slug", "clickThroughUrl", "postUrl"})
        QTest::newRow(qPrintable(QStringLiteral("no %1").arg(QLatin1String(field)))) << field << "own.example" << true;
    QTest::newRow("no tagsSent") << "tagsSent" << "own.example" << true;
}

void tst_runs::journal_incompleteOrForeignRecords_refusedAndSaid()
{
    QFETCH(QString, drop);
    QFETCH(QString, blog);
    QFETCH(bool, refused);
    QJsonObject post{{"id", "7"}, {"date", "2026-01-01 10:00:00 GMT"}, {"caption", "Sunset"}, {"rawCaption", "<b>Sunset</b>"},
                     {"tags", QJsonArray{"cat"}}, {"format", "html"}, {"slug", "sunset"},
                     {"clickThroughUrl", "http://example.com/"}, {"postUrl", "http://own.example/post/7"}};
    post.remove(drop);
    QJsonObject record{{"record", "write"}, {"run", "r1"}, {"kind", "fix"}, {"started", "2026-01-01T10:00:00.000Z"},
                       {"blog", blog}, {"post", post}, {"tagsSent", QJsonArray{"cat", "Sunset"}}};
    record.remove(drop);
    const QString path = journalPath(QStringLiteral("own.example"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n'
               + R"({"record":"outcome","run":"r1","id":"7","outcome":"accepted"})" + '\n');
    file.close();

    const JournalContents contents = RunJournal::Read(path, QStringLiteral("own.example"));

    QCOMPARE(contents.refusedLines, refused ? 1 : 0);
    QCOMPARE(contents.runs.size(), refused ? size_t(0) : size_t(1));
    if (refused)
        QVERIFY2(contents.problem().contains(QStringLiteral("1 write records of its 2 lines were refused")),
                 qPrintable(contents.problem()));
    else
        QCOMPARE(contents.runs.front().posts.front().before.rawCaption, QStringLiteral("<b>Sunset</b>"));
}

void tst_runs::current_downloadFixUndo_throughTheSameRuns()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->setValue(QStringLiteral("Writes per minute"), QStringLiteral("0"));
    settings->sync();
    cursim::Blog blog;
    blog.name = QStringLiteral("cats");
    blog.title = QStringLiteral("Cats");
    blog.posts = {cursim::Server::legacyPost(QStringLiteral("30001"), QStringLiteral("<p>Sunset at beach</p>"),
                                             {QStringLiteral("cat")}),
                  cursim::Server::blocksPost(QStringLiteral("30002"), {QStringLiteral("Made in the editor")}),
                  cursim::Server::legacyPost(QStringLiteral("30003"), QStringLiteral("Already"),
                                             {QStringLiteral("already")})};
    cursim::User user;
    user.name = QStringLiteral("me");
    user.blogs = {blog};
    CurrentSimFixture fixture(user, QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(m_run)));
    QString why;
    QVERIFY2(fixture.signIn(&why), qPrintable(why));
    const Account account = fixture.account(QStringLiteral("cats"));

    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(DownloadRun(fixture.service(), rows, observer).run(account, allPages()));
    QCOMPARE(ids(rows), (QStringList{"30001", "30002"}));

    QVERIFY(FixRun(fixture.service(), rows, observer, m_journals).fix(account));
    QCOMPARE(rows.count(), 0);
    QCOMPARE(fixture.sim().post(QStringLiteral("30001"))->tags, (QStringList{"cat", "Sunset at beach"}));
    QCOMPARE(fixture.sim().post(QStringLiteral("30002"))->tags, QStringList{QStringLiteral("Made in the editor")});
    QCOMPARE(fixture.sim().log(cursim::Endpoint::Edit).size(), 1);
    QCOMPARE(fixture.sim().log(cursim::Endpoint::Update).size(), 1);

    const JournalRun fixRun = RunJournal::Read(journalPath(account.groupName)).runs.front();
    RecordingObserver undoing;
    QVERIFY(FixRun(fixture.service(), rows, undoing, m_journals).undo(account, fixRun));
    QCOMPARE(undoing.report.undo.putBack, 2);
    QCOMPARE(fixture.sim().post(QStringLiteral("30001"))->tags, QStringList{QStringLiteral("cat")});
    QCOMPARE(fixture.sim().post(QStringLiteral("30002"))->tags, QStringList());
}

void tst_runs::current_dayAlmostSpent_waitsForTheDaysReset_escStops()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->setValue(QStringLiteral("Writes per minute"), QStringLiteral("0"));
    settings->sync();
    CurrentSimFixture fixture(cursim::Server::generatedUser(QStringLiteral("cats"), 5),
                              QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(m_run)));
    QString why;
    QVERIFY2(fixture.signIn(&why), qPrintable(why));
    const Account account = fixture.account(QStringLiteral("cats"));
    PostsModel rows;
    RecordingObserver observer;
    QVERIFY(DownloadRun(fixture.service(), rows, observer).run(account, allPages()));
    QCOMPARE(rows.count(), 5);
    // The budget's own call, then one post: its read, its write and its read-back.
    fixture.sim().setDayCallsLeft(4);
    fixture.sim().clearLog();
    observer.onBudgetWait = [&observer] { observer.stop = true; }; // Esc during the wait

    QVERIFY(!FixRun(fixture.service(), rows, observer, m_journals).fix(account));

    QCOMPARE(observer.report.outcome, RunReport::Stopped);
    QCOMPARE(observer.budgetWaits.size(), 1);
    QVERIFY(observer.budgetWaits.first().second); // the day's window
    QVERIFY(observer.budgetWaits.first().first > 3600); // its reset, as the service named it
    QCOMPARE(rows.count(), 4);
    QCOMPARE(fixture.sim().log(cursim::Endpoint::Edit).size(), 1);
    QCOMPARE(fixture.sim().log().size(), 4); // not one call beyond what the day allowed
    QCOMPARE(fixture.service().budget().dayLeft, std::optional<int>(0));
}

QTEST_MAIN(tst_runs) // turning caption HTML into text needs QGuiApplication
#include "tst_runs.moc"

// The journal of every write and the undo of a run: what a run leaves on the
// disk, how a damaged journal is read, what Ctrl+Z offers and puts back, and
// a run killed in the middle.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "windows/app/DialogServices.h"
#include "client/runs/RunJournal.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/PostsListView.h"
#include "windows/posts/frmUndoRuns.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/runs/FixRun.h"

using namespace PostsWindowDriver;

namespace {
const QString Blog = QStringLiteral("journaled");

QList<QJsonObject> records(const QString &path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    }
    return out;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray writeLine(const QString &run, const QString &started, const QString &postId, const QString &kind = "fix",
                     const QString &blog = QStringLiteral("blog.example"))
{
    return QJsonDocument(QJsonObject{{"record", "write"},
                                     {"run", run},
                                     {"kind", kind},
                                     {"started", started},
                                     {"blog", blog},
                                     {"post", QJsonObject{{"id", postId},
                                                          {"date", "2026-01-01 10:00:00 GMT"},
                                                          {"caption", "Photo"},
                                                          {"rawCaption", "Photo"},
                                                          {"tags", "a"},
                                                          {"format", "html"},
                                                          {"slug", ""},
                                                          {"clickThroughUrl", ""},
                                                          {"postUrl", ""}}},
                                     {"tagsSent", "a, \"b\""}})
               .toJson(QJsonDocument::Compact)
        + '\n';
}

QByteArray outcomeLine(const QString &run, const QString &postId, const QString &outcome)
{
    return QJsonDocument(QJsonObject{{"record", "outcome"}, {"run", run}, {"id", postId}, {"outcome", outcome}})
               .toJson(QJsonDocument::Compact)
        + '\n';
}

// What the run chooser showed, one text a row: "kind written unknown".
struct Chooser {
    QStringList rows;
    QString problem;
    bool opened = false;
    bool undoEnabled = false;
};

// Presses Ctrl+Z in the window and answers the chooser: Undo on `row`, or
// Cancel when row is negative.
std::shared_ptr<Chooser> undoByKeys(frmPostsList &window, int row)
{
    auto seen = std::make_shared<Chooser>();
    whenModal<frmUndoRuns>([seen, row](frmUndoRuns *dialog) {
        seen->opened = true;
        auto *runs = dialog->findChild<QTreeWidget *>(QStringLiteral("tvRuns"));
        for (int i = 0; i < runs->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = runs->topLevelItem(i);
            seen->rows << item->text(1) + QLatin1Char(' ') + item->text(2) + QLatin1Char(' ') + item->text(3);
        }
        const auto *problem = dialog->findChild<QLabel *>(QStringLiteral("lblProblem"));
        seen->problem = problem->isVisibleTo(dialog) ? problem->text() : QString();
        if (row < 0 || row >= runs->topLevelItemCount()) {
            dialog->reject();
            return;
        }
        runs->setCurrentItem(runs->topLevelItem(row));
        auto *undo = dialog->findChild<QPushButton *>(QStringLiteral("cmdUndo"));
        seen->undoEnabled = undo->isEnabled();
        if (undo->isEnabled())
            QTest::mouseClick(undo, Qt::LeftButton);
        else
            dialog->reject();
    });
    QTest::keyClick(list(window), Qt::Key_Z, Qt::ControlModifier);
    return seen;
}
}

class TestJournal final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folders.isValid());
        setDialogs(&m_dialogs);
    }
    void init()
    {
        m_dialogs.clear();
        QDir(RunJournal::defaultFolder()).removeRecursively();
    }
    void cleanupTestCase()
    {
        setDialogs(nullptr);
        sharedTestService().useServiceHost({});
    }

    void tagList_splitsAsTheServiceDoes_data();
    void tagList_splitsAsTheServiceDoes();
    void read_damagedOrForeignJournal_readsWhatItCan_data();
    void read_damagedOrForeignJournal_readsWhatItCan();

    void fix_recordsEveryWriteBeforeAndItsOutcomeAfter();
    void fix_journalCannotBeWritten_refusesToStart();
    void fix_afterHalfWrittenLine_newRecordsOnALineOfTheirOwn();
    void fix_killedInTheMiddle_everyAcceptedWriteRecorded_undoListsUnknown();

    void undo_putsBackTagsAndLeavesOutChangedPosts_undoOfUndoFixesAgain();
    void undo_chooserShowsRunsNewestFirst_cancelWritesNothing();
    void undo_refusedWriteRetried_stopDuringWait();
    void undo_readRefused_retried();
    void undo_ctrlZDuringARun_opensNothing();

private:
    // Downloads every post of the blog into a window and fixes them all.
    std::unique_ptr<frmPostsList> fixedBlog(SimFixture &sim)
    {
        auto window = open(sharedTestService(), sim, Blog);
        if (!downloadAll(*window))
            return nullptr;
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        return window;
    }
    QString journalPath(SimFixture &sim) const
    {
        return RunJournal::filePath(RunJournal::defaultFolder(), sim.blogHost(Blog));
    }

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

void TestJournal::tagList_splitsAsTheServiceDoes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("tags");
    QTest::newRow("none") << QString() << QStringList();
    QTest::newRow("plain") << "cat, dog" << QStringList{"cat", "dog"};
    QTest::newRow("quoted with a comma") << "cat, \"Apples, pears\"" << QStringList{"cat", "Apples, pears"};
    QTest::newRow("quote inside a piece") << "say \"hi\", x" << QStringList{"say \"hi\"", "x"};
    QTest::newRow("blanks and empty pieces") << " a ,, b , " << QStringList{"a", "b"};
    QTest::newRow("unclosed quote runs to the end") << "a, \"b, c" << QStringList{"a", "b, c"};
    QTest::newRow("fixed tags of a row")
        << TagRule::fixedTagsText(PostRow{{}, {}, "Sunset at Beach", {}, {"cat"}, {}, {}, {}, {}}, TagRules::designed())
        << QStringList{"cat", "Sunset at Beach"};
}

void TestJournal::tagList_splitsAsTheServiceDoes()
{
    QFETCH(QString, text);
    QFETCH(QStringList, tags);
    QCOMPARE(TagRule::TagList(text), tags);
}

void TestJournal::read_damagedOrForeignJournal_readsWhatItCan_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file; "<dir>": a folder in its place
    QTest::addColumn<QStringList>("runs"); // "id written unknown", newest first
    QTest::addColumn<QString>("problem");  // a part of the one line, empty: none

    const QByteArray two = writeLine("r1", "2026-01-01T10:00:00.000Z", "1") + outcomeLine("r1", "1", "accepted")
        + writeLine("r1", "2026-01-01T10:00:00.000Z", "2") + outcomeLine("r1", "2", "refused")
        + writeLine("r1", "2026-01-01T10:00:00.000Z", "3")
        + writeLine("r2", "2026-02-01T10:00:00.000Z", "1", "undo") + outcomeLine("r2", "1", "failed");
    QTest::newRow("whole") << two << QStringList{"r2 0 1", "r1 1 1"} << QString();
    QTest::newRow("missing") << QByteArray() << QStringList() << "No run of this blog has been journaled yet.";
    QTest::newRow("empty") << QByteArray("") << QStringList() << "The journal is empty.";
    QTest::newRow("half-written last line") << two + "{\"record\":\"wri" << QStringList{"r2 0 1", "r1 1 1"}
                                            << "its last line is cut off";
    QTest::newRow("a bad line amid good ones") << writeLine("r1", "2026-01-01T10:00:00.000Z", "1") + "not json\n"
                                                      + outcomeLine("r1", "1", "accepted")
                                               << QStringList{"r1 1 0"} << "1 of its 3 lines could not be read";
    QTest::newRow("an outcome of no known write") << outcomeLine("r9", "1", "accepted") + two
                                                  << QStringList{"r2 0 1", "r1 1 1"} << "1 of its 8 lines";
    QTest::newRow("another format") << QByteArray("id,tags\n1,cat\n2,dog\n") << QStringList()
                                    << "none of its 3 lines could be read";
    QTest::newRow("JSON of another shape") << QByteArray("[1,2]\n{\"a\":1}\n") << QStringList()
                                           << "none of its 2 lines could be read";
    QTest::newRow("unreadable") << QByteArray("<dir>") << QStringList() << "The journal can't be read";
}

void TestJournal::read_damagedOrForeignJournal_readsWhatItCan()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, runs);
    QFETCH(QString, problem);
    const QString path = QDir(m_folders.path()).filePath(QStringLiteral("read-test/blog.jsonl"));
    QDir(QFileInfo(path).absolutePath()).removeRecursively();
    if (bytes == "<dir>")
        QVERIFY(QDir().mkpath(path));
    else if (!bytes.isNull())
        writeFile(path, bytes);
    const QByteArray before = bytes.isNull() || bytes == "<dir>" ? QByteArray() : bytes;

    const JournalContents contents = RunJournal::Read(path);

    QStringList seen;
    for (const JournalRun &run : contents.runs)
        seen << QStringLiteral("%1 %2 %3").arg(run.id).arg(run.written()).arg(run.unknown());
    QCOMPARE(seen, runs);
    if (problem.isEmpty())
        QCOMPARE(contents.problem(), QString());
    else
        QVERIFY2(contents.problem().contains(problem), qPrintable(contents.problem()));
    // Reading never changes the file.
    if (!before.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
}

void TestJournal::fix_recordsEveryWriteBeforeAndItsOutcomeAfter()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 12));
    sharedTestService().useSimulator(sim);
    auto window = open(sharedTestService(), sim, Blog);
    QVERIFY(downloadAll(*window));
    std::vector<PostRow> listed;
    for (int row = 0; row < window->posts().count(); ++row)
        listed.push_back(window->posts().at(row));
    // The third write is refused once and retried; the journal tells both attempts.
    sim::Fault refused = SimFixture::fault(sim::Fault::Status);
    refused.status = 500;
    refused.body = "Busy now.\nMore text.";
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), 2);
    sim.server().injectFault(sim::Endpoint::Write, refused, 1);
    m_dialogs.answer(DialogServices::Retry);
    // Every write's intent is on the disk, with no outcome after it, when its request arrives.
    QStringList notIntendedAtRequest;
    connect(&sim.server(), &sim::Server::requestLogged, window.get(), [&](const sim::Request &request) {
        if (request.path != QLatin1String("/api/write"))
            return;
        const QString id = QString::fromUtf8(request.field(QStringLiteral("post-id")));
        int intents = 0;
        int outcomes = 0;
        for (const QJsonObject &record : records(journalPath(sim))) {
            if (record.value("record") == QLatin1String("write") && record.value("post").toObject().value("id") == id)
                ++intents;
            if (record.value("record") == QLatin1String("outcome") && record.value("id") == id)
                ++outcomes;
        }
        if (intents <= outcomes)
            notIntendedAtRequest << id;
    });

    QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
    QCOMPARE(window->posts().count(), 0);
    QCOMPARE(notIntendedAtRequest, QStringList());

    const QList<QJsonObject> journal = records(journalPath(sim));
    // The twelve intents share one wait for the disk; the refused write's retry has an intent of its own;
    // the last record says the run went to the end.
    QCOMPARE(journal.size(), 12 + 1 + 13 + 1);
    QCOMPARE(journal.last().value("record").toString(), QStringLiteral("end"));
    QCOMPARE(journal.last().value("outcome").toString(), QStringLiteral("done"));
    const QString run = journal.first().value("run").toString();
    QVERIFY(!run.isEmpty());
    for (size_t i = 0; i < listed.size(); ++i) {
        const PostRow &post = listed[i];
        QList<QJsonObject> writes;
        QList<QJsonObject> outcomes;
        for (const QJsonObject &record : journal) {
            if (record.value("record") == QLatin1String("write") && record.value("post").toObject().value("id") == post.id)
                writes << record;
            if (record.value("record") == QLatin1String("outcome") && record.value("id") == post.id)
                outcomes << record;
        }
        const int attempts = i == 2 ? 2 : 1;
        QCOMPARE(writes.size(), attempts);
        QCOMPARE(outcomes.size(), attempts);
        for (int attempt = 0; attempt < attempts; ++attempt) {
            const QJsonObject &write = writes.at(attempt);
            const QJsonObject &outcome = outcomes.at(attempt);
            QCOMPARE(write.value("record").toString(), QStringLiteral("write"));
            QCOMPARE(write.value("run").toString(), run);
            QCOMPARE(write.value("kind").toString(), QStringLiteral("fix"));
            QCOMPARE(write.value("blog").toString(), sim.blogHost(Blog));
            QVERIFY(QDateTime::fromString(write.value("started").toString(), Qt::ISODateWithMs).isValid());
            const QJsonObject fields = write.value("post").toObject();
            QCOMPARE(fields.value("id").toString(), post.id);
            QCOMPARE(fields.value("date").toString(), post.date);
            QCOMPARE(fields.value("caption").toString(), post.caption);
            QCOMPARE(fields.value("rawCaption").toString(), post.rawCaption);
            QCOMPARE(fields.value("tags").toVariant().toStringList(), post.tags);
            QCOMPARE(fields.value("format").toString(), post.format);
            QCOMPARE(fields.value("slug").toString(), post.slug);
            QCOMPARE(fields.value("clickThroughUrl").toString(), post.clickThroughUrl);
            QCOMPARE(fields.value("postUrl").toString(), post.postUrl);
            QCOMPARE(write.value("tagsSent").toVariant().toStringList(), TagRule::fixedTags(post, TagRules::designed()));

            QCOMPARE(outcome.value("record").toString(), QStringLiteral("outcome"));
            QCOMPARE(outcome.value("id").toString(), post.id);
            const bool wasRefused = i == 2 && attempt == 0;
            QCOMPARE(outcome.value("outcome").toString(), wasRefused ? QStringLiteral("refused") : QStringLiteral("accepted"));
            QCOMPARE(outcome.value("status").toInt(), wasRefused ? 500 : 201);
            QCOMPARE(outcome.value("answer").toString(), wasRefused ? QStringLiteral("Busy now.") : post.id);
        }
    }
    const JournalContents contents = RunJournal::Read(journalPath(sim));
    QCOMPARE(contents.problem(), QString());
    QCOMPARE(contents.runs.size(), size_t(1));
    QCOMPARE(contents.runs.front().written(), 12);
    QCOMPARE(contents.runs.front().unknown(), 0);
}

void TestJournal::fix_journalCannotBeWritten_refusesToStart()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 5));
    sharedTestService().useSimulator(sim);
    auto window = open(sharedTestService(), sim, Blog);
    QVERIFY(downloadAll(*window));
    // A folder where the file should be: nothing can be appended to it.
    QVERIFY(QDir().mkpath(journalPath(sim)));

    QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY2(m_dialogs.shown.first().text.startsWith(QStringLiteral("Can't start: the journal of this blog can't be written")),
             qPrintable(m_dialogs.shown.first().text));
    QVERIFY(m_dialogs.shown.first().text.contains(QDir::toNativeSeparators(journalPath(sim))));
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 0);
    QCOMPARE(window->posts().count(), 5);
    QVERIFY(button(*window, "cmdFixPosts")->isEnabled());
}

void TestJournal::fix_afterHalfWrittenLine_newRecordsOnALineOfTheirOwn()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 3));
    sharedTestService().useSimulator(sim);
    const QByteArray damaged = writeLine("old", "2026-01-01T10:00:00.000Z", "1001", "fix", sim.blogHost(Blog)) + "{\"record\":\"outc";
    writeFile(journalPath(sim), damaged);

    auto window = fixedBlog(sim);
    QVERIFY(window);
    QCOMPARE(window->posts().count(), 0);

    QFile file(journalPath(sim));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith(damaged + '\n')); // the damage is kept, as it was
    const JournalContents contents = RunJournal::Read(journalPath(sim));
    QCOMPARE(contents.runs.size(), size_t(2));
    QCOMPARE(contents.runs.front().written(), 3);
    QCOMPARE(contents.runs.back().id, QStringLiteral("old"));
    // The old write, the three intents, their outcomes, the new run's end: all read but the cut-off line.
    QVERIFY2(contents.problem().contains(QStringLiteral("1 of its 9 lines")), qPrintable(contents.problem()));
}

void TestJournal::fix_killedInTheMiddle_everyAcceptedWriteRecorded_undoListsUnknown()
{
    constexpr int Posts = 60;
    constexpr int StallAt = 30; // the 30th write gets no answer: the kill comes meanwhile
    SimFixture sim(SimFixture::generatedAccount(Blog, Posts));
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), StallAt - 1);
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Stall), 1);
    const sim::Account &owner = sim.server().accounts().front();
    const QString folder = RunJournal::defaultFolder();

    QProcess runner;
    runner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    runner.start(QStringLiteral(VELLORIA_BIN_DIR "/tests/fixrunner"),
                 {sim.serviceHost(), sim.blogHost(Blog), owner.email, owner.password, folder});
    QVERIFY(runner.waitForStarted(10000));
    QTRY_COMPARE_WITH_TIMEOUT(sim.server().log(sim::Endpoint::Write).size(), StallAt, 30000);
    QTest::qWait(100);
    runner.kill(); // SIGKILL: no chance to write anything more
    QVERIFY(runner.waitForFinished(10000));
    QCOMPARE(runner.exitStatus(), QProcess::CrashExit);
    QCOMPARE(runner.readAllStandardOutput(), QByteArray("listed 60\n"));

    const JournalContents contents = RunJournal::Read(journalPath(sim));
    QCOMPARE(contents.problem(), QString());
    QCOMPARE(contents.runs.size(), size_t(1));
    const JournalRun &run = contents.runs.front();
    // The intents of the writes after the last answer were on the disk ahead
    // of them: their outcome is unknown, and there are no more than the run
    // puts on the disk at once.
    constexpr int Intended = std::min(Posts, FixRun::MaxIntentsAhead);
    QCOMPARE(run.posts.size(), size_t(Intended));
    QCOMPARE(run.written(), StallAt - 1);
    QCOMPARE(run.unknown(), Intended - (StallAt - 1));
    int accepted = 0;
    for (const sim::Post &post : sim.blog(Blog).posts) {
        if (post.writeCount == 0)
            continue;
        ++accepted;
        const auto entry = std::find_if(run.posts.begin(), run.posts.end(),
                                        [&](const JournalRun::Post &p) { return p.before.id == post.id; });
        QVERIFY2(entry != run.posts.end(), qPrintable(post.id));
        QCOMPARE(entry->state, JournalRun::Post::Written);
        QCOMPARE(entry->tagsSent, post.tags);
    }
    QCOMPARE(accepted, StallAt - 1);

    // The next undo lists the run with its unknown outcome and puts back what was written.
    sharedTestService().useSimulator(sim);
    auto window = open(sharedTestService(), sim, Blog);
    const auto chooser = undoByKeys(*window, 0);
    QVERIFY(chooser->opened);
    QCOMPARE(chooser->rows, QStringList{QStringLiteral("Fix posts %1 %2").arg(StallAt - 1).arg(Intended - (StallAt - 1))});
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY2(m_dialogs.shown.first().text.startsWith(
                 QStringLiteral("Undo finished: %1 of the run's %2 posts were put back").arg(StallAt - 1).arg(Intended)),
             qPrintable(m_dialogs.shown.first().text));
    QVERIFY(m_dialogs.shown.first().text.contains(
        QStringLiteral("%1 posts already had their tags from before the run.").arg(Intended - (StallAt - 1))));
    for (const sim::Post &post : sim.blog(Blog).posts)
        QCOMPARE(post.tags, (QStringList{QStringLiteral("tag %1").arg(post.id.toInt() - 1000), QStringLiteral("shared")}));
}

void TestJournal::undo_putsBackTagsAndLeavesOutChangedPosts_undoOfUndoFixesAgain()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 8));
    sharedTestService().useSimulator(sim);
    std::map<QString, QStringList> original;
    for (const sim::Post &post : sim.blog(Blog).posts)
        original[post.id] = post.tags;
    auto window = fixedBlog(sim);
    QVERIFY(window);
    std::map<QString, QStringList> fixed;
    for (const sim::Post &post : sim.blog(Blog).posts)
        fixed[post.id] = post.tags;
    // Someone tags one post by hand after the run.
    sim.post(QStringLiteral("1003")).tags.append(QStringLiteral("by hand"));
    const QStringList byHand = sim.post(QStringLiteral("1003")).tags;
    const int writesBefore = int(sim.server().log(sim::Endpoint::Write).size());

    const auto chooser = undoByKeys(*window, 0);
    QVERIFY(chooser->opened);
    QCOMPARE(chooser->rows, QStringList{QStringLiteral("Fix posts 8 0")});

    QCOMPARE(int(sim.server().log(sim::Endpoint::Write).size()) - writesBefore, 7);
    QCOMPARE(m_dialogs.shown.size(), 1);
    const QString summary = m_dialogs.shown.first().text;
    QVERIFY2(summary.startsWith(QStringLiteral("Undo finished: 7 of the run's 8 posts were put back")), qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("1 posts were changed since the run and were left as they are:\r\n"))
                 && summary.contains(QStringLiteral("\"Photo 3\" (post 1003)")),
             qPrintable(summary));
    for (const sim::Post &post : sim.blog(Blog).posts)
        QCOMPARE(post.tags, post.id == QLatin1String("1003") ? byHand : original.at(post.id));
    QCOMPARE(window->posts().count(), 0); // the list is not touched

    // The undo is a run of its own, newest first; undoing it fixes the posts again.
    m_dialogs.clear();
    const auto again = undoByKeys(*window, 0);
    QCOMPARE(again->rows, (QStringList{QStringLiteral("Undo 7 0"), QStringLiteral("Fix posts 8 0")}));
    QVERIFY2(m_dialogs.shown.size() == 1
                 && m_dialogs.shown.first().text.startsWith(QStringLiteral("Undo finished: 7 of the run's 7 posts")),
             qPrintable(m_dialogs.texts().join(QStringLiteral("\n--\n"))));
    for (const sim::Post &post : sim.blog(Blog).posts)
        QCOMPARE(post.tags, post.id == QLatin1String("1003") ? byHand : fixed.at(post.id));
    const QList<QJsonObject> journal = records(journalPath(sim));
    QCOMPARE(journal.last().value("record").toString(), QStringLiteral("end"));
    QCOMPARE(journal.at(journal.size() - 2).value("outcome").toString(), QStringLiteral("accepted"));
    const QJsonObject lastWrite = journal.at(journal.size() - 3);
    QCOMPARE(lastWrite.value("kind").toString(), QStringLiteral("undo"));
    QCOMPARE(lastWrite.value("undoes").toString(), RunJournal::Read(journalPath(sim)).runs.at(1).id);
}

void TestJournal::undo_chooserShowsRunsNewestFirst_cancelWritesNothing()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 4));
    sharedTestService().useSimulator(sim);
    auto window = open(sharedTestService(), sim, Blog);

    // No journal yet: the chooser says so and offers nothing.
    const auto empty = undoByKeys(*window, 0);
    QVERIFY(empty->opened);
    QCOMPARE(empty->rows, QStringList());
    QCOMPARE(empty->problem, QStringLiteral("No run of this blog has been journaled yet."));

    // A run the service refused throughout: listed, nothing to put back.
    writeFile(journalPath(sim), writeLine("r1", "2026-01-01T10:00:00.000Z", "1001", "fix", sim.blogHost(Blog)) + outcomeLine("r1", "1001", "refused")
                                    + writeLine("r2", "2026-03-01T10:00:00.000Z", "1002", "fix", sim.blogHost(Blog)) + "garbage\n");
    const auto listed = undoByKeys(*window, 1);
    QCOMPARE(listed->rows, (QStringList{QStringLiteral("Fix posts 0 1"), QStringLiteral("Fix posts 0 0")}));
    QVERIFY(!listed->undoEnabled);
    QVERIFY2(listed->problem.contains(QStringLiteral("1 of its 4 lines could not be read")), qPrintable(listed->problem));

    const auto cancelled = undoByKeys(*window, -1);
    QVERIFY(cancelled->opened);
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 0);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 0);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void TestJournal::undo_refusedWriteRetried_stopDuringWait()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 6));
    sharedTestService().useSimulator(sim);
    auto window = fixedBlog(sim);
    QVERIFY(window);
    // The second undo write is refused and retried; during the third, Esc stops the run.
    sim::Fault refused = SimFixture::fault(sim::Fault::Status);
    refused.status = 400;
    refused.body = "Try again.";
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), 1);
    sim.server().injectFault(sim::Endpoint::Write, refused, 1);
    sim::Fault slow = SimFixture::fault(sim::Fault::Delay);
    slow.delayMs = 400;
    sim.server().injectFault(sim::Endpoint::Write, SimFixture::fault(sim::Fault::Delay), 1);
    sim.server().injectFault(sim::Endpoint::Write, slow, 1);
    m_dialogs.answer(DialogServices::Retry);
    int undoWrites = 0;
    connect(&sim.server(), &sim::Server::requestLogged, window.get(), [&](const sim::Request &request) {
        if (request.path == QLatin1String("/api/write") && ++undoWrites == 4)
            QTimer::singleShot(50, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
    });

    const auto chooser = undoByKeys(*window, 0);
    QVERIFY(chooser->opened);
    QCOMPARE(m_dialogs.shown.size(), 1); // the Retry question; a stopped run shows no summary
    QVERIFY(m_dialogs.shown.first().text.startsWith(QStringLiteral("Can't send post. Try again.")));
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("1"));
    const JournalContents contents = RunJournal::Read(journalPath(sim));
    QCOMPARE(contents.runs.size(), size_t(2));
    QCOMPARE(contents.runs.front().kind, QStringLiteral("undo"));
    QCOMPARE(contents.runs.front().written(), 2);
    QCOMPARE(contents.runs.front().unknown(), 1); // the write that was stopped may have arrived
}

void TestJournal::undo_readRefused_retried()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 3));
    sharedTestService().useSimulator(sim);
    auto window = fixedBlog(sim);
    QVERIFY(window);
    const qsizetype readsBefore = sim.server().log(sim::Endpoint::Read).size();
    sim::Fault refused = SimFixture::fault(sim::Fault::Status);
    refused.status = 500;
    refused.body = "Down for a moment.";
    // The first post is read, and read again just before its write; the second one's read is refused.
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Delay), 2);
    sim.server().injectFault(sim::Endpoint::Read, refused, 1);
    m_dialogs.answer(DialogServices::Retry);

    QVERIFY(undoByKeys(*window, 0)->opened);

    QCOMPARE(m_dialogs.shown.size(), 2);
    QVERIFY2(m_dialogs.shown.at(0).text.startsWith(QStringLiteral("Can't read post 1002.")),
             qPrintable(m_dialogs.shown.at(0).text));
    QCOMPARE(m_dialogs.shown.at(0).buttons, DialogServices::RetryCancel);
    QVERIFY(m_dialogs.shown.at(1).text.startsWith(QStringLiteral("Undo finished: 3 of the run's 3 posts")));
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size() - readsBefore, 3 * 2 + 1);
    for (const sim::Request &read : sim.server().log(sim::Endpoint::Read).mid(readsBefore))
        QVERIFY(!read.field(QStringLiteral("id")).isEmpty());
}

void TestJournal::undo_ctrlZDuringARun_opensNothing()
{
    SimFixture sim(SimFixture::generatedAccount(Blog, 10));
    sharedTestService().useSimulator(sim);
    writeFile(journalPath(sim), writeLine("r1", "2026-01-01T10:00:00.000Z", "1001", "fix", sim.blogHost(Blog)) + outcomeLine("r1", "1001", "accepted"));
    auto window = open(sharedTestService(), sim, Blog);
    QVERIFY(downloadAll(*window));
    sim::Fault slow = SimFixture::fault(sim::Fault::Delay);
    slow.delayMs = 30;
    sim.server().injectFault(sim::Endpoint::Write, slow, 10);
    int writes = 0;
    connect(&sim.server(), &sim::Server::requestLogged, window.get(), [&](const sim::Request &request) {
        if (request.path == QLatin1String("/api/write") && ++writes == 3)
            QTimer::singleShot(5, window.get(), [&] { QTest::keyClick(list(*window), Qt::Key_Z, Qt::ControlModifier); });
    });
    bool chooserOpened = false;
    QTimer watch; // lives no longer than this test
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<frmUndoRuns *>(QApplication::activeModalWidget())) {
            chooserOpened = true;
            dialog->reject();
        }
    });
    watch.start();

    QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

    QVERIFY(writes >= 3);
    QCOMPARE(window->posts().count(), 0); // the run went on to the end
    QVERIFY(!chooserOpened);
    QVERIFY(m_dialogs.shown.isEmpty());
}

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"

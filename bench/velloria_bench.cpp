// Downloads and fixes through the real posts window (offscreen), against the
// simulator in a process of its own, with curl making the same requests on
// one kept-alive connection in the same run as the baseline. Prints one
// table: each figure, its baseline, the ratio and the goal.
//
//   QT_QPA_PLATFORM=offscreen build/bench/velloria-bench [--quick] [--only startup|scale|speed|latency|pacing] [--posts N]
//
// --quick runs the large blog with 20,000 posts instead of 100,000; --posts
// sets the size of the speed run (10,000).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextStream>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "CurlBaseline.h"
#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "SimProcess.h"
#include "TestFolders.h"
#include "QuietObserver.h"
#include "TestBrowser.h"
#include "TestService.h"
#include "client/login/SettingsStore.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/FixRun.h"
#include "client/runs/RunObserver.h"
#include "client/service/current/CurrentTumblrService.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/login/frmGroupSelector.h"
#include "windows/posts/frmDownloadSettings.h"
#include "windows/posts/frmPostsList.h"
#include "client/runs/RunJournal.h"
#include "client/net/HTTPRequest.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/service/designed/WritePostRequest.h"
#include "client/service/designed/modTumblrReader.h"

namespace {

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

struct Row {
    QString work;
    QString program;
    QString baseline;
    QString ratio;
    QString goal;
    bool met = false;
    bool info = false; // a figure that shows where time goes, with no goal of its own
};

QList<Row> g_rows;
QStringList g_problems;

void add(Row row)
{
    std::printf("  %s: %s (baseline %s) %s\n", qPrintable(row.work), qPrintable(row.program),
                qPrintable(row.baseline.isEmpty() ? QStringLiteral("none") : row.baseline),
                row.info ? "" : row.met ? "ok" : "MISSED");
    std::fflush(stdout);
    g_rows.append(std::move(row));
}

QString seconds(double s) { return QStringLiteral("%1 s").arg(s, 0, 'f', s < 10 ? 3 : 1); }
QString times(double r) { return QStringLiteral("%1 ×").arg(r, 0, 'f', 2); }

// A time set beside curl's to show where time goes; no goal of its own.
void addInfo(const QString &work, double program, double curl, const QString &what)
{
    Row row{work, seconds(program), seconds(curl), times(program / curl), what};
    row.info = true;
    add(std::move(row));
}

Account accountFor(const SimProcess &sim)
{
    Account account;
    account.groupName = sim.blogHost();
    account.email = SimProcess::email();
    account.password = SimProcess::password();
    return account;
}

int pageReads(int posts) { return posts / modTumblrReader::PageSize + 1; }

// The read of a page of the blog, from its own host.
PageRequest pageRequest(const SimProcess &sim, int page)
{
    return {accountFor(sim), long(page) * modTumblrReader::PageSize, modTumblrReader::PageSize, {}, 80, {}, {}};
}

// The page reads a download of the whole blog makes.
QList<HTTPRequestData> readRequests(const SimProcess &sim, int posts)
{
    QList<HTTPRequestData> requests;
    for (int page = 0; page < pageReads(posts); ++page)
        requests.append(modTumblrReader::PageRequestData(pageRequest(sim, page)));
    return requests;
}

// The requests fixing every post: the rows read as the program reads them,
// each read by its id just before it is written back as the program writes it.
QList<HTTPRequestData> writeRequests(const SimProcess &sim, int posts, int limit)
{
    QList<HTTPRequestData> requests;
    int writes = 0;
    for (int page = 0; page < pageReads(posts) && writes < limit; ++page) {
        const PageResult answer = sharedTestService().service().readPage(pageRequest(sim, page), nullptr);
        if (!answer.accepted())
            break;
        for (const PostRow &row : answer.posts) {
            if (writes >= limit || !TagRule::needsFix(row, TagRules::designed()))
                continue;
            PageRequest readBack{accountFor(sim), 0, 1, {}, 80, {}, row.id};
            requests.append(modTumblrReader::PageRequestData(readBack));
            requests.append(WritePostRequest::RequestData(sim.serviceHost(), accountFor(sim), row,
                                                          TagRule::fixedTags(row, TagRules::designed())));
            ++writes;
        }
    }
    return requests;
}

using MakeRequests = std::function<QList<HTTPRequestData>(const SimProcess &)>;
using RunRequests = std::function<CurlRun(const QList<HTTPRequestData> &, int status)>;

// The requests `make` builds, made by `run` against a simulator of their own.
CurlRun runOnFreshSim(const char *who, const RunRequests &run, int posts, int delayMs, const MakeRequests &make,
                      int status)
{
    SimProcess sim(posts, delayMs);
    if (!sim.isRunning()) {
        CurlRun failed;
        failed.error = sim.error();
        return failed;
    }
    sharedTestService().useServiceHost(sim.serviceHost());
    const CurlRun result = run(make(sim), status);
    if (!result.ok())
        g_problems << QStringLiteral("%1: %2 of %3 answered as expected %4")
                          .arg(QLatin1String(who))
                          .arg(result.answered)
                          .arg(result.requests)
                          .arg(result.error);
    return result;
}

CurlRun curlOnFreshSim(int posts, int delayMs, const MakeRequests &make, int status)
{
    return runOnFreshSim("curl", runCurl, posts, delayMs, make, status);
}

// The same requests through the program's HTTP component alone, one after the
// other on its kept-alive connection: no window, no journal, no parsing. What
// is left between this and curl is the network library's own cost.
CurlRun componentOnFreshSim(int posts, const MakeRequests &make, int status)
{
    const auto component = [](const QList<HTTPRequestData> &requests, int expected) {
        CurlRun run;
        run.requests = int(requests.size());
        HTTPRequest http;
        QElapsedTimer timer;
        timer.start();
        for (const HTTPRequestData &data : requests) {
            const HTTPResult answer = http.Send(data);
            if (!answer.failed() && answer.status == expectedStatus(data, expected))
                ++run.answered;
        }
        run.seconds = double(timer.nsecsElapsed()) / 1e9;
        return run;
    };
    return runOnFreshSim("HTTP component", component, posts, 0, make, status);
}

// curl's reads of the whole blog and its first `writes` writes, each on a fresh simulator.
struct Baselines {
    CurlRun read;
    CurlRun write;
};
Baselines curlBaselines(int posts, int delayMs, int writes)
{
    return {curlOnFreshSim(posts, delayMs, [&](const SimProcess &sim) { return readRequests(sim, posts); }, 200),
            curlOnFreshSim(posts, delayMs, [&](const SimProcess &sim) { return writeRequests(sim, posts, writes); }, 201)};
}

// One posts window on a fresh simulator.
class WindowRun
{
public:
    WindowRun(int posts, int delayMs) : m_sim(posts, delayMs)
    {
        if (!m_sim.isRunning()) {
            g_problems << m_sim.error();
            return;
        }
        sharedTestService().useServiceHost(m_sim.serviceHost());
        m_window = std::make_unique<frmPostsList>(sharedTestService().settings(), sharedTestService().service(),
                                                  accountFor(m_sim));
        m_window->resize(900, 600);
        m_window->show();
        QCoreApplication::processEvents();
    }
    ~WindowRun()
    {
        if (m_window)
            m_window->close();
    }

    bool ok() const { return m_window != nullptr; }
    frmPostsList &window() { return *m_window; }

    // "Get posts" for `pages` pages ("All" for every one); seconds.
    double download(const QString &pages = QStringLiteral("All"))
    {
        DownloadAnswer answer;
        answer.cumulative = false;
        answer.pages = pages;
        answerDownloadSettings(&answer);
        // The dialog is answered by a timer: its few milliseconds are not the download's.
        struct DialogClosed : QObject {
            QElapsedTimer timer;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                if (event->type() == QEvent::Hide && qobject_cast<frmDownloadSettings *>(watched))
                    timer.start();
                return false;
            }
        } closed;
        closed.timer.start();
        qApp->installEventFilter(&closed);
        QTest::mouseClick(PostsWindowDriver::button(*m_window, "cmdGetPosts"), Qt::LeftButton);
        qApp->removeEventFilter(&closed);
        return double(closed.timer.nsecsElapsed()) / 1e9;
    }

    // "Fix posts"; seconds, with the times at which each tenth of the rows was written.
    double fix(QList<double> *tenths = nullptr)
    {
        PostsModel &rows = m_window->posts();
        const int total = rows.count();
        QElapsedTimer timer;
        const auto connection = QObject::connect(&rows, &QAbstractItemModel::rowsRemoved, m_window.get(), [&] {
            const int done = total - rows.count();
            if (tenths && total >= 10 && done % (total / 10) == 0)
                tenths->append(double(timer.nsecsElapsed()) / 1e9);
        });
        timer.start();
        QTest::mouseClick(PostsWindowDriver::button(*m_window, "cmdFixPosts"), Qt::LeftButton);
        const double s = double(timer.nsecsElapsed()) / 1e9;
        QObject::disconnect(connection);
        return s;
    }

private:
    SimProcess m_sim;
    std::unique_ptr<frmPostsList> m_window;
};

void checkQuiet(ScriptedDialogs &dialogs, const QString &what)
{
    if (!dialogs.shown.isEmpty())
        g_problems << what + QStringLiteral(": a box was shown: ") + dialogs.texts().join(QStringLiteral(" | "));
    dialogs.clear();
}

// The rows the window lists after a step, checked; no box may have come up.
int checkRows(WindowRun &run, ScriptedDialogs &dialogs, int expected, const QString &what)
{
    const int rows = run.window().posts().count();
    if (rows != expected)
        g_problems << QStringLiteral("%1: %2 rows listed, not %3").arg(what).arg(rows).arg(expected);
    checkQuiet(dialogs, what);
    return rows;
}

void speed(ScriptedDialogs &dialogs, int posts)
{
    std::printf("Download and fix %d posts\n", posts);
    const int reads = pageReads(posts);
    WindowRun run(posts, 0);
    if (!run.ok())
        return;
    const double down = run.download();
    const int listed = checkRows(run, dialogs, posts, QStringLiteral("download"));
    const double fixTime = run.fix();
    const int left = checkRows(run, dialogs, 0, QStringLiteral("fix"));

    const auto [curlRead, curlWrite] = curlBaselines(posts, 0, posts);
    const double downRate = listed / down;
    const double downRatio = down / curlRead.seconds;
    add({QStringLiteral("download %L1 posts (%2 page reads)").arg(posts).arg(reads),
         QStringLiteral("%1, %L2 posts/s").arg(seconds(down)).arg(qRound(downRate)), seconds(curlRead.seconds),
         times(downRatio), QStringLiteral("≥ 10,000 posts/s, ≤ 2 × curl"), downRate >= 10000 && downRatio <= 2});

    const double fixRate = (listed - left) / fixTime;
    const double fixRatio = fixTime / curlWrite.seconds;
    add({QStringLiteral("fix %L1 posts (%L1 reads by id, %L1 writes)").arg(posts),
         QStringLiteral("%1, %L2 posts/s").arg(seconds(fixTime)).arg(qRound(fixRate)), seconds(curlWrite.seconds),
         times(fixRatio), QStringLiteral("≥ 2,000 posts/s, ≤ 3 × curl"), fixRate >= 2000 && fixRatio <= 3});

    // The same fix once more with the journal left to the page cache: the
    // share of the wait for the disk before every write.
    double unsyncedFix = 0;
    {
        WindowRun again(posts, 0);
        if (again.ok()) {
            again.download();
            checkRows(again, dialogs, posts, QStringLiteral("download for the unsynced fix"));
            RunJournal::setDiskSyncForMeasuring(false);
            unsyncedFix = again.fix();
            RunJournal::setDiskSyncForMeasuring(true);
            checkRows(again, dialogs, 0, QStringLiteral("unsynced fix"));
        }
    }
    addInfo(QStringLiteral("the same fix, journal not synced to the disk"), unsyncedFix, curlWrite.seconds,
            QStringLiteral("– (the disk's share)"));

    const CurlRun httpRead = componentOnFreshSim(posts, [&](const SimProcess &sim) { return readRequests(sim, posts); }, 200);
    const CurlRun httpWrite = componentOnFreshSim(posts, [&](const SimProcess &sim) { return writeRequests(sim, posts, posts); }, 201);
    addInfo(QStringLiteral("the same %1 reads, HTTP component alone").arg(reads), httpRead.seconds, curlRead.seconds,
            QStringLiteral("– (Qt Network's share)"));
    addInfo(QStringLiteral("the same %L1 reads and writes, HTTP component alone").arg(posts), httpWrite.seconds,
            curlWrite.seconds, QStringLiteral("– (Qt Network's share)"));
}

void latency(ScriptedDialogs &dialogs, int delayMs)
{
    const int posts = 5000;
    const int fixed = 500;
    std::printf("Download %d and fix %d posts with %d ms added to every answer\n", posts, fixed, delayMs);
    const int reads = pageReads(posts);
    WindowRun run(posts, delayMs);
    if (!run.ok())
        return;
    const double down = run.download();
    checkRows(run, dialogs, posts, QStringLiteral("download with delay"));
    run.download(QString::number(fixed / modTumblrReader::PageSize));
    checkRows(run, dialogs, fixed, QStringLiteral("pages for the delayed fix"));
    const double fixTime = run.fix();
    checkRows(run, dialogs, 0, QStringLiteral("fix with delay"));

    const auto [curlRead, curlWrite] = curlBaselines(posts, delayMs, fixed);
    const double readBound = reads * delayMs / 1000.0;
    add({QStringLiteral("download, %1 reads, %2 ms each").arg(reads).arg(delayMs),
         QStringLiteral("%1 = %2 × bound").arg(seconds(down)).arg(down / readBound, 0, 'f', 3),
         QStringLiteral("%1 = %2 × bound").arg(seconds(curlRead.seconds)).arg(curlRead.seconds / readBound, 0, 'f', 3),
         times(down / curlRead.seconds), QStringLiteral("≤ 1.1 × %1").arg(seconds(readBound)),
         down <= 1.1 * readBound});

    // Each post: its read by id just before the write, then the write.
    const double writeBound = 2 * fixed * delayMs / 1000.0;
    add({QStringLiteral("fix, %1 reads and %1 writes, %2 ms each").arg(fixed).arg(delayMs),
         QStringLiteral("%1 = %2 × bound").arg(seconds(fixTime)).arg(fixTime / writeBound, 0, 'f', 3),
         QStringLiteral("%1 = %2 × bound").arg(seconds(curlWrite.seconds)).arg(curlWrite.seconds / writeBound, 0, 'f', 3),
         times(fixTime / curlWrite.seconds), QStringLiteral("≤ 1.1 × %1").arg(seconds(writeBound)),
         fixTime <= 1.1 * writeBound});
}

void scale(ScriptedDialogs &dialogs, int posts)
{
    std::printf("Download and fix %d posts: memory and the cost of the last rows\n", posts);
    const int reads = pageReads(posts);
    WindowRun run(posts, 0);
    if (!run.ok())
        return;
    const double before = residentMB();
    const double down = run.download();
    QCoreApplication::processEvents();
    const double afterDownload = residentMB();
    const int listed = checkRows(run, dialogs, posts, QStringLiteral("large download"));
    QList<double> tenths;
    const double fixTime = run.fix(&tenths);
    QCoreApplication::processEvents();
    const double afterFix = residentMB();
    const int left = checkRows(run, dialogs, 0, QStringLiteral("large fix"));

    const auto [curlRead, curlWrite] = curlBaselines(posts, 0, posts);
    add({QStringLiteral("download %L1 posts (%L2 page reads)").arg(posts).arg(reads),
         QStringLiteral("%1, %L2 posts/s").arg(seconds(down)).arg(qRound(listed / down)), seconds(curlRead.seconds),
         times(down / curlRead.seconds), QStringLiteral("≤ 2 × curl"), down / curlRead.seconds <= 2});
    add({QStringLiteral("memory with %L1 rows listed").arg(listed),
         QStringLiteral("%1 MB (%2 MB before the download)").arg(afterDownload, 0, 'f', 0).arg(before, 0, 'f', 0), {},
         {}, QStringLiteral("< 300 MB"), afterDownload < 300});

    add({QStringLiteral("fix %L1 posts (%L1 reads by id, %L1 writes)").arg(posts),
         QStringLiteral("%1, %L2 posts/s").arg(seconds(fixTime)).arg(qRound(listed / fixTime)),
         seconds(curlWrite.seconds), times(fixTime / curlWrite.seconds), QStringLiteral("≤ 3 × curl"),
         fixTime / curlWrite.seconds <= 3});
    add({QStringLiteral("memory after %L1 writes").arg(listed - left),
         QStringLiteral("%1 MB, %2 MB above after the download").arg(afterFix, 0, 'f', 0).arg(afterFix - afterDownload, 0, 'f', 1),
         {}, {}, QStringLiteral("≤ 20 MB above"), afterFix - afterDownload <= 20});
    if (tenths.size() >= 10) {
        const double first = tenths[0];
        const double last = tenths[9] - tenths[8];
        add({QStringLiteral("last tenth of the fix against the first"),
             QStringLiteral("%1 ms a post, first %2").arg(last * 1000 / (posts / 10), 0, 'f', 3).arg(first * 1000 / (posts / 10), 0, 'f', 3),
             {}, times(last / first), QStringLiteral("≤ 1.3 ×"), last / first <= 1.3});
    }
}

// "Writes per minute": the gaps between writes of a paced run.
void pacing(ScriptedDialogs &dialogs)
{
    constexpr int Posts = 30;
    constexpr int PerMinute = 600; // 100 ms apart
    std::printf("Fix %d posts at %d writes a minute\n", Posts, PerMinute);
    WindowRun run(Posts, 0);
    if (!run.ok())
        return;
    run.download();
    sharedTestService().service().setWritesPerMinute(PerMinute);
    QList<qint64> times;
    QElapsedTimer clock;
    clock.start();
    const auto connection = QObject::connect(&run.window().posts(), &QAbstractItemModel::rowsRemoved, &run.window(),
                                             [&] { times << clock.nsecsElapsed(); });
    run.fix();
    QObject::disconnect(connection);
    sharedTestService().service().setWritesPerMinute(-1);
    checkQuiet(dialogs, QStringLiteral("paced fix"));
    if (times.size() != Posts) {
        g_problems << QStringLiteral("paced fix wrote %1 of %2").arg(times.size()).arg(Posts);
        return;
    }
    double shortest = 1e18;
    double sum = 0;
    for (qsizetype i = 1; i < times.size(); ++i) {
        const double gap = double(times[i] - times[i - 1]) / 1e6;
        shortest = std::min(shortest, gap);
        sum += gap;
    }
    const double mean = sum / double(times.size() - 1);
    add({QStringLiteral("paced fix, %1 writes a minute").arg(PerMinute),
         QStringLiteral("gaps: shortest %1 ms, mean %2 ms").arg(shortest, 0, 'f', 1).arg(mean, 0, 'f', 1), {}, {},
         QStringLiteral("no gap under 100 ms, mean ≤ 110 ms"), shortest >= 99.0 && mean <= 110.0});
}

// A run's observer that reports a question as a problem of the benchmark.
class QuietRunObserver final : public QuietObserver
{
public:
    bool askRetry(const RunProblem &problem) override
    {
        g_problems << QStringLiteral("calls: asked about: ") + problem.text;
        return false;
    }
};

// Calls a fixed post takes on the current interface, counted from the
// service's own X-Ratelimit-Perday-Remaining before and after the fix
// (the run's one call for the budget left out), against the simulator in a
// process of its own with a blog of `posts` posts of one kind.
void callsPerPost(const QString &mix, int posts, const QString &goalText, double goal)
{
    QTcpServer probe; // a free port for the redirect
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 redirectPort = probe.serverPort();
    probe.close();
    QProcess sim;
    sim.setStandardErrorFile(QProcess::nullDevice());
    sim.start(QStringLiteral(VELLORIA_SIM_CURRENT_PATH),
              {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--generate"), QString::number(posts),
               QStringLiteral("--mix"), mix, QStringLiteral("--redirect-uri"),
               QStringLiteral("http://127.0.0.1:%1/callback").arg(redirectPort)});
    QString host;
    static const QRegularExpression api(QStringLiteral("^API: +http://([^/]+)/"));
    while (host.isEmpty() && sim.waitForReadyRead(20000)) {
        while (sim.canReadLine()) {
            const auto match = api.match(QString::fromUtf8(sim.readLine()).trimmed());
            if (match.hasMatch())
                host = match.captured(1);
        }
    }
    const auto stopSim = [&sim] {
        sim.terminate();
        if (!sim.waitForFinished(5000))
            sim.kill();
        sim.waitForFinished(5000);
    };
    if (host.isEmpty()) {
        g_problems << QStringLiteral("calls: the current simulator did not start");
        stopSim();
        return;
    }
    SettingsStore settings;
    CurrentTumblrService service(settings, settings.secrets(), host);
    TestBrowser browser;
    service.setBrowserOpener(browser.opener());
    service.setRedirectPort(redirectPort);
    service.setWritesPerMinute(0);
    QString why;
    service.setApplicationKey(QStringLiteral("demo-key"), QStringLiteral("demo-secret"), &why);
    const QString email = QStringLiteral("bench-%1@example.com").arg(mix);
    if (!service.signIn(email, {}, nullptr).accepted()) {
        g_problems << QStringLiteral("calls: no sign-in on the current simulator");
        stopSim();
        return;
    }
    Account account;
    account.groupName = QStringLiteral("generated");
    account.email = email;
    PostsModel rows;
    QuietRunObserver observer;
    DownloadRun(service, rows, observer).run(account, allPages());
    const int listed = rows.count();
    const std::optional<int> before = service.budget().dayLeft;
    QTemporaryDir journals;
    const bool fixed = FixRun(service, rows, observer, journals.path()).fix(account);
    const std::optional<int> after = service.budget().dayLeft;
    stopSim();
    if (!fixed || listed != posts || !before || !after) {
        g_problems << QStringLiteral("calls: the %1 blog's fix did not go through (%2 of %3 listed)").arg(mix).arg(listed).arg(posts);
        return;
    }
    const double perPost = double(*before - *after - 1) / posts;
    Row row{QStringLiteral("calls a fixed post, %1 (%2 posts, read-back on)").arg(goalText).arg(posts),
            QString::number(perPost, 'f', 3), {}, {}, goal > 0 ? QStringLiteral("≤ %1").arg(goal) : QStringLiteral("–")};
    row.met = goal <= 0 || perPost <= goal;
    row.info = goal <= 0;
    add(std::move(row));
}

void calls()
{
    std::printf("Calls a fixed post takes on the current interface\n");
    callsPerPost(QStringLiteral("legacy"), 300, QStringLiteral("legacy posts"), 1.2);
    callsPerPost(QStringLiteral("editor"), 300, QStringLiteral("new-editor posts"), 2.1);
    callsPerPost(QStringLiteral("mixed"), 300, QStringLiteral("a mixed blog, both kinds"), 0);
}

// The login window's first paint, in a process of its own as the program starts.
int startupChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    modMain::InitApplication();
    SettingsStore settings;
    XmlTumblrService service(settings, QStringLiteral("127.0.0.1:9"), {});
    struct FirstPaint : QObject {
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && qobject_cast<frmGroupSelector *>(watched)) {
                std::printf("shown\n");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            }
            return false;
        }
    } filter;
    app.installEventFilter(&filter);
    modMain::Main(settings, service);
    return app.exec();
}

void startup(const char *self)
{
    std::printf("Start-up\n");
    QList<double> runs;
    for (int i = 0; i < 7; ++i) {
        QProcess child;
        QElapsedTimer timer;
        timer.start();
        child.start(QString::fromLocal8Bit(self), {QStringLiteral("--startup-child")});
        if (!child.waitForStarted(10000))
            break;
        while (!child.canReadLine() && child.waitForReadyRead(10000)) {
        }
        const double s = double(timer.nsecsElapsed()) / 1e9;
        if (child.readLine().trimmed() == "shown")
            runs.append(s);
        child.waitForFinished(10000);
    }
    if (runs.isEmpty()) {
        g_problems << QStringLiteral("the login window was never shown");
        return;
    }
    std::sort(runs.begin(), runs.end());
    const double median = runs[runs.size() / 2];
    add({QStringLiteral("start-up to the login window painted (median of %1)").arg(runs.size()),
         QStringLiteral("%1 ms").arg(median * 1000, 0, 'f', 0), {}, {}, QStringLiteral("< 500 ms"), median < 0.5});
}

void printTable()
{
    QTextStream out(stdout);
    out << "\n| work | program | curl, same requests | ratio | goal | |\n|---|---|---|---|---|---|\n";
    for (const Row &row : std::as_const(g_rows)) {
        out << "| " << row.work << " | " << row.program << " | " << (row.baseline.isEmpty() ? QStringLiteral("–") : row.baseline)
            << " | " << (row.ratio.isEmpty() ? QStringLiteral("–") : row.ratio) << " | " << row.goal << " | "
            << (row.info ? "" : row.met ? "met" : "**missed**") << " |\n";
    }
    for (const QString &problem : std::as_const(g_problems))
        out << "PROBLEM: " << problem << '\n';
}
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--startup-child") == 0)
        return startupChild(argc, argv);

    QApplication app(argc, argv);
    TestFolders folders;
    if (!folders.isValid()) {
        std::fprintf(stderr, "no temporary folder of our own\n");
        return 1;
    }
    const QStringList arguments = app.arguments();
    const bool quick = arguments.contains(QStringLiteral("--quick"));
    const qsizetype only = arguments.indexOf(QStringLiteral("--only"));
    const QString part = only > 0 ? arguments.value(only + 1) : QString();
    const qsizetype postsAt = arguments.indexOf(QStringLiteral("--posts"));
    const int postsOption = postsAt > 0 ? arguments.value(postsAt + 1).toInt() : 0;
    ScriptedDialogs dialogs;
    setDialogs(&dialogs);

    // Everything runs inside the application's event loop, as a user's clicks do:
    // work deferred to the loop behaves as it does in the program.
    QTimer::singleShot(0, &app, [&] {
        const auto wanted = [&](const char *name) { return part.isEmpty() || part == QLatin1String(name); };
        if (wanted("startup"))
            startup(argv[0]);
        // First, while the heap is fresh, so that its figures are the run's own.
        if (wanted("scale"))
            scale(dialogs, quick ? 20000 : 100000);
        if (wanted("speed"))
            speed(dialogs, postsOption > 0 ? postsOption : 10000);
        if (wanted("latency"))
            latency(dialogs, 20);
        if (wanted("pacing"))
            pacing(dialogs);
        if (wanted("calls"))
            calls();
        QCoreApplication::quit();
    });
    app.exec();

    setDialogs(nullptr);
    printTable();
    return g_problems.isEmpty() ? 0 : 1;
}

// "Fix posts" through the posts window, as a user runs it.
#include <QLabel>
#include <QPushButton>
#include "windows/posts/PostsListView.h"
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/ucPostsFixer.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"
#include "client/posts/PostsModel.h"

using namespace PostsWindowDriver;

namespace {
const QString Blog = QStringLiteral("photos");
const QString EMail = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");

QColor resultColor(frmPostsList &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblResult"))->palette().color(QPalette::Window);
}

QString resultCaption(frmPostsList &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblResult"))->text();
}

ucPostsFixer *fixer(frmPostsList &window)
{
    return window.findChild<ucPostsFixer *>(QStringLiteral("upfFixer"));
}

sim::Fault delayed(int ms)
{
    sim::Fault fault;
    fault.kind = sim::Fault::Delay;
    fault.delayMs = ms;
    return fault;
}

// A 429 with the given header lines.
sim::Fault tooManyRequests(const QByteArray &headers, const QByteArray &body = "Limit Exceeded")
{
    sim::Fault fault;
    fault.status = 429;
    fault.body = body;
    fault.headers = headers;
    return fault;
}

const char *const RowButtons[] = {"cmdFixPosts", "cmdOpenPost", "cmdEditPost", "cmdRemoveSelected"};
const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
}

class TestFixWindow final : public QObject
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
    }
    void cleanupTestCase()
    {
        setDialogs(nullptr);
        sharedTestService().useServiceHost({});
    }

    void fixPosts_downloadedRows_allWrittenListEmptied()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 5, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        QCOMPARE(window->posts().count(), 5);

        // Slow answers, so the test sees every step of the run.
        sim.server().injectFault(sim::Endpoint::Write, delayed(40), 5);
        QStringList progress;
        QList<bool> buttonsDuring;
        bool panelShown = false;
        QTimer watch;
        watch.setInterval(2);
        connect(&watch, &QTimer::timeout, this, [&] {
            const QString first = fixer(*window)->statusText().section(QStringLiteral("\r\n"), 0, 0);
            if (progress.isEmpty() || progress.last() != first)
                progress << first;
            panelShown = panelShown || fixer(*window)->isVisible();
            buttonsDuring << (button(*window, "cmdGetPosts")->isEnabled() || button(*window, "cmdFixPosts")->isEnabled()
                              || list(*window)->isEnabled());
        });
        watch.start();
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        watch.stop();
        // The last answer's text stays after the run (the panel is hidden then).
        const QString last = fixer(*window)->statusText().section(QStringLiteral("\r\n"), 0, 0);
        if (progress.last() != last)
            progress << last;

        QCOMPARE(progress, QStringList({"Initializing...", "Rquest #1", "Rquest #2", "Rquest #3", "Rquest #4",
                                        "Rquest #5"}));
        QVERIFY(panelShown);
        QVERIFY(!buttonsDuring.isEmpty());
        QVERIFY(!buttonsDuring.contains(true));
        QVERIFY(fixer(*window)->statusText().contains(QStringLiteral(" / ")));
        QCOMPARE(window->posts().count(), 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 0"));
        QCOMPARE(resultColor(*window), Green);
        QVERIFY(m_dialogs.shown.isEmpty());
        QVERIFY(!fixer(*window)->isVisible());
        QVERIFY(button(*window, "cmdGetPosts")->isEnabled());
        QVERIFY(list(*window)->isEnabled());
        for (const char *name : RowButtons)
            QVERIFY2(!button(*window, name)->isEnabled(), name);
        for (const sim::Post &post : sim.blog(Blog).posts) {
            QCOMPARE(post.writeCount, 1);
            QCOMPARE(post.tags.last(), post.caption);
            QCOMPARE(post.group, sim.blogHost(Blog));
        }
    }

    void fixPosts_captionCountsDown_rowByRow()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        QStringList titles;
        connect(&sim.server(), &sim::Server::requestLogged, this, [&](const sim::Request &request) {
            if (request.path == QLatin1String("/api/write"))
                titles << window->windowTitle();
        });
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        QCOMPARE(titles, QStringList({"Velloria :: Posts list :: 3", "Velloria :: Posts list :: 2",
                                      "Velloria :: Posts list :: 1"}));
    }

    void fixPosts_rowsAppendedToModel_sentWithTheirFields()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 2, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        PostRow row;
        row.id = QStringLiteral("1002");
        row.date = QStringLiteral("2026-01-01 00:00:00 GMT");
        row.caption = QStringLiteral("Sunset? at #Beach");
        row.rawCaption = QStringLiteral("<b>Sunset? at #Beach</b>");
        row.tags = QStringList{QStringLiteral("cat")};
        row.format = QStringLiteral("html");
        row.slug = QStringLiteral("sunset");
        row.clickThroughUrl = QStringLiteral("http://example.com/");
        // The post on the service as the row lists it: the write reads it first
        // and writes nothing over a post that differs.
        sim::Post &stored = sim.post(QStringLiteral("1002"));
        stored.date = row.date;
        stored.caption = row.rawCaption;
        stored.tags = row.tags;
        stored.format = row.format;
        stored.slug = row.slug;
        stored.linkUrl = row.clickThroughUrl;
        window->posts().append(row);
        window->DrawControls();
        QVERIFY(button(*window, "cmdFixPosts")->isEnabled());

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QCOMPARE(window->posts().count(), 0);
        const sim::Post &post = sim.post(QStringLiteral("1002"));
        QCOMPARE(post.tags, QStringList({"cat", "Sunset at Beach"}));
        QCOMPARE(post.caption, row.rawCaption);
        QCOMPARE(post.date, row.date);
        QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 0);
    }

    void fixPosts_rowWithoutPostId_stopsThereWithItsName_rowStays()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        QCOMPARE(window->posts().count(), 3);
        std::vector<PostRow> rows;
        for (int i = 0; i < 3; ++i)
            rows.push_back(window->posts().at(i));
        rows[1].id = QStringLiteral(" ");
        window->posts().clear();
        window->posts().append(rows);
        sim.server().clearLog();

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 1); // the first row only
        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
        QCOMPARE(m_dialogs.shown.first().text, ucPostsFixer::MissingIdText(rows[1]));
        QVERIFY(m_dialogs.shown.first().text.contains(rows[1].caption));
        QCOMPARE(listedIds(*window), (QStringList{QStringLiteral(" "), rows[2].id}));
        QCOMPARE(resultColor(*window), Red);
        QCOMPARE(sim.post(rows[2].id).writeCount, 0);
    }

    // Asked to slow down: the wait is shown and the same write made again.
    void tooManyRequests_waitedOut_sameWriteRepeated_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Retry-After seconds") << QByteArray("Retry-After: 3\r\n") << QStringLiteral("Waiting 3 s");
        QTest::newRow("X-Ratelimit-Perhour-Reset") << QByteArray("X-Ratelimit-Perhour-Reset: 2\r\n")
                                                   << QStringLiteral("Waiting 2 s");
        QTest::newRow("nothing named") << QByteArray() << QStringLiteral("Waiting 30 s");
    }
    void tooManyRequests_waitedOut_sameWriteRepeated()
    {
        QFETCH(QByteArray, headers);
        QFETCH(QString, shown);
        BackOff::setSecondForTesting(10);
        SimFixture sim(SimFixture::generatedAccount(Blog, 2, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        sim.server().injectFault(sim::Endpoint::Write, tooManyRequests(headers), 2);
        QStringList texts;
        QList<QColor> colours;
        QTimer watch;
        watch.setInterval(1);
        connect(&watch, &QTimer::timeout, this, [&] {
            const QString text = fixer(*window)->statusText().section(QStringLiteral("\r\n"), 1, 1);
            if (texts.isEmpty() || texts.last() != text)
                texts << text;
            if (text.startsWith(QLatin1String("Waiting")))
                colours << resultColor(*window);
        });
        watch.start();
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        watch.stop();
        BackOff::setSecondForTesting(0);

        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(window->posts().count(), 0);
        const QList<sim::Request> writes = sim.server().log(sim::Endpoint::Write);
        QCOMPARE(writes.size(), 4); // the first post three times, the second once
        QCOMPARE(writes[0].rawBody, writes[2].rawBody);
        QCOMPARE(sim.post(QStringLiteral("1001")).writeCount, 1);
        QVERIFY2(texts.contains(shown), qPrintable(texts.join(QStringLiteral(" | "))));
        QVERIFY(!colours.isEmpty());
        QCOMPARE(colours.first(), QColor(255, 255, 0));
        QCOMPARE(resultCaption(*window), QStringLiteral("2"));
        QCOMPARE(resultColor(*window), Green);
    }

    void tooManyRequests_stoppedDuringTheWait_rowStays()
    {
        BackOff::setSecondForTesting(10);
        SimFixture sim(SimFixture::generatedAccount(Blog, 2, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        sim.server().injectFault(sim::Endpoint::Write, tooManyRequests("Retry-After: 600\r\n")); // six seconds here
        QTimer::singleShot(300, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        BackOff::setSecondForTesting(0);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(window->posts().count(), 2);
        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 1);
    }

    void tooManyRequests_afterFiveRepeats_theDesignedQuestion()
    {
        BackOff::setSecondForTesting(1);
        SimFixture sim(SimFixture::generatedAccount(Blog, 1, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        sim.server().injectFault(sim::Endpoint::Write, tooManyRequests("Retry-After: 1\r\n"), 6);
        m_dialogs.answer(DialogServices::Cancel);
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        BackOff::setSecondForTesting(0);
        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 6);
        QCOMPARE(m_dialogs.texts(),
                 QStringList{QStringLiteral("Can't send post. Limit Exceeded\r\n\r\nThe server answered: 429 Too Many Requests")});
        QCOMPARE(m_dialogs.shown.first().buttons, DialogServices::RetryCancel);
        QCOMPARE(window->posts().count(), 1);
        QCOMPARE(resultCaption(*window), QStringLiteral("6")); // five waits and the refusal
    }

    // The gap is counted from the answer to the write before, so writes never
    // reach the service closer together than the pace, however slow the answer.
    void pacing_gapCountedFromTheAnswer()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        sharedTestService().service().setWritesPerMinute(600); // 100 ms apart
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        sim.server().setAnswerDelay(150);
        QList<qint64> removed;
        QElapsedTimer clock;
        clock.start();
        connect(&window->posts(), &QAbstractItemModel::rowsRemoved, this, [&] { removed << clock.elapsed(); });
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        sim.server().setAnswerDelay(0);
        sharedTestService().service().setWritesPerMinute(-1);

        QCOMPARE(removed.size(), 3);
        for (qsizetype i = 1; i < removed.size(); ++i) // the answer's 150 ms, then the 100 ms gap
            QVERIFY2(removed[i] - removed[i - 1] >= 240, qPrintable(QString::number(removed[i] - removed[i - 1])));
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    // A limit of writes a minute: the wait before each next write is shown and
    // can be stopped; the row waiting stays.
    void pacing_waitShownBetweenWrites_stopDuringTheWait()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        sharedTestService().service().setWritesPerMinute(30); // two seconds apart
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        QStringList texts;
        QTimer watch;
        watch.setInterval(5);
        connect(&watch, &QTimer::timeout, this, [&] {
            const QString text = fixer(*window)->statusText().section(QStringLiteral("\r\n"), 1, 1);
            if (texts.isEmpty() || texts.last() != text)
                texts << text;
        });
        watch.start();
        QTimer::singleShot(1300, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);
        const qint64 elapsed = timer.elapsed();
        watch.stop();
        sharedTestService().service().setWritesPerMinute(-1);

        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 1);
        QCOMPARE(window->posts().count(), 2);
        QVERIFY2(texts.contains(QStringLiteral("Waiting 2 s")) && texts.contains(QStringLiteral("Waiting 1 s")),
                 qPrintable(texts.join(QStringLiteral(" | "))));
        QVERIFY2(elapsed < 1900, qPrintable(QString::number(elapsed))); // the stop did not wait the wait out
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void pacing_fromTheSetting_zeroOrMissingMeansNoLimit_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("perMinute");
        QTest::newRow("missing") << QString() << 0;
        QTest::newRow("zero") << QStringLiteral("0") << 0;
        QTest::newRow("twelve") << QStringLiteral(" 12 ") << 12;
        QTest::newRow("not a number") << QStringLiteral("fast") << 0;
        QTest::newRow("negative") << QStringLiteral("-5") << 0;
    }
    void pacing_fromTheSetting_zeroOrMissingMeansNoLimit()
    {
        QFETCH(QString, setting);
        QFETCH(int, perMinute);
        SettingsStore &store = sharedTestService().settings();
        store.SetValue(QStringLiteral("Writes per minute"), setting);
        QCOMPARE(sharedTestService().service().writesPerMinute(), perMinute);
        sharedTestService().service().setWritesPerMinute(40); // this run's --pace wins
        QCOMPARE(sharedTestService().service().writesPerMinute(), 40);
        sharedTestService().service().setWritesPerMinute(-1);
        store.SetValue(QStringLiteral("Writes per minute"), QString());
    }

    void fixPosts_emptyList_doesNothing()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 2, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        // The button is disabled with no rows; the handler itself also does nothing.
        QVERIFY(!button(*window, "cmdFixPosts")->isEnabled());
        QMetaObject::invokeMethod(button(*window, "cmdFixPosts"), "click");
        QVERIFY(sim.server().log().isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void escDuringStalledWrite_stopsRun_windowStays()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const QStringList ids = listedIds(*window);
        sim.server().injectFault(sim::Endpoint::Write, delayed(0), 1);
        sim::Fault stall;
        stall.kind = sim::Fault::Stall;
        sim.server().injectFault(sim::Endpoint::Write, stall, 1);
        int writes = 0;
        bool onlineAtEsc = false;
        connect(&sim.server(), &sim::Server::requestLogged, this, [&](const sim::Request &request) {
            if (request.path != QLatin1String("/api/write") || ++writes != 2)
                return;
            QTimer::singleShot(150, window.get(), [&] {
                onlineAtEsc = fixer(*window)->IsOnline();
                QTest::keyClick(window.get(), Qt::Key_Escape);
            });
        });

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QVERIFY(onlineAtEsc);
        QVERIFY(window->isVisible());
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(listedIds(*window), ids.mid(1));
        QCOMPARE(resultColor(*window), Red);
        QCOMPARE(resultCaption(*window), QString());
        QCOMPARE(sim.post(ids.at(0)).writeCount, 1);
        QCOMPARE(sim.post(ids.at(1)).writeCount, 0);
        QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 2"));
        for (const char *name : RowButtons)
            QVERIFY2(button(*window, name)->isEnabled(), name);
        QVERIFY(!fixer(*window)->IsOnline());
        QVERIFY(!fixer(*window)->isVisible());
    }

    void refusedWrite_cancelled_rowStaysAndCounterShown()
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
        sharedTestService().useSimulator(sim);
        auto window = open(sharedTestService(), sim, Blog);
        QVERIFY(downloadAll(*window));
        const QStringList ids = listedIds(*window);
        sim::Fault refused;
        refused.kind = sim::Fault::Status;
        refused.status = 400;
        refused.body = "Post refused.";
        sim.server().injectFault(sim::Endpoint::Write, refused, 1);
        QColor colorAtBox;
        m_dialogs.onShow = [&](const DialogServices::Shown &) { colorAtBox = resultColor(*window); };
        m_dialogs.answer(DialogServices::Cancel);

        QTest::mouseClick(button(*window, "cmdFixPosts"), Qt::LeftButton);

        QCOMPARE(m_dialogs.texts(),
                 QStringList({"Can't send post. Post refused.\r\n\r\nThe server answered: 400 Bad Request"}));
        QCOMPARE(colorAtBox, QColor(255, 255, 0));
        QCOMPARE(resultColor(*window), Red);
        QCOMPARE(resultCaption(*window), QStringLiteral("1"));
        QCOMPARE(listedIds(*window), ids);
    }

private:
    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

QTEST_MAIN(TestFixWindow)
#include "tst_fixwindow.moc"

// The program as a user runs it: its own process on an X server (Xvfb) with
// a window manager (openbox), driven by real key presses (xdotool), against
// the simulator in this process. What focus and key routing decide (Esc and
// the close box during a run, after a stop) is only seen this way. It also
// makes the picture of the posts window that the package's AppStream
// metainfo shows (packaging/screenshots/posts-window.png is a copy).
#include "SimFixture.h"
#include "TestFolders.h"

#include "client/login/modPasswordCryptor.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>
#include <functional>

namespace {
const QString Blog = QStringLiteral("desk");
const QString EMail = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");

bool waitFor(const std::function<bool()> &condition, int ms = 10000)
{
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

// A private X display with a window manager, for the test's lifetime.
class Desktop
{
public:
    ~Desktop() { stop(); }

    bool start(QString *why)
    {
        for (const char *tool : {"Xvfb", "openbox", "xdotool", "xprop"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
                *why = QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
                return false;
            }
        }
        for (int number = 91; number < 140 && m_display.isEmpty(); ++number) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
                || QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            m_server.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(number), QStringLiteral("-nolisten"),
                                                    QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                                                    QStringLiteral("1280x1024x24")});
            if (m_server.waitForStarted(5000)
                && waitFor([number] { return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)); }, 5000))
                m_display = QStringLiteral(":%1").arg(number);
            else
                m_server.kill(), m_server.waitForFinished(2000);
        }
        if (m_display.isEmpty()) {
            *why = QStringLiteral("Xvfb did not start");
            return false;
        }
        m_manager.setProcessEnvironment(environment());
        m_manager.start(QStringLiteral("openbox"), {});
        if (!m_manager.waitForStarted(5000)
            || !waitFor([this] { return run({QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")},
                                            QStringLiteral("xprop")).contains("window id"); },
                        10000)) {
            *why = QStringLiteral("openbox did not start");
            return false;
        }
        return true;
    }

    void stop()
    {
        for (QProcess *process : {&m_manager, &m_server}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(3000))
                    process->kill();
                process->waitForFinished(3000);
            }
        }
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    QByteArray run(const QStringList &arguments, const QString &tool = QStringLiteral("xdotool"), int ms = 5000) const
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(tool, arguments);
        if (!process.waitForFinished(ms)) {
            process.kill();
            process.waitForFinished(1000);
        }
        return process.readAllStandardOutput();
    }

    // Ids of visible windows whose title matches the pattern.
    QList<QByteArray> windows(const QString &title) const
    {
        QList<QByteArray> ids;
        for (const QByteArray &line : run({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title}).split('\n')) {
            if (!line.trimmed().isEmpty())
                ids << line.trimmed();
        }
        return ids;
    }
    QString activeTitle() const
    {
        return QString::fromUtf8(run({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")})).trimmed();
    }
    void keys(const QStringList &names) const
    {
        run(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")} + names);
    }

private:
    QProcess m_server;
    QProcess m_manager;
    QString m_display;
};
}

class TestDesktop final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase() { m_desktop.stop(); }
    void init();
    void cleanup();

    void fix_stopped_thenWindowClosed_data();
    void fix_stopped_thenWindowClosed();
    void download_stopped_thenWindowClosed_data();
    void download_stopped_thenWindowClosed();
    void postsWindow_screenshot();

private:
    // Starts the program with the account and blog remembered, and opens the
    // posts window; `scale` is the program's QT_SCALE_FACTOR.
    bool openPostsWindow(SimFixture &sim, int scale = 1);
    bool downloadAll(int expectedRows);
    int listedRows() const; // from the posts window's title, -1 when it is not shown
    bool programRunning() const { return m_program.state() == QProcess::Running; }

    TestFolders m_folders;
    Desktop m_desktop;
    QProcess m_program;
};

void TestDesktop::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QString why;
    if (!m_desktop.start(&why))
        QSKIP(qPrintable(why));
}

void TestDesktop::init()
{
    QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Zelvat")).removeRecursively();
}

void TestDesktop::cleanup()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished(5000);
    }
}

bool TestDesktop::openPostsWindow(SimFixture &sim, int scale)
{
    const QString entry = sim.blog(Blog).title + QStringLiteral(" | ") + sim.blogHost(Blog);
    {
        // Where the program finds them: it is not in test mode.
        QSettings settings(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Zelvat/Velloria.ini"),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("E-Mail"), EMail);
        settings.setValue(QStringLiteral("Password"), modPasswordCryptor::ScramblePassword(Password));
        settings.setValue(QStringLiteral("Groups"), entry);
        settings.setValue(QStringLiteral("Last Group"), entry);
        settings.setValue(QStringLiteral("Service host"), sim.serviceHost());
    }
    QProcessEnvironment env = m_desktop.environment();
    if (scale != 1)
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
    m_program.setProcessEnvironment(env);
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.start(QStringLiteral(VELLORIA_BIN_DIR "/velloria"), {});
    if (!m_program.waitForStarted(10000))
        return false;
    if (!waitFor([this] { return m_desktop.activeTitle() == QLatin1String("Velloria :: Starting"); })) {
        qWarning("no login window; active: %s", qPrintable(m_desktop.activeTitle()));
        return false;
    }
    // "Proceed", the default button. The window manager may name a window
    // active a moment before it has the keyboard; a press lost that way has
    // reached nothing and left the login window active, so it is repeated.
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_desktop.keys({QStringLiteral("Return")});
        if (waitFor([this] { return m_desktop.activeTitle() != QLatin1String("Velloria :: Starting"); }, 3000))
            break;
    }
    if (!waitFor([this] { return listedRows() == 0; })) {
        qWarning("no posts window; active: %s", qPrintable(m_desktop.activeTitle()));
        return false;
    }
    return true;
}

int TestDesktop::listedRows() const
{
    const QString title = m_desktop.activeTitle();
    const QString prefix = QStringLiteral("Velloria :: Posts list :: ");
    return title.startsWith(prefix) ? title.mid(prefix.size()).toInt() : -1;
}

bool TestDesktop::downloadAll(int expectedRows)
{
    // The list has the focus: Tab to "Get posts", Space; the dialog's OK is its default.
    m_desktop.keys({QStringLiteral("Tab"), QStringLiteral("space")});
    if (!waitFor([this] { return m_desktop.activeTitle() == QLatin1String("Download settings"); }))
        return false;
    m_desktop.keys({QStringLiteral("Return")});
    return waitFor([&] { return listedRows() == expectedRows; });
}

void TestDesktop::fix_stopped_thenWindowClosed_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("Esc") << QStringLiteral("Escape");
    QTest::newRow("close box (Alt+F4 of the window manager)") << QStringLiteral("alt+F4");
}

void TestDesktop::fix_stopped_thenWindowClosed()
{
    QFETCH(QString, key);
    constexpr int Posts = 120;
    SimFixture sim(SimFixture::generatedAccount(Blog, Posts, EMail, Password));
    QVERIFY(openPostsWindow(sim));
    QVERIFY(downloadAll(Posts));

    sim::Fault slow;
    slow.kind = sim::Fault::Delay;
    slow.delayMs = 40;
    sim.server().injectFault(sim::Endpoint::Write, slow, Posts);
    m_desktop.keys({QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")}); // "Fix posts"
    QVERIFY(waitFor([&] { return sim.server().log(sim::Endpoint::Write).size() >= 5; }));

    // One key stops the run: at most the write under way still arrives.
    m_desktop.keys({key});
    const qsizetype atKey = sim.server().log(sim::Endpoint::Write).size();
    QTest::qWait(600);
    const qsizetype afterStop = sim.server().log(sim::Endpoint::Write).size();
    QVERIFY2(afterStop <= atKey + 1, qPrintable(QStringLiteral("%1 writes after the key").arg(afterStop - atKey)));
    QTest::qWait(400);
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), afterStop);
    QVERIFY(programRunning());
    const int left = listedRows();
    QVERIFY2(left > 0 && left < Posts, qPrintable(m_desktop.activeTitle()));

    // The next one closes the posts window: the login window comes back.
    m_desktop.keys({key});
    QVERIFY2(waitFor([this] { return m_desktop.activeTitle() == QLatin1String("Velloria :: Starting"); }),
             qPrintable(m_desktop.activeTitle()));
    QVERIFY(m_desktop.windows(QStringLiteral("^Velloria :: Posts list")).isEmpty());
    QVERIFY(programRunning());

    // And one more ends the program.
    m_desktop.keys({key});
    QVERIFY(m_program.waitForFinished(10000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
}

void TestDesktop::download_stopped_thenWindowClosed_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("Esc") << QStringLiteral("Escape");
    QTest::newRow("close box (Alt+F4 of the window manager)") << QStringLiteral("alt+F4");
}

void TestDesktop::download_stopped_thenWindowClosed()
{
    QFETCH(QString, key);
    SimFixture sim(SimFixture::generatedAccount(Blog, 200, EMail, Password));
    QVERIFY(openPostsWindow(sim));
    // The first page comes, the second never does.
    sim::Fault normal;
    normal.kind = sim::Fault::Delay;
    sim.server().injectFault(sim::Endpoint::Read, normal);
    sim::Fault stall;
    stall.kind = sim::Fault::Stall;
    sim.server().injectFault(sim::Endpoint::Read, stall);
    m_desktop.keys({QStringLiteral("Tab"), QStringLiteral("space")});
    QVERIFY(waitFor([this] { return m_desktop.activeTitle() == QLatin1String("Download settings"); }));
    m_desktop.keys({QStringLiteral("Return")});
    QVERIFY(waitFor([&] { return sim.server().log(sim::Endpoint::Read).size() == 2 && listedRows() == 50; }));

    m_desktop.keys({key});
    QVERIFY(waitFor([&] { return m_desktop.activeTitle() == QLatin1String("Velloria :: Posts list :: 50"); }));
    QTest::qWait(300);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 2);
    QVERIFY(programRunning());
    QCOMPARE(listedRows(), 50); // the window stays, rows kept

    m_desktop.keys({key});
    QVERIFY2(waitFor([this] { return m_desktop.activeTitle() == QLatin1String("Velloria :: Starting"); }),
             qPrintable(m_desktop.activeTitle()));
    QVERIFY(programRunning());
    m_desktop.keys({key});
    QVERIFY(m_program.waitForFinished(10000));
    QCOMPARE(m_program.exitCode(), 0);
}

void TestDesktop::postsWindow_screenshot()
{
    // A blog as people keep one: captions as they write them, a few tags each.
    const struct {
        const char *caption;
        QStringList tags;
    } photos[] = {
        {"Sunset over the harbour", {QStringLiteral("sea"), QStringLiteral("sunset")}},
        {"Morning fog on the river", {QStringLiteral("river"), QStringLiteral("fog"), QStringLiteral("morning")}},
        {"<p>Lisbon &mdash; tram 28</p>", {QStringLiteral("travel"), QStringLiteral("lisbon")}},
        {"Train window, somewhere in the Alps", {QStringLiteral("travel"), QStringLiteral("mountains")}},
        {"Caf&eacute; terrace in the rain", {QStringLiteral("city"), QStringLiteral("rain")}},
        {"Fishing boats at rest", {QStringLiteral("sea"), QStringLiteral("boats")}},
        {"Lighthouse on the north pier", {QStringLiteral("sea")}},
        {"Market day", {QStringLiteral("city"), QStringLiteral("people")}},
        {"Autumn leaves on the canal", {QStringLiteral("autumn"), QStringLiteral("city")}},
        {"Night ferry to the islands", {QStringLiteral("sea"), QStringLiteral("night"), QStringLiteral("travel")}},
        {"Old town at dawn", {QStringLiteral("city"), QStringLiteral("morning")}},
        {"First snow in the park", {QStringLiteral("winter")}},
        {"Bridge at blue hour", {QStringLiteral("city"), QStringLiteral("night")}},
        {"Rooftops after the storm", {QStringLiteral("city"), QStringLiteral("weather")}},
        {"The last tram home", {QStringLiteral("night"), QStringLiteral("travel")}},
    };
    std::vector<sim::Post> posts;
    int day = 30;
    for (const auto &photo : photos) {
        sim::Post post =
            SimFixture::photoPost(QString::number(4100 - day), QString::fromUtf8(photo.caption), photo.tags);
        post.date = QStringLiteral("2026-11-%1 %2:%3:00 GMT")
                        .arg(day, 2, 10, QLatin1Char('0'))
                        .arg(8 + day % 12, 2, 10, QLatin1Char('0'))
                        .arg(day % 6 * 10, 2, 10, QLatin1Char('0'));
        posts.push_back(std::move(post));
        day -= 2;
    }
    const int rows = int(posts.size());
    sim::Account account;
    account.email = EMail;
    account.password = Password;
    account.userName = QStringLiteral("harbourlights");
    account.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("Harbour Lights"), std::move(posts)));
    SimFixture sim(std::move(account));
    // Twice its size, as on a high-density screen: the window's size is fixed,
    // and software centres show pictures at least 620 pixels wide.
    QVERIFY(openPostsWindow(sim, 2));
    QVERIFY(downloadAll(rows));
    QTest::qWait(500); // painted, the result square settled
    const QString window = QString::fromUtf8(m_desktop.run({QStringLiteral("getactivewindow")})).trimmed();
    QVERIFY2(!window.isEmpty(), "no active window");

    const QString folder = QStringLiteral(VELLORIA_BIN_DIR "/screenshots");
    const QString file = folder + QStringLiteral("/posts-window.png");
    QVERIFY(QDir().mkpath(folder));
    QFile::remove(file);
    const QByteArray said =
        m_desktop.run({window, file}, QStringLiteral(VELLORIA_BIN_DIR "/tests/windows/windowshot"), 30000);

    // Nothing but a PNG of a window's size: its signature, then the IHDR chunk's width and height.
    QFile picture(file);
    QVERIFY2(picture.open(QIODevice::ReadOnly),
             qPrintable(QStringLiteral("no %1 (windowshot: %2)").arg(file, QString::fromUtf8(said))));
    const QByteArray head = picture.read(24);
    QVERIFY(head.size() == 24 && head.startsWith("\x89PNG\r\n\x1a\n") && head.mid(12, 4) == "IHDR");
    const quint32 width = qFromBigEndian<quint32>(head.constData() + 16);
    const quint32 height = qFromBigEndian<quint32>(head.constData() + 20);
    QVERIFY2(width >= 620 && width <= 1280 && height >= 300 && height <= 1024,
             qPrintable(QStringLiteral("%1x%2").arg(width).arg(height)));
    QVERIFY(picture.size() > 4096); // a window's worth of pixels, not a blank
    qInfo("posts window: %ux%u in %s", width, height, qPrintable(file));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"

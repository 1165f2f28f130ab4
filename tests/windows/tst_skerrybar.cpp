#include "TestFolders.h"

#include "TestService.h"
#include "windows/app/modMain.h"
#include "windows/app/modSkerrybar.h"
#include "windows/login/frmGroupSelector.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <memory>

namespace {
constexpr auto ToolbarName = "Skerrybar.zlvToolbarProxy";

QString g_busAddress; // our private session bus; empty when none could be started
QProcess *g_busDaemon = nullptr;

QString markText(const char *member, const QWidget &window)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(member)).arg(qint32(window.winId()));
}

// Child mode: a copy of the program with no usable session bus.
int runWithoutBus()
{
    modSkerrybar::ToolbarShow();
    QWidget window;
    window.show();
    modSkerrybar::ToolbarMarkForm(&window);
    modSkerrybar::ToolbarUnMarkForm(&window);
    QWidget again;
    modSkerrybar::ToolbarMarkForm(&again);
    modSkerrybar::ToolbarUnMarkForm(&again);
    QCoreApplication::processEvents();
    int visible = 0;
    for (const QWidget *widget : QApplication::topLevelWidgets())
        visible += widget->isVisible() ? 1 : 0;
    QTextStream(stdout) << "visible windows: " << visible << Qt::endl;
    return 0;
}
}

// Stands in for the toolbar program: records what it is told.
class FakeToolbar final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "Skerrybar.zlvToolbarProxy")
    Q_DISABLE_COPY_MOVE(FakeToolbar)

public:
    FakeToolbar() = default;
    QStringList calls;

public slots:
    void ShowToolBar() { calls << QStringLiteral("ShowToolBar"); }
    void MarkForm(int window) { calls << QStringLiteral("MarkForm %1").arg(window); }
    void UnMarkForm(int window) { calls << QStringLiteral("UnMarkForm %1").arg(window); }
};

class TestSkerrybar final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void toolbarShow_asksToolbarToShowItself();
    void markAndUnmark_sendMatchedPairsWithWindowIds();
    void windowOpenedTwice_isMarkedTwiceWithItsNewId();
    void callsBeforeToolbarShow_doNothing();
    void program_loginWindowMarkedAfterToolbarShown_unmarkedWhenClosed();
    void toolbarNotRunning_callsReturnAndShowNothing();
    void disconnectedBus_laterCallsDoNothing();
    void noSessionBusAtAll_programWorksAndShowsNothing_data();
    void noSessionBusAtAll_programWorksAndShowsNothing();

private:
    void registerToolbar();
    void unregisterToolbar();
    std::unique_ptr<FakeToolbar> m_toolbar;
    bool m_registered = false;
};

void TestSkerrybar::initTestCase()
{
    if (g_busAddress.isEmpty())
        QSKIP("dbus-daemon could not be started");
    QVERIFY(QDBusConnection::sessionBus().isConnected());
}

void TestSkerrybar::init()
{
    modSkerrybar::resetForTesting();
    m_toolbar = std::make_unique<FakeToolbar>();
    registerToolbar();
}

void TestSkerrybar::cleanup()
{
    unregisterToolbar();
    m_toolbar.reset();
    modSkerrybar::resetForTesting();
}

void TestSkerrybar::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("toolbar"));
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

void TestSkerrybar::registerToolbar()
{
    QDBusConnection toolbarBus = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("toolbar"));
    QVERIFY(toolbarBus.isConnected());
    QVERIFY(toolbarBus.registerObject(QStringLiteral("/"), m_toolbar.get(), QDBusConnection::ExportAllSlots));
    QVERIFY(toolbarBus.registerService(QLatin1String(ToolbarName)));
    m_registered = true;
}

void TestSkerrybar::unregisterToolbar()
{
    if (!m_registered)
        return;
    QDBusConnection toolbarBus(QStringLiteral("toolbar"));
    toolbarBus.unregisterService(QLatin1String(ToolbarName));
    toolbarBus.unregisterObject(QStringLiteral("/"));
    m_registered = false;
}

void TestSkerrybar::toolbarShow_asksToolbarToShowItself()
{
    modSkerrybar::ToolbarShow();
    QTRY_COMPARE(m_toolbar->calls, QStringList{QStringLiteral("ShowToolBar")});
}

void TestSkerrybar::markAndUnmark_sendMatchedPairsWithWindowIds()
{
    QWidget login;
    QWidget posts;
    QWidget settings;
    login.show();
    posts.show();
    modSkerrybar::ToolbarShow();
    modSkerrybar::ToolbarMarkForm(&login);
    modSkerrybar::ToolbarMarkForm(&posts);
    modSkerrybar::ToolbarMarkForm(&settings);
    modSkerrybar::ToolbarUnMarkForm(&settings);
    modSkerrybar::ToolbarUnMarkForm(&posts);
    modSkerrybar::ToolbarUnMarkForm(&login);

    const QStringList expected{
        QStringLiteral("ShowToolBar"),
        markText("MarkForm", login),
        markText("MarkForm", posts),
        markText("MarkForm", settings),
        markText("UnMarkForm", settings),
        markText("UnMarkForm", posts),
        markText("UnMarkForm", login),
    };
    QTRY_COMPARE(m_toolbar->calls, expected);
    QVERIFY(login.winId() != posts.winId());
}

void TestSkerrybar::windowOpenedTwice_isMarkedTwiceWithItsNewId()
{
    modSkerrybar::ToolbarShow();
    QStringList expected{QStringLiteral("ShowToolBar")};
    for (int opening = 0; opening < 2; ++opening) {
        auto posts = std::make_unique<QWidget>();
        posts->show();
        modSkerrybar::ToolbarMarkForm(posts.get());
        expected << markText("MarkForm", *posts);
        modSkerrybar::ToolbarUnMarkForm(posts.get());
        expected << markText("UnMarkForm", *posts);
    }
    QTRY_COMPARE(m_toolbar->calls, expected);
    QCOMPARE(m_toolbar->calls.filter(QStringLiteral("MarkForm")).size(), 4);
}

void TestSkerrybar::program_loginWindowMarkedAfterToolbarShown_unmarkedWhenClosed()
{
    modMain::Main(sharedTestService().settings(), sharedTestService().service());
    QPointer<frmGroupSelector> login = frmGroupSelector::instance();
    QVERIFY(login);
    QVERIFY(QTest::qWaitForWindowExposed(login));
    const QString id = QString::number(qint32(login->winId()));
    QTRY_COMPARE(m_toolbar->calls, (QStringList{QStringLiteral("ShowToolBar"), QStringLiteral("MarkForm ") + id}));

    QApplication::setQuitOnLastWindowClosed(false); // the test program goes on
    login->close();
    QTRY_VERIFY(!login);
    QTRY_COMPARE(m_toolbar->calls, (QStringList{QStringLiteral("ShowToolBar"), QStringLiteral("MarkForm ") + id,
                                                QStringLiteral("UnMarkForm ") + id}));
}

void TestSkerrybar::callsBeforeToolbarShow_doNothing()
{
    QWidget window;
    modSkerrybar::ToolbarMarkForm(&window);
    modSkerrybar::ToolbarUnMarkForm(&window);
    modSkerrybar::ToolbarMarkForm(nullptr);
    // Anything sent earlier on the same connection would arrive before this.
    modSkerrybar::ToolbarShow();
    QTRY_COMPARE(m_toolbar->calls, QStringList{QStringLiteral("ShowToolBar")});
}

void TestSkerrybar::toolbarNotRunning_callsReturnAndShowNothing()
{
    unregisterToolbar();
    QWidget window;
    window.show();
    modSkerrybar::ToolbarShow();
    modSkerrybar::ToolbarMarkForm(&window);
    modSkerrybar::ToolbarUnMarkForm(&window);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(QApplication::topLevelWidgets().size(), 1);

    // A call that waits on the same connection: the bus has handled the
    // calls above (and found nobody to take them) before the toolbar starts.
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QLatin1String(ToolbarName)));
    registerToolbar();
    modSkerrybar::ToolbarShow();
    QTRY_COMPARE(m_toolbar->calls, QStringList{QStringLiteral("ShowToolBar")});
}

void TestSkerrybar::disconnectedBus_laterCallsDoNothing()
{
    const QDBusConnection nowhere = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/velloria-test-bus"), QStringLiteral("nowhere"));
    QVERIFY(!nowhere.isConnected());
    modSkerrybar::setBusForTesting(nowhere);
    QWidget window;
    window.show();
    modSkerrybar::ToolbarShow();
    modSkerrybar::ToolbarMarkForm(&window);
    modSkerrybar::ToolbarUnMarkForm(&window);
    QCoreApplication::processEvents();
    QVERIFY(m_toolbar->calls.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestSkerrybar::noSessionBusAtAll_programWorksAndShowsNothing_data()
{
    QTest::addColumn<QString>("busAddress"); // "-": not set at all

    QTest::newRow("address pointing nowhere") << QStringLiteral("unix:path=/nonexistent/velloria-test-bus");
    QTest::newRow("address not a bus") << QStringLiteral("garbage");
    QTest::newRow("no address") << QStringLiteral("-");
}

void TestSkerrybar::noSessionBusAtAll_programWorksAndShowsNothing()
{
    QFETCH(QString, busAddress);
    QTemporaryDir runtimeDir; // so no bus is found in the user's runtime folder either
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (busAddress == u'-')
        environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    else
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);

    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--without-bus")});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    const QString output = QString::fromUtf8(child.readAllStandardOutput());
    QVERIFY2(output.contains(QStringLiteral("visible windows: 1")), qPrintable(output));
}

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--without-bus") == 0) {
        QApplication app(argc, argv);
        return runWithoutBus();
    }

    TestFolders folders;
    if (!folders.isValid())
        qFatal("no temporary folder of our own");

    // A private session bus, in place before the program's first bus call.
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    if (daemon.waitForStarted(10000) && daemon.waitForReadyRead(10000)) {
        g_busAddress = QString::fromUtf8(daemon.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", g_busAddress.toUtf8());
        g_busDaemon = &daemon;
    }

    int result = 0;
    {
        QApplication app(argc, argv);
        TestSkerrybar test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (g_busDaemon) {
        daemon.terminate();
        if (!daemon.waitForFinished(5000))
            daemon.kill();
        daemon.waitForFinished(5000);
    }
    return result;
}

#include "tst_skerrybar.moc"

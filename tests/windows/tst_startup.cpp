#include "TestFolders.h"
#include "TestService.h"

#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/app/WindowSupport.h"
#include "client/app/modSupport.h"
#include "windows/login/frmGroupSelector.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

class TestStartup final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void extractGroupName_data();
    void extractGroupName();

    void drawPanelFrame_raisedOuterSunkenInner();
    void drawPanelFrame_panelSmallerThanBothEdges_drawsOuterOnly();

    void main_showsLoginWindowAsMainWindowWithIcon();
    void main_postsWindowClosed_loginWindowBackAndProgramGoesOn();
    void main_escToPostsWindowItself_closesItAndLoginWindowComesBack();
    void main_loginWindowClosed_programEnds();

    void commandLine_versionAndHelp();

private:
    static frmGroupSelector *startAndProceed(const QString &blog);
    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    setDialogs(&m_dialogs);
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->sync();
    // The test decides when the program would end.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestStartup::cleanup()
{
    for (QWidget *window : QApplication::topLevelWidgets())
        delete window;
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestStartup::extractGroupName_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name");

    QTest::newRow("title and host") << "Cats | cats.example.com" << "cats.example.com";
    QTest::newRow("bars in the title") << "A | B | c.example.com" << "c.example.com";
    QTest::newRow("blanks around the host") << "T |  host.example.com \t" << "host.example.com";
    QTest::newRow("no bar: unchanged, blanks kept") << "  host.example.com " << "  host.example.com ";
    QTest::newRow("ends with a bar") << "Title |" << "";
    QTest::newRow("bar only") << "|" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("letter case kept") << "T | My.Blog.COM" << "My.Blog.COM";
    QTest::newRow("host with port") << "T | 127.0.0.1:8080" << "127.0.0.1:8080";
}

void TestStartup::extractGroupName()
{
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QCOMPARE(modMain::ExtractGroupName(entry), name);
}

namespace {
QImage paintFrame(QWidget &panel)
{
    QImage image(panel.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    modMain::DrawPanelFrame(&panel, painter);
    painter.end();
    return image;
}
}

void TestStartup::drawPanelFrame_raisedOuterSunkenInner()
{
    QWidget panel;
    panel.resize(120, 60);
    const QImage image = paintFrame(panel);
    const int w = panel.width(), h = panel.height();

    // Raised: light at the top left, dark at the bottom right; sunken the other way round.
    QVERIFY(image.pixelColor(0, 0).lightness() > image.pixelColor(w - 1, h - 1).lightness());
    QVERIFY(image.pixelColor(8, 8).lightness() < image.pixelColor(w - 9, h - 9).lightness());
    // Top edge of the inner frame is 8 pixels in.
    QVERIFY(image.pixelColor(60, 8) != QColor(Qt::magenta));
    QCOMPARE(image.pixelColor(60, 7), QColor(Qt::magenta));
    // The middle is left alone.
    QCOMPARE(image.pixelColor(60, 30), QColor(Qt::magenta));
}

void TestStartup::drawPanelFrame_panelSmallerThanBothEdges_drawsOuterOnly()
{
    QWidget panel;
    panel.resize(12, 40);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    const QImage image = paintFrame(panel);
    QVERIFY(image.pixelColor(0, 0) != QColor(Qt::magenta));
}

void TestStartup::main_showsLoginWindowAsMainWindowWithIcon()
{
    modMain::Main(sharedTestService().settings(), sharedTestService().service());
    frmGroupSelector *login = frmGroupSelector::instance();
    QVERIFY(login);
    QVERIFY(login->isVisible());
    QVERIFY(!login->parentWidget());
    QVERIFY(login->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(modSupport::GetThunderMainHandle(), login);
    QVERIFY(!login->windowIcon().isNull());
    QVERIFY(QApplication::quitOnLastWindowClosed());
}

// The program started, a blog of its own chosen in the login window, "Proceed"
// with the program's own posts window.
frmGroupSelector *TestStartup::startAndProceed(const QString &blog)
{
    modMain::setPostsWindowFactory(nullptr);
    modMain::Main(sharedTestService().settings(), sharedTestService().service());
    frmGroupSelector *login = frmGroupSelector::instance();
    frmGroupSelector::FillCombo(QStringLiteral("Blog | %1-%2.example.com").arg(blog).arg(QCoreApplication::applicationPid()),
                                login->findChild<QComboBox *>(QStringLiteral("cboGroup")));
    login->findChild<QLineEdit *>(QStringLiteral("txtEMail"))->setText(QStringLiteral("demo@example.com"));
    login->findChild<QLineEdit *>(QStringLiteral("txtPassword"))->setText(QStringLiteral("demo"));
    login->findChild<QPushButton *>(QStringLiteral("cmdPostsList"))->click();
    return login;
}

void TestStartup::main_postsWindowClosed_loginWindowBackAndProgramGoesOn()
{
    QPointer<frmGroupSelector> login = startAndProceed(QStringLiteral("startup"));
    QPointer<QWidget> posts = login->postsWindow();
    QVERIFY(posts);
    QCOMPARE(posts->objectName(), QStringLiteral("frmPostsList"));
    QVERIFY(!posts->parentWidget());
    QVERIFY(posts->isVisible());
    QVERIFY(!login->isVisible());

    // The program's own loop: a last window closing would end it with 0.
    QVERIFY(QApplication::quitOnLastWindowClosed());
    QTimer::singleShot(0, qApp, [&] {
        QVERIFY(posts->close());
        QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(42); });
    });
    QCOMPARE(QApplication::exec(), 42);

    QVERIFY(!posts);
    QVERIFY(login);
    QVERIFY(login->isVisible());
    QCOMPARE(login->focusWidget(), login->findChild<QComboBox *>(QStringLiteral("cboGroup")));
    QVERIFY(m_dialogs.texts().isEmpty());
}

// With no control focused (all disabled during a run), keys go to the posts
// window itself: they are its own, not the login window's, which watches it.
void TestStartup::main_escToPostsWindowItself_closesItAndLoginWindowComesBack()
{
    QPointer<frmGroupSelector> login = startAndProceed(QStringLiteral("esc"));
    QPointer<QWidget> posts = login->postsWindow();
    QVERIFY(posts);

    QTimer::singleShot(0, qApp, [&] {
        QTest::keyClick(posts.data(), Qt::Key_Escape);
        QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(42); });
    });
    QCOMPARE(QApplication::exec(), 42);
    QVERIFY(!posts);
    QVERIFY(login);
    QVERIFY(login->isVisible());
    login->close();
}

void TestStartup::main_loginWindowClosed_programEnds()
{
    modMain::Main(sharedTestService().settings(), sharedTestService().service());
    QPointer<frmGroupSelector> login = frmGroupSelector::instance();
    QTimer::singleShot(0, qApp, [&] { QVERIFY(login->close()); });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(42); }); // only if it did not end
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!login);
}

void TestStartup::commandLine_versionAndHelp()
{
    const QString program = QStringLiteral(VELLORIA_BIN_DIR "/velloria");
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QStringLiteral("--version")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(process.readAll().contains("1.00.0036"), "version text");

    process.start(program, {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(30000));
    const QByteArray help = process.readAll();
    QVERIFY(help.contains("--service <HOST[:PORT]>"));
    QVERIFY(help.contains("--web-host <HOST[:PORT]>"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"

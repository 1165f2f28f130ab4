#include "TestFolders.h"
#include "TestService.h"

#include "client/app/PrivatePaths.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "client/service/Account.h"
#include "client/login/NamedLock.h"
#include "windows/login/frmGroupSelector.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString LockPrefix = QStringLiteral("{4DDF3828-CA63-484F-8CED-8200C31B102E}_");
const QString RefusalText = QStringLiteral("Can't open this group because it was already opened by another instance. "
                                           "Switch to that instance of program and use it.");

// Another running copy holding one name: a helper process that says "held"
// or "refused" once it has asked.
class OtherCopy
{
public:
    explicit OtherCopy(const QString &name)
    {
        m_process.setProgram(QStringLiteral(VELLORIA_BIN_DIR "/tests/lockholder"));
        m_process.setArguments({name});
        m_process.start();
    }
    ~OtherCopy() { kill(); }
    QString answer()
    {
        while (!m_process.canReadLine() && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(10000);
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill(); // SIGKILL: no chance to clean up
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
};

QString uniqueName(const char *what)
{
    return LockPrefix + QStringLiteral("%1-%2-%3").arg(QLatin1String(what)).arg(QCoreApplication::applicationPid())
                            .arg(QDateTime::currentMSecsSinceEpoch());
}
}

class TestBlogLock final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void acquire_sameObjectAgain_true();
    void acquire_secondObjectInSameProcess_refusedUntilFirstGoes();
    void acquire_namesDifferingInLetterCase_areDifferentNames();
    void acquire_unusualNames_heldAndRefusedLikeOthers_data();
    void acquire_unusualNames_heldAndRefusedLikeOthers();
    void acquire_oneObjectHoldsSeveralNames();

    void otherProcess_refusedWhileFirstLives_heldAfterItIsKilled();
    void otherProcess_differentBlogs_bothHeld();

    void proceed_blogHeldByAnotherCopy_showsRefusalAndStays();
    void proceed_freeBlog_opensPostsWindowAndHidesLogin();
    void proceed_sameBlogAfterPostsWindowClosed_opensAgain();
    void proceed_entryWithoutBar_wholeEntryIsTheBlogName();

    void lockFolder_missing_madeForTheUserAlone();
    void lockFolder_notPrivate_lockRefusedWithWhy_data();
    void lockFolder_notPrivate_lockRefusedWithWhy();
    void proceed_lockFolderNotPrivate_showsWhyAndStays();

private:
    std::unique_ptr<frmGroupSelector> makeWindow(const QString &entries);
    // The folder without XDG_RUNTIME_DIR: velloria-locks-UID in the temporary folder.
    static QString tempLockFolder()
    {
        return QDir(QDir::tempPath()).filePath(QStringLiteral("velloria-locks-%1").arg(::getuid()));
    }
    // Where the locks go without XDG_RUNTIME_DIR, cleared; put back in cleanup().
    void useTempLockFolder();
    QByteArray m_runtimeDir;
    bool m_runtimeDirChanged = false;

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    int m_postsWindowsMade = 0;
    QPointer<QWidget> m_lastPostsWindow;
    Account m_lastAccount;
};

void TestBlogLock::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    setDialogs(&m_dialogs);
    modMain::setPostsWindowFactory([this](const Account &account) {
        m_lastAccount = account;
        ++m_postsWindowsMade;
        auto *window = new QWidget;
        window->setObjectName(QStringLiteral("frmPostsList"));
        m_lastPostsWindow = window;
        return window;
    });
}

void TestBlogLock::init()
{
    m_dialogs.clear();
    m_postsWindowsMade = 0;
}

void TestBlogLock::cleanup()
{
    delete m_lastPostsWindow.data();
    if (m_runtimeDirChanged) {
        // Whatever a test left in the folder's place goes; the next lock makes it anew.
        QFile::remove(tempLockFolder());
        QDir(tempLockFolder()).removeRecursively();
        if (!m_runtimeDir.isEmpty())
            qputenv("XDG_RUNTIME_DIR", m_runtimeDir);
        m_runtimeDirChanged = false;
    }
}

void TestBlogLock::useTempLockFolder()
{
    m_runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    m_runtimeDirChanged = true;
    qunsetenv("XDG_RUNTIME_DIR");
    QFile::remove(tempLockFolder());
    QDir(tempLockFolder()).removeRecursively();
    QVERIFY(!QFileInfo::exists(tempLockFolder()));
}

std::unique_ptr<frmGroupSelector> TestBlogLock::makeWindow(const QString &entries)
{
    auto window = std::make_unique<frmGroupSelector>(sharedTestService().settings(), sharedTestService().service());
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("cboGroup"));
    frmGroupSelector::FillCombo(entries, combo);
    window->findChild<QLineEdit *>(QStringLiteral("txtEMail"))->setText(QStringLiteral("lock@example.com"));
    window->findChild<QLineEdit *>(QStringLiteral("txtPassword"))->setText(QStringLiteral("secret"));
    window->show();
    return window;
}

void TestBlogLock::acquire_sameObjectAgain_true()
{
    NamedLock lock;
    const QString name = uniqueName("again");
    QVERIFY(lock.Acquire(name));
    QVERIFY(lock.Acquire(name));
}

void TestBlogLock::acquire_secondObjectInSameProcess_refusedUntilFirstGoes()
{
    const QString name = uniqueName("second");
    auto first = std::make_unique<NamedLock>();
    QVERIFY(first->Acquire(name));
    NamedLock second;
    QVERIFY(!second.Acquire(name));
    first.reset();
    QVERIFY(second.Acquire(name));
}

void TestBlogLock::acquire_namesDifferingInLetterCase_areDifferentNames()
{
    const QString name = uniqueName("CaseBlog");
    NamedLock upper;
    NamedLock lower;
    QVERIFY(upper.Acquire(name));
    QVERIFY(lower.Acquire(name.toLower()));
    NamedLock again;
    QVERIFY(!again.Acquire(name.toLower()));
}

void TestBlogLock::acquire_unusualNames_heldAndRefusedLikeOthers_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("slashes and dots") << QStringLiteral("/../a/b.example.com");
    QTest::newRow("spaces and percent") << QStringLiteral(" blog %2F name ");
    QTest::newRow("cyrillic") << QStringLiteral("блог.example.com");
    QTest::newRow("very long") << QString(400, u'x');
    QTest::newRow("empty blog name") << QString();
}

void TestBlogLock::acquire_unusualNames_heldAndRefusedLikeOthers()
{
    QFETCH(QString, suffix);
    const QString name = uniqueName("odd") + suffix;
    NamedLock first;
    QVERIFY(first.Acquire(name));
    NamedLock second;
    QVERIFY(!second.Acquire(name));
    // A long name that shares its start with another is still another name.
    NamedLock other;
    QVERIFY(other.Acquire(name + QStringLiteral("y")));
}

void TestBlogLock::acquire_oneObjectHoldsSeveralNames()
{
    const QString a = uniqueName("blogA");
    const QString b = uniqueName("blogB");
    NamedLock lock;
    QVERIFY(lock.Acquire(a));
    QVERIFY(lock.Acquire(b));
    NamedLock other;
    QVERIFY(!other.Acquire(a));
    QVERIFY(!other.Acquire(b));
}

void TestBlogLock::otherProcess_refusedWhileFirstLives_heldAfterItIsKilled()
{
    const QString name = uniqueName("shared");
    OtherCopy first(name);
    QCOMPARE(first.answer(), QStringLiteral("held"));

    {
        OtherCopy second(name);
        QCOMPARE(second.answer(), QStringLiteral("refused"));
    }
    NamedLock here;
    QVERIFY(!here.Acquire(name));

    first.kill();
    QVERIFY(here.Acquire(name));

    OtherCopy third(name);
    QCOMPARE(third.answer(), QStringLiteral("refused"));
}

void TestBlogLock::otherProcess_differentBlogs_bothHeld()
{
    OtherCopy first(uniqueName("blog-one"));
    OtherCopy second(uniqueName("blog-two"));
    QCOMPARE(first.answer(), QStringLiteral("held"));
    QCOMPARE(second.answer(), QStringLiteral("held"));
}

void TestBlogLock::proceed_blogHeldByAnotherCopy_showsRefusalAndStays()
{
    const QString blog = QStringLiteral("held-%1.example.com").arg(QCoreApplication::applicationPid());
    OtherCopy other(LockPrefix + blog);
    QCOMPARE(other.answer(), QStringLiteral("held"));

    auto window = makeWindow(QStringLiteral("Held blog | ") + blog);
    auto *proceed = window->findChild<QPushButton *>(QStringLiteral("cmdPostsList"));
    QVERIFY(proceed->isEnabled());
    proceed->click();

    QCOMPARE(m_dialogs.texts(), QStringList{RefusalText});
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Exclamation);
    QCOMPARE(m_postsWindowsMade, 0);
    QVERIFY(window->isVisible());

    // Once the other copy is gone the same blog opens.
    other.kill();
    m_dialogs.clear();
    proceed->click();
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(m_postsWindowsMade, 1);
    QVERIFY(!window->isVisible());
}

void TestBlogLock::proceed_freeBlog_opensPostsWindowAndHidesLogin()
{
    const QString blog = QStringLiteral("Free-%1.Example.com").arg(QCoreApplication::applicationPid());
    auto window = makeWindow(QStringLiteral("Free | blog | ") + blog);
    window->findChild<QPushButton *>(QStringLiteral("cmdPostsList"))->click();

    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(m_postsWindowsMade, 1);
    QVERIFY(m_lastPostsWindow);
    QVERIFY(m_lastPostsWindow->isVisible());
    QVERIFY(!window->isVisible());
    QCOMPARE(m_lastAccount.groupName, blog);
    QCOMPARE(m_lastAccount.email, QStringLiteral("lock@example.com"));
    QCOMPARE(m_lastAccount.password, QStringLiteral("secret"));

    // This copy now holds the blog: another one is refused.
    OtherCopy other(LockPrefix + blog);
    QCOMPARE(other.answer(), QStringLiteral("refused"));
    // The name keeps its letter case.
    OtherCopy otherCase(LockPrefix + blog.toLower());
    QCOMPARE(otherCase.answer(), QStringLiteral("held"));
}

void TestBlogLock::proceed_sameBlogAfterPostsWindowClosed_opensAgain()
{
    const QString blog = QStringLiteral("again-%1.example.com").arg(QCoreApplication::applicationPid());
    auto window = makeWindow(QStringLiteral("Again | ") + blog);
    auto *proceed = window->findChild<QPushButton *>(QStringLiteral("cmdPostsList"));
    proceed->click();
    QCOMPARE(m_postsWindowsMade, 1);
    QVERIFY(m_lastPostsWindow->testAttribute(Qt::WA_DeleteOnClose));

    QVERIFY(m_lastPostsWindow->close());
    QTRY_VERIFY(!m_lastPostsWindow); // deleted once closed
    QVERIFY(window->isVisible());
    QCOMPARE(window->focusWidget(), window->findChild<QComboBox *>(QStringLiteral("cboGroup")));

    proceed->click();
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(m_postsWindowsMade, 2);
    QVERIFY(!window->isVisible());
}

void TestBlogLock::proceed_entryWithoutBar_wholeEntryIsTheBlogName()
{
    const QString blog = QStringLiteral("nobar-%1.example.com").arg(QCoreApplication::applicationPid());
    auto window = makeWindow(blog);
    window->findChild<QPushButton *>(QStringLiteral("cmdPostsList"))->click();
    QCOMPARE(m_lastAccount.groupName, blog);
    OtherCopy other(LockPrefix + blog);
    QCOMPARE(other.answer(), QStringLiteral("refused"));
}

void TestBlogLock::lockFolder_missing_madeForTheUserAlone()
{
    useTempLockFolder();
    NamedLock lock;
    QString error;
    QVERIFY2(lock.Acquire(uniqueName("private"), &error), qPrintable(error));
    QCOMPARE(PrivatePaths::modeOf(tempLockFolder()), 0700);
    const QStringList files = QDir(tempLockFolder()).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QCOMPARE(PrivatePaths::modeOf(QDir(tempLockFolder()).filePath(files.first())), 0600);
}

void TestBlogLock::lockFolder_notPrivate_lockRefusedWithWhy_data()
{
    QTest::addColumn<QString>("made"); // what is in the folder's place
    QTest::addColumn<QString>("why");

    QTest::newRow("a symbolic link to a private folder") << "link" << "it is a symbolic link";
    QTest::newRow("open to the group and others (0755)") << "0755" << "others can reach it (mode 0755, not 0700)";
    QTest::newRow("open to all, sticky (1777)") << "1777" << "others can reach it (mode 1777, not 0700)";
    QTest::newRow("a file") << "file" << "it is not a folder";
}

void TestBlogLock::lockFolder_notPrivate_lockRefusedWithWhy()
{
    QFETCH(QString, made);
    QFETCH(QString, why);
    useTempLockFolder();
    const QString folder = tempLockFolder();
    const QString elsewhere = QDir(QDir::tempPath()).filePath(QStringLiteral("someone-elses-locks"));
    if (made == QLatin1String("link")) {
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::setPermissions(elsewhere, QFileDevice::Permissions(0x7700)));
        QVERIFY(QFile::link(elsewhere, folder));
    } else if (made == QLatin1String("file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), made.toUInt(nullptr, 8)) == 0);
    }

    NamedLock lock;
    QString error;
    QVERIFY(!lock.Acquire(uniqueName("unsafe"), &error));
    QVERIFY2(error.contains(folder) && error.contains(why), qPrintable(error));
    // Nothing was put there.
    QVERIFY(QDir(elsewhere).entryList(QDir::Files).isEmpty());
    if (made != QLatin1String("link") && made != QLatin1String("file"))
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
    QDir(elsewhere).removeRecursively();
}

void TestBlogLock::proceed_lockFolderNotPrivate_showsWhyAndStays()
{
    useTempLockFolder();
    QVERIFY(QDir().mkpath(tempLockFolder()));
    QVERIFY(QFile::setPermissions(tempLockFolder(), QFileDevice::Permissions(0x7777)));
    const QString blog = QStringLiteral("unsafe-%1.example.com").arg(QCoreApplication::applicationPid());
    auto window = makeWindow(QStringLiteral("Unsafe | ") + blog);
    window->findChild<QPushButton *>(QStringLiteral("cmdPostsList"))->click();

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
    const QString text = m_dialogs.shown.first().text;
    QVERIFY2(text.startsWith(QStringLiteral("Can't open this group.")) && text.contains(tempLockFolder())
                 && text.contains(QStringLiteral("not safe to use")),
             qPrintable(text));
    QCOMPARE(m_postsWindowsMade, 0);
    QVERIFY(window->isVisible());
}

QTEST_MAIN(TestBlogLock)
#include "tst_bloglock.moc"

#include "TestFolders.h"
#include "TestService.h"

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

private:
    std::unique_ptr<frmGroupSelector> makeWindow(const QString &entries);

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

QTEST_MAIN(TestBlogLock)
#include "tst_bloglock.moc"

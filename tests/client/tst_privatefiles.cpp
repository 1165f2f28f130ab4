#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "client/app/PrivatePaths.h"
#include "client/login/EMailHistory.h"
#include "client/login/NamedLock.h"
#include "client/login/SecretStore.h"
#include "client/login/SettingsStore.h"
#include "client/runs/RunJournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <functional>

namespace {
// One of the program's files: where it goes, and the program writing it.
struct ProgramFile {
    std::function<QString()> path;
    std::function<bool(QString &why)> write;
    bool narrowsEarlierFolder = true; // an earlier version's 0755 folder is made 0700
};
}
Q_DECLARE_METATYPE(ProgramFile)

// Every file the program writes is the user's alone: 0600, in a folder 0700,
// whether the program makes it or finds it left by an earlier version (0644
// in a 0755 folder).
class TestPrivateFiles final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_folders.isValid());
        QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
        QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
        // Where the blog locks go without a session's runtime folder.
        qunsetenv("XDG_RUNTIME_DIR");
    }

    void programFile_userAlone_inAPrivateFolder_data();
    void programFile_userAlone_inAPrivateFolder();

private:
    TestFolders m_folders;
};

void TestPrivateFiles::programFile_userAlone_inAPrivateFolder_data()
{
    QTest::addColumn<ProgramFile>("file");
    QTest::addColumn<bool>("earlier"); // an earlier version's file and folder are there

    const ProgramFile settings{[] { return AppConfig::openSettings()->fileName(); },
                               [](QString &why) {
                                   SettingsStore store;
                                   store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
                                   return store.flush(&why);
                               }};
    const ProgramFile secrets{[] {
                                  return SecretStore(SecretStore::Backend::File).filePath();
                              },
                              [](QString &why) {
                                  return SecretStore(SecretStore::Backend::File).write(QStringLiteral("k"), "v", &why);
                              }};
    const ProgramFile journal{[] { return RunJournal::filePath(RunJournal::defaultFolder(), QStringLiteral("blog.example")); },
                              [](QString &why) {
                                  RunJournal journal(RunJournal::filePath(RunJournal::defaultFolder(),
                                                                          QStringLiteral("blog.example")),
                                                     QStringLiteral("blog.example"));
                                  PostRow post;
                                  post.id = QStringLiteral("1");
                                  return journal.Begin(QStringLiteral("fix"), {}, why)
                                         && journal.RecordWrite(post, {QStringLiteral("tag")}, why);
                              }};
    const ProgramFile history{[] {
                                  EMailHistory history;
                                  history.Init();
                                  return history.filePath();
                              },
                              [](QString &why) {
                                  EMailHistory history;
                                  history.Init();
                                  history.AddEMail(QStringLiteral("me@example.com"));
                                  return history.Save(&why);
                              }};
    const ProgramFile blogLock{[] {
                                   return QDir(NamedLock::LockFolder()).filePath(QStringLiteral("a.example.lock"));
                               },
                               [](QString &why) {
                                   NamedLock lock;
                                   return lock.Acquire(QStringLiteral("a.example"), &why);
                               },
                               false};

    QTest::newRow("settings file") << settings << false;
    QTest::newRow("settings file, earlier version's") << settings << true;
    QTest::newRow("secrets file") << secrets << false;
    QTest::newRow("secrets file, earlier version's") << secrets << true;
    QTest::newRow("journal") << journal << false;
    QTest::newRow("journal, earlier version's") << journal << true;
    QTest::newRow("e-mail history") << history << false;
    QTest::newRow("e-mail history, earlier version's") << history << true;
    QTest::newRow("blog lock") << blogLock << false;
    QTest::newRow("blog lock, earlier version's file") << blogLock << true;
}

void TestPrivateFiles::programFile_userAlone_inAPrivateFolder()
{
    QFETCH(ProgramFile, file);
    QFETCH(bool, earlier);
    const QString path = file.path();
    const QString folder = QFileInfo(path).absolutePath();
    QFile::remove(path);
    if (earlier) {
        // The lock folder is never narrowed: one open to others is refused.
        QVERIFY(file.narrowsEarlierFolder ? QDir().mkpath(folder) : PrivatePaths::makeFolder(folder));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("{}\n"); // something each of them reads past
        QVERIFY(old.setPermissions(QFileDevice::Permissions(0x6644)));
        if (file.narrowsEarlierFolder)
            QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
        QCOMPARE(PrivatePaths::modeOf(path), 0644);
    }
    QString why;
    QVERIFY2(file.write(why), qPrintable(why));
    QCOMPARE(PrivatePaths::modeOf(path), 0600);
    QCOMPARE(PrivatePaths::modeOf(folder), 0700);
}

QTEST_GUILESS_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"

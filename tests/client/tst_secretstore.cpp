#include "FakeKeychain.h"
#include "TestFolders.h"

#include "client/app/PrivatePaths.h"
#include "client/login/SecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using Answer = SecretStore::Keychain::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {
// The file's entries, decoded; empty when there is no file.
QHash<QString, QByteArray> fileEntries(const QString &path)
{
    QFile file(path);
    QHash<QString, QByteArray> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = object.begin(); it != object.end(); ++it)
        entries.insert(it.key(), QByteArray::fromBase64(it.value().toString().toLatin1()));
    return entries;
}

// The file as the keychain's failure left it: a secret written there meanwhile.
void writeFileSecret(const QString &folder, const QString &key, const QByteArray &value)
{
    SecretStore fileOnly(SecretStore::Backend::File, folder);
    QString error;
    QVERIFY2(fileOnly.write(key, value, &error), qPrintable(error));
}
}

class TestSecretStore final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }
    void init();

    void fileCopy_readWhileKeychainHasNone_thenMovedIntoIt_data();
    void fileCopy_readWhileKeychainHasNone_thenMovedIntoIt();
    void keychainAnswers_writeLandsThereAndDropsTheFileCopy();
    void keychainWithoutAnswer_fileStandsInForTheRun_data();
    void keychainWithoutAnswer_fileStandsInForTheRun();
    void keychainLocked_writeRefusedWithMessage_nothingInTheFile();
    void keychainLocked_readFallsBackToTheFileCopy();
    void remove_takesTheSecretOutOfKeychainAndFile();
    void file_userAloneFromItsFirstByte_inAPrivateFolder();

private:
    QString folder() const { return m_dir->filePath(QStringLiteral("Zelvat/Velloria")); }
    QString file() const { return QDir(folder()).filePath(QString::fromLatin1(SecretStore::FileName)); }

    TestFolders m_folders;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<FakeKeychain::State> m_keychain;
};

void TestSecretStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_keychain = std::make_shared<FakeKeychain::State>();
}

void TestSecretStore::fileCopy_readWhileKeychainHasNone_thenMovedIntoIt_data()
{
    QTest::addColumn<QByteArray>("inKeychain"); // empty: none

    QTest::newRow("keychain has none") << QByteArray();
    // Only a write the keychain did not take goes to the file: the file's is the newer.
    QTest::newRow("keychain has an older one") << QByteArray("older token");
}

void TestSecretStore::fileCopy_readWhileKeychainHasNone_thenMovedIntoIt()
{
    QFETCH(QByteArray, inKeychain);
    const QString key = QStringLiteral("tokens of me@example.com");
    writeFileSecret(folder(), key, "written while the keychain failed");
    writeFileSecret(folder(), QStringLiteral("other"), "stays");
    if (!inKeychain.isEmpty())
        m_keychain->entries.insert(key, inKeychain);

    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    QCOMPARE(store->read(key, &error), std::optional<QByteArray>("written while the keychain failed"));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // Moved: in the keychain now, out of the file.
    QCOMPARE(m_keychain->entries.value(key), QByteArray("written while the keychain failed"));
    QVERIFY(!fileEntries(file()).contains(key));
    QCOMPARE(fileEntries(file()).value(QStringLiteral("other")), QByteArray("stays"));
    QCOMPARE(store->where(), QStringLiteral("the desktop's secret store"));
    // The next run reads it from the keychain.
    QCOMPARE(FakeKeychain::store(m_keychain, folder())->read(key),
             std::optional<QByteArray>("written while the keychain failed"));
}

void TestSecretStore::keychainAnswers_writeLandsThereAndDropsTheFileCopy()
{
    const QString key = QStringLiteral("application key");
    writeFileSecret(folder(), key, "stale");
    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    QVERIFY2(store->write(key, "fresh", &error), qPrintable(error));
    QCOMPARE(m_keychain->entries.value(key), QByteArray("fresh"));
    QVERIFY(!fileEntries(file()).contains(key));
    QCOMPARE(store->read(key), std::optional<QByteArray>("fresh"));
}

void TestSecretStore::keychainWithoutAnswer_fileStandsInForTheRun_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("noticed"); // the user is told why the file stands in

    QTest::newRow("no secret store on this desktop") << Answer::NoBackend << false;
    QTest::newRow("no answer in time (a prompt nobody answers)") << Answer::TimedOut << true;
}

void TestSecretStore::keychainWithoutAnswer_fileStandsInForTheRun()
{
    QFETCH(Answer, answer);
    QFETCH(bool, noticed);
    m_keychain->answer = answer;
    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    if (answer == Answer::TimedOut)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("did not answer")));
    QVERIFY2(store->write(QStringLiteral("k"), "v", &error), qPrintable(error));
    QVERIFY(store->write(QStringLiteral("k2"), "v2", &error));
    QCOMPARE(store->read(QStringLiteral("k")), std::optional<QByteArray>("v"));
    // Asked once: the rest of the run goes to the file without waiting again.
    QCOMPARE(m_keychain->calls, 1);
    QCOMPARE(store->where(), file());
    QCOMPARE(fileEntries(file()).value(QStringLiteral("k2")), QByteArray("v2"));
    QCOMPARE(!store->notice().isEmpty(), noticed);
    if (noticed)
        QVERIFY2(store->notice().contains(file()), qPrintable(store->notice()));
}

void TestSecretStore::keychainLocked_writeRefusedWithMessage_nothingInTheFile()
{
    m_keychain->answer = Answer::Locked;
    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    QVERIFY(!store->write(QStringLiteral("application key"), "secret", &error));
    QVERIFY2(error.contains(QStringLiteral("locked")) && error.contains(QStringLiteral("Unlock it")),
             qPrintable(error));
    QVERIFY(!QFile::exists(file()));
    QCOMPARE(store->where(), QStringLiteral("the desktop's secret store"));
}

void TestSecretStore::keychainLocked_readFallsBackToTheFileCopy()
{
    writeFileSecret(folder(), QStringLiteral("k"), "from the file");
    m_keychain->answer = Answer::Locked;
    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    QCOMPARE(store->read(QStringLiteral("k"), &error), std::optional<QByteArray>("from the file"));
    QCOMPARE(store->read(QStringLiteral("none"), &error), std::nullopt);
    QVERIFY2(error.contains(QStringLiteral("locked")), qPrintable(error));
    // Kept in the file until the keychain answers.
    QCOMPARE(fileEntries(file()).value(QStringLiteral("k")), QByteArray("from the file"));
}

void TestSecretStore::remove_takesTheSecretOutOfKeychainAndFile()
{
    writeFileSecret(folder(), QStringLiteral("k"), "file");
    m_keychain->entries.insert(QStringLiteral("k"), "keychain");
    const auto store = FakeKeychain::store(m_keychain, folder());
    QString error;
    QVERIFY2(store->remove(QStringLiteral("k"), &error), qPrintable(error));
    QVERIFY(!m_keychain->entries.contains(QStringLiteral("k")));
    QVERIFY(!fileEntries(file()).contains(QStringLiteral("k")));
    QCOMPARE(store->read(QStringLiteral("k")), std::nullopt);
}

void TestSecretStore::file_userAloneFromItsFirstByte_inAPrivateFolder()
{
    // An earlier version's folder, open to all.
    QVERIFY(QDir().mkpath(folder()));
    QVERIFY(QFile::setPermissions(folder(), QFileDevice::Permissions(0x7755)));
    SecretStore store(SecretStore::Backend::File, folder());
    QString error;
    QVERIFY2(store.write(QStringLiteral("k"), "v", &error), qPrintable(error));
    QCOMPARE(PrivatePaths::modeOf(file()), 0600);
    QCOMPARE(PrivatePaths::modeOf(folder()), 0700);
}

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secretstore.moc"

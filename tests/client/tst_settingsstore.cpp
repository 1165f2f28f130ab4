#include "FakeKeychain.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "client/app/PrivatePaths.h"
#include "client/login/SettingKeys.h"
#include "client/login/SettingsStore.h"
#include "client/login/modPasswordCryptor.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    for (auto &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

}

class TestSettingsStore final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void values_roundTrip_data();
    void values_roundTrip();
    void values_missing_readAsDefault();
    void settingKeys_typedValuesAndEachInterfacesDefault_data();
    void settingKeys_typedValuesAndEachInterfacesDefault();
    void settingKeys_proxyFieldsLiveInTheirSection();
    void secretSettings_keptInTheSecretStore_neverInTheFile_data();
    void secretSettings_keptInTheSecretStore_neverInTheFile();
    void oldFile_secretValues_readUntilTheNextSave_thenMovedOver_data();
    void oldFile_secretValues_readUntilTheNextSave_thenMovedOver();
    void secretStoreRefuses_oldValueStaysInTheFile_andTheSaveSaysWhy();
    void file_userAloneInAPrivateFolder_data();
    void file_userAloneInAPrivateFolder();
    void damagedFile_startsWithWhatCanBeRead_andWritesCleanFile_data();
    void damagedFile_startsWithWhatCanBeRead_andWritesCleanFile();
    void directoryInPlaceOfFile_readsDefaults_andFlushReportsFailure();
    void folderCannotBeCreated_flushReportsFailure();
    void earlierStoreFailedWithoutFlush_nextFlushReportsIt();
    void earlierStoreWroteWithoutFlush_nextFlushSucceeds();

private:
    QString settingsFile() const { return m_dir->filePath(QStringLiteral("Zelvat/Velloria.ini")); }
    // A store whose secret store is the stand-in keychain.
    std::unique_ptr<SettingsStore> storeWithKeychain() const
    {
        return std::make_unique<SettingsStore>(
            FakeKeychain::store(m_keychain, m_dir->filePath(QStringLiteral("Zelvat/Velloria"))));
    }
    TestFolders m_folders;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<FakeKeychain::State> m_keychain;
};

void TestSettingsStore::initTestCase()
{
    QVERIFY(m_folders.isValid());
}

void TestSettingsStore::init()
{
    // A new folder for each test: QSettings caches files by path.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path());
    QCOMPARE(QFileInfo(AppConfig::openSettings()->fileName()).absoluteFilePath(),
             QFileInfo(settingsFile()).absoluteFilePath());
    m_keychain = std::make_shared<FakeKeychain::State>();
}

void TestSettingsStore::cleanup()
{
    m_dir.reset();
}

void TestSettingsStore::values_roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("e-mail") << QStringLiteral("E-Mail") << QStringLiteral("someone@example.com");
    // "Password" is no file value any more: a flush moves it to the secret store.
    QTest::newRow("hex digits") << QStringLiteral("Service host") << QStringLiteral("9D419E7F");
    QTest::newRow("groups with CR LF")
        << QStringLiteral("Groups")
        << QStringLiteral("My blog | myblog.example.com\r\nOther, \"quoted\" = one | other.example.com\r\n");
    QTest::newRow("last group with comma") << QStringLiteral("Last Group")
                                           << QStringLiteral("Cats, dogs; more | pets.example.com");
    QTest::newRow("non-latin text") << QStringLiteral("Last Group") << QStringLiteral("Блог | blog.example.com");
    QTest::newRow("leading blanks and semicolon") << QStringLiteral("E-Mail") << QStringLiteral("  a;b#c  ");
    QTest::newRow("empty") << QStringLiteral("E-Mail") << QString();
}

void TestSettingsStore::values_roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    {
        SettingsStore store;
        store.SetValue(name, value);
        QString error;
        QVERIFY2(store.flush(&error), qPrintable(error));
    }
    QVERIFY(QFile::exists(settingsFile()));
    // Read back through a fresh file cache, as the next run would.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path() + QStringLiteral("/."));
    SettingsStore store;
    QCOMPARE(store.GetValue(name, QStringLiteral("default")), value);
}

void TestSettingsStore::values_missing_readAsDefault()
{
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QString());
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail"), QStringLiteral("x")), QStringLiteral("x"));
    QVERIFY(store.flush());
}

void TestSettingsStore::settingKeys_typedValuesAndEachInterfacesDefault_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("stored"); // null: not in the store
    QTest::addColumn<QString>("designed");
    QTest::addColumn<QString>("current");

    const int pace = int(Setting::WritesPerMinute);
    QTest::newRow("pace missing") << pace << QString() << "0" << "10";
    QTest::newRow("pace set") << pace << " 25 " << "25" << "25";
    QTest::newRow("pace of none") << pace << "0" << "0" << "0";
    QTest::newRow("pace negative") << pace << "-3" << "0" << "10";
    QTest::newRow("pace not a number") << pace << "fast" << "0" << "10";
    const int verify = int(Setting::VerifyWrites);
    QTest::newRow("verify missing") << verify << QString() << "1" << "1";
    QTest::newRow("verify no") << verify << "No" << "0" << "0";
    QTest::newRow("verify false") << verify << "false" << "0" << "0";
    QTest::newRow("verify 0") << verify << "0" << "0" << "0";
    QTest::newRow("verify anything else") << verify << "maybe" << "1" << "1";
    const int port = int(Setting::RedirectPort);
    QTest::newRow("port missing") << port << QString() << "47321" << "47321";
    QTest::newRow("port set") << port << "50000" << "50000" << "50000";
    QTest::newRow("port out of range") << port << "70000" << "47321" << "47321";
    QTest::newRow("port zero") << port << "0" << "47321" << "47321";
    const int web = int(Setting::WebHost);
    QTest::newRow("web host missing") << web << QString() << "www.tumblr.com" << "www.tumblr.com";
    QTest::newRow("web host blank") << web << "  " << "www.tumblr.com" << "www.tumblr.com";
    QTest::newRow("web host set") << web << " 127.0.0.1:8766 " << "127.0.0.1:8766" << "127.0.0.1:8766";
}

void TestSettingsStore::settingKeys_typedValuesAndEachInterfacesDefault()
{
    QFETCH(int, key);
    QFETCH(QString, stored);
    QFETCH(QString, designed);
    QFETCH(QString, current);
    const Setting setting = Setting(key);
    SettingsStore store;
    if (!stored.isNull())
        SettingKeys::set(store, setting, stored);
    const auto read = [&](ServiceInterface interface) {
        switch (setting) {
        case Setting::WritesPerMinute:
        case Setting::RedirectPort:
            return QString::number(SettingKeys::number(store, setting, interface));
        case Setting::VerifyWrites:
            return QString::number(int(SettingKeys::flag(store, setting, interface)));
        default:
            return SettingKeys::trimmed(store, setting, interface);
        }
    };
    QCOMPARE(read(ServiceInterface::Designed), designed);
    QCOMPARE(read(ServiceInterface::Current), current);
    // Reading never writes a default into the store.
    if (stored.isNull())
        QCOMPARE(store.GetValue(SettingKeys::name(setting), QStringLiteral("absent")), QStringLiteral("absent"));
}

void TestSettingsStore::settingKeys_proxyFieldsLiveInTheirSection()
{
    SettingsStore store;
    SettingKeys::set(store, Setting::ProxyHost, QStringLiteral("proxy.example"));
    SettingKeys::set(store, Setting::Password, QStringLiteral("account"));
    SettingKeys::set(store, Setting::ProxyPassword, QStringLiteral("proxy"));
    QCOMPARE(store.GetValue(QStringLiteral("HTTP Proxy/Host")), QStringLiteral("proxy.example"));
    // The passwords are secret: read through their keys, never the file's values.
    QCOMPARE(store.GetValue(QStringLiteral("Password")), QString());
    QCOMPARE(store.GetValue(QStringLiteral("HTTP Proxy/Password")), QString());
    QCOMPARE(SettingKeys::text(store, Setting::Password), QStringLiteral("account"));
    QCOMPARE(SettingKeys::text(store, Setting::ProxyPassword), QStringLiteral("proxy"));
    QCOMPARE(SettingKeys::text(store, Setting::ProxyType), QStringLiteral("None"));
}

void TestSettingsStore::secretSettings_keptInTheSecretStore_neverInTheFile_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<QString>("fileKey");    // where earlier versions kept it
    QTest::addColumn<QString>("secretName"); // its name in the secret store

    QTest::newRow("password") << int(Setting::Password) << QStringLiteral("Password") << QStringLiteral("password");
    QTest::newRow("proxy password") << int(Setting::ProxyPassword) << QStringLiteral("HTTP Proxy/Password")
                                    << QStringLiteral("proxy password");
}

void TestSettingsStore::secretSettings_keptInTheSecretStore_neverInTheFile()
{
    QFETCH(int, setting);
    QFETCH(QString, fileKey);
    QFETCH(QString, secretName);
    const QString value = QStringLiteral("s3cret \u00C4 \u043F");
    {
        const auto store = storeWithKeychain();
        SettingKeys::set(*store, Setting(setting), value);
        SettingKeys::set(*store, Setting::EMail, QStringLiteral("me@example.com"));
        QString error;
        QVERIFY2(store->flush(&error), qPrintable(error));
    }
    QCOMPARE(m_keychain->entries.value(secretName), value.toUtf8());
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains(fileKey));
    QVERIFY(!readFile(settingsFile()).contains("s3cret"));
    // The next run has it back.
    QCOMPARE(SettingKeys::text(*storeWithKeychain(), Setting(setting)), value);
}

void TestSettingsStore::oldFile_secretValues_readUntilTheNextSave_thenMovedOver_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QString>("fileValue"); // as an earlier version wrote it
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("secretName");

    QTest::newRow("password, scrambled")
        << int(Setting::Password) << QStringLiteral("Password") << modPasswordCryptor::ScramblePassword(QStringLiteral("hunter2"))
        << QStringLiteral("hunter2") << QStringLiteral("password");
    QTest::newRow("password beyond Latin-1, scrambled UTF-8")
        << int(Setting::Password) << QStringLiteral("Password")
        << modPasswordCryptor::ScramblePassword(QStringLiteral("\u043F\u0430\u0440\u043E\u043B\u044C"))
        << QStringLiteral("\u043F\u0430\u0440\u043E\u043B\u044C") << QStringLiteral("password");
    QTest::newRow("proxy password, in clear") << int(Setting::ProxyPassword) << QStringLiteral("HTTP Proxy/Password")
                                              << QStringLiteral("p\u00E4ssw\u00F6rd") << QStringLiteral("p\u00E4ssw\u00F6rd")
                                              << QStringLiteral("proxy password");
}

void TestSettingsStore::oldFile_secretValues_readUntilTheNextSave_thenMovedOver()
{
    QFETCH(int, setting);
    QFETCH(QString, fileKey);
    QFETCH(QString, fileValue);
    QFETCH(QString, value);
    QFETCH(QString, secretName);
    QSettings(settingsFile(), QSettings::IniFormat).setValue(fileKey, fileValue);

    const auto store = storeWithKeychain();
    QCOMPARE(SettingKeys::text(*store, Setting(setting)), value);
    QVERIFY(QSettings(settingsFile(), QSettings::IniFormat).contains(fileKey)); // until the next save
    QVERIFY(m_keychain->entries.isEmpty());

    SettingKeys::set(*store, Setting::EMail, QStringLiteral("me@example.com"));
    QString error;
    QVERIFY2(store->flush(&error), qPrintable(error));
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains(fileKey));
    QVERIFY(!readFile(settingsFile()).contains(fileValue.toUtf8()));
    QCOMPARE(m_keychain->entries.value(secretName), value.toUtf8());
    QCOMPARE(SettingKeys::text(*store, Setting(setting)), value);
    QCOMPARE(SettingKeys::text(*storeWithKeychain(), Setting(setting)), value);
}

void TestSettingsStore::secretStoreRefuses_oldValueStaysInTheFile_andTheSaveSaysWhy()
{
    const QString scrambled = modPasswordCryptor::ScramblePassword(QStringLiteral("hunter2"));
    QSettings(settingsFile(), QSettings::IniFormat).setValue(QStringLiteral("Password"), scrambled);
    m_keychain->answer = SecretStore::Keychain::Answer::Locked;

    const auto store = storeWithKeychain();
    SettingKeys::set(*store, Setting::EMail, QStringLiteral("me@example.com"));
    QString error;
    QVERIFY(!store->flush(&error));
    QVERIFY2(error.contains(QStringLiteral("The password could not be kept")) && error.contains(QStringLiteral("locked")),
             qPrintable(error));
    // Nothing lost: the rest is written, the password stays where it was.
    const QSettings file(settingsFile(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("E-Mail")).toString(), QStringLiteral("me@example.com"));
    QCOMPARE(file.value(QStringLiteral("Password")).toString(), scrambled);
    QCOMPARE(SettingKeys::text(*storeWithKeychain(), Setting::Password), QStringLiteral("hunter2"));
}

void TestSettingsStore::file_userAloneInAPrivateFolder_data()
{
    QTest::addColumn<bool>("earlierFile"); // an earlier version's 0644 file in a 0755 folder

    QTest::newRow("new file") << false;
    QTest::newRow("earlier version's file") << true;
}

void TestSettingsStore::file_userAloneInAPrivateFolder()
{
    QFETCH(bool, earlierFile);
    const QString folder = QFileInfo(settingsFile()).absolutePath();
    if (earlierFile) {
        writeFile(settingsFile(), "[General]\nE-Mail=old@example.com\n");
        QVERIFY(QFile::setPermissions(settingsFile(), QFileDevice::Permissions(0x6644)));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
        QCOMPARE(PrivatePaths::modeOf(settingsFile()), 0644);
    }
    SettingsStore store;
    store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    QString error;
    QVERIFY2(store.flush(&error), qPrintable(error));
    QCOMPARE(PrivatePaths::modeOf(settingsFile()), 0600);
    QCOMPARE(PrivatePaths::modeOf(folder), 0700);
    QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).value(QStringLiteral("E-Mail")).toString(),
             QStringLiteral("me@example.com"));
}

void TestSettingsStore::damagedFile_startsWithWhatCanBeRead_andWritesCleanFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("readableEMail");

    QTest::newRow("missing") << QByteArray() << false << QString();
    QTest::newRow("empty") << QByteArray() << true << QString();
    QTest::newRow("truncated")
        << QByteArray("[General]\nE-Mail=me@example.com\nGroups=A | a.example.com\\r\\nB | b.exa\n[frmGroupSel")
        << true << QStringLiteral("me@example.com");
    QTest::newRow("garbage bytes") << randomBytes(4096) << true << QString();
    QTest::newRow("garbage after good part")
        << QByteArray("[General]\nE-Mail=me@example.com\n") + randomBytes(2048) << true
        << QStringLiteral("me@example.com");
    QTest::newRow("huge random file") << randomBytes(20 * 1024 * 1024) << true << QString();
    QTest::newRow("other format") << QByteArray("{\"E-Mail\": \"json@example.com\"}\n") << true << QString();
    QTest::newRow("a value not in UTF-8 is kept as read")
        << QByteArray("[General]\nE-Mail=caf\xe9@example.com\n") << true << QStringLiteral("caf\uFFFD@example.com");
}

void TestSettingsStore::damagedFile_startsWithWhatCanBeRead_andWritesCleanFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, readableEMail);
    if (exists)
        writeFile(settingsFile(), content);

    {
        SettingsStore store;
        QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), readableEMail);
        QCOMPARE(store.GetValue(QStringLiteral("Password")), QString());
        QVERIFY(store.GetBytes(QStringLiteral("frmFirstWindow/Window placement")).isEmpty());
        // Reading changes nothing on disk.
        QCOMPARE(QFile::exists(settingsFile()), exists);
        if (exists)
            QVERIFY(readFile(settingsFile()) == content);

        store.SetValue(QStringLiteral("Last Group"), QStringLiteral("B | b.example.com"));
        QString error;
        QVERIFY2(store.flush(&error), qPrintable(error));
    }

    // The file written is small and clean.
    QVERIFY(QFileInfo(settingsFile()).size() < 64 * 1024);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path() + QStringLiteral("/."));
    auto settings = AppConfig::openSettings();
    QCOMPARE(settings->status(), QSettings::NoError);
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("Last Group")), QStringLiteral("B | b.example.com"));
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), readableEMail);
}

void TestSettingsStore::directoryInPlaceOfFile_readsDefaults_andFlushReportsFailure()
{
    QVERIFY(QDir().mkpath(settingsFile()));
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QString());
    QVERIFY(store.GetBytes(QStringLiteral("frmFirstWindow/Window placement")).isEmpty());

    store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY2(error.contains(QStringLiteral("Velloria.ini")), qPrintable(error));
}

void TestSettingsStore::folderCannotBeCreated_flushReportsFailure()
{
    // A plain file where the settings folder should be: nothing can be written below it.
    writeFile(m_dir->filePath(QStringLiteral("Zelvat")), "not a folder");
    SettingsStore store;
    store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY(!error.isEmpty());
}

void TestSettingsStore::earlierStoreFailedWithoutFlush_nextFlushReportsIt()
{
    QVERIFY(QDir().mkpath(settingsFile()));
    {
        SettingsStore store;
        store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    }
    SettingsStore store;
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY2(error.contains(QStringLiteral("Velloria.ini")), qPrintable(error));
    // Told once.
    QVERIFY(SettingsStore().flush());
}

void TestSettingsStore::earlierStoreWroteWithoutFlush_nextFlushSucceeds()
{
    {
        SettingsStore store;
        store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    }
    SettingsStore store;
    QString error;
    QVERIFY2(store.flush(&error), qPrintable(error));
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QStringLiteral("me@example.com"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"

#include "TestFolders.h"
#include "TestService.h"

#include "client/app/AppConfig.h"
#include "client/app/PrivatePaths.h"
#include "client/login/SecretStore.h"
#include "client/login/modPasswordCryptor.h"
#include "windows/app/DialogServices.h"
#include "windows/login/frmGroupSelector.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
const QString TwoBlogs = QStringLiteral("Cats | cats.example.com\r\nDogs | dogs.example.com");

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(77);
    for (auto &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}
}

class TestAccountSettings final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void closeAndReopen_restoresAccountBlogsAndPlacement();
    void password_keptInTheSecretStore_notInTheSettingsFile();
    void earlierSettingsFile_password_shownThenMovedAtTheNextSave();
    void emptyFields_areStoredEmptyAndReadBackEmpty();
    void lastGroup_selectsMatchingEntry_data();
    void lastGroup_selectsMatchingEntry();
    void unreadablePassword_givesEmptyField();
    void damagedSettingsFile_opensWithDefaultsAndNoMessage_data();
    void damagedSettingsFile_opensWithDefaultsAndNoMessage();
    void settingsCannotBeWritten_closeShowsMessage();

private:
    std::unique_ptr<frmGroupSelector> openWindow();
    void closeWindow(std::unique_ptr<frmGroupSelector> &window);
    QString settingsFile() const { return m_dir->filePath(QStringLiteral("Zelvat/Velloria.ini")); }
    void storeValues(const QMap<QString, QString> &values);
    template<typename T> static T *control(QWidget *window, const char *name)
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAccountSettings::initTestCase()
{
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
}

void TestAccountSettings::init()
{
    // A settings folder of our own for each test.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path());
    QCOMPARE(QFileInfo(AppConfig::openSettings()->fileName()).absoluteFilePath(),
             QFileInfo(settingsFile()).absoluteFilePath());
    m_dialogs.clear();
}

void TestAccountSettings::cleanup()
{
    m_dir.reset();
}

void TestAccountSettings::cleanupTestCase()
{
    setDialogs(nullptr);
}

std::unique_ptr<frmGroupSelector> TestAccountSettings::openWindow()
{
    // As at the start of a run: the settings are read when the program starts.
    sharedTestService().reloadSettings();
    auto window = std::make_unique<frmGroupSelector>(sharedTestService().settings(), sharedTestService().service());
    window->show();
    return window;
}

void TestAccountSettings::closeWindow(std::unique_ptr<frmGroupSelector> &window)
{
    window->close();
    window.reset();
}

void TestAccountSettings::storeValues(const QMap<QString, QString> &values)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

void TestAccountSettings::closeAndReopen_restoresAccountBlogsAndPlacement()
{
    auto window = openWindow();
    control<QLineEdit>(window.get(), "txtEMail")->setText(QStringLiteral("me@example.com"));
    control<QLineEdit>(window.get(), "txtPassword")->setText(QStringLiteral("s3cret \u00C4"));
    auto *groups = control<QComboBox>(window.get(), "cboGroup");
    frmGroupSelector::FillCombo(TwoBlogs, groups);
    groups->setCurrentIndex(1);
    window->move(40, 50);
    closeWindow(window);

    window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtEMail")->text(), QStringLiteral("me@example.com"));
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QStringLiteral("s3cret \u00C4"));
    groups = control<QComboBox>(window.get(), "cboGroup");
    QCOMPARE(groups->count(), 2);
    QCOMPARE(groups->itemText(0), QStringLiteral("Cats | cats.example.com"));
    QCOMPARE(groups->currentText(), QStringLiteral("Dogs | dogs.example.com"));
    QCOMPARE(window->pos(), QPoint(40, 50));
    closeWindow(window);
    QVERIFY2(m_dialogs.texts().isEmpty(), qPrintable(m_dialogs.texts().join(u'\n')));
}

void TestAccountSettings::password_keptInTheSecretStore_notInTheSettingsFile()
{
    const QString password = QStringLiteral("hunter2");
    auto window = openWindow();
    control<QLineEdit>(window.get(), "txtEMail")->setText(QStringLiteral("me@example.com"));
    control<QLineEdit>(window.get(), "txtPassword")->setText(password);
    frmGroupSelector::FillCombo(TwoBlogs, control<QComboBox>(window.get(), "cboGroup"));
    closeWindow(window);
    QVERIFY2(m_dialogs.texts().isEmpty(), qPrintable(m_dialogs.texts().join(u'\n')));

    QFile file(settingsFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(!content.contains(password.toUtf8()));
    QSettings settings(settingsFile(), QSettings::IniFormat);
    QVERIFY(!settings.contains(QStringLiteral("Password")));
    QCOMPARE(settings.value(QStringLiteral("Groups")).toString(), TwoBlogs);
    QCOMPARE(settings.value(QStringLiteral("Last Group")).toString(), QStringLiteral("Cats | cats.example.com"));
    QCOMPARE(settings.value(QStringLiteral("E-Mail")).toString(), QStringLiteral("me@example.com"));

    // No desktop store in the tests: its file beside the settings, the user's alone.
    SecretStore &secrets = sharedTestService().settings().secrets();
    QCOMPARE(secrets.read(QStringLiteral("password")), std::optional<QByteArray>(password.toUtf8()));
    QCOMPARE(QFileInfo(secrets.filePath()).absolutePath(), QFileInfo(m_dir->filePath(QStringLiteral("Zelvat/Velloria"))).absoluteFilePath());
    QCOMPARE(PrivatePaths::modeOf(secrets.filePath()), 0600);
    QCOMPARE(PrivatePaths::modeOf(settingsFile()), 0600);

    window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), password);
    closeWindow(window);
}

void TestAccountSettings::earlierSettingsFile_password_shownThenMovedAtTheNextSave()
{
    storeValues({{QStringLiteral("E-Mail"), QStringLiteral("me@example.com")},
                 {QStringLiteral("Password"), modPasswordCryptor::ScramblePassword(QStringLiteral("hunter2"))}});
    auto window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QStringLiteral("hunter2"));
    closeWindow(window);
    QVERIFY2(m_dialogs.texts().isEmpty(), qPrintable(m_dialogs.texts().join(u'\n')));
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains(QStringLiteral("Password")));

    window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtEMail")->text(), QStringLiteral("me@example.com"));
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QStringLiteral("hunter2"));
    closeWindow(window);
}

void TestAccountSettings::emptyFields_areStoredEmptyAndReadBackEmpty()
{
    auto window = openWindow();
    closeWindow(window);
    {
        QSettings settings(settingsFile(), QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Password")).toString(), QString());
        QCOMPARE(settings.value(QStringLiteral("Groups")).toString(), QString());
    }
    window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QString());
    QCOMPARE(control<QComboBox>(window.get(), "cboGroup")->count(), 0);
    closeWindow(window);
}

void TestAccountSettings::lastGroup_selectsMatchingEntry_data()
{
    QTest::addColumn<QString>("lastGroup");
    QTest::addColumn<QString>("selected");

    QTest::newRow("same text") << QStringLiteral("Dogs | dogs.example.com") << QStringLiteral("Dogs | dogs.example.com");
    QTest::newRow("other letter case") << QStringLiteral("dOGS | DOGS.EXAMPLE.COM")
                                       << QStringLiteral("Dogs | dogs.example.com");
    QTest::newRow("not in list") << QStringLiteral("Fish | fish.example.com") << QStringLiteral("Cats | cats.example.com");
    QTest::newRow("only the start of an entry") << QStringLiteral("Dogs") << QStringLiteral("Cats | cats.example.com");
    QTest::newRow("empty") << QString() << QStringLiteral("Cats | cats.example.com");
}

void TestAccountSettings::lastGroup_selectsMatchingEntry()
{
    QFETCH(QString, lastGroup);
    QFETCH(QString, selected);
    storeValues({{QStringLiteral("Groups"), TwoBlogs}, {QStringLiteral("Last Group"), lastGroup}});
    auto window = openWindow();
    QCOMPARE(control<QComboBox>(window.get(), "cboGroup")->currentText(), selected);
    closeWindow(window);
}

void TestAccountSettings::unreadablePassword_givesEmptyField()
{
    storeValues({{QStringLiteral("E-Mail"), QStringLiteral("me@example.com")},
                 {QStringLiteral("Password"), QStringLiteral("9E0X1")}});
    auto window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtEMail")->text(), QStringLiteral("me@example.com"));
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QString());
    closeWindow(window);
    QVERIFY(m_dialogs.texts().isEmpty());
}

void TestAccountSettings::damagedSettingsFile_opensWithDefaultsAndNoMessage_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("readableEMail");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("garbage") << randomBytes(8192) << QString();
    QTest::newRow("huge") << randomBytes(20 * 1024 * 1024) << QString();
    QTest::newRow("truncated") << QByteArray("[General]\nE-Mail=me@example.com\nGroups=Cats | cats.exa\n[frmGroupSe")
                               << QStringLiteral("me@example.com");
}

void TestAccountSettings::damagedSettingsFile_opensWithDefaultsAndNoMessage()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, readableEMail);
    QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
    {
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    auto window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtEMail")->text(), readableEMail);
    QCOMPARE(control<QLineEdit>(window.get(), "txtPassword")->text(), QString());
    QVERIFY(m_dialogs.texts().isEmpty());
    control<QLineEdit>(window.get(), "txtEMail")->setText(QStringLiteral("new@example.com"));
    closeWindow(window);
    QVERIFY2(m_dialogs.texts().isEmpty(), qPrintable(m_dialogs.texts().join(u'\n')));

    // The next run finds a good file.
    QVERIFY(QFileInfo(settingsFile()).size() < 4096);
    window = openWindow();
    QCOMPARE(control<QLineEdit>(window.get(), "txtEMail")->text(), QStringLiteral("new@example.com"));
    closeWindow(window);
}

void TestAccountSettings::settingsCannotBeWritten_closeShowsMessage()
{
    // A folder where the settings file should be.
    QVERIFY(QDir().mkpath(settingsFile()));
    auto window = openWindow();
    QVERIFY(m_dialogs.texts().isEmpty());
    control<QLineEdit>(window.get(), "txtEMail")->setText(QStringLiteral("me@example.com"));
    closeWindow(window);
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
    QVERIFY2(m_dialogs.shown.first().text.contains(QStringLiteral("Velloria.ini")),
             qPrintable(m_dialogs.shown.first().text));
}

QTEST_MAIN(TestAccountSettings)
#include "tst_accountsettings.moc"

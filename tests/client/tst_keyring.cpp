// The desktop's secret store, end to end: the real gnome-keyring in a private
// D-Bus session, one session a case. Each case runs this program again inside
// dbus-run-session, with the keyring in the state the case needs, and that
// copy makes the checks; a case that does not end in time is killed and fails.
#include "CurrentSimFixture.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "client/login/SecretStore.h"
#include "client/login/SettingKeys.h"
#include "client/login/SettingsStore.h"
#include "client/net/HTTPProxySettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {
constexpr auto SessionVariable = "VELLORIA_KEYRING_SESSION";
constexpr int CaseLimitMs = 60000;   // a whole case, session included
constexpr int StoreTimeoutMs = 3000; // the secret store's wait in the cases that time out

enum class Session {
    Unlocked,  // a login keyring, unlocked
    Locked,    // the same, locked again
    NeverMade, // no keyring yet: the first write asks for a password for a new one
    NoService, // a session bus on which no secret service is
};

bool inSession() { return qEnvironmentVariableIsSet(SessionVariable); }

QString findTool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/libexec")}) : found;
}

// A session bus with nothing to start on demand: no keyring comes when asked for.
QString writeBareBusConfig(const QString &folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("bare-session.conf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>unix:tmpdir=" + QFile::encodeName(folder) + "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n");
    return path;
}

// What `secret-tool` finds for key, run in this session: the stored text
// (QtKeychain keeps binary secrets as base64), decoded; none when nothing is.
std::optional<QByteArray> keyringHolds(const QString &key)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("Velloria"),
                                               QStringLiteral("user"), key, QStringLiteral("type"), QStringLiteral("base64")});
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return std::nullopt;
    }
    const QByteArray out = tool.readAllStandardOutput().trimmed();
    if (tool.exitCode() != 0 || out.isEmpty())
        return std::nullopt;
    return QByteArray::fromBase64(out);
}

QStringList keyringKeys()
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("server"), QStringLiteral("Velloria")});
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(5000);
        return {};
    }
    QStringList keys;
    // secret-tool writes the attributes to standard error.
    const QByteArray all = tool.readAllStandardOutput() + '\n' + tool.readAllStandardError();
    for (const QByteArray &line : all.split('\n')) {
        if (line.startsWith("attribute.user = "))
            keys << QString::fromUtf8(line.mid(17).trimmed());
    }
    return keys;
}
}

class TestKeyring final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void unlockedKeyring_everySecretLandsThere_noneInAFile();
    void unlockedKeyring_secretLeftInTheFile_movesInAtTheFirstRead();
    void lockedKeyring_refusedWithAMessage_withinSeconds();
    void keyringNeverMade_promptNotWaitedOn_fileStandsIn();
    void noSecretService_fileAsBefore();

private:
    // Outside a session: runs this case again in a session of that kind, and
    // passes, skips or fails as that run did.
    void runInSession(Session kind);
    QString secretsFolder() const { return QDir(m_folders.path()).filePath(QStringLiteral("secrets")); }

    TestFolders m_folders{inSession() ? TestFolders::SessionBus::Kept : TestFolders::SessionBus::None};
};

void TestKeyring::initTestCase()
{
    QVERIFY(m_folders.isValid());
}

void TestKeyring::runInSession(Session kind)
{
    const QString runSession = findTool(QStringLiteral("dbus-run-session"));
    const QString keyring = findTool(QStringLiteral("gnome-keyring-daemon"));
    if (runSession.isEmpty() || keyring.isEmpty())
        QSKIP("dbus-run-session or gnome-keyring-daemon is not installed (scripts/install-deps.sh installs them)");
    if (findTool(QStringLiteral("secret-tool")).isEmpty())
        QSKIP("secret-tool is not installed (libsecret-tools; scripts/install-deps.sh installs it)");

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(SessionVariable), QStringLiteral("1"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.remove(QStringLiteral("DISPLAY"));
    // The keyring daemon keeps its files below this case's own folder.
    const QTemporaryDir home(QDir(m_folders.path()).filePath(QStringLiteral("case-XXXXXX")));
    QVERIFY(home.isValid());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("share")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    // A runtime folder of its own: the daemon finds no other keyring daemon
    // of the user's (its control socket is there) and starts one for this case.
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    QStringList arguments;
    QString setup;
    QProcess display;
    switch (kind) {
    case Session::Unlocked:
        setup = QStringLiteral("echo -n pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null");
        break;
    case Session::Locked:
        setup = QStringLiteral("echo -n pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "
                               "dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets "
                               "org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login "
                               ">/dev/null");
        break;
    case Session::NeverMade: {
        // The prompt for the new keyring's password needs a display to show on.
        if (findTool(QStringLiteral("Xvfb")).isEmpty() || findTool(QStringLiteral("gcr-prompter")).isEmpty())
            QSKIP("Xvfb or gcr-prompter is not installed: no prompt could appear");
        display.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                                               QStringLiteral("tcp")});
        QVERIFY(display.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(display.canReadLine() || display.state() != QProcess::Running, 10000);
        const QString number = QString::fromLatin1(display.readLine()).trimmed();
        QVERIFY2(!number.isEmpty(), "Xvfb gave no display");
        env.insert(QStringLiteral("DISPLAY"), u':' + number);
        setup = QStringLiteral("gnome-keyring-daemon --start --components=secrets >/dev/null");
        break;
    }
    case Session::NoService:
        arguments << QStringLiteral("--config-file=") + writeBareBusConfig(home.path());
        setup = QStringLiteral("true");
        break;
    }
    arguments << QStringLiteral("--") << QStringLiteral("sh") << QStringLiteral("-c")
              << setup + QStringLiteral(" && exec \"$0\" \"$1\"") << QCoreApplication::applicationFilePath()
              << QString::fromLatin1(QTest::currentTestFunction());

    QProcess session;
    session.setProcessEnvironment(env);
    session.setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so a case that hangs goes whole.
    session.setChildProcessModifier([] { ::setpgid(0, 0); });
    session.start(runSession, arguments);
    QVERIFY(session.waitForStarted(10000));
    const bool ended = session.waitForFinished(CaseLimitMs);
    if (!ended) {
        ::kill(-pid_t(session.processId()), SIGKILL);
        session.waitForFinished(5000);
    }
    if (display.state() != QProcess::NotRunning) {
        display.terminate();
        if (!display.waitForFinished(5000))
            display.kill();
        display.waitForFinished(5000);
    }
    const QString output = QString::fromUtf8(session.readAll());
    QVERIFY2(ended, qPrintable(QStringLiteral("the case did not end within %1 s:\n").arg(CaseLimitMs / 1000) + output));
    QVERIFY2(session.exitStatus() == QProcess::NormalExit && session.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("Totals: ")) && output.contains(QStringLiteral(" 0 failed")), qPrintable(output));
    // A case the copy skipped is skipped here too.
    if (output.contains(QStringLiteral("SKIP   :")))
        QSKIP(qPrintable(output.section(QStringLiteral("SKIP   :"), 1).section(u'\n', 0, 0)));
}

void TestKeyring::unlockedKeyring_everySecretLandsThere_noneInAFile()
{
    if (!inSession())
        return runInSession(Session::Unlocked);

    // The program's way: the key and the tokens by signing in, the passwords by saving the settings.
    CurrentSimFixture fixture(cursim::Server::demoUser(), secretsFolder(), SecretStore::Backend::Auto);
    QString why;
    QVERIFY2(fixture.signIn(&why), qPrintable(why));
    SettingKeys::set(fixture.settings(), Setting::Password, QStringLiteral("hunter2"));
    HTTPProxySettings proxy;
    proxy.kind = HTTPProxySettings::Http;
    proxy.host = QStringLiteral("proxy.local");
    proxy.port = 3128;
    proxy.user = QStringLiteral("me");
    proxy.password = QStringLiteral("p\u00E4ssw\u00F6rd");
    QVERIFY2(proxy.SaveSettings(fixture.settings(), QString::fromLatin1(SettingKeys::ProxySection), &why), qPrintable(why));
    QCOMPARE(fixture.secrets().where(), QStringLiteral("the desktop's secret store"));

    const QStringList keys = keyringKeys();
    for (const QString &key : {QStringLiteral("application key"), QStringLiteral("tokens of me@example.com"),
                               QStringLiteral("password"), QStringLiteral("proxy password")})
        QVERIFY2(keys.contains(key), qPrintable(key + QStringLiteral(" not in ") + keys.join(QStringLiteral(", "))));
    const QJsonObject appKey = QJsonDocument::fromJson(keyringHolds(QStringLiteral("application key")).value_or(QByteArray())).object();
    QCOMPARE(appKey.value(QLatin1String("client_id")).toString(), QString::fromLatin1(CurrentSimFixture::ClientId));
    const QJsonObject tokens = QJsonDocument::fromJson(keyringHolds(QStringLiteral("tokens of me@example.com")).value_or(QByteArray())).object();
    QVERIFY(!tokens.value(QLatin1String("refresh_token")).toString().isEmpty());
    QCOMPARE(keyringHolds(QStringLiteral("password")), std::optional<QByteArray>("hunter2"));
    QCOMPARE(keyringHolds(QStringLiteral("proxy password")), std::optional<QByteArray>(proxy.password.toUtf8()));

    // Neither the fallback file nor the settings file holds any of them.
    QVERIFY(!QFile::exists(fixture.secrets().filePath()));
    QFile settingsFile(AppConfig::openSettings()->fileName());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    const QByteArray settings = settingsFile.readAll();
    QVERIFY(!settings.contains("hunter2") && !settings.contains(proxy.password.toUtf8()));
    QVERIFY(!settings.contains(tokens.value(QLatin1String("refresh_token")).toString().toUtf8()));

    // The next run reads them back from the keyring.
    SettingsStore next(std::make_unique<SecretStore>(SecretStore::Backend::Auto, secretsFolder()));
    QCOMPARE(SettingKeys::text(next, Setting::Password), QStringLiteral("hunter2"));
    QCOMPARE(HTTPProxySettings::Loaded(next).password, proxy.password);
    fixture.restartService();
    QVERIFY(!fixture.service().needsApplicationKey());
}

void TestKeyring::unlockedKeyring_secretLeftInTheFile_movesInAtTheFirstRead()
{
    if (!inSession())
        return runInSession(Session::Unlocked);

    // Written to the file while the keyring did not answer.
    const QString key = QStringLiteral("tokens of me@example.com");
    QString error;
    QVERIFY2(SecretStore(SecretStore::Backend::File, secretsFolder()).write(key, "newer tokens", &error), qPrintable(error));
    QVERIFY(keyringHolds(key) == std::nullopt);

    SecretStore store(SecretStore::Backend::Auto, secretsFolder());
    QCOMPARE(store.read(key, &error), std::optional<QByteArray>("newer tokens"));
    QCOMPARE(keyringHolds(key), std::optional<QByteArray>("newer tokens"));
    QFile file(store.filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!QJsonDocument::fromJson(file.readAll()).object().contains(key));
    QCOMPARE(SecretStore(SecretStore::Backend::Auto, secretsFolder()).read(key), std::optional<QByteArray>("newer tokens"));
}

void TestKeyring::lockedKeyring_refusedWithAMessage_withinSeconds()
{
    if (!inSession())
        return runInSession(Session::Locked);

    SecretStore store(SecretStore::Backend::Auto, secretsFolder());
    store.setTimeout(StoreTimeoutMs);
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY(!store.write(QStringLiteral("application key"), "key", &error));
    QVERIFY2(error.contains(QStringLiteral("locked")) && error.contains(QStringLiteral("Unlock it")), qPrintable(error));
    QVERIFY(!QFile::exists(store.filePath()));
    // Reading finds nothing (the unlock prompt can't be answered here), without a hang.
    QCOMPARE(store.read(QStringLiteral("application key")), std::nullopt);
    QVERIFY2(timer.elapsed() < 2 * StoreTimeoutMs, qPrintable(QString::number(timer.elapsed())));

    // The settings' save says why the password was not kept.
    SettingsStore settings(std::make_unique<SecretStore>(SecretStore::Backend::Auto, secretsFolder()));
    SettingKeys::set(settings, Setting::Password, QStringLiteral("hunter2"));
    QVERIFY(!settings.flush(&error));
    QVERIFY2(error.contains(QStringLiteral("The password could not be kept")) && error.contains(QStringLiteral("locked")),
             qPrintable(error));
    QVERIFY(!QFile::exists(store.filePath()));
}

void TestKeyring::keyringNeverMade_promptNotWaitedOn_fileStandsIn()
{
    if (!inSession())
        return runInSession(Session::NeverMade);

    // "Choose password for new keyring" is shown on the private display, and nobody answers it.
    SecretStore store(SecretStore::Backend::Auto, secretsFolder());
    store.setTimeout(StoreTimeoutMs);
    QElapsedTimer timer;
    timer.start();
    QString error;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("did not answer")));
    QVERIFY2(store.write(QStringLiteral("application key"), "key", &error), qPrintable(error));
    const qint64 first = timer.elapsed();
    QVERIFY2(first >= StoreTimeoutMs - 500 && first < 3 * StoreTimeoutMs, qPrintable(QString::number(first)));
    QVERIFY2(store.notice().contains(store.filePath()), qPrintable(store.notice()));
    QCOMPARE(store.where(), store.filePath());
    // The rest of the run goes to the file at once.
    timer.restart();
    QVERIFY(store.write(QStringLiteral("tokens of me@example.com"), "tokens", &error));
    QCOMPARE(store.read(QStringLiteral("application key")), std::optional<QByteArray>("key"));
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(SecretStore(SecretStore::Backend::File, secretsFolder()).read(QStringLiteral("tokens of me@example.com")),
             std::optional<QByteArray>("tokens"));
}

void TestKeyring::noSecretService_fileAsBefore()
{
    if (!inSession())
        return runInSession(Session::NoService);

    SecretStore store(SecretStore::Backend::Auto, secretsFolder());
    store.setTimeout(StoreTimeoutMs);
    QElapsedTimer timer;
    timer.start();
    QString error;
    QVERIFY2(store.write(QStringLiteral("application key"), "key", &error), qPrintable(error));
    QVERIFY2(timer.elapsed() < StoreTimeoutMs, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(store.where(), store.filePath());
    QVERIFY(store.notice().isEmpty());
    QCOMPARE(SecretStore(SecretStore::Backend::File, secretsFolder()).read(QStringLiteral("application key")),
             std::optional<QByteArray>("key"));
}

QTEST_MAIN(TestKeyring) // the current interface's service turns caption HTML into text
#include "tst_keyring.moc"

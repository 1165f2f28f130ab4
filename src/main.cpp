#include "windows/app/modMain.h"
#include "client/login/SecretStore.h"
#include "client/login/SettingsStore.h"
#include "client/login/SettingKeys.h"
#include "client/service/current/CurrentTumblrService.h"
#include "client/service/designed/XmlTumblrService.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    modMain::InitApplication();
    // The menu entry's name (the AppStream id, from the build): Wayland
    // desktops find the entry and its icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELLORIA_APP_ID));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Adds each photo post's caption to its tags on a Tumblr-like blogging service."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption interfaceOption(
        QStringLiteral("interface"),
        QStringLiteral("The service's interface for this run: \"designed\" (the XML interface with e-mail and "
                       "password, which the real service no longer answers) or \"current\" (JSON and OAuth 2, "
                       "signing in in the browser). Default: the setting \"Service interface\"; without it "
                       "\"designed\" with --service or the setting \"Service host\", else \"current\"."),
        QStringLiteral("NAME"));
    const QCommandLineOption serviceOption(
        QStringLiteral("service"),
        QStringLiteral("Talk to the service at HOST[:PORT] for this run (port 80 if none): a simulator."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption webHostOption(
        QStringLiteral("web-host"),
        QStringLiteral("Open the post editor at HOST[:PORT] for this run (port 80 if none)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption paceOption(
        QStringLiteral("pace"),
        QStringLiteral("Write at most N posts a minute during \"Fix posts\" for this run (0: no limit)."),
        QStringLiteral("N"));
    const QCommandLineOption noVerifyOption(
        QStringLiteral("no-verify"),
        QStringLiteral("Current interface: don't read each written post back to check it for this run (saves one "
                       "call a post; a write that changed more than the tags then goes unnoticed)."));
    parser.addOption(interfaceOption);
    parser.addOption(noVerifyOption);
    parser.addOption(serviceOption);
    parser.addOption(webHostOption);
    parser.addOption(paceOption);
    parser.process(app);
    int pace = -1; // the setting "Writes per minute"
    if (parser.isSet(paceOption)) {
        bool ok = false;
        pace = parser.value(paceOption).toInt(&ok);
        if (!ok || pace < 0) {
            fputs("velloria: --pace needs a number of writes a minute, 0 or more\n", stderr);
            return 2;
        }
    }

    // Read once here; the windows write it when they close.
    SettingsStore settings;
    QString interfaceName = parser.value(interfaceOption).trimmed().toLower();
    if (interfaceName.isEmpty())
        interfaceName = SettingKeys::trimmed(settings, Setting::ServiceInterface).toLower();
    // A service named by hand (a simulator) is the designed one; the real
    // service answers only the current interface.
    if (interfaceName.isEmpty())
        interfaceName = parser.isSet(serviceOption) || !settings.GetValue(SettingKeys::name(Setting::ServiceHost)).trimmed().isEmpty()
                            ? QStringLiteral("designed")
                            : QStringLiteral("current");
    if (interfaceName != QLatin1String("designed") && interfaceName != QLatin1String("current")) {
        fputs("velloria: the interface is \"designed\" or \"current\"\n", stderr);
        return 2;
    }

    if (interfaceName == QLatin1String("current")) {
        // One secret store for the whole run: the settings' passwords, the key and the tokens.
        CurrentTumblrService service(settings, settings.secrets(), parser.value(serviceOption));
        service.setWritesPerMinute(pace);
        service.setWebHost(parser.value(webHostOption));
        if (parser.isSet(noVerifyOption))
            service.setVerifyWrites(false);
        modMain::Main(settings, service);
        return app.exec();
    }
    XmlTumblrService service(settings, parser.value(serviceOption), parser.value(webHostOption));
    service.setWritesPerMinute(pace);
    modMain::Main(settings, service);
    return app.exec();
}

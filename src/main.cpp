#include "app/modMain.h"
#include "login/SettingsStore.h"
#include "service/XmlTumblrService.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    modMain::InitApplication();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Adds each photo post's caption to its tags on a Tumblr-like blogging service."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serviceOption(
        QStringLiteral("service"), QStringLiteral("Talk to the service at HOST[:PORT] for this run (port 80 if none)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption webHostOption(
        QStringLiteral("web-host"),
        QStringLiteral("Open the post editor at HOST[:PORT] for this run (port 80 if none)."),
        QStringLiteral("HOST[:PORT]"));
    const QCommandLineOption paceOption(
        QStringLiteral("pace"),
        QStringLiteral("Write at most N posts a minute during \"Fix posts\" for this run (0: no limit)."),
        QStringLiteral("N"));
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
    XmlTumblrService service(settings, parser.value(serviceOption), parser.value(webHostOption));
    service.setWritesPerMinute(pace);

    modMain::Main(settings, service);
    return app.exec();
}

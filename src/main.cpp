#include "app/modMain.h"
#include "login/SettingsStore.h"
#include "service/XmlTumblrService.h"

#include <QApplication>
#include <QCommandLineParser>

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
    parser.addOption(serviceOption);
    parser.addOption(webHostOption);
    parser.process(app);

    // Read once here; the windows write it when they close.
    SettingsStore settings;
    XmlTumblrService service(settings, parser.value(serviceOption), parser.value(webHostOption));

    modMain::Main(settings, service);
    return app.exec();
}

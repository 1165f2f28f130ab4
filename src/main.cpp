#include "windows/app/modMain.h"
#include "client/app/AppConfig.h"
#include "client/app/ServiceOptions.h"
#include "client/login/SettingsStore.h"
#include "client/service/ITumblrService.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {
void describe(QCommandLineParser &parser, const ServiceOptions &options)
{
    parser.setApplicationDescription(
        QStringLiteral("Adds each photo post's caption to its tags on a Tumblr-like blogging service."));
    parser.addHelpOption();
    parser.addVersionOption();
    options.addTo(parser);
}

bool named(int argc, char *argv[], std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i) {
        for (const char *name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}
}

int main(int argc, char *argv[])
{
    ServiceOptions options;
    // Help and the version need no display: answered before the windows'
    // application, which can't be made without one.
    const bool help = named(argc, argv, {"-h", "--help", "-?", "--help-all"});
    if (help || named(argc, argv, {"-v", "--version"})) {
        QCoreApplication reader(argc, argv);
        AppConfig::setApplicationNames();
        QCommandLineParser parser;
        describe(parser, options);
        if (help)
            std::fputs(qPrintable(parser.helpText()), stdout);
        else
            std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                        qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }

    QApplication app(argc, argv);
    modMain::InitApplication();
    // The menu entry's name (the AppStream id, from the build): Wayland
    // desktops find the entry and its icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(VELLORIA_APP_ID));
    QCommandLineParser parser;
    describe(parser, options);
    parser.process(app);
    QString why;
    if (!options.read(parser, &why)) {
        std::fprintf(stderr, "velloria: %s\n", qPrintable(why));
        return 2;
    }

    // Read once here; the windows write it when they close.
    SettingsStore settings;
    ServiceInterface interface = ServiceInterface::Designed;
    if (!options.chooseInterface(settings, interface, &why)) {
        std::fprintf(stderr, "velloria: %s\n", qPrintable(why));
        return 2;
    }
    const std::unique_ptr<ITumblrService> service = options.makeService(settings, interface);
    modMain::Main(settings, *service);
    return app.exec();
}

#include "app/AppConfig.h"
#include "app/modMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QApplication::setApplicationName(QStringLiteral("Velloria"));
    QApplication::setApplicationVersion(QStringLiteral("1.00.0036"));
    // The windows are laid out for Tahoma; where it is missing, a condensed
    // sans keeps their texts inside the designed boxes.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans")});

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

    if (parser.isSet(serviceOption))
        AppConfig::setServiceHostOverride(parser.value(serviceOption));
    if (parser.isSet(webHostOption))
        AppConfig::setWebHostOverride(parser.value(webHostOption));

    modMain::Main();
    return app.exec();
}

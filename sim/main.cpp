#include "SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// Only write() is safe inside a signal handler; the event loop does the rest.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velloria-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLORIA_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local stand-in for the blogging service's XML interface (/api/authenticate, /api/read, /api/write) "
        "on 127.0.0.1. Runs until interrupted."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Service port; the blogs listen on the following ports (default 8765)."),
                                        QStringLiteral("P"), QStringLiteral("8765"));
    const QCommandLineOption dataOption(QStringLiteral("data"),
                                        QStringLiteral("Seed file (JSON, see sim/README.md) instead of the demo data."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption generateOption(
        QStringLiteral("generate"),
        QStringLiteral("Instead of the demo data: user@example.com / secret with one public blog \"generated\" "
                       "of N photo posts, none of them fixed yet."),
        QStringLiteral("N"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Wait MS milliseconds before every answer (default 0)."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOption(portOption);
    parser.addOption(dataOption);
    parser.addOption(generateOption);
    parser.addOption(delayOption);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "velloria-sim: --port needs a number from 0 to 65535\n";
        return 2;
    }

    const int delay = parser.value(delayOption).toInt(&ok);
    if (!ok || delay < 0) {
        err << "velloria-sim: --delay needs a number of milliseconds, 0 or more\n";
        return 2;
    }
    int generated = 0;
    if (parser.isSet(generateOption)) {
        generated = parser.value(generateOption).toInt(&ok);
        if (!ok || generated < 0) {
            err << "velloria-sim: --generate needs a number of posts, 0 or more\n";
            return 2;
        }
        if (parser.isSet(dataOption)) {
            err << "velloria-sim: --generate and --data exclude each other\n";
            return 2;
        }
    }

    sim::Server server;
    // Nobody reads the request log of a simulator in a process of its own.
    server.setLogging(false);
    server.setAnswerDelay(delay);
    const bool demo = !parser.isSet(dataOption) && !parser.isSet(generateOption);
    if (demo) {
        server.addAccount(sim::Server::demoAccount());
    } else if (parser.isSet(generateOption)) {
        server.addAccount(sim::Server::generatedAccount(QStringLiteral("generated"), generated,
                                                        QStringLiteral("user@example.com"), QStringLiteral("secret")));
    } else {
        std::vector<sim::Account> accounts;
        QString error;
        if (!sim::Server::loadAccounts(parser.value(dataOption), accounts, &error)) {
            err << "velloria-sim: " << error << '\n';
            return 2;
        }
        for (sim::Account &account : accounts)
            server.addAccount(std::move(account));
    }
    if (!server.start(quint16(port))) {
        err << "velloria-sim: cannot listen on 127.0.0.1 starting at port " << port << '\n';
        return 1;
    }

    out << "Service: http://" << server.serviceHost() << "/\n";
    for (const sim::Account &account : server.accounts()) {
        for (const sim::Blog &blog : account.blogs) {
            out << "Blog " << blog.name << " (" << blog.type << ", " << blog.posts.size() << " posts): http://"
                << server.blogHost(blog.name) << "/\n";
        }
    }
    if (demo)
        out << "Demo account: demo@example.com  password: demo\n";
    else if (parser.isSet(generateOption))
        out << "Account: user@example.com  password: secret\n";
    out << "Run the program with: velloria --service " << server.serviceHost() << '\n';
    out.flush();

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            QCoreApplication::quit();
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    const int rc = app.exec();
    server.stop();
    return rc;
}

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
    parser.addOption(portOption);
    parser.addOption(dataOption);
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

    sim::Server server;
    const bool demo = !parser.isSet(dataOption);
    if (demo) {
        server.addAccount(sim::Server::demoAccount());
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

#include "CurServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int wakeFds[2] = {-1, -1};

// A signal handler may do little more than write(); the event loop quits.
void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(wakeFds[1], &byte, 1);
}

bool readNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int min, int max, int &value)
{
    bool ok = false;
    value = parser.value(option).toInt(&ok);
    return ok && value >= min && value <= max;
}

}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velloria-sim-current"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLORIA_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A local stand-in for the blogging service's current interface (JSON over HTTP, OAuth 2) on 127.0.0.1: "
        "the authorization page, the token endpoint and the API on one port. Runs until interrupted."));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on (default 8775)."),
                                        QStringLiteral("P"), QStringLiteral("8775"));
    const QCommandLineOption redirectOption(
        QStringLiteral("redirect-uri"),
        QStringLiteral("The application's registered redirect URL (default http://127.0.0.1:47321/callback)."),
        QStringLiteral("URL"), QStringLiteral("http://127.0.0.1:47321/callback"));
    const QCommandLineOption generateOption(
        QStringLiteral("generate"),
        QStringLiteral("Instead of the demo data: one public blog \"generated\" of N legacy photo posts, none of "
                       "them fixed yet."),
        QStringLiteral("N"));
    const QCommandLineOption mixOption(
        QStringLiteral("mix"),
        QStringLiteral("With --generate: which editor made the posts: \"legacy\" (the default), \"editor\" (the new "
                       "one) or \"mixed\" (the newest third the new editor's, the next third both in turn, the rest "
                       "legacy)."),
        QStringLiteral("KIND"), QStringLiteral("legacy"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Wait MS milliseconds before every answer (default 0)."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOption(portOption);
    parser.addOption(redirectOption);
    parser.addOption(generateOption);
    parser.addOption(delayOption);
    parser.addOption(mixOption);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    int port = 0;
    if (!readNumber(parser, portOption, 0, 65535, port)) {
        err << "velloria-sim-current: --port needs a number from 0 to 65535\n";
        return 2;
    }
    int delay = 0;
    if (!readNumber(parser, delayOption, 0, 3600 * 1000, delay)) {
        err << "velloria-sim-current: --delay needs a number of milliseconds, 0 or more\n";
        return 2;
    }
    int generated = -1;
    if (parser.isSet(generateOption) && !readNumber(parser, generateOption, 0, 10'000'000, generated)) {
        err << "velloria-sim-current: --generate needs a number of posts, 0 or more\n";
        return 2;
    }
    const QString mix = parser.value(mixOption);
    if (mix != QLatin1String("legacy") && mix != QLatin1String("editor") && mix != QLatin1String("mixed")) {
        err << "velloria-sim-current: --mix is legacy, editor or mixed\n";
        return 2;
    }
    const QString redirectUri = parser.value(redirectOption);
    if (redirectUri.isEmpty()) {
        err << "velloria-sim-current: --redirect-uri needs a URL\n";
        return 2;
    }

    cursim::Server server;
    // Nobody reads the request log of a simulator in a process of its own.
    server.setLogging(false);
    server.setAnswerDelay(delay);
    server.setUser(generated >= 0 ? cursim::Server::generatedUser(QStringLiteral("generated"), generated)
                                  : cursim::Server::demoUser());
    if (generated > 0 && mix != QLatin1String("legacy")) {
        std::vector<cursim::Post> &posts = server.user().blogs.front().posts;
        const int third = generated / 3;
        for (int i = 0; i < generated; ++i) {
            if (mix == QLatin1String("mixed") && !(i < third || (i < 2 * third && i % 2 == 1)))
                continue;
            cursim::Post &post = posts[size_t(i)];
            cursim::Post made = cursim::Server::blocksPost(post.idString, cursim::Server::captionTexts(post.caption), post.tags);
            made.timestamp = post.timestamp;
            made.date = post.date;
            post = made;
        }
    }
    server.addApp({QStringLiteral("demo-key"), QStringLiteral("demo-secret"), redirectUri});
    if (!server.start(quint16(port))) {
        err << "velloria-sim-current: cannot listen on 127.0.0.1:" << port << '\n';
        return 1;
    }

    const QString base = QStringLiteral("http://") + server.host();
    out << "Authorization page: " << base << "/oauth2/authorize\n";
    out << "Token endpoint:     " << base << "/v2/oauth2/token\n";
    out << "API:                " << base << "/v2/\n";
    for (const cursim::Blog &blog : server.user().blogs)
        out << "Blog " << blog.name << " (" << blog.type << ", " << blog.posts.size() << " posts)\n";
    out << "Application key: demo-key  secret: demo-secret\n";
    out << "Redirect URL: " << redirectUri << '\n';
    out << "Run the program with: velloria --interface current --service " << server.host() << '\n';
    out.flush();

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeFds) == 0) {
        auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
            char byte = 0;
            [[maybe_unused]] const auto n = ::read(wakeFds[0], &byte, 1);
            QCoreApplication::quit();
        });
        std::signal(SIGINT, onStopSignal);
        std::signal(SIGTERM, onStopSignal);
    }
    const int rc = app.exec();
    server.stop();
    return rc;
}

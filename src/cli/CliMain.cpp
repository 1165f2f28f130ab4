#include "cli/CliMain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "cli/CliCommands.h"
#include "client/app/ServiceOptions.h"
#include "client/login/SettingsStore.h"
#include "client/service/ITumblrService.h"

namespace {
const char *const Description =
    "Adds each photo post's caption to its tags on a Tumblr-like blogging service, without windows:\n"
    "the same runs, rules, journal and settings as the program's windows (velloria).\n"
    "\n"
    "Commands:\n"
    "  sign-in        Sign in and keep the sign-in: on the designed interface the password is asked\n"
    "                 without echo (or read from standard input with --password-stdin); on the current\n"
    "                 one a browser is sent to the service's authorization page, or its address printed.\n"
    "  blogs          The account's blogs.\n"
    "  list BLOG      A dry run: each post \"fix\" would write, with its date, caption, tags and the\n"
    "                 tags it would get, and the posts it leaves out and why (--json, --csv).\n"
    "  fix BLOG       Reads the blog's photo posts and writes each one to fix back with its caption as\n"
    "                 a tag, paced, journaled; --new: only posts newer than the newest post of the\n"
    "                 last fix run that finished.\n"
    "  runs BLOG      The runs in the blog's journal, newest first.\n"
    "  undo BLOG      Puts the posts of the last run (or --run ID) back as they were before it.\n"
    "\n"
    "BLOG is a name (or title) that \"blogs\" lists. Ctrl+C or SIGTERM stops a run as Esc does in the\n"
    "windows. Exit status: 0 done, 1 refused or failed, 2 wrong command line, 3 stopped.";

int usage(const QString &text)
{
    std::fprintf(stderr, "velloria-cli: %s\n(velloria-cli --help lists the commands and options)\n",
                 text.toLocal8Bit().constData());
    return ExitCode::Usage;
}
}

namespace CliMain {

int run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Prints the commands and options."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Prints the version."));
    const QCommandLineOption accountOption(
        QStringLiteral("account"),
        QStringLiteral("The account: its e-mail address (designed interface) or the name it was signed in "
                       "under (current). Default: the last account signed in, here or in the windows."),
        QStringLiteral("EMAIL"));
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("list: as JSON."));
    const QCommandLineOption csvOption(QStringLiteral("csv"), QStringLiteral("list: as CSV (RFC 4180)."));
    const QCommandLineOption newOption(
        QStringLiteral("new"),
        QStringLiteral("fix, list: only posts newer than the newest post of the blog's last finished fix run."));
    const QCommandLineOption runOption(QStringLiteral("run"),
                                       QStringLiteral("undo: the run to put back (its id, or the start of it, as "
                                                      "\"runs\" shows it). Default: the last run."),
                                       QStringLiteral("ID"));
    const QCommandLineOption passwordStdinOption(
        QStringLiteral("password-stdin"),
        QStringLiteral("sign-in: read the password (designed interface), or the application's consumer key and "
                       "secret, a line each (current), from standard input."));
    const QCommandLineOption browserOption(
        QStringLiteral("browser"),
        QStringLiteral("sign-in, current interface: the command that opens the authorization page, given its "
                       "address. Default: $BROWSER, else xdg-open where there is a display; without one the "
                       "address is printed."),
        QStringLiteral("COMMAND"));
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    parser.addOption(accountOption);
    ServiceOptions serviceOptions;
    serviceOptions.addTo(parser);
    for (const QCommandLineOption &option :
         {jsonOption, csvOption, newOption, runOption, passwordStdinOption, browserOption})
        parser.addOption(option);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("sign-in, blogs, list, fix, runs or undo."));
    parser.addPositionalArgument(QStringLiteral("blog"), QStringLiteral("The blog of list, fix, runs and undo."),
                                 QStringLiteral("[BLOG]"));

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return ExitCode::Done;
    }
    if (parser.isSet(versionOption)) {
        std::printf("velloria-cli (%s) %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return ExitCode::Done;
    }
    QString why;
    if (!serviceOptions.read(parser, &why))
        return usage(why);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return usage(QStringLiteral("no command given"));
    const QString command = positional.first();
    const QStringList withBlog{QStringLiteral("list"), QStringLiteral("fix"), QStringLiteral("runs"),
                               QStringLiteral("undo")};
    const QStringList withoutBlog{QStringLiteral("sign-in"), QStringLiteral("blogs")};
    if (!withBlog.contains(command) && !withoutBlog.contains(command))
        return usage(QStringLiteral("no command \"%1\"").arg(command));
    if (withBlog.contains(command) && positional.size() != 2)
        return usage(positional.size() < 2 ? QStringLiteral("%1 needs the blog's name").arg(command)
                                           : QStringLiteral("%1 takes one blog").arg(command));
    if (withoutBlog.contains(command) && positional.size() != 1)
        return usage(QStringLiteral("%1 takes no blog").arg(command));
    // Each option belongs to the commands named in its text.
    const auto only = [&](const QCommandLineOption &option, const QStringList &commands) {
        return !parser.isSet(option) || commands.contains(command);
    };
    if (!only(jsonOption, {QStringLiteral("list")}) || !only(csvOption, {QStringLiteral("list")})
        || !only(newOption, {QStringLiteral("fix"), QStringLiteral("list")})
        || !only(runOption, {QStringLiteral("undo")})
        || !only(passwordStdinOption, {QStringLiteral("sign-in")})
        || !only(browserOption, {QStringLiteral("sign-in")}))
        return usage(QStringLiteral("an option given is not one of %1's").arg(command));
    if (parser.isSet(jsonOption) && parser.isSet(csvOption))
        return usage(QStringLiteral("--json or --csv, not both"));

    CliOptions options;
    options.account = parser.value(accountOption);
    options.format = parser.isSet(jsonOption)  ? QStringLiteral("json")
                     : parser.isSet(csvOption) ? QStringLiteral("csv")
                                               : QStringLiteral("table");
    options.onlyNew = parser.isSet(newOption);
    options.runId = parser.value(runOption).trimmed();
    options.passwordStdin = parser.isSet(passwordStdinOption);
    options.browser = parser.value(browserOption);

    // Read once; a sign-in writes what it keeps.
    SettingsStore settings;
    ServiceInterface interface = ServiceInterface::Designed;
    if (!serviceOptions.chooseInterface(settings, interface, &why))
        return usage(why);
    const std::unique_ptr<ITumblrService> service = serviceOptions.makeService(settings, interface);
    CliCommands commands(settings, *service, interface, options);
    const QString blog = positional.value(1);
    if (command == QLatin1String("sign-in"))
        return commands.signIn();
    if (command == QLatin1String("blogs"))
        return commands.blogs();
    if (command == QLatin1String("list"))
        return commands.list(blog);
    if (command == QLatin1String("fix"))
        return commands.fix(blog);
    if (command == QLatin1String("runs"))
        return commands.runs(blog);
    return commands.undo(blog);
}
}

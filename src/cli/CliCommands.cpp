#include "cli/CliCommands.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

#include "cli/ConsoleObserver.h"
#include "cli/DryRun.h"
#include "cli/StopSignals.h"
#include "cli/TerminalInput.h"
#include "client/login/EMailHistory.h"
#include "client/login/NamedLock.h"
#include "client/login/SettingsStore.h"
#include "client/posts/PostDate.h"
#include "client/posts/PostsModel.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/FixRun.h"
#include "client/runs/RunJournal.h"
#include "client/service/current/CurrentTumblrService.h"

namespace {
void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int fail(int exitCode, const QString &text)
{
    say(QStringLiteral("velloria-cli: ") + text);
    return exitCode;
}

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printBytes(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ').replace(u'\r', u' ');
    return text.simplified();
}

QString shortId(const QString &runId) { return runId.left(8); }

QString postLine(const PostRow &post)
{
    return QStringLiteral("  %1 \"%2\" (post %3)").arg(post.date, oneLine(post.caption), post.id);
}

// A run's start as the undo window shows it, local time.
QString startedText(const JournalRun &run)
{
    return run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The last "fix" run that went to the end (newest first): posts newer than
// its newest are the ones added since.
const JournalRun *lastFinishedFix(const JournalContents &contents)
{
    for (const JournalRun &run : contents.runs) {
        if (run.kind == QLatin1String(RunJournal::Fix) && run.ended == QLatin1String(RunJournal::Done))
            return &run;
    }
    return nullptr;
}
}

CliCommands::CliCommands(SettingsStore &settings, ITumblrService &service, ServiceInterface interface,
                         CliOptions options)
    : m_settings(settings), m_service(service), m_current(dynamic_cast<CurrentTumblrService *>(&service)),
      m_interface(interface), m_options(std::move(options))
{
    // Outside "sign-in" nobody waits for a browser: a sign-in that wants one is over.
    if (m_current) {
        m_current->setBrowserOpener([this](const QUrl &) {
            m_signInNeeded = true;
            return false;
        });
    }
}

CliCommands::~CliCommands() = default;

QString CliCommands::accountName() const
{
    if (!m_options.account.trimmed().isEmpty())
        return m_options.account.trimmed();
    return SettingKeys::trimmed(m_settings, Setting::EMail);
}

bool CliCommands::isSavedAccount(const QString &account) const
{
    return account.compare(SettingKeys::trimmed(m_settings, Setting::EMail), Qt::CaseInsensitive) == 0;
}

bool CliCommands::openBrowser(const QUrl &url)
{
    // Only a web address goes to a browser.
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return false;
    const QString address = url.toString(QUrl::FullyEncoded);
    QStringList command = QProcess::splitCommand(m_options.browser);
    if (command.isEmpty()) {
        // $BROWSER may list several, colon-separated: the first is taken.
        command = QProcess::splitCommand(qEnvironmentVariable("BROWSER").section(u':', 0, 0));
    }
    if (command.isEmpty() && (qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY"))) {
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (!opener.isEmpty())
            command = QStringList{opener};
    }
    bool started = false;
    if (!command.isEmpty()) {
        const QString program = command.takeFirst();
        started = QProcess::startDetached(program, command << address);
        if (!started)
            say(QStringLiteral("velloria-cli: the browser \"%1\" can't be started.").arg(program));
    }
    say(started ? QStringLiteral("A browser was opened at this address; sign in there and allow Velloria:")
                : QStringLiteral("Open this address in a browser on this machine, sign in there and allow Velloria:"));
    // On stdout too, where a script reads it; the answer only comes to this machine's loopback address.
    std::printf("%s\n", address.toLocal8Bit().constData());
    std::fflush(stdout);
    say(QStringLiteral("Waiting for the browser's answer on 127.0.0.1:%1 (Ctrl+C stops). From another machine, "
                       "forward the port first: ssh -L %1:127.0.0.1:%1 THIS-HOST")
            .arg(m_current ? m_current->redirectPort() : 0));
    return true;
}

int CliCommands::signInFailed(const SignInResult &result)
{
    if (m_signInNeeded || (m_current && m_current->needsApplicationKey()))
        return fail(ExitCode::Failed, QStringLiteral("not signed in as %1 on the current interface (or the sign-in "
                                                     "has ended): run \"velloria-cli sign-in\" first")
                                          .arg(accountName()));
    switch (result.outcome) {
    case ServiceResult::Accepted:
        return ExitCode::Done;
    case ServiceResult::Stopped:
        return fail(ExitCode::Stopped, QStringLiteral("the sign-in was stopped"));
    case ServiceResult::Refused:
        return fail(ExitCode::Failed, QStringLiteral("the service refused the sign-in: ")
                                          + oneLine(result.serverMessage.isEmpty() ? result.errorText
                                                                                  : result.serverMessage));
    case ServiceResult::Failed:
        return fail(ExitCode::Failed, QStringLiteral("can't sign in: ") + oneLine(result.errorText));
    case ServiceResult::BadAnswer:
    case ServiceResult::Unreadable:
        break;
    }
    return fail(ExitCode::Failed, QStringLiteral("the service's answer to the sign-in can't be used: ")
                                      + oneLine(result.errorText));
}

int CliCommands::runFailed(const RunReport &report, const QString &blog)
{
    if (report.problem.kind != RunProblem::None)
        say(QStringLiteral("velloria-cli: ") + ConsoleObserver::problemText(report.problem));
    if (report.outcome == RunReport::Stopped || StopSignals::requested())
        return fail(ExitCode::Stopped, QStringLiteral("stopped; every write sent is in the blog's journal "
                                                      "(velloria-cli runs %1)")
                                           .arg(blog));
    return ExitCode::Failed;
}

bool CliCommands::fetchBlogs(const QString &account, const QString &password, std::vector<BlogEntry> &blogs,
                             int &exitCode)
{
    ConsoleObserver quiet(m_service, ConsoleObserver::Style::Lines);
    const SignInResult result = m_service.signIn(account, password, &quiet);
    if (!result.accepted()) {
        exitCode = signInFailed(result);
        return false;
    }
    blogs = BlogList::parse(result.blogList.value_or(QString()));
    return true;
}

bool CliCommands::runAccount(const QString &blog, bool savedList, Account &account, int &exitCode)
{
    account.email = accountName();
    if (account.email.isEmpty()) {
        exitCode = fail(ExitCode::Usage, QStringLiteral("no account: sign in first (velloria-cli sign-in --account "
                                                        "EMAIL), or name it with --account"));
        return false;
    }
    if (m_interface == ServiceInterface::Designed) {
        // The password the last sign-in kept is that account's alone.
        account.password = isSavedAccount(account.email) ? SettingKeys::text(m_settings, Setting::Password) : QString();
        if (account.password.isEmpty()) {
            exitCode = fail(ExitCode::Failed, QStringLiteral("no password is kept for %1: run \"velloria-cli sign-in "
                                                             "--account %1\" first")
                                                  .arg(account.email));
            return false;
        }
    }
    std::vector<BlogEntry> blogs;
    const BlogEntry *found = nullptr;
    if (savedList && isSavedAccount(account.email)) {
        blogs = BlogList::parse(SettingKeys::text(m_settings, Setting::Groups));
        found = BlogList::find(blogs, blog);
    }
    if (!found) {
        if (!fetchBlogs(account.email, account.password, blogs, exitCode))
            return false;
        found = BlogList::find(blogs, blog);
    }
    if (!found) {
        QStringList names;
        for (const BlogEntry &entry : blogs)
            names << entry.name;
        exitCode = fail(ExitCode::Failed, QStringLiteral("\"%1\" is not a blog of %2 (%3)")
                                              .arg(blog, account.email,
                                                   names.isEmpty() ? QStringLiteral("it has none")
                                                                   : QStringLiteral("its blogs: ")
                                                                         + names.join(QStringLiteral(", "))));
        return false;
    }
    account.groupName = found->name;
    return true;
}

bool CliCommands::takeBlogLock(const QString &blog, NamedLock &lock, int &exitCode)
{
    QString error;
    if (lock.Acquire(NamedLock::BlogName(blog), &error))
        return true;
    exitCode = fail(ExitCode::Failed,
                    error.isEmpty() ? QStringLiteral("%1 is open in another copy of Velloria (its posts window or "
                                                     "velloria-cli); try again once it is closed")
                                          .arg(blog)
                                    : QStringLiteral("can't take the lock of %1: %2").arg(blog, oneLine(error)));
    return false;
}

void CliCommands::printBlogs(const std::vector<BlogEntry> &blogs) const
{
    qsizetype width = 4;
    for (const BlogEntry &blog : blogs)
        width = std::max(width, blog.name.size());
    QString text = QStringLiteral("BLOG").leftJustified(width + 2) + QStringLiteral("TITLE\n");
    for (const BlogEntry &blog : blogs)
        text += blog.name.leftJustified(width + 2) + blog.title + u'\n';
    print(text);
}

int CliCommands::signIn()
{
    QString account = accountName();
    if (account.isEmpty()) {
        const std::optional<QString> asked = TerminalInput::ask(
            m_interface == ServiceInterface::Designed ? QStringLiteral("E-mail address: ")
                                                      : QStringLiteral("Account (any name for it): "),
            false);
        if (StopSignals::requested())
            return fail(ExitCode::Stopped, QStringLiteral("the sign-in was stopped"));
        if (!asked || asked->trimmed().isEmpty())
            return fail(ExitCode::Usage, QStringLiteral("no account: name it with --account"));
        account = asked->trimmed();
    }

    QString password;
    if (m_interface == ServiceInterface::Designed) {
        const std::optional<QString> given =
            m_options.passwordStdin ? TerminalInput::readLine()
                                    : TerminalInput::ask(QStringLiteral("Password for %1: ").arg(account), true);
        if (StopSignals::requested())
            return fail(ExitCode::Stopped, QStringLiteral("the sign-in was stopped"));
        if (!given || given->isEmpty())
            return fail(ExitCode::Usage, m_options.passwordStdin
                                             ? QStringLiteral("no password on standard input")
                                             : QStringLiteral("no terminal to ask the password on: give it on "
                                                              "standard input with --password-stdin"));
        password = *given;
    } else {
        // The application key the user registered on the service, once.
        std::optional<QString> key, secret;
        if (m_options.passwordStdin) {
            key = TerminalInput::readLine();
            secret = key ? TerminalInput::readLine() : std::nullopt;
        } else if (m_current->needsApplicationKey()) {
            if (!TerminalInput::stdinIsTerminal())
                return fail(ExitCode::Usage, QStringLiteral("no application key is kept: give its consumer key and "
                                                            "secret, a line each, on standard input with "
                                                            "--password-stdin"));
            say(QStringLiteral("Velloria needs the OAuth consumer key and secret of an application you registered "
                               "on the service, with the redirect URL %1.")
                    .arg(m_current->redirectUrl()));
            key = TerminalInput::ask(QStringLiteral("OAuth consumer key: "), false);
            secret = key ? TerminalInput::ask(QStringLiteral("Secret: "), true) : std::nullopt;
        }
        if (StopSignals::requested())
            return fail(ExitCode::Stopped, QStringLiteral("the sign-in was stopped"));
        if (m_options.passwordStdin || key) {
            QString error;
            if (!key || !secret || !m_current->setApplicationKey(*key, *secret, &error))
                return fail(ExitCode::Failed, QStringLiteral("can't keep the application key: ")
                                                  + (error.isEmpty() ? QStringLiteral("both the consumer key and "
                                                                                      "the secret are needed")
                                                                     : oneLine(error)));
        }
        m_current->setBrowserOpener([this](const QUrl &url) { return openBrowser(url); });
    }

    ConsoleObserver observer(m_service, ConsoleObserver::Style::Lines);
    const SignInResult result = m_service.signIn(account, password, &observer);
    if (!result.accepted())
        return signInFailed(result);

    // Kept as the login window keeps them: the windows start with this account.
    const QString list = result.blogList.value_or(QString());
    SettingKeys::set(m_settings, Setting::EMail, account);
    if (m_interface == ServiceInterface::Designed)
        SettingKeys::set(m_settings, Setting::Password, password);
    SettingKeys::set(m_settings, Setting::Groups, list);
    QString error;
    if (!m_settings.flush(&error))
        return fail(ExitCode::Failed, QStringLiteral("signed in, but the settings can't be saved: ") + oneLine(error));
    EMailHistory history;
    history.Init();
    history.Load();
    history.AddEMail(account);
    if (!history.Save(&error))
        say(QStringLiteral("velloria-cli: the e-mail history can't be saved: ") + oneLine(error));
    say(QStringLiteral("Signed in as %1.").arg(account));
    printBlogs(BlogList::parse(list));
    return ExitCode::Done;
}

int CliCommands::blogs()
{
    const QString account = accountName();
    if (account.isEmpty())
        return fail(ExitCode::Usage, QStringLiteral("no account: sign in first (velloria-cli sign-in --account "
                                                    "EMAIL), or name it with --account"));
    QString password;
    if (m_interface == ServiceInterface::Designed) {
        password = isSavedAccount(account) ? SettingKeys::text(m_settings, Setting::Password) : QString();
        if (password.isEmpty())
            return fail(ExitCode::Failed, QStringLiteral("no password is kept for %1: run \"velloria-cli sign-in "
                                                         "--account %1\" first")
                                              .arg(account));
    }
    std::vector<BlogEntry> list;
    int exitCode = ExitCode::Done;
    if (!fetchBlogs(account, password, list, exitCode))
        return exitCode;
    printBlogs(list);
    return ExitCode::Done;
}

int CliCommands::list(const QString &blog)
{
    Account account;
    int exitCode = ExitCode::Done;
    if (!runAccount(blog, false, account, exitCode))
        return exitCode;
    DownloadSettingsData settings;
    settings.Cancelled = false;
    if (m_options.onlyNew) {
        const JournalContents journal =
            RunJournal::Read(RunJournal::filePath(RunJournal::defaultFolder(), account.groupName), account.groupName);
        if (const JournalRun *last = lastFinishedFix(journal))
            settings.NewerThan = last->newestPost();
    }
    PostsModel rows;
    ConsoleObserver observer(m_service, ConsoleObserver::styleForStderr());
    observer.startDownload(account.groupName);
    DownloadRun(m_service, rows, observer).run(account, settings);
    if (observer.report().outcome != RunReport::Done)
        return runFailed(observer.report(), account.groupName);

    DryRun dry;
    dry.blog = account.groupName;
    dry.rules = m_service.capabilities().tagRules;
    dry.withoutId = observer.report().withoutId;
    dry.leftOut = observer.leftOut();
    for (int i = 0; i < rows.count(); ++i) {
        const PostRow &post = rows.at(i);
        // As "fix" takes them: a caption of no text is passed over, one the service can't take stays.
        const QString reason = post.caption.isEmpty() ? QStringLiteral("Not written: its caption has no text.")
                                                      : TagRule::cantFixReason(post, dry.rules);
        if (reason.isEmpty())
            dry.toFix.push_back(post);
        else
            dry.leftOut.push_back({post, reason});
    }
    std::stable_sort(dry.leftOut.begin(), dry.leftOut.end(), [](const DryRun::Left &a, const DryRun::Left &b) {
        return PostDate::parse(a.post.date) > PostDate::parse(b.post.date);
    });
    if (m_options.format == QLatin1String("json"))
        printBytes(dry.json());
    else if (m_options.format == QLatin1String("csv"))
        printBytes(dry.csv());
    else
        print(dry.table());
    return ExitCode::Done;
}

int CliCommands::fix(const QString &blog)
{
    Account account;
    int exitCode = ExitCode::Done;
    if (!runAccount(blog, false, account, exitCode))
        return exitCode;
    // One blog is fixed by one running copy, of either program.
    NamedLock lock;
    if (!takeBlogLock(account.groupName, lock, exitCode))
        return exitCode;

    const QString folder = RunJournal::defaultFolder();
    DownloadSettingsData settings;
    settings.Cancelled = false;
    if (m_options.onlyNew) {
        const JournalContents journal =
            RunJournal::Read(RunJournal::filePath(folder, account.groupName), account.groupName);
        const JournalRun *last = lastFinishedFix(journal);
        if (last && last->newestPost().isValid()) {
            settings.NewerThan = last->newestPost();
            say(QStringLiteral("Only posts newer than %1, the newest post of the last finished fix run (%2).")
                    .arg(settings.NewerThan.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")), startedText(*last)));
        } else {
            say(QStringLiteral("No fix run of %1 has finished yet: every post is read.").arg(account.groupName));
        }
    }

    PostsModel rows;
    ConsoleObserver observer(m_service, ConsoleObserver::styleForStderr());
    observer.startDownload(account.groupName);
    DownloadRun(m_service, rows, observer).run(account, settings);
    if (observer.report().outcome != RunReport::Done)
        return runFailed(observer.report(), account.groupName);
    if (observer.report().withoutId > 0)
        say(QStringLiteral("velloria-cli: %1 photo posts came without an id and were left out.")
                .arg(observer.report().withoutId));
    if (rows.count() == 0) {
        print(QStringLiteral("Nothing to fix on %1.\n").arg(account.groupName));
        return ExitCode::Done;
    }

    const int listed = rows.count();
    observer.startFix(account.groupName, rows);
    FixRun(m_service, rows, observer, folder).fix(account);
    const RunReport &report = observer.report();
    QString summary = QStringLiteral("Fixed %1 of %2 posts on %3.\n").arg(observer.written()).arg(listed).arg(account.groupName);
    for (auto it = report.leftOut.cbegin(); it != report.leftOut.cend(); ++it)
        summary += QStringLiteral("  %1 left as they were: %2\n").arg(it.value()).arg(it.key());
    print(summary);
    return report.outcome == RunReport::Done ? ExitCode::Done : runFailed(report, account.groupName);
}

int CliCommands::runs(const QString &blog)
{
    Account account;
    int exitCode = ExitCode::Done;
    if (!runAccount(blog, true, account, exitCode))
        return exitCode;
    const QString path = RunJournal::filePath(RunJournal::defaultFolder(), account.groupName);
    const JournalContents contents = RunJournal::Read(path, account.groupName);
    if (!contents.problem().isEmpty())
        say(QStringLiteral("velloria-cli: ") + contents.problem() + QStringLiteral(" (") + QDir::toNativeSeparators(path)
            + u')');
    if (contents.status == JournalContents::Unreadable)
        return ExitCode::Failed;
    std::vector<QStringList> rows{{QStringLiteral("STARTED"), QStringLiteral("RUN"), QStringLiteral("KIND"),
                                   QStringLiteral("WRITTEN"), QStringLiteral("UNKNOWN"), QStringLiteral("ENDED")}};
    for (const JournalRun &run : contents.runs) {
        const QString kind = run.kind == QLatin1String(RunJournal::Undo)
                                 ? QStringLiteral("undo of ") + shortId(run.undoes)
                                 : run.kind;
        rows.push_back({startedText(run), shortId(run.id), kind, QString::number(run.written()),
                        QString::number(run.unknown()), run.ended.isEmpty() ? QStringLiteral("-") : run.ended});
    }
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            text += i + 1 < row.size() ? row.at(i).leftJustified(widths[size_t(i)] + 2) : row.at(i);
        text += u'\n';
    }
    print(text);
    return ExitCode::Done;
}

int CliCommands::undo(const QString &blog)
{
    Account account;
    int exitCode = ExitCode::Done;
    if (!runAccount(blog, false, account, exitCode))
        return exitCode;
    const QString folder = RunJournal::defaultFolder();
    const QString path = RunJournal::filePath(folder, account.groupName);
    const JournalContents contents = RunJournal::Read(path, account.groupName);
    if (!contents.problem().isEmpty())
        say(QStringLiteral("velloria-cli: ") + contents.problem() + QStringLiteral(" (") + QDir::toNativeSeparators(path)
            + u')');
    if (contents.runs.empty())
        return fail(ExitCode::Failed, QStringLiteral("no run of %1 is in its journal").arg(account.groupName));

    const JournalRun *chosen = &contents.runs.front(); // the last run
    if (!m_options.runId.isEmpty()) {
        chosen = nullptr;
        for (const JournalRun &run : contents.runs) {
            if (!run.id.startsWith(m_options.runId, Qt::CaseInsensitive))
                continue;
            if (chosen)
                return fail(ExitCode::Usage, QStringLiteral("more than one run starts with %1: give more of its id "
                                                            "(velloria-cli runs %2)")
                                                 .arg(m_options.runId, account.groupName));
            chosen = &run;
        }
        if (!chosen)
            return fail(ExitCode::Failed, QStringLiteral("no run %1 in the journal of %2 (velloria-cli runs %2 lists them)")
                                              .arg(m_options.runId, account.groupName));
    }
    // A run with nothing written, or possibly written, has nothing to put back.
    if (chosen->written() + chosen->unknown() == 0)
        return fail(ExitCode::Failed, QStringLiteral("run %1 (%2) wrote no post: nothing to put back")
                                          .arg(shortId(chosen->id), startedText(*chosen)));
    const JournalRun run = *chosen;

    NamedLock lock;
    if (!takeBlogLock(account.groupName, lock, exitCode))
        return exitCode;
    PostsModel rows; // undo does not touch listed rows: none are listed here
    ConsoleObserver observer(m_service, ConsoleObserver::styleForStderr());
    const int toHandle = int(std::count_if(run.posts.begin(), run.posts.end(), [](const JournalRun::Post &post) {
        return post.state != JournalRun::Post::NotWritten;
    }));
    observer.startUndo(account.groupName, toHandle);
    FixRun(m_service, rows, observer, folder).undo(account, run);
    const RunReport &report = observer.report();
    if (report.outcome != RunReport::Done)
        return runFailed(report, account.groupName);

    const RunReport::Undo &undone = report.undo;
    QString summary = QStringLiteral("Undo of run %1 (%2) finished: %3 of its %4 posts were put back as they were "
                                     "before it.\n")
                          .arg(shortId(run.id), startedText(run))
                          .arg(undone.putBack)
                          .arg(undone.runPosts);
    if (undone.asBefore > 0)
        summary += QStringLiteral("%1 posts already had their tags from before the run.\n").arg(undone.asBefore);
    if (!undone.changed.empty()) {
        summary += QStringLiteral("%1 posts were changed since the run and were left as they are:\n")
                       .arg(undone.changed.size());
        for (const PostRow &post : undone.changed)
            summary += postLine(post) + u'\n';
    }
    if (!undone.gone.empty()) {
        summary += QStringLiteral("%1 posts are no longer on the blog:\n").arg(undone.gone.size());
        for (const PostRow &post : undone.gone)
            summary += postLine(post) + u'\n';
    }
    print(summary);
    return ExitCode::Done;
}

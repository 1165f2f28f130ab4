#pragma once
#include <QString>
#include <QUrl>

#include "client/login/BlogList.h"
#include "client/login/SettingKeys.h"
#include "client/service/Account.h"

#include <vector>

class ConsoleObserver;
class CurrentTumblrService;
class ITumblrService;
class NamedLock;
class SettingsStore;
struct RunReport;
struct SignInResult;

// What velloria-cli's exit status says.
namespace ExitCode {
inline constexpr int Done = 0;
inline constexpr int Failed = 1;  // refused, failed, or nothing to do that was asked for
inline constexpr int Usage = 2;   // the command line was wrong
inline constexpr int Stopped = 3; // Ctrl+C or SIGTERM
}

// The sub-commands' own options.
struct CliOptions {
    QString account;      // --account; empty: the settings' last account
    QString format;       // list: "table", "json" or "csv"
    bool onlyNew = false; // --new
    QString runId;        // undo --run: the run's id or the start of it
    bool passwordStdin = false;
    QString browser;      // --browser: a command that opens an address; empty: $BROWSER, else xdg-open
};

// velloria-cli's commands over one back end, the settings and the secret
// store the windows use, the runs the windows run (DownloadRun, FixRun), the
// blog's journal and its lock. Each returns the exit status; results go to
// standard output, progress and problems (one line each) to standard error.
class CliCommands final
{
    Q_DISABLE_COPY_MOVE(CliCommands)

public:
    CliCommands(SettingsStore &settings, ITumblrService &service, ServiceInterface interface, CliOptions options);
    ~CliCommands();

    int signIn();
    int blogs();
    int list(const QString &blog);
    int fix(const QString &blog);
    int runs(const QString &blog);
    int undo(const QString &blog);

private:
    // --account, else the account the last sign-in kept.
    QString accountName() const;
    bool isSavedAccount(const QString &account) const;
    // The account's blogs, from the service (a sign-in with what is kept);
    // false with the exit status when the service did not give them.
    bool fetchBlogs(const QString &account, const QString &password, std::vector<BlogEntry> &blogs, int &exitCode);
    // The account and the blog a run works on, the blog checked against the
    // account's blog list (the kept one first when savedList); false with the
    // exit status after saying why.
    bool runAccount(const QString &blog, bool savedList, Account &account, int &exitCode);
    bool takeBlogLock(const QString &blog, NamedLock &lock, int &exitCode);
    int signInFailed(const SignInResult &result);
    int runFailed(const RunReport &report, const QString &blog);
    bool openBrowser(const QUrl &url);
    void printBlogs(const std::vector<BlogEntry> &blogs) const;

    SettingsStore &m_settings;
    ITumblrService &m_service;
    CurrentTumblrService *m_current; // the current interface's back end; null on the designed one
    ServiceInterface m_interface;
    CliOptions m_options;
    bool m_signInNeeded = false; // the service wanted the browser outside "sign-in"
};

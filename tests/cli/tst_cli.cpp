// velloria-cli as a script or a nightly timer runs it: the built program in
// a process of its own, without DISPLAY or QT_QPA_PLATFORM, against both
// simulators in this process, its files in this test's folders. What it
// lists is compared with what the windows list (DownloadRun into the posts
// model), what it writes with the simulators' posts and request logs and
// with the blog's journal.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>
#include <functional>

#include <csignal>

#include "CurrentSimFixture.h"
#include "QuietObserver.h"
#include "SimFixture.h"
#include "TestBrowser.h"
#include "TestFolders.h"
#include "TestService.h"
#include "cli/DryRun.h"
#include "client/login/NamedLock.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/runs/DownloadRun.h"
#include "client/runs/RunJournal.h"
#include "client/runs/RunObserver.h"

namespace {

const QString Blog = QStringLiteral("cliblog");
const QString Email = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");

QString program(const char *name) { return QStringLiteral(VELLORIA_BIN_DIR "/") + QLatin1String(name); }

struct CliResult {
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
    QStringList errLines() const
    {
        return QString::fromUtf8(err).split(u'\n', Qt::SkipEmptyParts);
    }
};

// The program's environment: this test's folders (HOME, XDG_*, TMPDIR, no
// session bus: TestFolders), no display of any kind.
QProcessEnvironment headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "BROWSER", "XAUTHORITY"})
        environment.remove(QLatin1String(name));
    return environment;
}

// Runs a program to its end while this process's event loop runs (the
// simulators answer from it). `started` may connect to the process or
// signal it; `watch` sees the output so far whenever more arrives.
using Watch = std::function<void(QProcess &, const CliResult &)>;
CliResult runProgram(const QString &path, const QStringList &arguments, const QByteArray &input = {},
                     const Watch &watch = {}, const std::function<void(QProcess &)> &started = {},
                     int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(headless());
    CliResult result;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [&] {
        result.out += process.readAllStandardOutput();
        if (watch)
            watch(process, result);
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, [&] {
        result.err += process.readAllStandardError();
        if (watch)
            watch(process, result);
    });
    process.start(path, arguments);
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (started)
        started(process);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, [&process] { process.kill(); });
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    result.out += process.readAllStandardOutput();
    result.err += process.readAllStandardError();
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    return result;
}

CliResult cli(const QStringList &arguments, const QByteArray &input = {}, const Watch &watch = {},
              const std::function<void(QProcess &)> &started = {})
{
    return runProgram(program("velloria-cli"), arguments, input, watch, started);
}

// Where the program keeps its files, by the environment (not this test's QStandardPaths test mode).
QString configFolder() { return qEnvironmentVariable("XDG_CONFIG_HOME"); }
QString dataFolder() { return qEnvironmentVariable("XDG_DATA_HOME"); }
QString settingsFile() { return QDir(configFolder()).filePath(QStringLiteral("Zelvat/Velloria.ini")); }
QString journalFolder() { return QDir(dataFolder()).filePath(QStringLiteral("Zelvat/Velloria/journal")); }

QList<QJsonObject> journalRecords(const QString &blog)
{
    QList<QJsonObject> records;
    QFile file(RunJournal::filePath(journalFolder(), blog));
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            records << QJsonDocument::fromJson(line).object();
    }
    return records;
}

// RFC 4180, as a spreadsheet reads it.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row << field;
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            row << field;
            rows << row;
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

// A blog of photo posts a minute apart (newest first, from 2026-11-30 12:00
// GMT): `toFix` to fix, then one already tagged, one without a caption, one
// whose caption is HTML and holds a comma and quotes.
std::vector<sim::Post> designedPosts(int toFix)
{
    const QDateTime newest(QDate(2026, 11, 30), QTime(12, 0), QTimeZone::utc());
    std::vector<sim::Post> posts;
    const auto add = [&](sim::Post post) {
        post.date = newest.addSecs(-60 * qint64(posts.size())).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'"));
        posts.push_back(std::move(post));
    };
    for (int i = 0; i < toFix; ++i)
        add(SimFixture::photoPost(QString::number(5001 + i), QStringLiteral("Photo %1").arg(i + 1),
                                  {QStringLiteral("t%1").arg(i), QStringLiteral("shared")}));
    add(SimFixture::photoPost(QStringLiteral("6001"), QStringLiteral("Tagged"), {QStringLiteral("tagged")}));
    add(SimFixture::photoPost(QStringLiteral("6002"), QString()));
    add(SimFixture::photoPost(QStringLiteral("6003"), QStringLiteral("<p>Say \"cheese\", <b>please</b></p>"),
                              {QStringLiteral("a, b")}));
    return posts;
}

sim::Account designedAccount(int toFix)
{
    sim::Account account;
    account.email = Email;
    account.password = Password;
    account.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("CLI blog"), designedPosts(toFix)));
    return account;
}

QStringList designed(const SimFixture &sim, const QStringList &arguments)
{
    return QStringList{QStringLiteral("--interface"), QStringLiteral("designed"), QStringLiteral("--service"),
                       sim.serviceHost()}
           + arguments;
}

QStringList current(CurrentSimFixture &sim, const QStringList &arguments)
{
    return QStringList{QStringLiteral("--interface"), QStringLiteral("current"), QStringLiteral("--service"),
                       sim.sim().host(), QStringLiteral("--account"),
                       QString::fromLatin1(CurrentSimFixture::AccountName)}
           + arguments;
}

// What the windows list: "Get posts" into the posts model.
std::vector<PostRow> windowsList(ITumblrService &service, const Account &account)
{
    QuietObserver observer;
    PostsModel rows;
    DownloadRun(service, rows, observer).run(account, allPages());
    std::vector<PostRow> list;
    for (int i = 0; i < rows.count(); ++i)
        list.push_back(rows.at(i));
    return list;
}

// The list's JSON against the windows' list: every listed row the run would
// write is in "toFix", in the same order, with the same fields and the tags
// it would get; every other photo post is in "leftOut" with a reason.
void compareWithWindows(const QJsonObject &json, const std::vector<PostRow> &windows, const TagRules &rules,
                        int photoPosts)
{
    const QJsonArray toFix = json.value("toFix").toArray();
    const QJsonArray leftOut = json.value("leftOut").toArray();
    QStringList expectedIds, expectedLeftIds;
    for (const PostRow &row : windows) {
        if (!row.caption.isEmpty() && TagRule::cantFixReason(row, rules).isEmpty())
            expectedIds << row.id;
        else
            expectedLeftIds << row.id;
    }
    QStringList ids;
    for (int i = 0; i < toFix.size(); ++i) {
        const QJsonObject post = toFix.at(i).toObject();
        ids << post.value("id").toString();
        const auto row = std::find_if(windows.begin(), windows.end(),
                                      [&](const PostRow &r) { return r.id == post.value("id").toString(); });
        QVERIFY(row != windows.end());
        QCOMPARE(post.value("caption").toString(), row->caption);
        QCOMPARE(post.value("date").toString(), row->date);
        QCOMPARE(post.value("tags").toVariant().toStringList(), row->tags);
        QCOMPARE(post.value("newTags").toVariant().toStringList(), TagRule::fixedTags(*row, rules));
    }
    QCOMPARE(ids, expectedIds);
    int notListed = 0;
    for (const QJsonValue &value : leftOut) {
        const QJsonObject post = value.toObject();
        QVERIFY2(!post.value("reason").toString().isEmpty(), qPrintable(post.value("id").toString()));
        if (post.value("reason").toString().startsWith(QLatin1String("Not listed")))
            ++notListed;
        else
            QVERIFY(expectedLeftIds.contains(post.value("id").toString()));
    }
    QCOMPARE(int(toFix.size() + leftOut.size()), photoPosts);
    QCOMPARE(notListed, photoPosts - int(windows.size()));
}
}

class tst_cli final : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void dryRun_csvField_quotesWhatNeedsIt_data();
    void dryRun_csvField_quotesWhatNeedsIt();

    void help_withoutDisplay_bothProgramsAnswer();
    void commandLine_wrong_exitsTwoWithOneLine_data();
    void commandLine_wrong_exitsTwoWithOneLine();

    void designed_signIn_keepsAccountAndListsBlogs();
    void designed_refusedSignIn_oneLineExitOne();
    void designed_wrongBlog_oneLineExitOne();
    void designed_list_threeFormsMatchTheWindows();
    void designed_demoBlogs_listedAsTheWindowsListThem();
    void designed_fix_thenNew_readsOnlyTheNewPosts();
    void designed_runsAndUndo_putTheLastRunBack();
    void designed_interruptedWrites_stopWithTheJournalWhole();
    void designed_interruptedPaceWait_stopsAtOnce();
    void designed_blogOpenElsewhere_refused();

    void current_signIn_addressPrintedAndAnswered();
    void current_signIn_browserCommandOpensIt();
    void current_deniedSignIn_oneLineExitOne();
    void current_notSignedIn_saysSo();
    void current_wholeJob_listFixNewRunsUndo();
    void current_demoBlogs_listedAsTheWindowsListThem();

private:
    // Signs in as the designed account through the program itself.
    void signInDesigned(SimFixture &sim);
    // The current interface's sign-in, the address printed on standard
    // output answered by a TestBrowser; leaves the browser's choice in `browser`.
    CliResult signInCurrent(CurrentSimFixture &sim, TestBrowser &browser);
    void setRedirectPort(quint16 port);

    TestFolders m_folders;
};

void tst_cli::init()
{
    QVERIFY(m_folders.isValid());
    // Each case starts with no settings, secrets or journal.
    QDir(QDir(configFolder()).filePath(QStringLiteral("Zelvat"))).removeRecursively();
    QDir(QDir(dataFolder()).filePath(QStringLiteral("Zelvat"))).removeRecursively();
}

void tst_cli::dryRun_csvField_quotesWhatNeedsIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << QStringLiteral("Sunset") << QStringLiteral("Sunset");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("comma") << QStringLiteral("a, b") << QStringLiteral("\"a, b\"");
    QTest::newRow("quote") << QStringLiteral("say \"hi\"") << QStringLiteral("\"say \"\"hi\"\"\"");
    QTest::newRow("line end") << QStringLiteral("one\ntwo") << QStringLiteral("\"one\ntwo\"");
    QTest::newRow("carriage return") << QStringLiteral("one\rtwo") << QStringLiteral("\"one\rtwo\"");
    QTest::newRow("leading blank") << QStringLiteral(" x") << QStringLiteral("\" x\"");
    QTest::newRow("unicode") << QStringLiteral("Кот 🐈") << QStringLiteral("Кот 🐈");
}

void tst_cli::dryRun_csvField_quotesWhatNeedsIt()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(DryRun::csvField(text), field);
    QCOMPARE(parseCsv(DryRun::csvField(text) + QStringLiteral("\r\n")).value(0).value(0), text);
}

void tst_cli::help_withoutDisplay_bothProgramsAnswer()
{
    for (const char *name : {"velloria", "velloria-cli"}) {
        const CliResult help = runProgram(program(name), {QStringLiteral("--help")});
        QVERIFY2(!help.crashed && help.exitCode == 0, name);
        QVERIFY2(help.out.contains("--interface") && help.out.contains("--pace"), help.out.constData());
        QVERIFY2(help.err.isEmpty(), help.err.constData());
        const CliResult version = runProgram(program(name), {QStringLiteral("--version")});
        QVERIFY2(!version.crashed && version.exitCode == 0, name);
        QVERIFY2(QString::fromUtf8(version.out).contains(QRegularExpression(QStringLiteral("Velloria\\)? \\d+\\.\\d+\\.\\d+"))),
                 version.out.constData());
    }
    const CliResult help = cli({QStringLiteral("-h")});
    for (const char *piece : {"sign-in", "blogs", "list BLOG", "fix BLOG", "runs BLOG", "undo BLOG", "Exit status: 0 done, 1",
                              "--json", "--csv", "--new", "--run", "--password-stdin", "--browser", "--account"})
        QVERIFY2(help.out.contains(piece), piece);
}

void tst_cli::commandLine_wrong_exitsTwoWithOneLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says");
    QTest::newRow("no command") << QStringList() << QStringLiteral("no command given");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("frob")} << QStringLiteral("no command \"frob\"");
    QTest::newRow("no blog") << QStringList{QStringLiteral("fix")} << QStringLiteral("fix needs the blog's name");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frob"), QStringLiteral("blogs")}
                                    << QStringLiteral("Unknown option 'frob'");
    QTest::newRow("json of fix") << QStringList{QStringLiteral("fix"), QStringLiteral("b"), QStringLiteral("--json")}
                                 << QStringLiteral("not one of fix's");
    QTest::newRow("both forms") << QStringList{QStringLiteral("list"), QStringLiteral("b"), QStringLiteral("--json"),
                                               QStringLiteral("--csv")}
                                << QStringLiteral("--json or --csv");
    QTest::newRow("pace") << QStringList{QStringLiteral("--pace"), QStringLiteral("x"), QStringLiteral("blogs")}
                          << QStringLiteral("--pace needs a number");
    QTest::newRow("interface") << QStringList{QStringLiteral("--interface"), QStringLiteral("old"), QStringLiteral("blogs")}
                               << QStringLiteral("\"designed\" or \"current\"");
}

void tst_cli::commandLine_wrong_exitsTwoWithOneLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    const CliResult result = cli(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.errLines().value(0).startsWith(QLatin1String("velloria-cli: ")), result.err.constData());
    QVERIFY2(result.errLines().value(0).contains(says), result.err.constData());
    QVERIFY(result.out.isEmpty());
}

void tst_cli::signInDesigned(SimFixture &sim)
{
    const CliResult result = cli(designed(sim, {QStringLiteral("sign-in"), QStringLiteral("--account"), Email,
                                                QStringLiteral("--password-stdin")}),
                                 Password.toUtf8() + '\n');
    QVERIFY2(result.exitCode == 0, result.err.constData());
}

void tst_cli::designed_signIn_keepsAccountAndListsBlogs()
{
    SimFixture sim(designedAccount(3));
    const CliResult signIn = cli(designed(sim, {QStringLiteral("sign-in"), QStringLiteral("--account"), Email,
                                                QStringLiteral("--password-stdin")}),
                                 Password.toUtf8() + '\n');
    QVERIFY2(signIn.exitCode == 0, signIn.err.constData());
    QVERIFY(signIn.err.contains("Signed in as user@example.com."));
    QVERIFY2(signIn.out.contains(sim.blogHost(Blog).toUtf8() + "  CLI blog"), signIn.out.constData());

    // Kept where the login window keeps them; the password in the secret store, not the file.
    QSettings kept(settingsFile(), QSettings::IniFormat);
    QCOMPARE(kept.value(QStringLiteral("E-Mail")).toString(), Email);
    QVERIFY(kept.value(QStringLiteral("Groups")).toString().contains(sim.blogHost(Blog)));
    QFile settings(settingsFile());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(!settings.readAll().contains(Password.toUtf8()));

    // The next command signs in with what was kept.
    sim.server().clearLog();
    const CliResult blogs = cli(designed(sim, {QStringLiteral("blogs")}));
    QVERIFY2(blogs.exitCode == 0, blogs.err.constData());
    QVERIFY(blogs.out.startsWith("BLOG"));
    QVERIFY(blogs.out.contains(sim.blogHost(Blog).toUtf8()));
    QCOMPARE(sim.server().log().size(), 1);
    QCOMPARE(sim.server().log().front().field(QStringLiteral("password")), Password.toUtf8());
}

void tst_cli::designed_refusedSignIn_oneLineExitOne()
{
    SimFixture sim(designedAccount(1));
    const CliResult result = cli(designed(sim, {QStringLiteral("sign-in"), QStringLiteral("--account"), Email,
                                                QStringLiteral("--password-stdin")}),
                                 "wrong\n");
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.errLines(), QStringList{QStringLiteral("velloria-cli: the service refused the sign-in: Invalid credentials.")});
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFile::exists(settingsFile()) || !QSettings(settingsFile(), QSettings::IniFormat).contains(QStringLiteral("E-Mail")));

    // Without a terminal and without --password-stdin nothing is asked.
    const CliResult noTerminal = cli(designed(sim, {QStringLiteral("sign-in"), QStringLiteral("--account"), Email}));
    QCOMPARE(noTerminal.exitCode, 2);
    QVERIFY2(noTerminal.err.contains("--password-stdin"), noTerminal.err.constData());
}

void tst_cli::designed_wrongBlog_oneLineExitOne()
{
    SimFixture sim(designedAccount(1));
    signInDesigned(sim);
    for (const char *command : {"list", "fix", "undo"}) {
        const CliResult result = cli(designed(sim, {QLatin1String(command), QStringLiteral("no-such-blog")}));
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errLines().size(), 1);
        QVERIFY2(result.errLines().front().startsWith(QStringLiteral("velloria-cli: \"no-such-blog\" is not a blog of user@example.com")),
                 result.err.constData());
        QVERIFY(result.errLines().front().contains(sim.blogHost(Blog)));
    }
    QVERIFY(!QFile::exists(RunJournal::filePath(journalFolder(), QStringLiteral("no-such-blog"))));
}

void tst_cli::designed_list_threeFormsMatchTheWindows()
{
    SimFixture sim(designedAccount(5));
    signInDesigned(sim);
    TestService reference(sim);
    const Account account{sim.blogHost(Blog), Email, Password};
    const std::vector<PostRow> windows = windowsList(reference.service(), account);
    QCOMPARE(int(windows.size()), 6); // five to fix and the HTML caption; not the tagged one, nor the one without a caption
    const TagRules rules = TagRules::designed();

    // By title too, as "blogs" shows it.
    const CliResult json = cli(designed(sim, {QStringLiteral("list"), QStringLiteral("CLI blog"), QStringLiteral("--json")}));
    QVERIFY2(json.exitCode == 0, json.err.constData());
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(json.out, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(object.value("blog").toString(), sim.blogHost(Blog));
    compareWithWindows(object, windows, rules, 8);
    const QJsonArray toFix = object.value("toFix").toArray();
    QCOMPARE(toFix.at(5).toObject().value("caption").toString(), QStringLiteral("Say \"cheese\", please"));
    QCOMPARE(toFix.at(5).toObject().value("newTags").toVariant().toStringList(),
             (QStringList{QStringLiteral("a, b"), QStringLiteral("Say cheese, please")}));
    QCOMPARE(object.value("leftOut").toArray().size(), 2);

    const CliResult csv = cli(designed(sim, {QStringLiteral("list"), sim.blogHost(Blog), QStringLiteral("--csv")}));
    QVERIFY2(csv.exitCode == 0, csv.err.constData());
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(csv.out));
    QCOMPARE(rows.size(), 1 + 8);
    QCOMPARE(rows.front(), (QStringList{QStringLiteral("action"), QStringLiteral("id"), QStringLiteral("date"),
                                        QStringLiteral("caption"), QStringLiteral("tags"), QStringLiteral("tags after"),
                                        QStringLiteral("why")}));
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(rows.at(1 + i).value(0), QStringLiteral("fix"));
        QCOMPARE(rows.at(1 + i).value(1), windows.at(size_t(i)).id);
        QCOMPARE(rows.at(1 + i).value(3), windows.at(size_t(i)).caption);
        QCOMPARE(rows.at(1 + i).value(4), TagRule::TagsText(windows.at(size_t(i)).tags));
        QCOMPARE(rows.at(1 + i).value(5), TagRule::fixedTagsText(windows.at(size_t(i)), rules));
    }
    QCOMPARE(rows.at(6).value(5), QStringLiteral("\"a, b\", \"Say cheese, please\""));
    QCOMPARE(rows.at(7).value(0), QStringLiteral("leave"));
    QCOMPARE(rows.at(7).value(1), QStringLiteral("6001"));
    QCOMPARE(rows.at(7).value(6), QStringLiteral("Not listed: it carries its caption as a tag already."));
    QCOMPARE(rows.at(8).value(1), QStringLiteral("6002"));
    QCOMPARE(rows.at(8).value(6), QStringLiteral("Not listed: it has no caption."));

    const CliResult table = cli(designed(sim, {QStringLiteral("list"), sim.blogHost(Blog)}));
    QVERIFY2(table.exitCode == 0, table.err.constData());
    const QStringList lines = QString::fromUtf8(table.out).split(u'\n');
    QCOMPARE(lines.front(), QStringLiteral("%1: 6 posts to fix, 2 left out").arg(sim.blogHost(Blog)));
    for (const PostRow &row : windows) {
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const QString &l) {
            return l.startsWith(row.date) && l.contains(row.id);
        });
        QVERIFY2(line != lines.end(), qPrintable(row.id));
        QVERIFY(line->contains(row.caption));
        QVERIFY(line->endsWith(TagRule::fixedTagsText(row, rules)));
    }
    QVERIFY(table.out.contains("LEFT OUT"));
    QVERIFY(table.out.contains("Not listed: it has no caption."));
    // A dry run writes nothing and journals nothing.
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 0);
    QVERIFY(!QFile::exists(RunJournal::filePath(journalFolder(), sim.blogHost(Blog))));
}

void tst_cli::designed_demoBlogs_listedAsTheWindowsListThem()
{
    // The demo data's captions: markup, entities, emoji, Cyrillic, blanks, quotes.
    SimFixture sim;
    const sim::Account &demo = sim.server().accounts().front();
    const CliResult signIn = cli(designed(sim, {QStringLiteral("sign-in"), QStringLiteral("--account"), demo.email,
                                                QStringLiteral("--password-stdin")}),
                                 demo.password.toUtf8() + '\n');
    QVERIFY2(signIn.exitCode == 0, signIn.err.constData());
    TestService reference(sim);
    for (const sim::Blog &blog : demo.blogs) {
        if (blog.type != QLatin1String("public"))
            continue;
        const Account account{sim.blogHost(blog.name), demo.email, demo.password};
        const std::vector<PostRow> windows = windowsList(reference.service(), account);
        QVERIFY(!windows.empty());
        const CliResult json = cli(designed(sim, {QStringLiteral("list"), account.groupName, QStringLiteral("--json")}));
        QVERIFY2(json.exitCode == 0, json.err.constData());
        const int photoPosts = int(std::count_if(blog.posts.begin(), blog.posts.end(), [](const sim::Post &post) {
            return post.type == QLatin1String("photo") && !post.id.isEmpty();
        }));
        compareWithWindows(QJsonDocument::fromJson(json.out).object(), windows, TagRules::designed(), photoPosts);
    }
}

void tst_cli::designed_fix_thenNew_readsOnlyTheNewPosts()
{
    SimFixture sim(designedAccount(120));
    signInDesigned(sim);
    const QString blog = sim.blogHost(Blog);

    const CliResult fix = cli(designed(sim, {QStringLiteral("fix"), blog}));
    QVERIFY2(fix.exitCode == 0, fix.err.constData());
    QVERIFY2(fix.out.contains(QStringLiteral("Fixed 121 of 121 posts on %1.").arg(blog).toUtf8()), fix.out.constData());
    for (const sim::Post &post : sim.blog(Blog).posts) {
        if (post.id != QLatin1String("6001") && post.id != QLatin1String("6002"))
            QCOMPARE(post.writeCount, 1);
    }
    // Not a terminal: one plain line an event, no redrawing.
    QVERIFY(!fix.err.contains('\r'));
    QVERIFY(fix.err.contains(QStringLiteral("Wrote post 5001 \"Photo 1\" (1/121)").toUtf8()));

    // Two posts added since; the nightly run reads only as far as them.
    const QDateTime now(QDate(2026, 12, 1), QTime(8, 0), QTimeZone::utc());
    std::vector<sim::Post> &posts = sim.blog(Blog).posts;
    for (int i = 0; i < 2; ++i) {
        sim::Post post = SimFixture::photoPost(QString::number(7002 - i), QStringLiteral("New %1").arg(2 - i));
        post.date = now.addSecs(-60 * i).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'"));
        posts.insert(posts.begin() + i, post);
    }
    sim.server().clearLog();
    const CliResult fresh = cli(designed(sim, {QStringLiteral("fix"), blog, QStringLiteral("--new")}));
    QVERIFY2(fresh.exitCode == 0, fresh.err.constData());
    QVERIFY2(fresh.out.contains(QStringLiteral("Fixed 2 of 2 posts on %1.").arg(blog).toUtf8()), fresh.out.constData());
    QVERIFY(fresh.err.contains("Only posts newer than 2026-11-30 12:00:00 UTC"));
    // The sign-in, one read of the newest posts, and for each new post its read and its write.
    QCOMPARE(sim.server().log(sim::Endpoint::Authenticate).size(), 1);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 1 + 2);
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 2);
    QCOMPARE(sim.server().log().size(), 6);
    qInfo("fix --new on the designed interface: %d calls for 2 new posts of 123", int(sim.server().log().size()));
    QCOMPARE(sim.post(QStringLiteral("7001")).writeCount, 1);
    QCOMPARE(sim.post(QStringLiteral("5001")).writeCount, 1);

    // Nothing new: the sign-in and one read.
    sim.server().clearLog();
    const CliResult none = cli(designed(sim, {QStringLiteral("fix"), blog, QStringLiteral("--new")}));
    QVERIFY2(none.exitCode == 0, none.err.constData());
    QVERIFY(none.out.contains("Nothing to fix on"));
    QCOMPARE(sim.server().log().size(), 2);
}

void tst_cli::designed_runsAndUndo_putTheLastRunBack()
{
    SimFixture sim(designedAccount(4));
    signInDesigned(sim);
    const QString blog = sim.blogHost(Blog);
    const CliResult noRuns = cli(designed(sim, {QStringLiteral("runs"), blog}));
    QCOMPARE(noRuns.exitCode, 0);
    QVERIFY(noRuns.err.contains("No run of this blog has been journaled yet."));

    QCOMPARE(cli(designed(sim, {QStringLiteral("fix"), blog})).exitCode, 0);
    const CliResult runs = cli(designed(sim, {QStringLiteral("runs"), blog}));
    QVERIFY2(runs.exitCode == 0, runs.err.constData());
    const QStringList lines = QString::fromUtf8(runs.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).startsWith(QLatin1String("STARTED")));
    QVERIFY2(lines.at(1).contains(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  [0-9a-f]{8}  fix +5 +0 +done$"))),
             qPrintable(lines.at(1)));
    const QString runId = lines.at(1).section(QStringLiteral("  "), 1, 1);

    const CliResult undo = cli(designed(sim, {QStringLiteral("undo"), blog}));
    QVERIFY2(undo.exitCode == 0, undo.err.constData());
    QVERIFY2(undo.out.contains(QStringLiteral("Undo of run %1").arg(runId).toUtf8()), undo.out.constData());
    QVERIFY(undo.out.contains("5 of its 5 posts were put back as they were before it."));
    QCOMPARE(sim.post(QStringLiteral("5001")).tags, (QStringList{QStringLiteral("t0"), QStringLiteral("shared")}));

    // The undo is a run of its own; undoing it by id fixes the posts again.
    const CliResult after = cli(designed(sim, {QStringLiteral("runs"), blog}));
    QVERIFY(after.out.contains(QStringLiteral("undo of %1").arg(runId).toUtf8()));
    const QString undoId = QString::fromUtf8(after.out).split(u'\n').at(1).section(QStringLiteral("  "), 1, 1);
    const CliResult redo = cli(designed(sim, {QStringLiteral("undo"), blog, QStringLiteral("--run"), undoId.left(6)}));
    QVERIFY2(redo.exitCode == 0, redo.err.constData());
    QVERIFY(sim.post(QStringLiteral("5001")).tags.contains(QStringLiteral("Photo 1")));
    const CliResult unknown = cli(designed(sim, {QStringLiteral("undo"), blog, QStringLiteral("--run"), QStringLiteral("zzzz")}));
    QCOMPARE(unknown.exitCode, 1);
    QCOMPARE(unknown.errLines().size(), 1);
}

void tst_cli::designed_interruptedWrites_stopWithTheJournalWhole()
{
    SimFixture sim(designedAccount(40));
    signInDesigned(sim);
    const QString blog = sim.blogHost(Blog);
    int writes = 0;
    const CliResult stopped = cli(designed(sim, {QStringLiteral("fix"), blog}), {}, {}, [&](QProcess &process) {
        QObject::connect(&sim.server(), &sim::Server::requestLogged, &process, [&](const sim::Request &request) {
            if (request.path == QLatin1String("/api/write") && ++writes == 3)
                ::kill(pid_t(process.processId()), SIGINT);
        });
    });
    QCOMPARE(stopped.exitCode, 3);
    QVERIFY2(stopped.err.contains("velloria-cli: stopped; every write sent is in the blog's journal"), stopped.err.constData());

    // Every write the service took is journaled as written, every intent has its outcome, the run its end.
    const QList<QJsonObject> records = journalRecords(blog);
    QSet<QString> intents, outcomes, accepted, unknown;
    QString ended;
    for (const QJsonObject &record : records) {
        const QString type = record.value("record").toString();
        if (type == QLatin1String("write")) {
            intents.insert(record.value("post").toObject().value("id").toString());
        } else if (type == QLatin1String("outcome")) {
            const QString id = record.value("id").toString();
            outcomes.insert(id);
            if (record.value("outcome") == QLatin1String("accepted"))
                accepted.insert(id);
            else if (record.value("outcome") != QLatin1String("not sent"))
                unknown.insert(id); // stopped while the answer was on its way: it may have been written
        } else if (type == QLatin1String("end")) {
            ended = record.value("outcome").toString();
        }
    }
    QCOMPARE(ended, QStringLiteral("stopped"));
    QCOMPARE(outcomes, intents);
    QVERIFY(unknown.size() <= 1);
    QSet<QString> written;
    for (const sim::Post &post : sim.blog(Blog).posts) {
        if (post.writeCount > 0)
            written.insert(post.id);
    }
    QVERIFY(accepted.size() >= 2 && written.size() < 41);
    QVERIFY(written.contains(accepted));
    QVERIFY((accepted + unknown).contains(written));
    const CliResult runs = cli(designed(sim, {QStringLiteral("runs"), blog}));
    QVERIFY(runs.out.contains("stopped"));

    // Started again, it writes the rest, each post once.
    const CliResult rest = cli(designed(sim, {QStringLiteral("fix"), blog, QStringLiteral("--new")}));
    QVERIFY2(rest.exitCode == 0, rest.err.constData());
    QVERIFY(rest.err.contains("No fix run of"));
    for (const sim::Post &post : sim.blog(Blog).posts) {
        if (post.id != QLatin1String("6001") && post.id != QLatin1String("6002"))
            QCOMPARE(post.writeCount, 1);
    }
}

void tst_cli::designed_interruptedPaceWait_stopsAtOnce()
{
    SimFixture sim(designedAccount(3));
    signInDesigned(sim);
    const QString blog = sim.blogHost(Blog);
    QElapsedTimer sinceSignal;
    // Two writes a minute: after the first comes a wait of 30 s.
    const CliResult stopped = cli(designed(sim, {QStringLiteral("--pace"), QStringLiteral("2"), QStringLiteral("fix"), blog}),
                                  {}, [&](QProcess &process, const CliResult &soFar) {
                                      if (!sinceSignal.isValid() && soFar.err.contains("Waiting")) {
                                          sinceSignal.start();
                                          ::kill(pid_t(process.processId()), SIGINT);
                                      }
                                  });
    QCOMPARE(stopped.exitCode, 3);
    QVERIFY(sinceSignal.isValid());
    QVERIFY2(sinceSignal.elapsed() < 5000, qPrintable(QString::number(sinceSignal.elapsed())));
    QVERIFY2(QString::fromUtf8(stopped.err).contains(QRegularExpression(QStringLiteral("Waiting (29|30) s \\(pace\\)"))),
             stopped.err.constData());
    QVERIFY(stopped.out.contains("Fixed 1 of 4 posts"));
    QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 1);
    const QList<QJsonObject> records = journalRecords(blog);
    QCOMPARE(records.size(), 3); // the write, its outcome, the end
    QCOMPARE(records.at(1).value("outcome").toString(), QStringLiteral("accepted"));
    QCOMPARE(records.at(2).value("record").toString(), QStringLiteral("end"));
    QCOMPARE(records.at(2).value("outcome").toString(), QStringLiteral("stopped"));
}

void tst_cli::designed_blogOpenElsewhere_refused()
{
    SimFixture sim(designedAccount(2));
    signInDesigned(sim);
    const QString blog = sim.blogHost(Blog);
    {
        // Another copy (a posts window) has the blog open.
        NamedLock held;
        QVERIFY(held.Acquire(NamedLock::BlogName(blog)));
        const CliResult refused = cli(designed(sim, {QStringLiteral("fix"), blog}));
        QCOMPARE(refused.exitCode, 1);
        QCOMPARE(refused.errLines(), QStringList{QStringLiteral("velloria-cli: %1 is open in another copy of Velloria "
                                                                "(its posts window or velloria-cli); try again once it "
                                                                "is closed").arg(blog)});
        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 0);
        // Reading is no fix: the list goes on.
        QCOMPARE(cli(designed(sim, {QStringLiteral("list"), blog})).exitCode, 0);
    }
    QCOMPARE(cli(designed(sim, {QStringLiteral("fix"), blog})).exitCode, 0);
}

void tst_cli::setRedirectPort(quint16 port)
{
    QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Redirect port"), port);
    settings.sync();
}

CliResult tst_cli::signInCurrent(CurrentSimFixture &sim, TestBrowser &browser)
{
    setRedirectPort(sim.redirectPort());
    const QByteArray key = QByteArray(CurrentSimFixture::ClientId) + '\n' + CurrentSimFixture::Secret + '\n';
    int opened = 0;
    return cli(current(sim, {QStringLiteral("sign-in"), QStringLiteral("--password-stdin")}), key,
               [&browser, &opened](QProcess &, const CliResult &soFar) {
                   // As someone would: the address it prints, opened in a browser.
                   const QList<QByteArray> lines = soFar.out.split('\n');
                   for (int i = 0; i + 1 < lines.size(); ++i) {
                       if (lines.at(i).startsWith("http://") && i >= opened) {
                           opened = i + 1;
                           browser.opener()(QUrl(QString::fromUtf8(lines.at(i))));
                       }
                   }
               });
}

void tst_cli::current_signIn_addressPrintedAndAnswered()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 5), m_folders.path());
    TestBrowser browser;
    const CliResult result = signInCurrent(sim, browser);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(browser.visits, 1);
    QVERIFY(browser.authorizationUrl.toString().contains(QStringLiteral("code_challenge=")));
    QVERIFY(result.err.contains("Open this address in a browser on this machine"));
    QVERIFY(result.err.contains("Signed in as me@example.com."));
    QVERIFY(result.out.contains(Blog.toUtf8() + "  " + Blog.toUtf8() + " photos"));
    // The key and the tokens in the secrets file (no secret store here), never in the settings.
    QFile settings(settingsFile());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray settingsText = settings.readAll();
    QVERIFY(!settingsText.contains(CurrentSimFixture::Secret));
    QVERIFY(!settingsText.contains(sim.sim().issuedRefreshToken().toUtf8()));
    QFile secrets(QDir(configFolder()).filePath(QStringLiteral("Zelvat/Velloria/secrets.json")));
    QVERIFY(secrets.exists());
    QCOMPARE(int(secrets.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)), 0);

    // The kept sign-in serves the next commands: no browser.
    const CliResult blogs = cli(current(sim, {QStringLiteral("blogs")}));
    QVERIFY2(blogs.exitCode == 0, blogs.err.constData());
    QVERIFY(blogs.out.contains(Blog.toUtf8()));
    QCOMPARE(browser.visits, 1);
}

void tst_cli::current_signIn_browserCommandOpensIt()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 2), m_folders.path());
    setRedirectPort(sim.redirectPort());
    const QByteArray key = QByteArray(CurrentSimFixture::ClientId) + '\n' + CurrentSimFixture::Secret + '\n';
    const CliResult result = cli(current(sim, {QStringLiteral("sign-in"), QStringLiteral("--password-stdin"),
                                               QStringLiteral("--browser"), program("tests/testbrowser")}),
                                 key);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(result.err.contains("A browser was opened at this address"));
    QVERIFY(!sim.sim().issuedRefreshToken().isEmpty());
}

void tst_cli::current_deniedSignIn_oneLineExitOne()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 2), m_folders.path());
    TestBrowser browser(TestBrowser::Deny);
    const CliResult result = signInCurrent(sim, browser);
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(browser.visits, 1);
    const QStringList problems = result.errLines().filter(QStringLiteral("velloria-cli: "));
    QCOMPARE(problems, QStringList{QStringLiteral("velloria-cli: the service refused the sign-in: The authorization was "
                                                  "denied in the browser.")});
    QVERIFY(!QSettings(settingsFile(), QSettings::IniFormat).contains(QStringLiteral("E-Mail")));
}

void tst_cli::current_notSignedIn_saysSo()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 2), m_folders.path());
    setRedirectPort(sim.redirectPort());
    for (const QStringList &command : {QStringList{QStringLiteral("blogs")}, QStringList{QStringLiteral("fix"), Blog}}) {
        const CliResult result = cli(current(sim, command));
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.errLines(), QStringList{QStringLiteral("velloria-cli: not signed in as me@example.com on the "
                                                               "current interface (or the sign-in has ended): run "
                                                               "\"velloria-cli sign-in\" first")});
    }
    QCOMPARE(sim.sim().log(cursim::Endpoint::Authorize).size(), 0);
}

void tst_cli::current_wholeJob_listFixNewRunsUndo()
{
    CurrentSimFixture sim(cursim::Server::generatedUser(Blog, 45), m_folders.path());
    cursim::Blog &blog = *sim.sim().blog(Blog);
    // One already tagged, one a new-editor post.
    blog.posts.at(3).tags << QStringLiteral("Photo 4");
    blog.posts.at(5) = cursim::Server::blocksPost(QStringLiteral("1006"), {QStringLiteral("Blocks, six")}, {QStringLiteral("b")});
    blog.posts.at(5).timestamp = blog.posts.at(4).timestamp - 60;
    blog.posts.at(5).date = QDateTime::fromSecsSinceEpoch(blog.posts.at(5).timestamp, QTimeZone::utc())
                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'"));
    TestBrowser browser;
    const CliResult signIn = signInCurrent(sim, browser);
    QVERIFY2(signIn.exitCode == 0, signIn.err.constData());

    // The windows' list, through the same service in this process.
    QString why;
    QVERIFY2(sim.signIn(&why), qPrintable(why));
    const std::vector<PostRow> windows = windowsList(sim.service(), sim.account(Blog));
    QCOMPARE(int(windows.size()), 44);
    const CliResult json = cli(current(sim, {QStringLiteral("list"), Blog, QStringLiteral("--json")}));
    QVERIFY2(json.exitCode == 0, json.err.constData());
    const QJsonObject object = QJsonDocument::fromJson(json.out).object();
    compareWithWindows(object, windows, TagRules::current(), 45);
    QCOMPARE(object.value("toFix").toArray().at(4).toObject().value("newTags").toVariant().toStringList(),
             (QStringList{QStringLiteral("b"), QStringLiteral("Blocks six")}));
    const CliResult csv = cli(current(sim, {QStringLiteral("list"), Blog, QStringLiteral("--csv")}));
    QCOMPARE(parseCsv(QString::fromUtf8(csv.out)).size(), 1 + 45);
    const CliResult table = cli(current(sim, {QStringLiteral("list"), Blog}));
    QVERIFY(table.out.startsWith(QStringLiteral("%1: 44 posts to fix, 1 left out\n").arg(Blog).toUtf8()));

    const CliResult fix = cli(current(sim, {QStringLiteral("--pace"), QStringLiteral("0"), QStringLiteral("fix"), Blog}));
    QVERIFY2(fix.exitCode == 0, fix.err.constData());
    QVERIFY(fix.out.contains("Fixed 44 of 44 posts on cliblog."));
    QVERIFY(sim.sim().post(QStringLiteral("1001"))->tags.contains(QStringLiteral("Photo 1")));
    QCOMPARE(sim.sim().post(QStringLiteral("1006"))->tags, (QStringList{QStringLiteral("b"), QStringLiteral("Blocks six")}));

    // Three posts added since.
    for (int i = 0; i < 3; ++i) {
        cursim::Post post = cursim::Server::legacyPost(QString::number(2003 - i), QStringLiteral("New %1").arg(3 - i));
        post.timestamp = blog.posts.front().timestamp + 3600;
        post.date = QDateTime::fromSecsSinceEpoch(post.timestamp, QTimeZone::utc())
                        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'"));
        blog.posts.insert(blog.posts.begin(), post);
    }
    sim.sim().clearLog();
    const CliResult fresh = cli(current(sim, {QStringLiteral("--pace"), QStringLiteral("0"), QStringLiteral("fix"), Blog,
                                              QStringLiteral("--new")}));
    QVERIFY2(fresh.exitCode == 0, fresh.err.constData());
    QVERIFY(fresh.out.contains("Fixed 3 of 3 posts on cliblog."));
    // The blog list, one read of the newest posts, the budget, and for the
    // three: their states in one read of the list, the first read back at
    // once, the other two together at the end; a write each.
    QCOMPARE(sim.sim().log(cursim::Endpoint::UserInfo).size(), 1);
    QCOMPARE(sim.sim().log(cursim::Endpoint::Limits).size(), 1);
    QCOMPARE(sim.sim().log(cursim::Endpoint::Posts).size(), 4);
    QCOMPARE(sim.sim().log(cursim::Endpoint::OnePost).size(), 0);
    QCOMPARE(sim.sim().log(cursim::Endpoint::Edit).size(), 3);
    QCOMPARE(sim.sim().log().size(), 9);
    qInfo("fix --new on the current interface: %d calls for 3 new posts of 48", int(sim.sim().log().size()));
    QCOMPARE(sim.sim().post(QStringLiteral("1001"))->editCount, 1);

    const CliResult runs = cli(current(sim, {QStringLiteral("runs"), Blog}));
    QVERIFY2(runs.exitCode == 0, runs.err.constData());
    const QStringList lines = QString::fromUtf8(runs.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(1).contains(QRegularExpression(QStringLiteral("  fix +3 +0 +done$"))), qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QRegularExpression(QStringLiteral("  fix +44 +0 +done$"))), qPrintable(lines.at(2)));

    const CliResult undo = cli(current(sim, {QStringLiteral("--pace"), QStringLiteral("0"), QStringLiteral("undo"), Blog}));
    QVERIFY2(undo.exitCode == 0, undo.err.constData());
    QVERIFY(undo.out.contains("3 of its 3 posts were put back"));
    QCOMPARE(sim.sim().post(QStringLiteral("2001"))->tags, QStringList());
    QVERIFY(sim.sim().post(QStringLiteral("1001"))->tags.contains(QStringLiteral("Photo 1")));
}

void tst_cli::current_demoBlogs_listedAsTheWindowsListThem()
{
    // Legacy and new-editor posts taking turns, posts sharing a time, an id past 2^53.
    CurrentSimFixture sim(cursim::Server::demoUser(), m_folders.path());
    TestBrowser browser;
    const CliResult signIn = signInCurrent(sim, browser);
    QVERIFY2(signIn.exitCode == 0, signIn.err.constData());
    QString why;
    QVERIFY2(sim.signIn(&why), qPrintable(why));
    for (const cursim::Blog &blog : sim.sim().user().blogs) {
        if (blog.type != QLatin1String("public"))
            continue;
        const std::vector<PostRow> windows = windowsList(sim.service(), sim.account(blog.name));
        const CliResult json = cli(current(sim, {QStringLiteral("list"), blog.name, QStringLiteral("--json")}));
        QVERIFY2(json.exitCode == 0, json.err.constData());
        const int photoPosts = int(std::count_if(blog.posts.begin(), blog.posts.end(), [](const cursim::Post &post) {
            return post.type == QLatin1String("photo") && !post.omitIdString;
        }));
        compareWithWindows(QJsonDocument::fromJson(json.out).object(), windows, TagRules::current(), photoPosts);
    }
}

QTEST_MAIN(tst_cli)
#include "tst_cli.moc"

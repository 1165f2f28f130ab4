// Every fault the simulator can inject, on each of the three requests, through
// the real windows: the message the user gets, word for word; no hang; no
// row lost; no post written twice with different content; and where Retry is
// offered, the same run finishing correctly after it.
#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "windows/app/DialogServices.h"
#include "windows/login/frmGroupSelector.h"
#include "windows/posts/frmPostsList.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"
#include "client/posts/PostsModel.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QSet>
#include <map>

namespace {
const QString Blog = QStringLiteral("faults");
const QString EMail = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");
constexpr int TimeoutMs = 1500;     // the exchange's time-out in these tests
constexpr int NoHangMs = 20000;     // no case may take longer than this

QByteArray bigBody(qsizetype size) { return QByteArray(size, 'x'); }

// The faults, by name; false for "refused" (no fault: a dead port instead).
bool faultsFor(const QString &name, QList<sim::Fault> *faults)
{
    sim::Fault f;
    const auto status = [&](int code, const QByteArray &body) {
        f.kind = sim::Fault::Status;
        f.status = code;
        f.body = body;
        faults->append(f);
    };
    if (name == QLatin1String("refused"))
        return false;
    if (name == QLatin1String("closed before answer, once")) {
        f.kind = sim::Fault::CloseBeforeAnswer;
        faults->append(f);
    } else if (name == QLatin1String("closed before answer, twice")) {
        f.kind = sim::Fault::CloseBeforeAnswer;
        faults->append(f);
        faults->append(f);
    } else if (name == QLatin1String("closed mid-body")) {
        f.kind = sim::Fault::TruncatedBody;
        faults->append(f);
    } else if (name == QLatin1String("body cut short")) {
        f.kind = sim::Fault::RawResponse;
        f.body = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 5000\r\n\r\n<?xml version=\"1.0\"?><tum";
        faults->append(f);
    } else if (name == QLatin1String("stall past the time-out")) {
        f.kind = sim::Fault::Stall;
        faults->append(f);
    } else if (name == QLatin1String("slow trickle")) {
        f.kind = sim::Fault::Trickle;
        f.chunk = 400;
        f.delayMs = 5;
        faults->append(f);
    } else if (name == QLatin1String("301 loop")) {
        f.kind = sim::Fault::Redirect;
        f.location = "LOOP"; // filled in with the request's own address
        for (int i = 0; i < 12; ++i)
            faults->append(f);
    } else if (name == QLatin1String("400 one line")) {
        status(400, "Bad request.");
    } else if (name == QLatin1String("403 one line")) {
        status(403, "Invalid credentials.");
    } else if (name == QLatin1String("404 multi-line")) {
        status(404, "Not found.\nTry elsewhere.");
    } else if (name == QLatin1String("429 too many requests")) {
        status(429, "Slow down.");
    } else if (name == QLatin1String("500 one line")) {
        status(500, "Oops.");
    } else if (name == QLatin1String("503 multi-line")) {
        status(503, "Down for maintenance.\r\nBack soon.");
    } else if (name == QLatin1String("malformed")) {
        f.kind = sim::Fault::MalformedXml;
        faults->append(f);
    } else if (name == QLatin1String("empty 200")) {
        f.kind = sim::Fault::Empty200;
        faults->append(f);
    } else if (name == QLatin1String("entity declaration")) {
        f.kind = sim::Fault::MalformedXml;
        f.body = "<?xml version=\"1.0\"?><!DOCTYPE tumblr [<!ENTITY boom \"BOOM\">]><tumblr><posts><post id=\"1\" "
                 "type=\"photo\"><photo-caption>&boom;</photo-caption></post></posts></tumblr>";
        faults->append(f);
    } else if (name == QLatin1String("external entity")) {
        f.kind = sim::Fault::MalformedXml;
        f.body = "<?xml version=\"1.0\"?><!DOCTYPE tumblr [<!ENTITY leak SYSTEM \"file:///etc/passwd\">]><tumblr><posts>"
                 "<post id=\"1\" type=\"photo\"><photo-caption>&leak;</photo-caption></post></posts></tumblr>";
        faults->append(f);
    } else if (name == QLatin1String("50 MB answer")) {
        f.kind = sim::Fault::RawResponse;
        f.body = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 52428800\r\n\r\n" + bigBody(50 * 1024 * 1024);
        faults->append(f);
    }
    return true;
}

const QStringList FaultNames{QStringLiteral("refused"),
                             QStringLiteral("closed before answer, once"),
                             QStringLiteral("closed before answer, twice"),
                             QStringLiteral("closed mid-body"),
                             QStringLiteral("body cut short"),
                             QStringLiteral("stall past the time-out"),
                             QStringLiteral("slow trickle"),
                             QStringLiteral("301 loop"),
                             QStringLiteral("400 one line"),
                             QStringLiteral("403 one line"),
                             QStringLiteral("404 multi-line"),
                             QStringLiteral("429 too many requests"),
                             QStringLiteral("500 one line"),
                             QStringLiteral("503 multi-line"),
                             QStringLiteral("malformed"),
                             QStringLiteral("empty 200"),
                             QStringLiteral("50 MB answer")};


void injectAll(sim::Server &server, sim::Endpoint endpoint, QList<sim::Fault> faults, const QString &selfHost,
               const QString &path)
{
    for (sim::Fault &fault : faults) {
        if (fault.location == "LOOP")
            fault.location = "http://" + selfHost.toLatin1() + path.toLatin1();
        server.injectFault(endpoint, fault);
    }
}

QStringList expanded(const QStringList &messages, SimFixture &sim, quint16 dead)
{
    QStringList texts;
    for (QString text : messages) {
        text.replace(QStringLiteral("%SERVICE%"), sim.serviceHost());
        text.replace(QStringLiteral("%BLOG%"), sim.blogHost(Blog));
        text.replace(QStringLiteral("%DEAD%"), QStringLiteral("127.0.0.1:%1").arg(dead));
        texts << text;
    }
    return texts;
}
}

class TestFaults final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signIn_data();
    void signIn();
    void read_data();
    void read();
    void write_data();
    void write();
    void hostileCaptions_listedSensibly_writtenBackByteForByte();

private:
    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

void TestFaults::initTestCase()
{
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
}

void TestFaults::init()
{
    m_dialogs.clear();
    m_dialogs.onShow = nullptr;
    HTTPRequest::setTimeoutOverride(TimeoutMs);
    BackOff::setSecondForTesting(1); // the waits asked for by 429 and 503 pass at once
}

void TestFaults::cleanup()
{
    HTTPRequest::setTimeoutOverride(0);
    BackOff::setSecondForTesting(0);
}

// Expected texts: %SERVICE% and %BLOG% stand for the simulator's hosts, %DEAD%
// for a port where nothing listens (host:port).
namespace {
const QString CantAuth = QStringLiteral("Can't authenicate on Tumblr.\r\n\r\n");
const QString Refused = QStringLiteral("The server refused the connection (%DEAD%).");
const QString CutShort = QStringLiteral("The connection was closed before the whole answer arrived.");
const QString TimedOut = QStringLiteral("The server did not answer within 1.5 seconds.");
QString closedWithoutAnswer(const char *host)
{
    return QStringLiteral("The server closed the connection without answering (%1).").arg(QLatin1String(host));
}
// An answer longer than any the service gives is not read.
QString tooLarge(const char *host)
{
    return QStringLiteral("The server's answer is larger than 8 MB, more than any answer of the service; it was not "
                          "read (%1).")
        .arg(QLatin1String(host));
}
QString answered(const char *statusLine) { return QStringLiteral("The server answered: ") + QLatin1String(statusLine); }
QString refusedSignIn(const char *message, const char *statusLine)
{
    return QStringLiteral("Can't authenticate on Tumblr. ") + QLatin1String(message) + QStringLiteral("\r\n\r\n")
           + answered(statusLine);
}
const QString InvalidData = QStringLiteral("XML from Tumblr recieved but it contains invalid data.");
}

void TestFaults::signIn_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("listed"); // the account's blogs replaced the list shown before
    const auto row = [](const char *fault, const QStringList &messages, bool listed) {
        QTest::newRow(fault) << QString::fromLatin1(fault) << messages << listed;
    };
    row("refused", {CantAuth + Refused}, false);
    row("closed before answer, once", {}, true); // resent once on a new connection
    row("closed before answer, twice", {CantAuth + closedWithoutAnswer("%SERVICE%")}, false);
    row("closed mid-body", {CantAuth + CutShort}, false);
    row("body cut short", {CantAuth + CutShort}, false);
    row("stall past the time-out", {CantAuth + TimedOut}, false);
    row("slow trickle", {}, true);
    row("301 loop", {refusedSignIn("", "301 Moved Permanently")}, false);
    row("400 one line", {refusedSignIn("Bad request.", "400 Bad Request")}, false);
    row("403 one line", {refusedSignIn("Invalid credentials.", "403 Forbidden")}, false);
    row("404 multi-line", {refusedSignIn("", "404 Not Found")}, false); // a body of several lines is not shown
    row("429 too many requests", {refusedSignIn("Slow down.", "429 Too Many Requests")}, false);
    row("500 one line", {refusedSignIn("Oops.", "500 Internal Server Error")}, false);
    row("503 multi-line", {refusedSignIn("", "503 Service Unavailable")}, false);
    row("malformed", {InvalidData}, false);
    row("empty 200", {}, false); // accepted without a list: nothing changes
    row("50 MB answer", {CantAuth + tooLarge("%SERVICE%")}, false);
}

void TestFaults::signIn()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(bool, listed);
    SimFixture sim(SimFixture::generatedAccount(Blog, 5, EMail, Password));
    QList<sim::Fault> faults;
    const quint16 dead = SimFixture::unusedPort();
    const QString service = faultsFor(fault, &faults) ? sim.serviceHost() : QStringLiteral("127.0.0.1:%1").arg(dead);
    injectAll(sim.server(), sim::Endpoint::Authenticate, faults, sim.serviceHost(), QStringLiteral("/api/authenticate"));
    sharedTestService().useServiceHost(service);

    frmGroupSelector window(sharedTestService().settings(), sharedTestService().service());
    window.show();
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("cboGroup"));
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), combo);
    window.findChild<QLineEdit *>(QStringLiteral("txtEMail"))->setText(EMail);
    window.findChild<QLineEdit *>(QStringLiteral("txtPassword"))->setText(Password);
    QElapsedTimer timer;
    timer.start();
    window.findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QVERIFY2(timer.elapsed() < NoHangMs, qPrintable(QString::number(timer.elapsed())));

    QCOMPARE(m_dialogs.texts(), expanded(messages, sim, dead));
    QCOMPARE(combo->itemText(0), listed ? sim.blog(Blog).title + QStringLiteral(" | ") + sim.blogHost(Blog)
                                        : QStringLiteral("Old | old.example.com"));
    QCOMPARE(combo->count(), 1);
    window.close();
}

namespace {
const QString CantRead = QStringLiteral("Can't download blog's XML file.\r\n\r\n");
QString parseError(const char *description, const char *place, const char *number = "0x00000003")
{
    return QStringLiteral("Error parse received XML. Try download it again?\r\n\r\nNumber:      ") + QLatin1String(number)
           + QStringLiteral("\r\nDescription: ") + QLatin1String(description) + QStringLiteral("\r\nLine, Col:   ")
           + QLatin1String(place);
}
}

// The first page fails; Retry is answered once, Cancel after that.
void TestFaults::read_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("reads");
    const auto row = [](const char *fault, const QStringList &messages, int rows, int reads) {
        QTest::newRow(fault) << QString::fromLatin1(fault) << messages << rows << reads;
    };
    row("refused", {CantRead + Refused, CantRead + Refused}, 0, 0);
    row("closed before answer, once", {}, 60, 3);
    row("closed before answer, twice", {CantRead + closedWithoutAnswer("%BLOG%")}, 60, 4);
    row("closed mid-body", {CantRead + CutShort}, 60, 3);
    row("body cut short", {CantRead + CutShort}, 60, 3);
    row("stall past the time-out", {CantRead + TimedOut}, 60, 3);
    row("slow trickle", {}, 60, 2);
    row("301 loop", {QStringLiteral("Incorrect response received from server.")}, 0, 11);
    row("400 one line", {CantRead + answered("400 Bad Request")}, 60, 3);
    row("403 one line", {CantRead + answered("403 Forbidden")}, 60, 3);
    row("404 multi-line", {CantRead + answered("404 Not Found")}, 60, 3);
    row("429 too many requests", {}, 60, 3); // waited out, the same read again
    row("500 one line", {CantRead + answered("500 Internal Server Error")}, 60, 3);
    row("503 multi-line", {}, 60, 3);
    row("malformed", {parseError("Opening and ending tag mismatch.", "2, 52")}, 60, 3);
    row("empty 200", {}, 0, 1); // ends the download red
    row("50 MB answer", {CantRead + tooLarge("%BLOG%")}, 60, 3);
    // Declared entities are refused before any is expanded or fetched.
    const char *declares = "The document declares entities, which are not accepted.";
    row("entity declaration", {parseError(declares, "1, 63", "0x00000002")}, 60, 3);
    row("external entity", {parseError(declares, "1, 84", "0x00000002")}, 60, 3);
}

void TestFaults::read()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(int, rows);
    QFETCH(int, reads);
    SimFixture sim(SimFixture::generatedAccount(Blog, 60, EMail, Password));
    QList<sim::Fault> faults;
    const quint16 dead = SimFixture::unusedPort();
    const bool viaSim = faultsFor(fault, &faults);
    injectAll(sim.server(), sim::Endpoint::Read, faults, sim.blogHost(Blog), QStringLiteral("/api/read"));
    sharedTestService().useSimulator(sim);
    Account account = PostsWindowDriver::simulatorAccount(sim, Blog);
    if (!viaSim)
        account.groupName = QStringLiteral("127.0.0.1:%1").arg(dead);
    frmPostsList window(sharedTestService().settings(), sharedTestService().service(), account);
    window.show();
    m_dialogs.answer(DialogServices::Retry);
    DownloadAnswer answer;
    answer.cumulative = false;
    answerDownloadSettings(&answer);
    QElapsedTimer timer;
    timer.start();
    PostsWindowDriver::button(window, "cmdGetPosts")->click();
    QVERIFY2(timer.elapsed() < NoHangMs, qPrintable(QString::number(timer.elapsed())));

    QCOMPARE(m_dialogs.texts(), expanded(messages, sim, dead));
    QCOMPARE(window.posts().count(), rows);
    QCOMPARE(int(sim.server().log(sim::Endpoint::Read).size()), reads);
    // Every row listed is a post of the blog, listed once.
    QSet<QString> ids;
    for (int i = 0; i < window.posts().count(); ++i)
        ids.insert(window.posts().at(i).id);
    QCOMPARE(int(ids.size()), window.posts().count());
    window.close();
}

namespace {
const QString CantSend = QStringLiteral("Can't send post.\r\n\r\n");
QString refusedWrite(const char *message, const char *statusLine)
{
    return QStringLiteral("Can't send post. ") + QLatin1String(message) + QStringLiteral("\r\n\r\n") + answered(statusLine);
}
}

// The first write fails; Retry is answered once, Cancel after that.
void TestFaults::write_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<int>("writes");
    const auto row = [](const char *fault, const QStringList &messages, int rowsLeft, int writes) {
        QTest::newRow(fault) << QString::fromLatin1(fault) << messages << rowsLeft << writes;
    };
    row("refused", {CantSend + Refused}, 3, 0);
    row("closed before answer, once", {}, 0, 4);
    row("closed before answer, twice", {CantSend + closedWithoutAnswer("%SERVICE%")}, 3, 2);
    row("closed mid-body", {CantSend + CutShort}, 3, 1);
    row("body cut short", {CantSend + CutShort}, 3, 1);
    row("stall past the time-out", {CantSend + TimedOut}, 3, 1);
    row("slow trickle", {}, 0, 3);
    const QString moved = refusedWrite("", "301 Moved Permanently");
    row("301 loop", {moved, moved}, 3, 2);
    row("400 one line", {refusedWrite("Bad request.", "400 Bad Request")}, 0, 4);
    row("403 one line", {refusedWrite("Invalid credentials.", "403 Forbidden")}, 0, 4);
    row("404 multi-line", {refusedWrite("", "404 Not Found")}, 0, 4);
    row("429 too many requests", {}, 0, 4); // waited out, the same write again
    row("500 one line", {refusedWrite("Oops.", "500 Internal Server Error")}, 0, 4);
    row("503 multi-line", {}, 0, 4);
    // Only a 201 is a write accepted; a 200, whatever its body, is refused.
    row("malformed", {refusedWrite("", "200 OK")}, 0, 4);
    row("empty 200", {refusedWrite("", "200 OK")}, 0, 4);
    row("50 MB answer", {CantSend + tooLarge("%SERVICE%")}, 3, 1);
}

void TestFaults::write()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, messages);
    QFETCH(int, rowsLeft);
    QFETCH(int, writes);
    SimFixture sim(SimFixture::generatedAccount(Blog, 3, EMail, Password));
    sharedTestService().useSimulator(sim);
    frmPostsList window(sharedTestService().settings(), sharedTestService().service(),
                        PostsWindowDriver::simulatorAccount(sim, Blog));
    window.show();
    QVERIFY(PostsWindowDriver::downloadAll(window));
    QCOMPARE(window.posts().count(), 3);

    QList<sim::Fault> faults;
    const quint16 dead = SimFixture::unusedPort();
    if (!faultsFor(fault, &faults))
        sharedTestService().useServiceHost(QStringLiteral("127.0.0.1:%1").arg(dead));
    injectAll(sim.server(), sim::Endpoint::Write, faults, sim.serviceHost(), QStringLiteral("/api/write"));
    m_dialogs.answer(DialogServices::Retry);
    QElapsedTimer timer;
    timer.start();
    PostsWindowDriver::button(window, "cmdFixPosts")->click();
    QVERIFY2(timer.elapsed() < NoHangMs, qPrintable(QString::number(timer.elapsed())));

    QCOMPARE(m_dialogs.texts(), expanded(messages, sim, dead));
    QCOMPARE(window.posts().count(), rowsLeft);
    const QList<sim::Request> log = sim.server().log(sim::Endpoint::Write);
    QCOMPARE(int(log.size()), writes);
    // No post written twice with different content.
    std::map<QByteArray, QByteArray> bodies;
    for (const sim::Request &request : log) {
        const auto [it, added] = bodies.emplace(request.field(QStringLiteral("post-id")), request.rawBody);
        QVERIFY2(added || it->second == request.rawBody, it->first.constData());
    }
    // No row lost: every post is written or still listed.
    QSet<QString> listed;
    for (int i = 0; i < window.posts().count(); ++i)
        listed.insert(window.posts().at(i).id);
    for (const sim::Post &post : sim.blog(Blog).posts)
        QVERIFY2(post.writeCount > 0 || listed.contains(post.id), qPrintable(post.id));

    // Whatever happened, a second run writes what is left.
    if (rowsLeft > 0) {
        sim.server().clearFaults();
        sharedTestService().useSimulator(sim);
        m_dialogs.clear();
        PostsWindowDriver::button(window, "cmdFixPosts")->click();
        QCOMPARE(window.posts().count(), 0);
        QVERIFY(m_dialogs.shown.isEmpty());
    }
    window.close();
}

void TestFaults::hostileCaptions_listedSensibly_writtenBackByteForByte()
{
    QString huge = QStringLiteral("<p>");
    while (huge.size() < 2 * 1024 * 1024)
        huge += QStringLiteral("word ");
    huge += QStringLiteral("</p>");
    const QString nested = QStringLiteral("<b>").repeated(10000) + QStringLiteral("deep") + QStringLiteral("</b>").repeated(10000);
    const std::vector<std::pair<QString, QString>> captions{
        {huge, QString()},
        {nested, QStringLiteral("deep")},
        {QStringLiteral("<script>alert(1)</script><img src=\"file:///etc/passwd\"><img src=\"/dev/zero\">Look"),
         QStringLiteral("Look")},
        {QStringLiteral("Bell &#7; start &#1; escape &#x1b; end"), QStringLiteral("Bell \u0007 start \u0001 escape \u001B end")},
    };
    std::vector<sim::Post> posts;
    for (size_t i = 0; i < captions.size(); ++i)
        posts.push_back(SimFixture::photoPost(QString::number(3001 + i), captions[i].first, {QStringLiteral("kept")}));
    sim::Account account = SimFixture::generatedAccount(Blog, 0, EMail, Password);
    account.blogs.front().posts = posts;
    SimFixture sim(std::move(account));
    sharedTestService().useSimulator(sim);
    frmPostsList window(sharedTestService().settings(), sharedTestService().service(),
                        PostsWindowDriver::simulatorAccount(sim, Blog));
    window.show();
    QVERIFY(PostsWindowDriver::downloadAll(window));
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(window.posts().count(), int(captions.size()));
    for (size_t i = 1; i < captions.size(); ++i)
        QCOMPARE(window.posts().at(int(i)).caption, captions[i].second);
    QVERIFY(window.posts().at(0).caption.startsWith(QStringLiteral("word word")));

    PostsWindowDriver::button(window, "cmdFixPosts")->click();
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(window.posts().count(), 0);
    for (size_t i = 0; i < captions.size(); ++i) {
        const sim::Post &post = sim.post(QString::number(3001 + i));
        QCOMPARE(post.writeCount, 1);
        QVERIFY2(post.caption == captions[i].first, qPrintable(post.id)); // byte for byte
        QCOMPARE(post.tags.first(), QStringLiteral("kept"));
        QCOMPARE(post.tags.size(), 2);
    }
    // No character an XML document can't hold reached the new tag.
    QCOMPARE(sim.post(QStringLiteral("3004")).tags.last(), QStringLiteral("Bell  start  escape  end"));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"

#include "client/service/Account.h"
#include "TestService.h"
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include "windows/posts/PostsListView.h"
#include <QTimer>
#include <QtTest>
#include <memory>

#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/posts/frmDownloadSettings.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/ucPostsLoader.h"
#include "client/net/HTTPRequest.h"
#include "client/net/BackOff.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/service/designed/modTumblrReader.h"

namespace {
const QString Email = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");
const QString BlogName = QStringLiteral("photos");

// How the download settings dialog is to be answered.
using DialogAnswer = DownloadAnswer;

void answerDialog(DialogAnswer *answer) { answerDownloadSettings(answer); }

QList<long> readStarts(sim::Server &server)
{
    QList<long> starts;
    for (const sim::Request &request : server.log(sim::Endpoint::Read))
        starts << request.field(QStringLiteral("start")).toLong();
    return starts;
}

// Reference rule for the rows: a photo post, a caption, and no tag that is
// the caption in another letter case. The generated captions are plain text.
QStringList expectedIds(const sim::Blog &blog)
{
    QStringList ids;
    for (const sim::Post &post : blog.posts) {
        if (post.type != QLatin1String("photo") || !post.hasCaption || post.caption.isEmpty())
            continue;
        bool tagged = false;
        for (const QString &tag : post.tags)
            tagged = tagged || tag.compare(post.caption, Qt::CaseInsensitive) == 0;
        if (!tagged)
            ids << post.id;
    }
    return ids;
}

QStringList listedIds(frmPostsList &window)
{
    QStringList ids;
    for (int row = 0; row < window.posts().count(); ++row)
        ids << window.posts().at(row).id;
    return ids;
}

QColor resultColor(frmPostsList &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblResult"))->palette().color(QPalette::Window);
}
}

class tst_download final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void afterLoad_onlyGetPostsAndListEnabled_captionEndsInZero();
    void wholeDownload_listsPhotoPostsWithoutCaptionTag_inOrder();
    void wholeDownload_demoBlogOfMixedTypes_listsOnlyPhotosToFix();
    void afterDownload_firstRowSelected_allButtonsEnabled();
    void firstPage3With2Pages_requestsStarts100And150();
    void allPagesOfExactly100Posts_costsThreeRequests();
    void fullPageWithNonPhotoPosts_asksForNextPage();
    void captionCount_growsPageByPage_whileButtonsDisabled();
    void escDuringStalledRequest_stopsKeepsRowsRed_secondEscCloses();
    void failedRead_retry_requestsSameStartAgain();
    void unparsablePage_retry_requestsSameStartAgain();
    void readAnsweredNot200_isAFailedRead_yellowRetryFinishes_data();
    void readAnsweredNot200_isAFailedRead_yellowRetryFinishes();
    void redirectToAnotherHost_sendsSameSixFields();
    void chainedRedirects_toTwoOtherHosts_pageReadFromTheLast();
    void getPosts_missingAccountPart_falseWithoutDialogOrRequest_data();
    void getPosts_missingAccountPart_falseWithoutDialogOrRequest();
    void getPosts_result_trueOnlyWhenTheBlogEnded_data();
    void getPosts_result_trueOnlyWhenTheBlogEnded();
    void freshDownload_firstReadFailsCancelled_leavesEmptyListRed();
    void stopBeforeDownload_hasNoEffect();
    void progressText_keepsTheLastCountsAfterTheDownload();
    void empty200_endsTheDownloadRedWithoutMessage();
    void threeRetries_raiseTheCounterByThree_aStopRaisesNothing();
    void serviceUnavailable_waitedOut_sameReadRepeated();
    void redirectLoop_endsWithIncorrectResponse();
    void redirectWithLowerCaseLocation_isNotFollowed();
    void cumulativeDownload_keepsListedRows_data();
    void cumulativeDownload_keepsListedRows();
    void dialogCancelled_leavesListAndSendsNothing();
    void resultLabelClicks_showTheTwoMessages();

private:
    std::unique_ptr<frmPostsList> openWindow(SimFixture &sim, const QString &blog = BlogName);
    bool download(frmPostsList &window, DialogAnswer &answer);

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

void tst_download::initTestCase()
{
    // Settings and temporary files of this run only: placement and column layout start from the design.
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
}

void tst_download::init()
{
    m_dialogs.clear();
    m_dialogs.onShow = nullptr;
    HTTPRequest::setTimeoutOverride(0);
}

void tst_download::cleanup()
{
    HTTPRequest::setTimeoutOverride(0);
    // No page file is ever left behind.
    QCOMPARE(QDir(m_folders.tempPath()).entryList({QStringLiteral("XML*")}, QDir::Files), QStringList());
}

std::unique_ptr<frmPostsList> tst_download::openWindow(SimFixture &sim, const QString &blog)
{
    sharedTestService().useSimulator(sim);
    auto window = std::make_unique<frmPostsList>(sharedTestService().settings(), sharedTestService().service(),
                                                 PostsWindowDriver::simulatorAccount(sim, blog));
    window->show();
    return window;
}

bool tst_download::download(frmPostsList &window, DialogAnswer &answer)
{
    answerDialog(&answer);
    window.findChild<QPushButton *>(QStringLiteral("cmdGetPosts"))->click();
    return answer.opened;
}

void tst_download::afterLoad_onlyGetPostsAndListEnabled_captionEndsInZero()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 10, Email, Password));
    auto window = openWindow(sim);
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 0"));
    QVERIFY(window->findChild<QPushButton *>(QStringLiteral("cmdGetPosts"))->isEnabled());
    QVERIFY(window->findChild<PostsListView *>(QStringLiteral("lvPosts"))->isEnabled());
    for (const char *name : {"cmdFixPosts", "cmdOpenPost", "cmdEditPost", "cmdRemoveSelected"})
        QVERIFY2(!window->findChild<QPushButton *>(QLatin1String(name))->isEnabled(), name);
    QVERIFY(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text().isEmpty());
    QVERIFY(!window->findChild<QWidget *>(QStringLiteral("uplLoader"))->isVisible());
    QVERIFY(!window->findChild<QWidget *>(QStringLiteral("upfFixer"))->isVisible());

    // The design's client area, grown by the info bar docked above the controls.
    auto *bar = window->findChild<QWidget *>(QStringLiteral("itbMainInfo"));
    QCOMPARE(bar->height(), 615 / 15);
    QCOMPARE(window->size(), QSize(8355 / 15, 3735 / 15 + bar->height()));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(!window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    auto *list = window->findChild<PostsListView *>(QStringLiteral("lvPosts"));
    QCOMPARE(list->geometry(), QRect(8, 8 + bar->height(), 8115 / 15, 2955 / 15));
    QCOMPARE(window->findChild<QWidget *>(QStringLiteral("cmdGetPosts"))->geometry(),
             QRect(8, 212 + bar->height(), 1215 / 15, 435 / 15));
    QCOMPARE(window->findChild<QWidget *>(QStringLiteral("lblResult"))->geometry(),
             QRect(184, 212 + bar->height(), 25, 25));
    QCOMPARE(list->model()->columnCount(), 7);
    const QStringList headers = {"Date", "Caption", "Tags", "Format", "Slug", "Click through URL", "Post URL"};
    const int widths[] = {2500, 2715, 2760, 960, 3375, 1740, 5000};
    for (int column = 0; column < 7; ++column) {
        QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        QCOMPARE(list->horizontalHeader()->sectionSize(column), widths[column] / 15);
    }
}

void tst_download::wholeDownload_listsPhotoPostsWithoutCaptionTag_inOrder()
{
    sim::Account account = SimFixture::generatedAccount(BlogName, 320, Email, Password);
    sim::Blog &blog = account.blogs.front();
    blog.ignoreTypeFilter = true; // pages carry other types too
    for (int i = 0; i < int(blog.posts.size()); ++i) {
        sim::Post &post = blog.posts[size_t(i)];
        if (i % 7 == 3)
            post.hasCaption = false, post.caption.clear();
        else if (i % 11 == 5)
            post.tags.insert(1, post.caption.toUpper());
        else if (i % 13 == 2)
            post.type = QStringLiteral("text");
        else if (i % 17 == 4)
            post.caption.clear();
    }
    SimFixture sim(std::move(account));
    auto window = openWindow(sim);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    const QStringList expected = expectedIds(sim.blog(BlogName));
    QVERIFY(expected.size() > 150);
    QCOMPARE(listedIds(*window), expected);
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50, 100, 150, 200, 250, 300}));
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: %1").arg(expected.size()));
    QCOMPARE(resultColor(*window), QColor(0, 255, 0));
    QVERIFY(m_dialogs.shown.isEmpty());

    // Every request carries the six fields in order.
    const sim::Request first = sim.server().log(sim::Endpoint::Read).first();
    QCOMPARE(first.fieldNames(), (QStringList{"email", "password", "start", "num", "generator", "type"}));
    QCOMPARE(first.field(QStringLiteral("num")), QByteArray("50"));
    QCOMPARE(first.field(QStringLiteral("type")), QByteArray("photo"));
    QCOMPARE(first.field(QStringLiteral("email")), Email.toUtf8());
    QCOMPARE(first.field(QStringLiteral("generator")), QByteArray("Zelvat - Velloria 1.00.0036"));
    QCOMPARE(first.path, QStringLiteral("/api/read"));

    // Row fields as the service gave them.
    const PostRow &row = window->posts().at(0);
    const sim::Post &post = sim.post(row.id);
    QCOMPARE(row.caption, post.caption);
    QCOMPARE(row.rawCaption, post.caption);
    QCOMPARE(TagRule::TagsText(row.tags), post.tags.join(QStringLiteral(", ")));
    QCOMPARE(row.date, post.date);
    QCOMPARE(row.slug, post.slug);
    QVERIFY(row.postUrl.endsWith(post.url));
}

void tst_download::wholeDownload_demoBlogOfMixedTypes_listsOnlyPhotosToFix()
{
    SimFixture sim;
    auto window = openWindow(sim, QStringLiteral("demo-cats"));
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    const sim::Blog &blog = sim.blog(QStringLiteral("demo-cats"));
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50, 100, 150, 200, 250}));
    QVERIFY(window->posts().count() > 100);
    int last = -1;
    for (int row = 0; row < window->posts().count(); ++row) {
        const QString id = window->posts().at(row).id;
        const auto found = std::find_if(blog.posts.begin(), blog.posts.end(),
                                        [&id](const sim::Post &post) { return post.id == id; });
        QVERIFY(found != blog.posts.end());
        QCOMPARE(found->type, QStringLiteral("photo"));
        QVERIFY(!found->caption.isEmpty());
        const int index = int(found - blog.posts.begin());
        QVERIFY(index > last); // in the blog's order
        last = index;
    }
    QVERIFY(m_dialogs.shown.isEmpty());
}

void tst_download::afterDownload_firstRowSelected_allButtonsEnabled()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 70, Email, Password));
    auto window = openWindow(sim);
    QApplication::setActiveWindow(window.get());
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    auto *list = window->findChild<PostsListView *>(QStringLiteral("lvPosts"));
    QCOMPARE(window->posts().count(), 70);
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 70"));
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 0);
    QVERIFY(list->isEnabled());
    for (const char *name : {"cmdGetPosts", "cmdFixPosts", "cmdOpenPost", "cmdEditPost", "cmdRemoveSelected"})
        QVERIFY2(window->findChild<QPushButton *>(QLatin1String(name))->isEnabled(), name);
    QCOMPARE(window->focusWidget(), list);
    QVERIFY(!window->findChild<QWidget *>(QStringLiteral("uplLoader"))->isVisible());
}

void tst_download::firstPage3With2Pages_requestsStarts100And150()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 400, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer answer;
    answer.firstPage = QStringLiteral("3");
    answer.pages = QStringLiteral("2");
    QVERIFY(download(*window, answer));
    QCOMPARE(readStarts(sim.server()), (QList<long>{100, 150}));
    QCOMPARE(window->posts().count(), 100);
    QCOMPARE(window->posts().at(0).id, QStringLiteral("1101"));
    QCOMPARE(window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"))->requestNumber(), 3L);
}

void tst_download::allPagesOfExactly100Posts_costsThreeRequests()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 100, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50, 100}));
    QCOMPARE(window->posts().count(), 100);
}

void tst_download::fullPageWithNonPhotoPosts_asksForNextPage()
{
    sim::Account account = SimFixture::generatedAccount(BlogName, 60, Email, Password);
    sim::Blog &blog = account.blogs.front();
    blog.ignoreTypeFilter = true;
    for (int i : {0, 10, 20, 49})
        blog.posts[size_t(i)].type = QStringLiteral("quote");
    SimFixture sim(std::move(account));
    auto window = openWindow(sim);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50}));
    QCOMPARE(window->posts().count(), 56);
}

void tst_download::captionCount_growsPageByPage_whileButtonsDisabled()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 120, Email, Password));
    auto window = openWindow(sim);
    QStringList titles;
    QList<bool> fixEnabled;
    QList<bool> getEnabled;
    auto *fix = window->findChild<QPushButton *>(QStringLiteral("cmdFixPosts"));
    auto *get = window->findChild<QPushButton *>(QStringLiteral("cmdGetPosts"));
    connect(window.get(), &QWidget::windowTitleChanged, this, [&](const QString &title) {
        titles << title;
        fixEnabled << fix->isEnabled();
        getEnabled << get->isEnabled();
    });
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(titles.mid(0, 3), (QStringList{"Velloria :: Posts list :: 50", "Velloria :: Posts list :: 100",
                                            "Velloria :: Posts list :: 120"}));
    QCOMPARE(fixEnabled.mid(0, 3), (QList<bool>{false, false, false}));
    QCOMPARE(getEnabled.mid(0, 3), (QList<bool>{false, false, false}));
    QVERIFY(fix->isEnabled());
}

void tst_download::escDuringStalledRequest_stopsKeepsRowsRed_secondEscCloses()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 150, Email, Password));
    auto window = openWindow(sim);
    QPointer<frmPostsList> guard(window.get());
    bool closedSignal = false;
    connect(window.get(), &frmPostsList::closed, this, [&] { closedSignal = true; });
    // The second page never comes (a fault injected here applies to the request
    // being logged); Esc is pressed while it is awaited.
    connect(&sim.server(), &sim::Server::requestLogged, this, [&](const sim::Request &request) {
        if (request.field(QStringLiteral("start")) == "50") {
            sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Stall));
            QTimer::singleShot(100, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
        }
    });
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50}));
    QCOMPARE(window->posts().count(), 50);
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
    QVERIFY(m_dialogs.shown.isEmpty());
    QVERIFY(window->isVisible());
    QVERIFY(!closedSignal);
    QVERIFY(!window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"))->IsOnline());

    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    QVERIFY(closedSignal);
}

void tst_download::failedRead_retry_requestsSameStartAgain()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 80, Email, Password));
    auto window = openWindow(sim);
    HTTPRequest::setTimeoutOverride(300);
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Stall));
    QList<QColor> colorsAtQuestion;
    QStringList captionsAtQuestion;
    m_dialogs.onShow = [&](const DialogServices::Shown &) {
        colorsAtQuestion << resultColor(*window);
        captionsAtQuestion << window->findChild<QLabel *>(QStringLiteral("lblResult"))->text();
    };
    m_dialogs.answer(DialogServices::Retry);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 0, 50}));
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY(m_dialogs.shown.first().text.startsWith(QStringLiteral("Can't download blog's XML file.\r\n\r\n")));
    QCOMPARE(m_dialogs.shown.first().buttons, DialogServices::RetryCancel);
    QCOMPARE(colorsAtQuestion, (QList<QColor>{QColor(255, 255, 0)}));
    QCOMPARE(captionsAtQuestion, QStringList{"1"});
    QCOMPARE(window->posts().count(), 80);
    QCOMPARE(resultColor(*window), QColor(0, 255, 0));
}

void tst_download::unparsablePage_retry_requestsSameStartAgain()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 80, Email, Password));
    auto window = openWindow(sim);
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::MalformedXml));
    m_dialogs.answer(DialogServices::Retry);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 0, 50}));
    QCOMPARE(m_dialogs.shown.size(), 1);
    QVERIFY(m_dialogs.shown.first().text.startsWith(
        QStringLiteral("Error parse received XML. Try download it again?\r\n\r\nNumber:      ")));
    QVERIFY(QRegularExpression(QStringLiteral("\r\nLine, Col:   \\d+, \\d+$"))
                .match(m_dialogs.shown.first().text)
                .hasMatch());
    QCOMPARE(window->posts().count(), 80);
}

void tst_download::readAnsweredNot200_isAFailedRead_yellowRetryFinishes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("statusLine");
    const QByteArray page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tumblr version=\"1.0\"><posts start=\"0\" "
                            "total=\"0\"></posts></tumblr>";
    QTest::newRow("500 with a well-formed empty page") << 500 << page << QStringLiteral("500 Internal Server Error");
    QTest::newRow("500 with a text body") << 500 << QByteArray("Oops.") << QStringLiteral("500 Internal Server Error");
    QTest::newRow("404 with a text body") << 404 << QByteArray("Not found.") << QStringLiteral("404 Not Found");
    QTest::newRow("502 bad gateway") << 502 << QByteArray("Upstream down.") << QStringLiteral("502 Bad Gateway");
    QTest::newRow("204 no content") << 204 << QByteArray() << QStringLiteral("204 No Content");
}

void tst_download::readAnsweredNot200_isAFailedRead_yellowRetryFinishes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, statusLine);
    SimFixture sim(SimFixture::generatedAccount(BlogName, 65, Email, Password));
    auto window = openWindow(sim);
    // The second page fails once.
    sim::Fault normal;
    normal.kind = sim::Fault::Delay;
    sim.server().injectFault(sim::Endpoint::Read, normal);
    sim::Fault failed;
    failed.status = status;
    failed.body = body;
    sim.server().injectFault(sim::Endpoint::Read, failed);
    QList<QColor> colorsAtQuestion;
    m_dialogs.onShow = [&](const DialogServices::Shown &) { colorsAtQuestion << resultColor(*window); };
    m_dialogs.answer(DialogServices::Retry);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(m_dialogs.shown.first().buttons, DialogServices::RetryCancel);
    QCOMPARE(m_dialogs.shown.first().text,
             QStringLiteral("Can't download blog's XML file.\r\n\r\nThe server answered: ") + statusLine);
    QCOMPARE(colorsAtQuestion, (QList<QColor>{QColor(255, 255, 0)}));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("1"));
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50, 50}));
    QCOMPARE(window->posts().count(), 65);
    QCOMPARE(resultColor(*window), QColor(0, 255, 0));
}

void tst_download::redirectToAnotherHost_sendsSameSixFields()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 120, Email, Password));
    const QString alias = sim.server().addBlogAlias(BlogName);
    auto window = openWindow(sim);
    sim::Fault redirect = SimFixture::fault(sim::Fault::Redirect);
    redirect.location = "http://" + alias.toLatin1() + "/api/read";
    sim.server().injectFault(sim::Endpoint::Read, redirect);
    DialogAnswer answer;
    answer.firstPage = QStringLiteral("2");
    answer.pages = QStringLiteral("1");
    QVERIFY(download(*window, answer));

    const QList<sim::Request> reads = sim.server().log(sim::Endpoint::Read);
    QCOMPARE(reads.size(), 2);
    QCOMPARE(reads[1].fields, reads[0].fields);
    QCOMPARE(reads[1].field(QStringLiteral("start")), QByteArray("50"));
    QCOMPARE(QString::number(reads[1].localPort), alias.section(QLatin1Char(':'), -1));
    QVERIFY(reads[0].localPort != reads[1].localPort);
    QCOMPARE(window->posts().count(), 50);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void tst_download::chainedRedirects_toTwoOtherHosts_pageReadFromTheLast()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 30, Email, Password));
    const QString first = sim.server().addBlogAlias(BlogName);
    const QString second = sim.server().addBlogAlias(BlogName);
    auto window = openWindow(sim);
    sim::Fault toFirst = SimFixture::fault(sim::Fault::Redirect);
    toFirst.location = "http://" + first.toLatin1() + "/api/read";
    sim::Fault toSecond = SimFixture::fault(sim::Fault::Redirect);
    toSecond.location = "http://" + second.toLatin1() + "/api/read";
    sim.server().injectFault(sim::Endpoint::Read, toFirst);
    sim.server().injectFault(sim::Endpoint::Read, toSecond);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));

    const QList<sim::Request> reads = sim.server().log(sim::Endpoint::Read);
    QCOMPARE(reads.size(), 3);
    QCOMPARE(QString::number(reads[1].localPort), first.section(QLatin1Char(':'), -1));
    QCOMPARE(QString::number(reads[2].localPort), second.section(QLatin1Char(':'), -1));
    QCOMPARE(reads[2].fields, reads[0].fields);
    QCOMPARE(window->posts().count(), 30);
    QVERIFY(m_dialogs.shown.isEmpty());
}

void tst_download::getPosts_missingAccountPart_falseWithoutDialogOrRequest_data()
{
    QTest::addColumn<int>("missing");
    QTest::newRow("blog") << 0;
    QTest::newRow("e-mail") << 1;
    QTest::newRow("password") << 2;
}

void tst_download::getPosts_missingAccountPart_falseWithoutDialogOrRequest()
{
    QFETCH(int, missing);
    SimFixture sim(SimFixture::generatedAccount(BlogName, 10, Email, Password));
    auto window = openWindow(sim);
    Account account = PostsWindowDriver::simulatorAccount(sim, BlogName);
    (missing == 0 ? account.groupName : missing == 1 ? account.email : account.password).clear();
    // A dialog would be closed (and seen) by this watch, which ends with the test.
    bool dialogShown = false;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&dialogShown] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            dialogShown = true;
            modal->close();
        }
    });
    watch.start();
    QVERIFY(!window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"))->GetPosts(account));
    QTest::qWait(30);
    QVERIFY(!dialogShown);
    QVERIFY(sim.server().log().isEmpty());
}

void tst_download::getPosts_result_trueOnlyWhenTheBlogEnded_data()
{
    QTest::addColumn<int>("posts");
    QTest::addColumn<QString>("firstPage");
    QTest::addColumn<QString>("pages");
    QTest::addColumn<bool>("result");
    QTest::newRow("page 3, 2 pages of a longer blog") << 400 << "3" << "2" << false;
    QTest::newRow("exactly 100 posts, every page") << 100 << "1" << "All" << true;
    QTest::newRow("last page short") << 120 << "1" << "All" << true;
    QTest::newRow("2 pages of exactly 100 posts") << 100 << "1" << "2" << false;
    QTest::newRow("3 pages reaching the short end") << 120 << "1" << "3" << true;
}

void tst_download::getPosts_result_trueOnlyWhenTheBlogEnded()
{
    QFETCH(int, posts);
    QFETCH(QString, firstPage);
    QFETCH(QString, pages);
    QFETCH(bool, result);
    SimFixture sim(SimFixture::generatedAccount(BlogName, posts, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer answer;
    answer.firstPage = firstPage;
    answer.pages = pages;
    answerDialog(&answer);
    QCOMPARE(window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"))
                 ->GetPosts(PostsWindowDriver::simulatorAccount(sim, BlogName)),
             result);
    QVERIFY(answer.opened);
}

void tst_download::freshDownload_firstReadFailsCancelled_leavesEmptyListRed()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 80, Email, Password));
    auto window = openWindow(sim);
    std::vector<PostRow> earlier(3);
    for (size_t i = 0; i < earlier.size(); ++i) {
        earlier[i].id = QString::number(i + 1);
        earlier[i].caption = QStringLiteral("earlier %1").arg(i);
    }
    window->posts().append(std::move(earlier));
    sim::Fault failed;
    failed.status = 500;
    failed.body = "Busy.";
    sim.server().injectFault(sim::Endpoint::Read, failed);
    m_dialogs.answer(DialogServices::Cancel);
    DialogAnswer answer;
    answer.cumulative = false;
    QVERIFY(download(*window, answer));

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(window->posts().count(), 0);
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
    QCOMPARE(readStarts(sim.server()), QList<long>{0});
}

void tst_download::stopBeforeDownload_hasNoEffect()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 70, Email, Password));
    auto window = openWindow(sim);
    auto *loader = window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"));
    loader->StopIt(); // idle: nothing to stop, nothing remembered
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(window->posts().count(), 70);
    QCOMPARE(resultColor(*window), QColor(0, 255, 0));
}

void tst_download::progressText_keepsTheLastCountsAfterTheDownload()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 60, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    auto *loader = window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"));
    const QStringList lines = loader->statusText().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Request #2"));
    // The last exchange's counts: the whole answer received.
    const QStringList counts = lines[1].split(QStringLiteral(" / "));
    QCOMPARE(counts.size(), 2);
    QCOMPARE(counts[0], counts[1]);
    QVERIFY(!counts[0].isEmpty());
}

void tst_download::empty200_endsTheDownloadRedWithoutMessage()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 80, Email, Password));
    auto window = openWindow(sim);
    sim::Fault normal = SimFixture::fault(sim::Fault::Delay);
    sim.server().injectFault(sim::Endpoint::Read, normal);
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Empty200));
    DialogAnswer answer;
    answerDialog(&answer);
    QVERIFY(!window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"))
                 ->GetPosts(PostsWindowDriver::simulatorAccount(sim, BlogName)));
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
    QCOMPARE(window->posts().count(), 50);
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50}));
}

void tst_download::threeRetries_raiseTheCounterByThree_aStopRaisesNothing()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 30, Email, Password));
    auto window = openWindow(sim);
    sim::Fault failed;
    failed.status = 500;
    failed.body = "Oops.";
    sim.server().injectFault(sim::Endpoint::Read, failed, 3);
    for (int i = 0; i < 3; ++i)
        m_dialogs.answer(DialogServices::Retry);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(m_dialogs.shown.size(), 3);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("3"));
    QCOMPARE(window->posts().count(), 30);

    // A stop during a stalled read shows nothing and counts nothing.
    m_dialogs.clear();
    sim.server().injectFault(sim::Endpoint::Read, SimFixture::fault(sim::Fault::Stall));
    auto *loader = window->findChild<ucPostsLoader *>(QStringLiteral("uplLoader"));
    QTimer::singleShot(300, loader, [loader] { loader->StopIt(); });
    DialogAnswer again;
    again.cumulative = false;
    QVERIFY(download(*window, again));
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("3"));
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
}

void tst_download::serviceUnavailable_waitedOut_sameReadRepeated()
{
    BackOff::setSecondForTesting(10);
    SimFixture sim(SimFixture::generatedAccount(BlogName, 70, Email, Password));
    auto window = openWindow(sim);
    sim::Fault normal = SimFixture::fault(sim::Fault::Delay);
    sim.server().injectFault(sim::Endpoint::Read, normal);
    sim::Fault busy;
    busy.status = 503;
    busy.body = "Busy.";
    busy.headers = "Retry-After: Thu, 01 Jan 2026 00:00:00 GMT\r\n"; // passed: the shortest wait
    sim.server().injectFault(sim::Endpoint::Read, busy);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    BackOff::setSecondForTesting(0);
    QVERIFY(m_dialogs.shown.isEmpty());
    QCOMPARE(readStarts(sim.server()), (QList<long>{0, 50, 50}));
    QCOMPARE(window->posts().count(), 70);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("1"));
    QCOMPARE(resultColor(*window), QColor(0, 255, 0));
}

void tst_download::redirectLoop_endsWithIncorrectResponse()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 120, Email, Password));
    auto window = openWindow(sim);
    sim::Fault redirect = SimFixture::fault(sim::Fault::Redirect);
    redirect.location = "http://" + sim.blogHost(BlogName).toLatin1() + "/api/read";
    sim.server().injectFault(sim::Endpoint::Read, redirect, 1000);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    sim.server().clearFaults();

    QCOMPARE(m_dialogs.texts(), QStringList{"Incorrect response received from server."});
    QCOMPARE(m_dialogs.shown.first().buttons, DialogServices::OkOnly);
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), modTumblrReader::MaxRedirects + 1);
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
    QCOMPARE(window->posts().count(), 0);
}

void tst_download::redirectWithLowerCaseLocation_isNotFollowed()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 20, Email, Password));
    auto window = openWindow(sim);
    sim::Fault raw = SimFixture::fault(sim::Fault::RawResponse);
    raw.body = "HTTP/1.1 301 Moved Permanently\r\nlocation: http://" + sim.blogHost(BlogName).toLatin1()
               + "/api/read\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    sim.server().injectFault(sim::Endpoint::Read, raw);
    DialogAnswer answer;
    QVERIFY(download(*window, answer));
    QCOMPARE(m_dialogs.texts(), QStringList{"Incorrect response received from server."});
    QCOMPARE(sim.server().log(sim::Endpoint::Read).size(), 1);
    QCOMPARE(resultColor(*window), QColor(255, 0, 0));
}

void tst_download::cumulativeDownload_keepsListedRows_data()
{
    QTest::addColumn<bool>("holdCtrl");
    QTest::newRow("check box") << false;
    QTest::newRow("Ctrl held") << true;
}

void tst_download::cumulativeDownload_keepsListedRows()
{
    QFETCH(bool, holdCtrl);
    SimFixture sim(SimFixture::generatedAccount(BlogName, 200, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer first;
    first.pages = QStringLiteral("1");
    QVERIFY(download(*window, first));
    QVERIFY(!first.cumulativeTickedAtLoad);
    QCOMPARE(window->posts().count(), 50);

    DialogAnswer second;
    second.firstPage = QStringLiteral("3");
    second.pages = QStringLiteral("1");
    if (!holdCtrl)
        second.cumulative = true;
    if (holdCtrl)
        QTest::keyPress(window->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
    QVERIFY(download(*window, second));
    if (holdCtrl)
        QTest::keyRelease(window->windowHandle(), Qt::Key_Control);
    QCOMPARE(second.cumulativeTickedAtLoad, holdCtrl);
    QCOMPARE(window->posts().count(), 100);
    QCOMPARE(window->posts().at(0).id, QStringLiteral("1001"));
    QCOMPARE(window->posts().at(50).id, QStringLiteral("1101"));
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 100"));

    // Without it the list starts again.
    DialogAnswer third;
    third.pages = QStringLiteral("1");
    QVERIFY(download(*window, third));
    QCOMPARE(window->posts().count(), 50);
}

void tst_download::dialogCancelled_leavesListAndSendsNothing()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 60, Email, Password));
    auto window = openWindow(sim);
    DialogAnswer first;
    QVERIFY(download(*window, first));
    QCOMPARE(window->posts().count(), 60);
    sim.server().clearLog();

    DialogAnswer cancelled;
    cancelled.cancel = true;
    QVERIFY(download(*window, cancelled));
    QCOMPARE(window->posts().count(), 60);
    QVERIFY(sim.server().log().isEmpty());
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 60"));
    QVERIFY(window->findChild<QPushButton *>(QStringLiteral("cmdFixPosts"))->isEnabled());
    QVERIFY(m_dialogs.shown.isEmpty());
}

void tst_download::resultLabelClicks_showTheTwoMessages()
{
    SimFixture sim(SimFixture::generatedAccount(BlogName, 1, Email, Password));
    auto window = openWindow(sim);
    auto *label = window->findChild<QLabel *>(QStringLiteral("lblResult"));
    QCOMPARE(label->size(), QSize(25, 25));
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(label, Qt::LeftButton);
    const QString usual = QStringLiteral(
        "Don't click here! It's just indicate if any errors occured sending or receiving posts.");
    const QString secret =
        QStringLiteral("Ok. There is a secret in this prog. Open about box and drag icon to program title.");
    QCOMPARE(m_dialogs.texts(), (QStringList{usual, usual, secret, usual}));
    for (const DialogServices::Shown &shown : m_dialogs.shown)
        QCOMPARE(shown.icon, DialogServices::Information);
}

QTEST_MAIN(tst_download)
#include "tst_download.moc"

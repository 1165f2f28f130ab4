#include "CurServer.h"
#include "CurrentSimFixture.h"
#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "TestBrowser.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/login/ApplicationKeyDialog.h"
#include "client/login/SecretStore.h"
#include "client/login/SettingsStore.h"
#include "windows/login/frmGroupSelector.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/ucPostsLoader.h"
#include "client/net/BackOff.h"
#include "client/service/current/CurrentTumblrService.h"
#include "client/net/HTTPRequest.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/service/designed/modTumblrReader.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

#include <memory>

namespace {
const QString AccountName = QString::fromLatin1(CurrentSimFixture::AccountName);
const QString ClientId = QString::fromLatin1(CurrentSimFixture::ClientId);
const QString Secret = QString::fromLatin1(CurrentSimFixture::Secret);

QStringList entries(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list << combo->itemText(i);
    return list;
}

QString messagePart(const QString &text)
{
    const qsizetype blank = text.indexOf(QStringLiteral("\r\n\r\n"));
    return blank < 0 ? text : text.left(blank);
}

QByteArray formValue(const cursim::Request &request, const char *name)
{
    return request.formValue(QLatin1String(name));
}

QColor resultColor(frmPostsList &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblResult"))->palette().color(QPalette::Window);
}

// The rows a blog gives, by the download's rules: photo posts with a caption
// that is not yet one of their tags.
cursim::Blog catsBlog()
{
    cursim::Blog blog;
    blog.name = QStringLiteral("cats");
    blog.title = QStringLiteral("Cats & co");
    cursim::Post legacy = cursim::Server::legacyPost(QStringLiteral("9007199254740993"),
                                                     QStringLiteral("<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>"),
                                                     {QStringLiteral("cat"), QStringLiteral("a, b")});
    legacy.date = QStringLiteral("2024-01-31 18:04:05 GMT");
    legacy.slug = QStringLiteral("sunset");
    legacy.linkUrl = QStringLiteral("http://example.com/click");
    legacy.postUrl = QStringLiteral("https://cats.tumblr.com/post/9007199254740993/sunset");
    cursim::Post blocks = cursim::Server::blocksPost(QStringLiteral("20002"),
                                                     {QStringLiteral("Made in the editor\nsecond line"), QStringLiteral("more")},
                                                     {QStringLiteral("x")});
    blocks.date = QStringLiteral("2024-01-30 10:00:00 GMT");
    blocks.slug = QStringLiteral("editor");
    blocks.postUrl = QStringLiteral("https://cats.tumblr.com/post/20002/editor");
    cursim::Post tagged = cursim::Server::legacyPost(QStringLiteral("20003"), QStringLiteral("Already done"),
                                                     {QStringLiteral("already done")});
    cursim::Post taggedBlocks = cursim::Server::blocksPost(QStringLiteral("20004"), {QStringLiteral("Done too")},
                                                           {QStringLiteral("\u201CDone too\u201D")});
    cursim::Post empty = cursim::Server::legacyPost(QStringLiteral("20005"), QString());
    cursim::Post text = cursim::Server::legacyPost(QStringLiteral("20006"), QStringLiteral("A text post"));
    text.type = QStringLiteral("text");
    blog.posts = {legacy, blocks, tagged, taggedBlocks, empty, text};
    return blog;
}
}

class TestCurrentInterface final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void loginWindow_passwordBoxUnused_getNeedsEmailOnly();
    void pacing_tenAMinuteUnlessSet();
    void firstGet_asksForKey_signsInInBrowser_listsPublicBlogs();
    void savedSignIn_noBrowser_refreshTokenRotated();
    void expiredAccessToken_refreshedOnce_callRepeated();
    void refusedRefresh_asksForBrowserAgain();
    void badAuthorization_data();
    void badAuthorization();
    void browserNeverBack_stopsWait_data();
    void browserNeverBack_stopsWait();
    void tokenAnswerWithoutToken_message();
    void blogListNotEnvelope_designedMessage();

    void download_legacyAndEditorPosts_rowsExact();
    void download_pagesOf50_inRequestsOf20_fromPageOffset();
    void download_repeatedPostsListedOnce();
    void download_loopingNextLink_stopsWithMessage();
    void download_postWithoutId_leftOutAndSaid();
    void download_expiredMidway_refreshedAndGoesOn();
    void download_rateLimited_waitsAndRepeats();
    void download_serverError_designedRetryQuestion();

private:
    void signInDirectly();
    frmGroupSelector *makeLoginWindow();
    std::unique_ptr<frmPostsList> openPostsWindow(const QString &blog = QStringLiteral("cats"));

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<CurrentSimFixture> m_fixture;
    QPointer<frmGroupSelector> m_login;
    int m_run = 0;
};

void TestCurrentInterface::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    setDialogs(&m_dialogs);
    BackOff::setSecondForTesting(10);
}

void TestCurrentInterface::init()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->sync();
    m_dialogs.clear();
    cursim::User user;
    user.name = QStringLiteral("me");
    cursim::Blog cats = catsBlog();
    cats.primary = true;
    cursim::Blog secret;
    secret.name = QStringLiteral("hidden");
    secret.title = QStringLiteral("Hidden");
    secret.type = QStringLiteral("private");
    cursim::Blog dogs;
    dogs.name = QStringLiteral("dogs");
    dogs.title = QStringLiteral("Dogs");
    user.blogs = {cats, secret, dogs};
    m_fixture = std::make_unique<CurrentSimFixture>(
        user, QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(++m_run)));
    m_fixture->settings().SetValue(QStringLiteral("Show first write"), QStringLiteral("no"));
}

void TestCurrentInterface::cleanup()
{
    delete m_login.data();
    m_fixture.reset();
    HTTPRequest::setTimeoutOverride(0);
}

void TestCurrentInterface::signInDirectly()
{
    QString why;
    QVERIFY2(m_fixture->signIn(&why), qPrintable(why));
}

frmGroupSelector *TestCurrentInterface::makeLoginWindow()
{
    delete m_login.data();
    m_login = new frmGroupSelector(m_fixture->settings(), m_fixture->service());
    m_login->show();
    QApplication::setActiveWindow(m_login);
    m_login->findChild<QLineEdit *>(QStringLiteral("txtEMail"))->setText(AccountName);
    return m_login;
}

std::unique_ptr<frmPostsList> TestCurrentInterface::openPostsWindow(const QString &blog)
{
    auto window = std::make_unique<frmPostsList>(m_fixture->settings(), m_fixture->service(), m_fixture->account(blog));
    window->show();
    return window;
}

void TestCurrentInterface::loginWindow_passwordBoxUnused_getNeedsEmailOnly()
{
    frmGroupSelector *window = makeLoginWindow();
    auto *password = window->findChild<QLineEdit *>(QStringLiteral("txtPassword"));
    auto *get = window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"));
    QVERIFY(!password->isEnabled());
    QVERIFY(password->toolTip().contains(QStringLiteral("browser")));
    QVERIFY(get->isEnabled());
    window->findChild<QLineEdit *>(QStringLiteral("txtEMail"))->clear();
    QVERIFY(!get->isEnabled());
}

void TestCurrentInterface::pacing_tenAMinuteUnlessSet()
{
    QCOMPARE(m_fixture->service().writesPerMinute(), 10);
    m_fixture->settings().SetValue(QStringLiteral("Writes per minute"), QStringLiteral("0"));
    QCOMPARE(m_fixture->service().writesPerMinute(), 0);
    m_fixture->service().setWritesPerMinute(4); // --pace
    QCOMPARE(m_fixture->service().writesPerMinute(), 4);
}

void TestCurrentInterface::firstGet_asksForKey_signsInInBrowser_listsPublicBlogs()
{
    frmGroupSelector *window = makeLoginWindow();
    QString shownRedirect;
    whenModal<ApplicationKeyDialog>([&shownRedirect](ApplicationKeyDialog *dialog) {
        shownRedirect = dialog->findChild<QLineEdit *>(QStringLiteral("txtRedirect"))->text();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdCopy")), Qt::LeftButton);
        auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("cmdOK"));
        QVERIFY(!ok->isEnabled());
        dialog->findChild<QLineEdit *>(QStringLiteral("txtConsumerKey"))->setText(ClientId);
        dialog->findChild<QLineEdit *>(QStringLiteral("txtSecret"))->setText(Secret);
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups")), Qt::LeftButton);

    const QString redirect = QStringLiteral("http://127.0.0.1:%1/callback").arg(m_fixture->redirectPort());
    QCOMPARE(shownRedirect, redirect);
    QCOMPARE(QGuiApplication::clipboard()->text(), redirect);
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))),
             (QStringList{QStringLiteral("Cats & co | cats"), QStringLiteral("Dogs | dogs")}));
    QCOMPARE(m_fixture->browser().visits, 1);
    QCOMPARE(m_fixture->browser().callbackStatus, 200);

    // What the service was sent: the documented authorization, the code exchanged with the secret.
    const QUrlQuery authorize(m_fixture->browser().authorizationUrl);
    QCOMPARE(m_fixture->browser().authorizationUrl.path(), QStringLiteral("/oauth2/authorize"));
    QCOMPARE(authorize.queryItemValue(QStringLiteral("client_id")), ClientId);
    QCOMPARE(authorize.queryItemValue(QStringLiteral("response_type")), QStringLiteral("code"));
    QCOMPARE(authorize.queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded), QStringLiteral("basic write offline_access"));
    QCOMPARE(authorize.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded), redirect);
    QVERIFY(!authorize.queryItemValue(QStringLiteral("state")).isEmpty());
    const QList<cursim::Request> token = m_fixture->sim().log(cursim::Endpoint::Token);
    QCOMPARE(token.size(), 1);
    QCOMPARE(formValue(token[0], "grant_type"), QByteArray("authorization_code"));
    QCOMPARE(formValue(token[0], "client_secret"), Secret.toUtf8());
    QCOMPARE(formValue(token[0], "redirect_uri"), redirect.toUtf8());
    const QList<cursim::Request> info = m_fixture->sim().log(cursim::Endpoint::UserInfo);
    QCOMPARE(info.size(), 1);
    QCOMPARE(info[0].header("Authorization"), "Bearer " + m_fixture->sim().issuedAccessToken().toUtf8());
    QCOMPARE(info[0].header("User-Agent"), HTTPRequest::AgentName().toUtf8());
    QCOMPARE(token[0].header("User-Agent"), HTTPRequest::AgentName().toUtf8());

    // The key and the tokens went to the secret file, none of them to the settings file.
    window->close();
    QVERIFY(m_fixture->settings().flush());
    QFile secrets(m_fixture->secrets().filePath());
    QVERIFY(secrets.open(QIODevice::ReadOnly));
    const QByteArray secretText = secrets.readAll();
    QVERIFY(!secretText.isEmpty());
    QFile settingsFile(m_fixture->settings().fileName());
    QVERIFY(settingsFile.open(QIODevice::ReadOnly));
    const QByteArray settingsText = settingsFile.readAll();
    QVERIFY(settingsText.contains(AccountName.toUtf8()));
    for (const QString &secret : {Secret, m_fixture->sim().issuedAccessToken(), m_fixture->sim().issuedRefreshToken()})
        QVERIFY2(!settingsText.contains(secret.toUtf8()), qPrintable(secret));
}

void TestCurrentInterface::savedSignIn_noBrowser_refreshTokenRotated()
{
    signInDirectly();
    const QString firstRefresh = m_fixture->sim().issuedRefreshToken();
    // The next run: a new service over the same secret store; its access token is old.
    m_fixture->sim().expireAccessTokens();
    m_fixture->restartService();
    m_fixture->sim().clearLog();
    frmGroupSelector *window = makeLoginWindow();
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();

    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(m_fixture->browser().visits, 1); // the first sign-in's only
    QCOMPARE(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).size(), 2);
    const QList<cursim::Request> token = m_fixture->sim().log(cursim::Endpoint::Token);
    QCOMPARE(token.size(), 1);
    QCOMPARE(formValue(token[0], "grant_type"), QByteArray("refresh_token"));
    QCOMPARE(formValue(token[0], "refresh_token"), firstRefresh.toUtf8());
    QCOMPARE(formValue(token[0], "client_secret"), Secret.toUtf8());
    QVERIFY(m_fixture->sim().issuedRefreshToken() != firstRefresh);

    // The rotated token is the one kept: a third run signs in with it.
    m_fixture->sim().expireAccessTokens();
    m_fixture->restartService();
    m_fixture->sim().clearLog();
    const QString secondRefresh = m_fixture->sim().issuedRefreshToken();
    QVERIFY(m_fixture->service().signIn(AccountName, {}, nullptr).accepted());
    QCOMPARE(formValue(m_fixture->sim().log(cursim::Endpoint::Token).value(0), "refresh_token"), secondRefresh.toUtf8());
    QCOMPARE(m_fixture->browser().visits, 1);
}

void TestCurrentInterface::expiredAccessToken_refreshedOnce_callRepeated()
{
    signInDirectly();
    m_fixture->sim().expireAccessTokens(); // the program still thinks its token good
    m_fixture->sim().clearLog();
    const SignInResult result = m_fixture->service().signIn(AccountName, {}, nullptr);
    QVERIFY(result.accepted());
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::UserInfo).size(), 2);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Token).size(), 1);
    QCOMPARE(m_fixture->browser().visits, 1);
}

void TestCurrentInterface::refusedRefresh_asksForBrowserAgain()
{
    signInDirectly();
    m_fixture->sim().expireAccessTokens();
    m_fixture->sim().revokeRefreshTokens();
    frmGroupSelector *window = makeLoginWindow();
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(m_fixture->browser().visits, 2);
    QCOMPARE(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).size(), 2);
}

void TestCurrentInterface::badAuthorization_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("stateChange"); // "": as sent; "drop"; "error": an error added; else the state to put in
    QTest::addColumn<QString>("message");     // empty: the forged answer is ignored, the genuine one signs in

    const QString denied = QStringLiteral("Can't authenticate on Tumblr. The authorization was denied in the browser.");
    QTest::newRow("denied") << int(TestBrowser::Deny) << QString() << denied;
    QTest::newRow("an error, its text decoded")
        << int(TestBrowser::Allow) << QStringLiteral("error")
        << QStringLiteral("Can't authenticate on Tumblr. The browser came back with the error server_error Try again "
                          "later, 100% sure");
    QTest::newRow("wrong state") << int(TestBrowser::Allow) << QStringLiteral("forged") << QString();
    QTest::newRow("no state") << int(TestBrowser::Allow) << QStringLiteral("drop") << QString();
}

void TestCurrentInterface::badAuthorization()
{
    QFETCH(int, choice);
    QFETCH(QString, stateChange);
    QFETCH(QString, message);
    m_fixture->useBrowser(TestBrowser::Choice(choice));
    QUrl genuine;
    if (!stateChange.isEmpty()) {
        m_fixture->browser().tamper = [stateChange, &genuine](const QUrl &url) {
            genuine = url;
            QUrlQuery query(url);
            if (stateChange == QLatin1String("error")) {
                query.removeAllQueryItems(QStringLiteral("code"));
                query.addQueryItem(QStringLiteral("error"), QStringLiteral("server_error"));
                query.addQueryItem(QStringLiteral("error_description"), QStringLiteral("Try%20again+later,%20100%25%20sure"));
            } else {
                query.removeAllQueryItems(QStringLiteral("state"));
                if (stateChange != QLatin1String("drop"))
                    query.addQueryItem(QStringLiteral("state"), stateChange);
            }
            QUrl changed = url;
            changed.setQuery(query);
            return changed;
        };
    }
    QVERIFY(m_fixture->service().setApplicationKey(ClientId, Secret, nullptr));
    frmGroupSelector *window = makeLoginWindow();
    // Once the forged answer was turned away, the genuine one comes, then one more.
    QNetworkAccessManager network;
    int genuineStatus = 0;
    int lateStatus = -1;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!message.isEmpty() || m_fixture->browser().callbackStatus == 0 || genuineStatus != 0)
            return;
        genuineStatus = -1;
        QNetworkReply *reply = network.get(QNetworkRequest(genuine));
        connect(reply, &QNetworkReply::finished, this, [&, reply] {
            genuineStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            reply->deleteLater();
            QNetworkReply *late = network.get(QNetworkRequest(genuine));
            connect(late, &QNetworkReply::finished, this, [&, late] {
                lateStatus = late->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                late->deleteLater();
            });
        });
    });
    poll.start(50);
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    poll.stop();

    if (!message.isEmpty()) {
        QCOMPARE(m_dialogs.texts().size(), 1);
        QCOMPARE(messagePart(m_dialogs.texts().first()), message);
        QVERIFY(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).isEmpty());
        // No code was exchanged for a token.
        QVERIFY(m_fixture->sim().log(cursim::Endpoint::Token).isEmpty());
    } else {
        // The forged answer was turned away and did not end the wait.
        QCOMPARE(m_fixture->browser().callbackStatus, 400);
        QCOMPARE(genuineStatus, 200);
        QCOMPARE(m_dialogs.texts(), QStringList());
        QVERIFY(!entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).isEmpty());
        QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Token).size(), 1);
        // Nothing is taken after the first good answer: the receiver is gone.
        QTRY_VERIFY(lateStatus != -1);
        QCOMPARE(lateStatus, 0);
    }
    QVERIFY(window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->isEnabled());
}

void TestCurrentInterface::browserNeverBack_stopsWait_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << QStringLiteral("cancel");
    QTest::newRow("Esc") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestCurrentInterface::browserNeverBack_stopsWait()
{
    QFETCH(QString, how);
    m_fixture->useBrowser(TestBrowser::StayAway);
    QVERIFY(m_fixture->service().setApplicationKey(ClientId, Secret, nullptr));
    frmGroupSelector *window = makeLoginWindow();
    auto *cancel = window->findChild<QPushButton *>(QStringLiteral("cmdCancel"));
    QString captionDuringWait;
    QTimer::singleShot(300, window, [&] {
        captionDuringWait = cancel->text();
        if (how == QLatin1String("cancel"))
            QTest::mouseClick(cancel, Qt::LeftButton);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(window, Qt::Key_Escape);
        else
            window->close();
    });
    QElapsedTimer timer;
    timer.start();
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(captionDuringWait, QStringLiteral("Cancel"));
    QCOMPARE(m_dialogs.texts().size(), 1);
    QCOMPARE(messagePart(m_dialogs.texts().first()), QStringLiteral("Can't authenicate on Tumblr."));
    QCOMPARE(cancel->text(), QStringLiteral("Exit"));
    QVERIFY(window->isVisible());
    // The port is free again for the next sign-in.
    m_fixture->useBrowser(TestBrowser::Allow);
    m_dialogs.clear();
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).size(), 2);
}

void TestCurrentInterface::tokenAnswerWithoutToken_message()
{
    cursim::Fault fault;
    fault.kind = cursim::Fault::Status;
    fault.status = 200;
    fault.body = R"({"token_type":"bearer","expires_in":2520})";
    m_fixture->sim().injectFault(cursim::Endpoint::Token, fault);
    QVERIFY(m_fixture->service().setApplicationKey(ClientId, Secret, nullptr));
    frmGroupSelector *window = makeLoginWindow();
    QElapsedTimer timer;
    timer.start();
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QVERIFY(timer.elapsed() < 5000);
    QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("XML from Tumblr recieved but it contains invalid data.")});
    QVERIFY(entries(window->findChild<QComboBox *>(QStringLiteral("cboGroup"))).isEmpty());
}

void TestCurrentInterface::blogListNotEnvelope_designedMessage()
{
    signInDirectly();
    cursim::Fault fault;
    fault.kind = cursim::Fault::NotEnvelope;
    m_fixture->sim().injectFault(cursim::Endpoint::UserInfo, fault);
    frmGroupSelector *window = makeLoginWindow();
    auto *combo = window->findChild<QComboBox *>(QStringLiteral("cboGroup"));
    combo->addItem(QStringLiteral("Kept | kept"));
    window->findChild<QPushButton *>(QStringLiteral("cmdGetGroups"))->click();
    QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("XML from Tumblr recieved but it contains invalid data.")});
    QCOMPARE(entries(combo), QStringList{QStringLiteral("Kept | kept")});
}

void TestCurrentInterface::download_legacyAndEditorPosts_rowsExact()
{
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(window->posts().count(), 2);
    const PostRow &legacy = window->posts().at(0);
    QCOMPARE((QStringList{legacy.date, legacy.id, legacy.caption, legacy.rawCaption, TagRule::TagsText(legacy.tags), legacy.slug,
                          legacy.clickThroughUrl, legacy.postUrl}),
             (QStringList{"2024-01-31 18:04:05 GMT", "9007199254740993", "Sunset at beach & sea",
                          "Sunset at beach & sea\ntwo", "cat, \"a, b\"", "sunset", "",
                          "https://cats.tumblr.com/post/9007199254740993/sunset"}));
    const PostRow &blocks = window->posts().at(1);
    QCOMPARE((QStringList{blocks.date, blocks.id, blocks.caption, blocks.rawCaption, TagRule::TagsText(blocks.tags), blocks.slug,
                          blocks.postUrl}),
             (QStringList{"2024-01-30 10:00:00 GMT", "20002", "Made in the editor", "Made in the editor\nsecond line\nmore",
                          "x", "editor", "https://cats.tumblr.com/post/20002/editor"}));
    QCOMPARE(resultColor(*window), QColor(0x00, 0xFF, 0x00));
    // The posts were read in the new post format, so none made in the editor is missed.
    const QList<cursim::Request> reads = m_fixture->sim().log(cursim::Endpoint::Posts);
    QCOMPARE(reads.size(), 1);
    QCOMPARE(reads[0].path, QStringLiteral("/v2/blog/cats/posts/photo"));
    QCOMPARE(reads[0].queryValue(QStringLiteral("npf")), QStringLiteral("true"));
}

void TestCurrentInterface::download_pagesOf50_inRequestsOf20_fromPageOffset()
{
    cursim::User user = cursim::Server::generatedUser(QStringLiteral("big"), 130);
    m_fixture->sim().setUser(user);
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow(QStringLiteral("big"));
    DownloadAnswer answer;
    answer.firstPage = QStringLiteral("2");
    answer.pages = QStringLiteral("1");
    answerDownloadSettings(&answer);
    m_fixture->sim().clearLog();
    PostsWindowDriver::button(*window, "cmdGetPosts")->click();
    QList<QPair<QString, QString>> requests;
    for (const cursim::Request &request : m_fixture->sim().log(cursim::Endpoint::Posts))
        requests << qMakePair(request.queryValue(QStringLiteral("offset")), request.queryValue(QStringLiteral("limit")));
    QCOMPARE(requests, (QList<QPair<QString, QString>>{{"50", "20"}, {"70", "20"}, {"90", "10"}}));
    QStringList expected;
    for (int i = 51; i <= 100; ++i)
        expected << QString::number(1000 + i);
    QCOMPARE(PostsWindowDriver::listedIds(*window), expected);

    // All pages from the first: to the end of the blog, nothing twice.
    m_fixture->sim().clearLog();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(window->posts().count(), 130);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Posts).size(), 7 + 1);
    QCOMPARE(m_dialogs.texts(), QStringList());
}

void TestCurrentInterface::download_repeatedPostsListedOnce()
{
    cursim::User user = cursim::Server::generatedUser(QStringLiteral("big"), 45);
    user.blogs[0].repeatOnPaging = true;
    m_fixture->sim().setUser(user);
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow(QStringLiteral("big"));
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QStringList expected;
    for (int i = 1; i <= 45; ++i)
        expected << QString::number(1000 + i);
    QCOMPARE(PostsWindowDriver::listedIds(*window), expected);
}

void TestCurrentInterface::download_loopingNextLink_stopsWithMessage()
{
    cursim::User user = cursim::Server::generatedUser(QStringLiteral("big"), 45);
    user.blogs[0].loopingNext = true;
    m_fixture->sim().setUser(user);
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow(QStringLiteral("big"));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QVERIFY(timer.elapsed() < 10000);
    QCOMPARE(m_dialogs.texts().size(), 1);
    QVERIFY(m_dialogs.texts().first().contains(QStringLiteral("points back")));
    QCOMPARE(window->posts().count(), 20);
    QCOMPARE(resultColor(*window), QColor(0xFF, 0x00, 0x00));
}

void TestCurrentInterface::download_postWithoutId_leftOutAndSaid()
{
    m_fixture->sim().blog(QStringLiteral("cats"))->posts[1].omitIdString = true;
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(PostsWindowDriver::listedIds(*window), QStringList{QStringLiteral("9007199254740993")});
    QCOMPARE(m_dialogs.texts(), QStringList{QStringLiteral("1 photo posts came without an id and were left out.")});
}

void TestCurrentInterface::download_expiredMidway_refreshedAndGoesOn()
{
    m_fixture->sim().setUser(cursim::Server::generatedUser(QStringLiteral("big"), 60));
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow(QStringLiteral("big"));
    cursim::Fault expired;
    expired.kind = cursim::Fault::Unauthorized;
    int reads = 0;
    connect(&m_fixture->sim(), &cursim::Server::requestLogged, this, [&](const cursim::Request &request) {
        if (request.path.endsWith(QLatin1String("/posts/photo")) && ++reads == 2)
            m_fixture->sim().expireAccessTokens();
    });
    m_fixture->sim().clearLog();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(window->posts().count(), 60);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Token).size(), 1);
    QCOMPARE(formValue(m_fixture->sim().log(cursim::Endpoint::Token)[0], "grant_type"), QByteArray("refresh_token"));
    QCOMPARE(resultColor(*window), QColor(0x00, 0xFF, 0x00));
}

void TestCurrentInterface::download_rateLimited_waitsAndRepeats()
{
    m_fixture->sim().setUser(cursim::Server::generatedUser(QStringLiteral("big"), 30));
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow(QStringLiteral("big"));
    cursim::Fault limited;
    limited.kind = cursim::Fault::RateLimited;
    limited.resetSeconds = 4;
    m_fixture->sim().injectFault(cursim::Endpoint::Posts, limited, 2);
    QStringList waits;
    auto *status = window->findChild<ucPostsLoader *>()->findChild<QLabel *>(QStringLiteral("lblStatus"));
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (status && status->text().contains(QStringLiteral("Waiting")) && !waits.contains(status->text()))
            waits << status->text();
    });
    watch.start();
    m_fixture->sim().clearLog();
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(window->posts().count(), 30);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Posts).size(), 2 + 2);
    QVERIFY2(!waits.isEmpty(), "no wait shown");
    QVERIFY2(waits.first().contains(QStringLiteral("4 s")), qPrintable(waits.join(u'|')));
}

void TestCurrentInterface::download_serverError_designedRetryQuestion()
{
    signInDirectly();
    std::unique_ptr<frmPostsList> window = openPostsWindow();
    cursim::Fault broken;
    broken.status = 500;
    broken.body = R"({"meta":{"status":500,"msg":"Server Error"},"response":[],"errors":[{"title":"Oops","detail":"Try later"}]})";
    m_fixture->sim().injectFault(cursim::Endpoint::Posts, broken);
    m_dialogs.answer(DialogServices::Retry);
    QVERIFY(PostsWindowDriver::downloadAll(*window));
    QCOMPARE(m_dialogs.texts().size(), 1);
    QCOMPARE(messagePart(m_dialogs.texts().first()), QStringLiteral("Can't download blog's XML file."));
    QVERIFY(m_dialogs.texts().first().contains(QStringLiteral("Try later")));
    QCOMPARE(window->posts().count(), 2);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblResult"))->text(), QStringLiteral("1"));
}

QTEST_MAIN(TestCurrentInterface)
#include "tst_currentinterface.moc"

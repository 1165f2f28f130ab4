#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"

#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/login/frmGroupSelector.h"
#include "client/login/SecretStore.h"
#include "client/net/HTTPRequest.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
const QString CantAuthenicate = QStringLiteral("Can't authenicate on Tumblr.");
const QString CantAuthenticate = QStringLiteral("Can't authenticate on Tumblr. ");
const QString InvalidData = QStringLiteral("XML from Tumblr recieved but it contains invalid data.");

// The message itself, without the reason the request layer adds after a blank line.
QString messagePart(const QString &text)
{
    const qsizetype blank = text.indexOf(QStringLiteral("\r\n\r\n"));
    return blank < 0 ? text : text.left(blank);
}

QStringList entries(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}

QByteArray answerWith(const QByteArray &tumblelogs)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tumblr version=\"1.0\"><user can-upload-audio=\"1\"/>"
        + tumblelogs + "</tumblr>";
}

// Runs `action` once the window's request is under way (inside its local loop).
void duringRequest(std::function<void()> action)
{
    QTimer::singleShot(300, qApp, std::move(action));
}
}

class TestLogin final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void window_controlsAsDesigned_data();
    void window_controlsAsDesigned();
    void window_captionSizeAndFont();
    void window_serviceReachedUnencrypted_saysSo_data();
    void window_serviceReachedUnencrypted_saysSo();

    void updateControls_enabledByFieldContents_data();
    void updateControls_enabledByFieldContents();

    void signIn_listsPublicBlogsInOrder_titleDecodedOnce();
    void signIn_blogUrls_data();
    void signIn_blogUrls();
    void signIn_sendsEmailPasswordGenerator_inOrderAsTyped();
    void signIn_twice_sameList();
    void signIn_refused_showsOneLineAnswerOnly_data();
    void signIn_refused_showsOneLineAnswerOnly();
    void signIn_connectionRefused_showsCantAuthenicate();
    void signIn_stalledRequestStopped_windowStaysListUnchanged_data();
    void signIn_stalledRequestStopped_windowStaysListUnchanged();
    void signIn_afterCancelledOne_runsNormally();
    void signIn_invalidXml_listUnchangedAndMessage_data();
    void signIn_invalidXml_listUnchangedAndMessage();
    void signIn_noPublicBlog_emptiesListSilently();
    void signIn_passwordBeyondLatin1_sentAsUtf8_keptAcrossRuns();

    void keys_shiftF1_opensAboutBox();
    void keys_otherF1_doNothing_data();
    void keys_otherF1_doNothing();
    void keys_escapeWhileIdle_closesWindow();
    void exitButton_closesWindow();
    void historyButton_offersAddressesUsedToSignIn();
    void proxyButton_opensProxyDialog();
    void focus_selectsWholeText_data();
    void focus_selectsWholeText();

private:
    frmGroupSelector *makeWindow();
    template<typename T> T *control(const char *name) const
    {
        T *found = m_window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    void signIn(const QString &email, const QString &password);
    static void useService(const QString &host) { sharedTestService().useServiceHost(host); }

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    QPointer<frmGroupSelector> m_window;
};

void TestLogin::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    setDialogs(&m_dialogs);
}

void TestLogin::init()
{
    // Every test starts from no remembered state.
    auto settings = AppConfig::openSettings();
    settings->clear();
    settings->sync();
    QFile::remove(QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
                      .filePath(QStringLiteral("E-Mail History.DAT")));
    m_dialogs.clear();
    HTTPRequest::setTimeoutOverride(0);
}

void TestLogin::cleanup()
{
    delete m_window.data();
    HTTPRequest::setTimeoutOverride(0);
}

frmGroupSelector *TestLogin::makeWindow()
{
    delete m_window.data();
    m_window = new frmGroupSelector(sharedTestService().settings(), sharedTestService().service());
    m_window->show();
    QApplication::setActiveWindow(m_window);
    return m_window;
}

void TestLogin::signIn(const QString &email, const QString &password)
{
    control<QLineEdit>("txtEMail")->setText(email);
    control<QLineEdit>("txtPassword")->setText(password);
    auto *get = control<QPushButton>("cmdGetGroups");
    QVERIFY(get->isEnabled());
    get->click();
}

void TestLogin::window_controlsAsDesigned_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips");

    QTest::newRow("lblTag0") << "lblTag0" << "Group:" << QRect(180, 180, 555, 210);
    QTest::newRow("cboGroup") << "cboGroup" << "" << QRect(1140, 120, 3915, 330);
    QTest::newRow("cmdGetGroups") << "cmdGetGroups" << "Get" << QRect(5100, 120, 555, 315);
    QTest::newRow("lblTag1") << "lblTag1" << "E-Mail:" << QRect(180, 585, 510, 210);
    QTest::newRow("txtEMail") << "txtEMail" << "" << QRect(1140, 540, 3915, 315);
    QTest::newRow("lblTag3") << "lblTag3" << "Password:" << QRect(180, 1005, 825, 210);
    QTest::newRow("txtPassword") << "txtPassword" << "" << QRect(1140, 960, 3915, 315);
    QTest::newRow("cmdEMailHistory") << "cmdEMailHistory" << "H!" << QRect(5100, 540, 555, 315);
    QTest::newRow("cmdProxy") << "cmdProxy" << "Proxy..." << QRect(120, 1440, 1095, 435);
    QTest::newRow("cmdPostsList") << "cmdPostsList" << "Proceed" << QRect(3120, 1440, 1215, 435);
    QTest::newRow("cmdCancel") << "cmdCancel" << "Exit" << QRect(4440, 1440, 1215, 435);
}

void TestLogin::window_controlsAsDesigned()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    makeWindow();
    auto *widget = m_window->findChild<QWidget *>(name);
    QVERIFY(widget);
    const QRect design(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), caption);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), caption);
        // A label grows to its text when the substitute font is wider, never shrinks.
        QCOMPARE(label->pos(), design.topLeft());
        QVERIFY(label->width() >= design.width() && label->width() >= label->sizeHint().width());
        QVERIFY(label->height() >= design.height());
    } else {
        QCOMPARE(widget->geometry(), design);
    }
}

void TestLogin::window_serviceReachedUnencrypted_saysSo_data()
{
    QTest::addColumn<QString>("serviceHost");
    QTest::addColumn<bool>("warned");
    QTest::newRow("the service's own host") << QString() << false;
    QTest::newRow("a simulator on this machine") << "127.0.0.1:8766" << false;
    QTest::newRow("http:// named") << "http://api.example.invalid" << true;
}

void TestLogin::window_serviceReachedUnencrypted_saysSo()
{
    QFETCH(QString, serviceHost);
    QFETCH(bool, warned);
    sharedTestService().useServiceHost(serviceHost);
    makeWindow();
    auto *warning = control<QLabel>("lblInClear");
    QCOMPARE(warning->isVisible(), warned);
    if (warned) {
        QCOMPARE(warning->text(), QStringLiteral("Not encrypted: http://api.example.invalid"));
        QVERIFY(warning->toolTip().contains(QStringLiteral("password")));
        // Between "Proxy..." and "Proceed", over neither.
        QVERIFY(!warning->geometry().intersects(control<QPushButton>("cmdProxy")->geometry()));
        QVERIFY(!warning->geometry().intersects(control<QPushButton>("cmdPostsList")->geometry()));
    }
    sharedTestService().useServiceHost({});
}

void TestLogin::window_captionSizeAndFont()
{
    makeWindow();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Velloria :: Starting"));
    QCOMPARE(m_window->size(), QSize(385, 133));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    QVERIFY(!m_window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_window->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(m_window->font().pointSize(), 9);
    QVERIFY(!m_window->windowIcon().isNull());

    QCOMPARE(control<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
    control<QLineEdit>("txtPassword")->setText(QStringLiteral("pwé!"));
    QCOMPARE(control<QLineEdit>("txtPassword")->displayText(), QStringLiteral("****"));
    QVERIFY(!control<QComboBox>("cboGroup")->isEditable());
    QCOMPARE(control<QPushButton>("cmdEMailHistory")->toolTip(), QStringLiteral(" History "));

    // Tab order as designed.
    const QStringList expected{"cboGroup", "cmdGetGroups", "txtEMail", "txtPassword",
                               "cmdEMailHistory", "cmdProxy", "cmdPostsList", "cmdCancel"};
    QStringList chain;
    QWidget *widget = control<QComboBox>("cboGroup");
    while (chain.size() < expected.size()) {
        if (widget->focusPolicy() & Qt::TabFocus)
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    }
    QCOMPARE(chain, expected);
}

void TestLogin::updateControls_enabledByFieldContents_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("groups");
    QTest::addColumn<bool>("getEnabled");
    QTest::addColumn<bool>("proceedEnabled");

    QTest::newRow("all empty") << "" << "" << "" << false << false;
    QTest::newRow("e-mail only") << "a@b.c" << "" << "" << false << false;
    QTest::newRow("password only") << "" << "pw" << "" << false << false;
    QTest::newRow("both, no blog") << "a@b.c" << "pw" << "" << true << false;
    QTest::newRow("both and a blog") << "a@b.c" << "pw" << "T | host" << true << true;
    QTest::newRow("blog, no password") << "a@b.c" << "" << "T | host" << false << false;
    QTest::newRow("blog, no e-mail") << "" << "pw" << "T | host" << false << false;
    QTest::newRow("blanks count as filled") << " " << " " << "T | host" << true << true;
}

void TestLogin::updateControls_enabledByFieldContents()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QString, groups);
    QFETCH(bool, getEnabled);
    QFETCH(bool, proceedEnabled);

    makeWindow();
    frmGroupSelector::FillCombo(groups, control<QComboBox>("cboGroup"));
    control<QLineEdit>("txtEMail")->setText(email);
    control<QLineEdit>("txtPassword")->setText(password);

    QCOMPARE(control<QPushButton>("cmdGetGroups")->isEnabled(), getEnabled);
    QCOMPARE(control<QPushButton>("cmdPostsList")->isEnabled(), proceedEnabled);
    for (const char *name : {"cboGroup", "txtEMail", "txtPassword", "cmdProxy", "cmdEMailHistory", "cmdCancel"})
        QVERIFY2(m_window->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    QCOMPARE(control<QPushButton>("cmdCancel")->text(), QStringLiteral("Exit"));
}

void TestLogin::signIn_listsPublicBlogsInOrder_titleDecodedOnce()
{
    sim::Account account = sim::Server::demoAccount();
    sim::Blog nowhere;
    nowhere.name = QStringLiteral("no-address");
    nowhere.title = QStringLiteral("Nowhere");
    nowhere.emptyUrl = true;
    account.blogs.insert(account.blogs.begin() + 1, std::move(nowhere));
    SimFixture fixture(std::move(account));
    useService(fixture.serviceHost());

    makeWindow();
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));

    auto *combo = control<QComboBox>("cboGroup");
    QCOMPARE(entries(combo), (QStringList{QStringLiteral("Cats & Kittens | ") + fixture.blogHost("demo-cats"),
                                          QStringLiteral("Путешествия и фото | ") + fixture.blogHost("demo-travel")}));
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(control<QPushButton>("cmdCancel")->text(), QStringLiteral("Exit"));
    QVERIFY(control<QPushButton>("cmdPostsList")->isEnabled());
    QCOMPARE(m_window->focusWidget(), combo);
}

void TestLogin::signIn_blogUrls_data()
{
    QTest::addColumn<QByteArray>("tumblelogs");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("plain http, capitals, final slash")
        << QByteArray(R"(<tumblelog title="T" url="http://My.BLOG.Example.com/" type="public"/>)")
        << QStringList{"T | My.BLOG.Example.com"};
    QTest::newRow("scheme in capitals")
        << QByteArray(R"(<tumblelog title="T" url="HTTP://host.example.com/" type="public"/>)")
        << QStringList{"T | host.example.com"};
    QTest::newRow("host with port")
        << QByteArray(R"(<tumblelog title="T" url="http://127.0.0.1:8080/" type="public"/>)")
        << QStringList{"T | 127.0.0.1:8080"};
    QTest::newRow("https listed whole, one slash less")
        << QByteArray(R"(<tumblelog title="T" url="https://secure.example.com/" type="public"/>)")
        << QStringList{"T | https://secure.example.com"};
    QTest::newRow("two slashes lose one")
        << QByteArray(R"(<tumblelog title="T" url="http://two.example.com//" type="public"/>)")
        << QStringList{"T | two.example.com/"};
    QTest::newRow("no scheme, no slash")
        << QByteArray(R"(<tumblelog title="T" url="bare.example.com" type="public"/>)")
        << QStringList{"T | bare.example.com"};
    QTest::newRow("Private skipped")
        << QByteArray(R"(<tumblelog title="A" url="http://a.example.com/" type="Private"/>)"
                      R"(<tumblelog title="B" url="http://b.example.com/" type="public"/>)")
        << QStringList{"B | b.example.com"};
    QTest::newRow("PRIVATE skipped")
        << QByteArray(R"(<tumblelog title="A" url="http://a.example.com/" type="PRIVATE"/>)")
        << QStringList{};
    QTest::newRow("empty url skipped")
        << QByteArray(R"(<tumblelog title="A" url="" type="public"/>)"
                      R"(<tumblelog title="B" url="http://b.example.com/" type="public"/>)")
        << QStringList{"B | b.example.com"};
    QTest::newRow("url of a slash only skipped")
        << QByteArray(R"(<tumblelog title="A" url="/" type="public"/>)") << QStringList{};
    QTest::newRow("title with a bar and entities")
        << QByteArray(R"(<tumblelog title="Tom &amp; Jerry | Fans" url="http://tj.example.com/" type="public"/>)")
        << QStringList{"Tom & Jerry | Fans | tj.example.com"};
    QTest::newRow("title with blanks around it is trimmed")
        << QByteArray(R"(<tumblelog title="  Spaced  " url="http://s.example.com/" type="public"/>)")
        << QStringList{"Spaced   | s.example.com"};
    QTest::newRow("two blogs in document order")
        << QByteArray(R"(<tumblelog title="Zeta" url="http://z.example.com/" type="public"/>)"
                      R"(<tumblelog title="Alpha" url="http://a.example.com/" type="public"/>)")
        << QStringList{"Zeta | z.example.com", "Alpha | a.example.com"};
}

void TestLogin::signIn_blogUrls()
{
    QFETCH(QByteArray, tumblelogs);
    QFETCH(QStringList, expected);

    SimFixture fixture;
    useService(fixture.serviceHost());
    sim::Fault answer;
    answer.kind = sim::Fault::MalformedXml; // 200 with exactly this XML
    answer.body = answerWith(tumblelogs);
    fixture.server().injectFault(sim::Endpoint::Authenticate, answer);

    makeWindow();
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), control<QComboBox>("cboGroup"));
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));

    QVERIFY(m_dialogs.texts().isEmpty());
    auto *combo = control<QComboBox>("cboGroup");
    QCOMPARE(entries(combo), expected);
    QCOMPARE(combo->currentIndex(), expected.isEmpty() ? -1 : 0);
}

void TestLogin::signIn_sendsEmailPasswordGenerator_inOrderAsTyped()
{
    sim::Account account = SimFixture::generatedAccount(QStringLiteral("accents"), 1, QStringLiteral("zoë@example.com"),
                                                        QStringLiteral(" pässwörd "));
    SimFixture fixture(std::move(account));
    useService(fixture.serviceHost());

    makeWindow();
    signIn(QStringLiteral("zoë@example.com"), QStringLiteral(" pässwörd "));
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(control<QComboBox>("cboGroup")->count(), 1);

    const QList<sim::Request> requests = fixture.server().log(sim::Endpoint::Authenticate);
    QCOMPARE(requests.size(), 1);
    const sim::Request &request = requests.first();
    QCOMPARE(request.method, QStringLiteral("POST"));
    QCOMPARE(request.path, QStringLiteral("/api/authenticate"));
    QCOMPARE(request.fieldNames(), (QStringList{"email", "password", "generator"}));
    QCOMPARE(request.fields.at(0).second, QByteArray("zo\xc3\xab@example.com"));
    QCOMPARE(request.fields.at(1).second, QByteArray(" p\xc3\xa4ssw\xc3\xb6rd "));
    QCOMPARE(request.fields.at(2).second, QByteArray("Zelvat - Velloria 1.00.0036"));
}

void TestLogin::signIn_twice_sameList()
{
    SimFixture fixture;
    useService(fixture.serviceHost());
    makeWindow();
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));
    const QStringList first = entries(control<QComboBox>("cboGroup"));
    QCOMPARE(first.size(), 2);
    control<QPushButton>("cmdGetGroups")->click();
    QCOMPARE(entries(control<QComboBox>("cboGroup")), first);
    QCOMPARE(fixture.server().log(sim::Endpoint::Authenticate).size(), 2);
    QVERIFY(m_dialogs.texts().isEmpty());
}

void TestLogin::signIn_refused_showsOneLineAnswerOnly_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one line") << QByteArray("Invalid credentials.")
                              << QStringLiteral("Can't authenticate on Tumblr. Invalid credentials.");
    QTest::newRow("one line in UTF-8") << QByteArray("\xd0\x9d\xd0\xb5\xd0\xb2\xd0\xb5\xd1\x80\xd0\xbd\xd0\xbe")
                                       << QStringLiteral("Can't authenticate on Tumblr. Неверно");
    QTest::newRow("several lines") << QByteArray("<html>\r\n<body>Forbidden</body>\r\n</html>\r\n") << CantAuthenticate;
    QTest::newRow("a line and LF") << QByteArray("Invalid credentials.\n") << CantAuthenticate;
}

void TestLogin::signIn_refused_showsOneLineAnswerOnly()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    SimFixture fixture;
    useService(fixture.serviceHost());
    sim::Fault refusal;
    refusal.kind = sim::Fault::Status;
    refusal.status = 403;
    refusal.body = body;
    fixture.server().injectFault(sim::Endpoint::Authenticate, refusal);

    makeWindow();
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), control<QComboBox>("cboGroup"));
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(messagePart(m_dialogs.shown.first().text), expected);
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
    QCOMPARE(entries(control<QComboBox>("cboGroup")), QStringList{"Old | old.example.com"});
    QCOMPARE(control<QPushButton>("cmdCancel")->text(), QStringLiteral("Exit"));
}

void TestLogin::signIn_connectionRefused_showsCantAuthenicate()
{
    useService(QStringLiteral("127.0.0.1:%1").arg(SimFixture::unusedPort()));

    makeWindow();
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), control<QComboBox>("cboGroup"));
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));

    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(messagePart(m_dialogs.shown.first().text), CantAuthenicate);
    QVERIFY(m_dialogs.shown.first().text.size() > CantAuthenicate.size() + 4); // and why it failed
    QCOMPARE(entries(control<QComboBox>("cboGroup")), QStringList{"Old | old.example.com"});
    QVERIFY(control<QPushButton>("cmdGetGroups")->isEnabled());
}

void TestLogin::signIn_stalledRequestStopped_windowStaysListUnchanged_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("Escape key") << "escape";
    QTest::newRow("close box") << "close";
}

void TestLogin::signIn_stalledRequestStopped_windowStaysListUnchanged()
{
    QFETCH(QString, how);

    SimFixture fixture;
    useService(fixture.serviceHost());
    sim::Fault stall;
    stall.kind = sim::Fault::Stall;
    fixture.server().injectFault(sim::Endpoint::Authenticate, stall);
    HTTPRequest::setTimeoutOverride(20000); // only if stopping failed

    makeWindow();
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), control<QComboBox>("cboGroup"));

    QStringList disabledWhileBusy;
    QString cancelCaption;
    bool aboutOpened = false;
    duringRequest([&] {
        for (QWidget *widget : m_window->findChildren<QWidget *>()) {
            if (!widget->objectName().startsWith(QLatin1String("lbl")) && !widget->isEnabled())
                disabledWhileBusy.append(widget->objectName());
        }
        disabledWhileBusy.sort();
        cancelCaption = control<QPushButton>("cmdCancel")->text();
        // The about box stays shut while signing in.
        QTest::keyClick(m_window, Qt::Key_F1, Qt::ShiftModifier);
        aboutOpened = QApplication::activeModalWidget() != nullptr;

        if (how == QLatin1String("cancel")) {
            control<QPushButton>("cmdCancel")->click();
        } else if (how == QLatin1String("escape")) {
            QWidget *target = m_window->focusWidget() ? m_window->focusWidget() : m_window.data();
            QTest::keyClick(target, Qt::Key_Escape);
        } else {
            QVERIFY(!m_window->close());
        }
    });
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));

    QCOMPARE(cancelCaption, QStringLiteral("Cancel"));
    QCOMPARE(disabledWhileBusy, (QStringList{"cboGroup", "cmdEMailHistory", "cmdGetGroups", "cmdPostsList",
                                             "cmdProxy", "txtEMail", "txtPassword"}));
    QVERIFY(!aboutOpened);

    QVERIFY(m_window);
    QVERIFY(m_window->isVisible());
    QCOMPARE(control<QPushButton>("cmdCancel")->text(), QStringLiteral("Exit"));
    QVERIFY(control<QPushButton>("cmdGetGroups")->isEnabled());
    QCOMPARE(entries(control<QComboBox>("cboGroup")), QStringList{"Old | old.example.com"});
    // A stopped transfer is a transfer that did not complete.
    QCOMPARE(m_dialogs.shown.size(), 1);
    QCOMPARE(messagePart(m_dialogs.shown.first().text), CantAuthenicate);
}

void TestLogin::signIn_afterCancelledOne_runsNormally()
{
    SimFixture fixture;
    useService(fixture.serviceHost());
    sim::Fault stall;
    stall.kind = sim::Fault::Stall;
    fixture.server().injectFault(sim::Endpoint::Authenticate, stall);
    HTTPRequest::setTimeoutOverride(20000);

    makeWindow();
    duringRequest([&] { control<QPushButton>("cmdCancel")->click(); });
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));
    QCOMPARE(control<QComboBox>("cboGroup")->count(), 0);

    m_dialogs.clear();
    control<QPushButton>("cmdGetGroups")->click();
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(control<QComboBox>("cboGroup")->count(), 2);
}

void TestLogin::signIn_invalidXml_listUnchangedAndMessage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("not well-formed") << QByteArray("<tumblr version=\"1.0\"><tumblelog title=\"x\"></tumblr>");
    QTest::newRow("not XML at all") << QByteArray("Service temporarily unavailable");
    QTest::newRow("blog without type") << answerWith(R"(<tumblelog title="T" url="http://a.example.com/"/>)");
    QTest::newRow("public blog without url") << answerWith(R"(<tumblelog title="T" type="public"/>)");
    QTest::newRow("public blog without title") << answerWith(R"(<tumblelog url="http://a.example.com/" type="public"/>)");
}

void TestLogin::signIn_invalidXml_listUnchangedAndMessage()
{
    QFETCH(QByteArray, body);

    SimFixture fixture;
    useService(fixture.serviceHost());
    makeWindow();
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));
    const QStringList before = entries(control<QComboBox>("cboGroup"));
    QCOMPARE(before.size(), 2);
    control<QComboBox>("cboGroup")->setCurrentIndex(1);

    sim::Fault bad;
    bad.kind = sim::Fault::MalformedXml;
    bad.body = body;
    fixture.server().injectFault(sim::Endpoint::Authenticate, bad);
    control<QPushButton>("cmdGetGroups")->click();

    QCOMPARE(m_dialogs.texts(), QStringList{InvalidData});
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
    QCOMPARE(entries(control<QComboBox>("cboGroup")), before);
    QCOMPARE(control<QComboBox>("cboGroup")->currentIndex(), 1);
}

void TestLogin::signIn_noPublicBlog_emptiesListSilently()
{
    SimFixture fixture;
    useService(fixture.serviceHost());
    sim::Fault answer;
    answer.kind = sim::Fault::MalformedXml;
    answer.body = answerWith(R"(<tumblelog title="P" url="http://p.example.com/" type="private"/>)");
    fixture.server().injectFault(sim::Endpoint::Authenticate, answer);

    makeWindow();
    frmGroupSelector::FillCombo(QStringLiteral("Old | old.example.com"), control<QComboBox>("cboGroup"));
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));
    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(control<QComboBox>("cboGroup")->count(), 0);
    QVERIFY(!control<QPushButton>("cmdPostsList")->isEnabled());
}

void TestLogin::signIn_passwordBeyondLatin1_sentAsUtf8_keptAcrossRuns()
{
    const QString password = QStringLiteral("пароль \U0001F408");
    sim::Account account = sim::Server::demoAccount();
    account.password = password;
    SimFixture fixture(std::move(account));
    useService(fixture.serviceHost());
    makeWindow();
    signIn(QStringLiteral("demo@example.com"), password);

    QVERIFY(m_dialogs.texts().isEmpty());
    QCOMPARE(control<QComboBox>("cboGroup")->count(), 2);
    const QList<sim::Request> requests = fixture.server().log(sim::Endpoint::Authenticate);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().field(QStringLiteral("password")), password.toUtf8());

    // Kept at close in the secret store, as it was typed; never in the settings file.
    m_window->close();
    QCOMPARE(sharedTestService().settings().GetValue(QStringLiteral("Password")), QString());
    QCOMPARE(sharedTestService().settings().secrets().read(QStringLiteral("password")),
             std::optional<QByteArray>(password.toUtf8()));
    makeWindow();
    QCOMPARE(control<QLineEdit>("txtPassword")->text(), password);
}

void TestLogin::keys_shiftF1_opensAboutBox()
{
    makeWindow();
    QString opened;
    QTimer::singleShot(0, qApp, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            opened = modal->objectName();
            modal->close();
        }
    });
    QTest::keyClick(control<QLineEdit>("txtEMail"), Qt::Key_F1, Qt::ShiftModifier);
    QCOMPARE(opened, QStringLiteral("AboutBox"));
}

void TestLogin::keys_otherF1_doNothing_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("F1") << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Shift+F1") << int(Qt::ControlModifier | Qt::ShiftModifier);
    QTest::newRow("Alt+Shift+F1") << int(Qt::AltModifier | Qt::ShiftModifier);
}

void TestLogin::keys_otherF1_doNothing()
{
    QFETCH(int, modifiers);
    makeWindow();
    bool opened = false;
    QTimer::singleShot(0, qApp, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            opened = true;
            modal->close();
        }
    });
    QTest::keyClick(control<QLineEdit>("txtEMail"), Qt::Key_F1, Qt::KeyboardModifiers(modifiers));
    QCoreApplication::processEvents();
    QVERIFY(!opened);
    QVERIFY(m_window->isVisible());
}

void TestLogin::keys_escapeWhileIdle_closesWindow()
{
    makeWindow();
    QTest::keyClick(control<QLineEdit>("txtPassword"), Qt::Key_Escape);
    QVERIFY(!m_window->isVisible());
}

void TestLogin::exitButton_closesWindow()
{
    makeWindow();
    control<QPushButton>("cmdCancel")->click();
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_dialogs.texts().isEmpty());
}

void TestLogin::historyButton_offersAddressesUsedToSignIn()
{
    SimFixture fixture;
    useService(fixture.serviceHost());
    makeWindow();
    signIn(QStringLiteral("demo@example.com"), QStringLiteral("demo"));
    auto *email = control<QLineEdit>("txtEMail");
    email->setText(QStringLiteral("other@example.com"));

    QStringList offered;
    QTimer::singleShot(0, qApp, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions())
            offered.append(action->data().toString());
        menu->setActiveAction(menu->actions().first());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    control<QPushButton>("cmdEMailHistory")->click();
    QCOMPARE(offered, QStringList{"demo@example.com"});
    QCOMPARE(email->text(), QStringLiteral("demo@example.com"));
}

void TestLogin::proxyButton_opensProxyDialog()
{
    makeWindow();
    QString opened;
    QTimer::singleShot(0, qApp, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            opened = modal->objectName();
            modal->close();
        }
    });
    control<QPushButton>("cmdProxy")->click();
    QCOMPARE(opened, QStringLiteral("ProxyDialog"));
}

void TestLogin::focus_selectsWholeText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("e-mail by tab") << "txtEMail" << false;
    QTest::newRow("e-mail by mouse") << "txtEMail" << true;
    QTest::newRow("password by tab") << "txtPassword" << false;
    QTest::newRow("password by mouse") << "txtPassword" << true;
}

void TestLogin::focus_selectsWholeText()
{
    QFETCH(QString, name);
    QFETCH(bool, byMouse);
    makeWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    auto *email = control<QLineEdit>("txtEMail");
    auto *password = control<QLineEdit>("txtPassword");
    email->setText(QStringLiteral("someone@example.com"));
    password->setText(QStringLiteral("secret"));
    auto *target = m_window->findChild<QLineEdit *>(name);
    control<QPushButton>("cmdProxy")->setFocus();

    if (byMouse) {
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, target->height() / 2));
    } else {
        // Tab from the control before it.
        (target == email ? static_cast<QWidget *>(control<QPushButton>("cmdGetGroups")) : email)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QTRY_COMPARE(QApplication::focusWidget(), target);
    QTRY_COMPARE(target->selectedText(), target->text());
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"

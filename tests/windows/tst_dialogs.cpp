#include "TestFolders.h"
#include "TestService.h"

#include "windows/app/AboutBox.h"
#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/app/ProxyDialog.h"
#include "client/login/SettingsStore.h"
#include "client/net/HTTPProxySettings.h"
#include "client/net/HTTPRequest.h"
#include "windows/login/ApplicationKeyDialog.h"
#include "windows/login/frmGroupSelector.h"
#include "ModalDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QTextDocument>
#include <functional>
#include <memory>

// Makes a window whose labels are looked at.
using WindowMaker = std::function<QWidget *()>;
Q_DECLARE_METATYPE(WindowMaker)

class TestDialogs final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { setDialogs(nullptr); }

    void scripted_recordsTextsAndAnswersFromQueue();
    void scripted_defaultAnswers_data();
    void scripted_defaultAnswers();
    void scripted_onShowSeesEachBox();
    void messageBoxEx21_isRetryCancelWithStopIcon();
    void showRuntimeError_showsMessageAndDescription();
    void showRequestError_showsMessageAndWhyTheRequestFailed();
    void messageBox_hasProgramTitleAndAnswersRetry();
    void messageBox_okOnly();
    void proxyDialog_okSavesTheSettings();
    void proxyDialog_cancelKeepsTheSettings();
    void proxyDialog_earlierSettingsFile_passwordWorksThenMovesAtTheSave();
    void labels_ampersandMarksAShortcut_neverShowsAsText_data();
    void labels_ampersandMarksAShortcut_neverShowsAsText();
    void aboutBox_showsTitleVersionAndDedication();

private:
    TestFolders m_folders;
};

void TestDialogs::initTestCase()
{
    // Other test programs running at the same time must never pick up the
    // proxies written here.
    QVERIFY(m_folders.isValid());
    QVERIFY(AppConfig::openSettings()->fileName().startsWith(m_folders.path()));
    AppConfig::openSettings()->clear();
}

void TestDialogs::scripted_recordsTextsAndAnswersFromQueue()
{
    ScriptedDialogs scripted;
    setDialogs(&scripted);
    scripted.answer(DialogServices::Retry);
    scripted.answer(DialogServices::Retry);
    QCOMPARE(dialogs().MessageBoxEx(QStringLiteral("first")), DialogServices::Retry);
    QCOMPARE(dialogs().MessageBoxEx(QStringLiteral("second")), DialogServices::Retry);
    QCOMPARE(dialogs().MessageBoxEx(QStringLiteral("third")), DialogServices::Cancel);
    dialogs().information(QStringLiteral("fourth"));
    QCOMPARE(scripted.texts(), (QStringList{QStringLiteral("first"), QStringLiteral("second"),
                                            QStringLiteral("third"), QStringLiteral("fourth")}));
    QCOMPARE(scripted.shown.at(3).icon, DialogServices::Information);
    scripted.clear();
    QVERIFY(scripted.shown.isEmpty());
    setDialogs(nullptr);
    QVERIFY(&dialogs() != &scripted);
}

void TestDialogs::scripted_defaultAnswers_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");
    QTest::newRow("retry/cancel") << int(DialogServices::RetryCancel) << int(DialogServices::Cancel);
    QTest::newRow("ok") << int(DialogServices::OkOnly) << int(DialogServices::Ok);
}

void TestDialogs::scripted_defaultAnswers()
{
    QFETCH(int, buttons);
    QFETCH(int, answer);
    ScriptedDialogs scripted;
    QCOMPARE(int(scripted.show(DialogServices::Critical, DialogServices::Buttons(buttons), QStringLiteral("x"))),
             answer);
}

void TestDialogs::scripted_onShowSeesEachBox()
{
    ScriptedDialogs scripted;
    setDialogs(&scripted);
    QStringList seen;
    scripted.onShow = [&seen, &scripted](const DialogServices::Shown &shown) {
        seen.append(shown.text);
        scripted.answer(DialogServices::Retry);
    };
    QCOMPARE(dialogs().MessageBoxEx(QStringLiteral("again?")), DialogServices::Retry);
    QCOMPARE(seen, QStringList{QStringLiteral("again?")});
}

void TestDialogs::messageBoxEx21_isRetryCancelWithStopIcon()
{
    ScriptedDialogs scripted;
    setDialogs(&scripted);
    dialogs().MessageBoxEx(QStringLiteral("Can't download blog's XML file."), 21);
    QCOMPARE(scripted.shown.size(), 1);
    QCOMPARE(scripted.shown.at(0).icon, DialogServices::Critical);
    QCOMPARE(scripted.shown.at(0).buttons, DialogServices::RetryCancel);
}

void TestDialogs::showRuntimeError_showsMessageAndDescription()
{
    ScriptedDialogs scripted;
    setDialogs(&scripted);
    dialogs().ShowRuntimeError(QStringLiteral("Can't read the list."), QStringLiteral("Out of memory."));
    QCOMPARE(scripted.shown.size(), 1);
    QCOMPARE(scripted.shown.at(0).icon, DialogServices::Critical);
    QCOMPARE(scripted.shown.at(0).buttons, DialogServices::OkOnly);
    QCOMPARE(scripted.shown.at(0).text, QStringLiteral("Can't read the list.\r\n\r\nOut of memory."));
}

void TestDialogs::showRequestError_showsMessageAndWhyTheRequestFailed()
{
    quint16 port = 0;
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        port = server.serverPort();
    }
    HTTPFormData form;
    form.AddField(QStringLiteral("email"), QStringLiteral("a"));
    HTTPRequest request;
    request.SendRequest(QStringLiteral("127.0.0.1:%1").arg(port), 80, QStringLiteral("POST"),
                        QStringLiteral("/api/authenticate"), QStringLiteral("HTTP/1.1"), form.PostData(),
                        form.PostHeaders(), 30000, HTTPRequest::AgentName(), nullptr, false);

    ScriptedDialogs scripted;
    setDialogs(&scripted);
    dialogs().ShowRequestError(request, QStringLiteral("Can't authenticate on Tumblr. "));
    QCOMPARE(scripted.shown.size(), 1);
    QCOMPARE(scripted.shown.at(0).icon, DialogServices::Critical);
    QCOMPARE(scripted.shown.at(0).buttons, DialogServices::OkOnly);
    QCOMPARE(scripted.shown.at(0).text,
             QStringLiteral("Can't authenticate on Tumblr. \r\n\r\nThe server refused the connection (127.0.0.1:%1).")
                 .arg(port));
}

void TestDialogs::messageBox_hasProgramTitleAndAnswersRetry()
{
    QString title, text;
    bool hasCancel = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModal<QWidget>([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        hasCancel = box->button(QMessageBox::Cancel) != nullptr;
        box->button(QMessageBox::Retry)->click();
    });
    QMessageBoxDialogs boxes;
    QCOMPARE(boxes.MessageBoxEx(QStringLiteral("Line one\r\n\r\nLine two"), 21), DialogServices::Retry);
    QCOMPARE(title, QStringLiteral("Zelvat - Velloria"));
    QCOMPARE(text, QStringLiteral("Line one\n\nLine two"));
    QCOMPARE(icon, QMessageBox::Critical);
    QVERIFY(hasCancel);
}

void TestDialogs::messageBox_okOnly()
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModal<QWidget>([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        QVERIFY(box);
        icon = box->icon();
        QVERIFY(!box->button(QMessageBox::Cancel));
        box->button(QMessageBox::Ok)->click();
    });
    QMessageBoxDialogs boxes;
    QCOMPARE(boxes.show(DialogServices::Information, DialogServices::OkOnly, QStringLiteral("Ok.")),
             DialogServices::Ok);
    QCOMPARE(icon, QMessageBox::Information);
}

void TestDialogs::proxyDialog_okSavesTheSettings()
{
    AppConfig::openSettings()->remove(QStringLiteral("HTTP Proxy"));
    whenModal<QWidget>([](QWidget *modal) {
        QCOMPARE(modal->objectName(), QStringLiteral("ProxyDialog"));
        auto *type = modal->findChild<QComboBox *>(QStringLiteral("cboType"));
        auto *host = modal->findChild<QLineEdit *>(QStringLiteral("txtHost"));
        QVERIFY(type && host);
        QCOMPARE(type->currentText(), QStringLiteral("No proxy"));
        QVERIFY(!host->isEnabled());
        type->setCurrentIndex(type->findText(QStringLiteral("HTTP")));
        QVERIFY(host->isEnabled());
        host->setText(QStringLiteral("proxy.local"));
        modal->findChild<QSpinBox *>(QStringLiteral("txtPort"))->setValue(3128);
        modal->findChild<QLineEdit *>(QStringLiteral("txtUser"))->setText(QStringLiteral("me"));
        modal->findChild<QLineEdit *>(QStringLiteral("txtPassword"))->setText(QStringLiteral("pässwörd"));
        modal->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    });
    {
        SettingsStore store;
        ShowProxyDialog(nullptr, store);
    }

    HTTPProxySettings settings;
    settings.LoadSettings(SettingsStore());
    QCOMPARE(settings.kind, HTTPProxySettings::Http);
    QCOMPARE(settings.host, QStringLiteral("proxy.local"));
    QCOMPARE(settings.port, 3128);
    QCOMPARE(settings.user, QStringLiteral("me"));
    QCOMPARE(settings.password, QStringLiteral("pässwörd"));
    // The password is in the secret store, not in the settings file; requests get it.
    QVERIFY(!AppConfig::openSettings()->contains(QStringLiteral("HTTP Proxy/Password")));
    QFile file(AppConfig::openSettings()->fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains(QStringLiteral("pässwörd").toUtf8()));
    QCOMPARE(HTTPProxySettings::Loaded(SettingsStore()).toNetworkProxy().password(), QStringLiteral("pässwörd"));
}

void TestDialogs::proxyDialog_cancelKeepsTheSettings()
{
    HTTPProxySettings before;
    before.kind = HTTPProxySettings::Socks5;
    before.host = QStringLiteral("socks.local");
    before.port = 1080;
    SettingsStore store;
    QVERIFY(before.SaveSettings(store));
    whenModal<QWidget>([](QWidget *modal) {
        auto *host = modal->findChild<QLineEdit *>(QStringLiteral("txtHost"));
        QCOMPARE(host->text(), QStringLiteral("socks.local"));
        host->setText(QStringLiteral("changed"));
        modal->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    });
    ShowProxyDialog(nullptr, store);
    HTTPProxySettings after;
    after.LoadSettings(SettingsStore());
    QCOMPARE(after.kind, HTTPProxySettings::Socks5);
    QCOMPARE(after.host, QStringLiteral("socks.local"));
    QCOMPARE(after.port, 1080);
}

void TestDialogs::proxyDialog_earlierSettingsFile_passwordWorksThenMovesAtTheSave()
{
    {
        const auto file = AppConfig::openSettings();
        file->remove(QStringLiteral("HTTP Proxy"));
        file->setValue(QStringLiteral("HTTP Proxy/Type"), QStringLiteral("HTTP"));
        file->setValue(QStringLiteral("HTTP Proxy/Host"), QStringLiteral("old.proxy"));
        file->setValue(QStringLiteral("HTTP Proxy/Port"), QStringLiteral("8080"));
        file->setValue(QStringLiteral("HTTP Proxy/Password"), QStringLiteral("old pässwörd"));
    }
    SettingsStore store;
    // Read from the file until the next save.
    QCOMPARE(HTTPProxySettings::Loaded(store).toNetworkProxy().password(), QStringLiteral("old pässwörd"));
    QString shown;
    whenModal<QWidget>([&shown](QWidget *modal) {
        shown = modal->findChild<QLineEdit *>(QStringLiteral("txtPassword"))->text();
        modal->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    });
    ShowProxyDialog(nullptr, store);
    QCOMPARE(shown, QStringLiteral("old pässwörd"));
    QVERIFY(!AppConfig::openSettings()->contains(QStringLiteral("HTTP Proxy/Password")));
    QCOMPARE(AppConfig::openSettings()->value(QStringLiteral("HTTP Proxy/Host")).toString(), QStringLiteral("old.proxy"));
    QCOMPARE(HTTPProxySettings::Loaded(SettingsStore()).toNetworkProxy().password(), QStringLiteral("old pässwörd"));
}

void TestDialogs::labels_ampersandMarksAShortcut_neverShowsAsText_data()
{
    QTest::addColumn<WindowMaker>("make");

    QTest::newRow("application key dialog")
        << WindowMaker([] { return new ApplicationKeyDialog(QStringLiteral("http://127.0.0.1:47321/callback")); });
    QTest::newRow("proxy dialog") << WindowMaker([] { return new ProxyDialog; });
    QTest::newRow("about box") << WindowMaker([] { return new AboutBox; });
    QTest::newRow("login window") << WindowMaker([] {
        return new frmGroupSelector(sharedTestService().settings(), sharedTestService().service());
    });
}

void TestDialogs::labels_ampersandMarksAShortcut_neverShowsAsText()
{
    QFETCH(WindowMaker, make);
    const std::unique_ptr<QWidget> window(make());
    window->show();
    int shortcuts = 0;
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        QString text = label->text();
        if (label->textFormat() == Qt::RichText || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text)))
            continue;
        text.replace(QStringLiteral("&&"), QString()); // a shown "&"
        if (!text.contains(u'&'))
            continue;
        ++shortcuts;
        // Without a buddy a label shows its "&" as it is.
        QVERIFY2(label->buddy(), qPrintable(label->text()));
    }
    if (qobject_cast<ApplicationKeyDialog *>(window.get())) {
        const auto *redirect = window->findChild<QLabel *>(QStringLiteral("lblRedirect"));
        QVERIFY(redirect);
        QCOMPARE(redirect->buddy(), window->findChild<QWidget *>(QStringLiteral("txtRedirect")));
        QCOMPARE(shortcuts, 3);
    }
}

void TestDialogs::aboutBox_showsTitleVersionAndDedication()
{
    QWidget owner;
    owner.show();
    QStringList texts;
    QString objectName;
    whenModal<QWidget>([&](QWidget *modal) {
        objectName = modal->objectName();
        for (QLabel *label : modal->findChildren<QLabel *>())
            texts.append(label->text());
        modal->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
    });
    ShowAbout(&owner);
    QCOMPARE(objectName, QStringLiteral("AboutBox"));
    QVERIFY(texts.contains(QStringLiteral("Zelvat - Velloria")));
    QVERIFY(texts.contains(QStringLiteral("Version 1.00.0036")));
    QVERIFY(texts.filter(QStringLiteral("Зэнора")).size() == 1);

    // The box is shared: a second call shows it again.
    whenModal<QWidget>([](QWidget *modal) { modal->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click(); });
    ShowAbout(&owner);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

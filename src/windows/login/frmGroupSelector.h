#pragma once
#include <QPointer>
#include <QWidget>

#include "client/login/EMailHistory.h"
#include "client/net/HTTPRequest.h"

struct Account;
struct SignInResult;
class ITumblrService;
class SettingsStore;

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The login window: the account's e-mail address and password, the blog list
// filled by "Get", and "Proceed" into the posts window. It stays for the whole
// run, hidden while the posts window is open; closing it ends the program.
class frmGroupSelector final : public QWidget, public IHTTPRequestCallback
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmGroupSelector)

public:
    frmGroupSelector(SettingsStore &settings, ITumblrService &service, QWidget *parent = nullptr);
    ~frmGroupSelector() override;

    // The running login window, or nullptr.
    static frmGroupSelector *instance();

    // The posts window went away: the blog list gets the focus and this
    // window comes back. Safe to call more than once.
    void postsWindowClosed();

    QWidget *postsWindow() const { return m_postsWindow.data(); }

    void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes, qint64 totalBytes,
                       bool &cancel) override;
    void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) override;

    // The blog list as lines (CR LF between entries) and back.
    static void FillCombo(const QString &listText, QComboBox *combo);
    static QString JoinComboItems(const QComboBox *combo);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Form_Load();
    bool Form_QueryUnload();
    void Form_Unload();
    bool Form_KeyDown(const QKeyEvent *event);

    bool AskApplicationKey();
    void cmdGetGroups_Click();
    void cmdPostsList_Click();
    void cmdEMailHistory_Click();
    void cmdProxy_Click();
    void cmdCancel_Click();

    void ShowSignInResult(const SignInResult &result);
    QWidget *createPostsWindow(const Account &account);
    void UpdateControls();
    void LoadAccountSettings();
    bool SaveAccountSettings(QString *error); // false when the store could not be written

    QLabel *lblTag0 = nullptr;
    QComboBox *cboGroup = nullptr;
    QPushButton *cmdGetGroups = nullptr;
    QLabel *lblTag1 = nullptr;
    QLineEdit *txtEMail = nullptr;
    QLabel *lblTag3 = nullptr;
    QLabel *lblInClear = nullptr; // the warning that the service is reached unencrypted
    QLineEdit *txtPassword = nullptr;
    QPushButton *cmdEMailHistory = nullptr;
    QPushButton *cmdProxy = nullptr;
    QPushButton *cmdPostsList = nullptr;
    QPushButton *cmdCancel = nullptr;

    SettingsStore &m_settings;
    ITumblrService &m_service;
    // The password box is loaded and saved only where the sign-in takes it;
    // known from the start, as the window saves when it goes.
    const bool m_usesPassword;
    EMailHistory History;
    bool Busy = false;
    bool CancelRequested = false;
    bool m_unloaded = false;
    QPointer<QWidget> m_postsWindow;
};

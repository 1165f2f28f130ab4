#include "windows/login/frmGroupSelector.h"

#include "windows/app/AboutBox.h"
#include "windows/app/DialogServices.h"
#include "windows/app/ProxyDialog.h"
#include "windows/app/WindowSupport.h"
#include "windows/app/modMain.h"
#include "windows/app/modSkerrybar.h"
#include "client/app/modSupport.h"
#include "windows/login/ApplicationKeyDialog.h"
#include "windows/login/EMailHistoryMenu.h"
#include "client/login/NamedLock.h"
#include "client/login/SettingsStore.h"
#include "windows/posts/frmPostsList.h"
#include "client/login/SettingKeys.h"
#include "client/service/ITumblrService.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace {
frmGroupSelector *g_instance = nullptr;

// Held for the rest of the run once a blog opened; dropped after a refusal.
std::unique_ptr<NamedLock> g_groupLock;
}

frmGroupSelector::frmGroupSelector(SettingsStore &settings, ITumblrService &service, QWidget *parent)
    : QWidget(parent, Qt::Window), m_settings(settings), m_service(service),
      m_usesPassword(service.capabilities().usesPassword)
{
    g_instance = this;
    setObjectName(QStringLiteral("frmGroupSelector"));
    setWindowTitle(QStringLiteral("Velloria :: Starting"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    setFixedSize(twips(5775), twips(1995));

    auto label = [this](const char *name, const QString &text, const QRect &geometry) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        // Labels size themselves to their text: where Tahoma is missing the
        // substitute font is wider than the design's box.
        l->setGeometry(QRect(geometry.topLeft(), geometry.size().expandedTo(l->sizeHint())));
        return l;
    };
    auto button = [this](const char *name, const QString &text, const QRect &geometry) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        return b;
    };
    auto edit = [this](const char *name, const QRect &geometry) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setGeometry(geometry);
        return e;
    };

    lblTag0 = label("lblTag0", QStringLiteral("Group:"), twipsRect(180, 180, 555, 210));
    cboGroup = new QComboBox(this);
    cboGroup->setObjectName(QStringLiteral("cboGroup"));
    cboGroup->setEditable(false);
    cboGroup->setGeometry(twipsRect(1140, 120, 3915, 330));
    cmdGetGroups = button("cmdGetGroups", QStringLiteral("Get"), twipsRect(5100, 120, 555, 315));
    lblTag1 = label("lblTag1", QStringLiteral("E-Mail:"), twipsRect(180, 585, 510, 210));
    txtEMail = edit("txtEMail", twipsRect(1140, 540, 3915, 315));
    lblTag3 = label("lblTag3", QStringLiteral("Password:"), twipsRect(180, 1005, 825, 210));
    txtPassword = edit("txtPassword", twipsRect(1140, 960, 3915, 315));
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // "*" for each character
    if (!m_service.capabilities().usesPassword)
        txtPassword->setToolTip(QStringLiteral("Not used on the service's current interface: \"Get\" signs you in "
                                               "in your browser."));
    cmdEMailHistory = button("cmdEMailHistory", QStringLiteral("H!"), twipsRect(5100, 540, 555, 315));
    cmdEMailHistory->setToolTip(QStringLiteral(" History "));
    cmdProxy = button("cmdProxy", QStringLiteral("Proxy..."), twipsRect(120, 1440, 1095, 435));
    cmdPostsList = button("cmdPostsList", QStringLiteral("Proceed"), twipsRect(3120, 1440, 1215, 435));
    cmdPostsList->setDefault(true);
    cmdCancel = button("cmdCancel", QStringLiteral("Exit"), twipsRect(4440, 1440, 1215, 435));
    // Between "Proxy..." and "Proceed": said only where the password or the
    // tokens would travel unencrypted (a service named with http://).
    const QString inClear = m_service.capabilities().inClearHost;
    lblInClear = new QLabel(this);
    lblInClear->setObjectName(QStringLiteral("lblInClear"));
    lblInClear->setGeometry(twipsRect(1290, 1440, 1770, 435));
    lblInClear->setWordWrap(true);
    lblInClear->setAlignment(Qt::AlignCenter);
    lblInClear->setText(QStringLiteral("Not encrypted: %1").arg(inClear));
    lblInClear->setToolTip(QStringLiteral("The service is reached over plain http (%1): your e-mail address, "
                                          "password and posts travel unencrypted and can be read on the way. "
                                          "Name it with https:// instead.")
                               .arg(inClear));
    lblInClear->setVisible(!inClear.isEmpty());

    QWidget::setTabOrder(cboGroup, cmdGetGroups);
    QWidget::setTabOrder(cmdGetGroups, txtEMail);
    QWidget::setTabOrder(txtEMail, txtPassword);
    QWidget::setTabOrder(txtPassword, cmdEMailHistory);
    QWidget::setTabOrder(cmdEMailHistory, cmdProxy);
    QWidget::setTabOrder(cmdProxy, cmdPostsList);
    QWidget::setTabOrder(cmdPostsList, cmdCancel);

    // The window sees every key before its controls do.
    for (QWidget *control : {static_cast<QWidget *>(cboGroup), static_cast<QWidget *>(cmdGetGroups),
                             static_cast<QWidget *>(txtEMail), static_cast<QWidget *>(txtPassword),
                             static_cast<QWidget *>(cmdEMailHistory), static_cast<QWidget *>(cmdProxy),
                             static_cast<QWidget *>(cmdPostsList), static_cast<QWidget *>(cmdCancel)})
        control->installEventFilter(this);

    connect(cboGroup, &QComboBox::currentIndexChanged, this, &frmGroupSelector::UpdateControls);
    connect(cboGroup, &QComboBox::currentTextChanged, this, &frmGroupSelector::UpdateControls);
    connect(txtEMail, &QLineEdit::textChanged, this, &frmGroupSelector::UpdateControls);
    connect(txtPassword, &QLineEdit::textChanged, this, &frmGroupSelector::UpdateControls);
    connect(cmdGetGroups, &QPushButton::clicked, this, &frmGroupSelector::cmdGetGroups_Click);
    connect(cmdPostsList, &QPushButton::clicked, this, &frmGroupSelector::cmdPostsList_Click);
    connect(cmdEMailHistory, &QPushButton::clicked, this, &frmGroupSelector::cmdEMailHistory_Click);
    connect(cmdProxy, &QPushButton::clicked, this, &frmGroupSelector::cmdProxy_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmGroupSelector::cmdCancel_Click);

    Form_Load();
}

frmGroupSelector::~frmGroupSelector()
{
    // Deleted without having been closed (a test, or the end of the run).
    if (!m_unloaded)
        Form_Unload();
    if (g_instance == this)
        g_instance = nullptr;
}

frmGroupSelector *frmGroupSelector::instance() { return g_instance; }

void frmGroupSelector::Form_Load()
{
    modSupport::CenterFormEx(this);
    if (!modSupport::IsInIDE())
        modSupport::SetWindowResIconAll(this, QStringLiteral("A_MAIN"));
    modSkerrybar::ToolbarMarkForm(this);
    LoadAccountSettings();
    UpdateControls();
    History.Init(QStringLiteral("E-Mail History.DAT"));
    History.Load();
}

bool frmGroupSelector::Form_QueryUnload()
{
    if (Busy) {
        CancelRequested = true;
        return false;
    }
    return true;
}

void frmGroupSelector::Form_Unload()
{
    m_unloaded = true;
    QString historyError;
    const bool historySaved = History.Save(&historyError);
    modSkerrybar::ToolbarUnMarkForm(this);
    QString settingsError;
    const bool settingsSaved = SaveAccountSettings(&settingsError);

    // Losing the account or the history silently would be worse than a box at exit.
    if (!historySaved)
        dialogs().critical(QStringLiteral("Can't save the e-mail history.") + QStringLiteral("\r\n\r\n")
                           + historyError);
    if (!settingsSaved)
        dialogs().critical(QStringLiteral("Can't save the account settings.") + QStringLiteral("\r\n\r\n")
                           + settingsError);
}

void frmGroupSelector::closeEvent(QCloseEvent *event)
{
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    if (!m_unloaded)
        Form_Unload();
    event->accept();
}

void frmGroupSelector::keyPressEvent(QKeyEvent *event)
{
    if (!Form_KeyDown(event))
        QWidget::keyPressEvent(event);
}

bool frmGroupSelector::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        // Keys of this window's own controls only: the posts window is watched
        // too, and its keys (Esc stopping a run) are its own.
        if (watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this
            && Form_KeyDown(static_cast<QKeyEvent *>(event)))
            return true;
        break;
    case QEvent::FocusIn:
        if (watched == txtEMail || watched == txtPassword || watched == cboGroup) {
            auto *control = static_cast<QWidget *>(watched);
            modSupport::HighlightText(control);
            // A mouse click places the cursor after the focus arrives; select again once it has.
            QTimer::singleShot(0, control, [control] {
                if (control->hasFocus())
                    modSupport::HighlightText(control);
            });
        }
        break;
    case QEvent::Hide:
        // The posts window closing: come back before the program counts its windows.
        if (watched == m_postsWindow && !event->spontaneous())
            postsWindowClosed();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// True when the key was the window's own.
bool frmGroupSelector::Form_KeyDown(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    switch (event->key()) {
    case Qt::Key_F1:
        if (modifiers == Qt::ShiftModifier && !Busy)
            ShowAbout(this);
        return true;
    case Qt::Key_Escape:
        if (modifiers == Qt::NoModifier) {
            close();
            return true;
        }
        return false;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // "Proceed" is the default button; a focused button takes Enter itself.
        if (modifiers == Qt::NoModifier || modifiers == Qt::KeypadModifier) {
            auto *focused = qobject_cast<QPushButton *>(focusWidget());
            QPushButton *target = focused ? focused : cmdPostsList;
            if (target->isEnabled())
                target->click();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void frmGroupSelector::UpdateControls()
{
    // Where the browser signs in, the password box has no part.
    const bool passwordNeeded = m_service.capabilities().usesPassword;
    const bool passwordGiven = !passwordNeeded || !txtPassword->text().isEmpty();
    cboGroup->setEnabled(!Busy);
    cmdGetGroups->setEnabled(!Busy && !txtEMail->text().isEmpty() && passwordGiven);
    txtEMail->setEnabled(!Busy);
    txtPassword->setEnabled(!Busy && passwordNeeded);
    cmdProxy->setEnabled(!Busy);
    cmdPostsList->setEnabled(!Busy && !cboGroup->currentText().isEmpty() && !txtEMail->text().isEmpty()
                             && passwordGiven);
    cmdEMailHistory->setEnabled(!Busy);
    cmdCancel->setEnabled(true);
    cmdCancel->setText(Busy ? QStringLiteral("Cancel") : QStringLiteral("Exit"));
}

void frmGroupSelector::cmdCancel_Click()
{
    if (Busy)
        CancelRequested = true;
    else
        close();
}

void frmGroupSelector::cmdProxy_Click() { ShowProxyDialog(this, m_settings); }

void frmGroupSelector::cmdEMailHistory_Click() { ShowHistory(History, txtEMail); }

bool frmGroupSelector::AskApplicationKey()
{
    ApplicationKeyDialog dialog(m_service.redirectUrl(), this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QString error;
    if (!m_service.setApplicationKey(dialog.consumerKey(), dialog.secret(), &error)) {
        dialogs().critical(QStringLiteral("Can't keep the application key.") + QStringLiteral("\r\n\r\n") + error);
        return false;
    }
    return true;
}

void frmGroupSelector::cmdGetGroups_Click()
{
    // The current interface signs in with an application key of the user's own.
    if (m_service.needsApplicationKey() && !AskApplicationKey())
        return;
    History.AddEMail(txtEMail->text());
    Busy = true;
    CancelRequested = false;
    UpdateControls();

    ShowSignInResult(m_service.signIn(txtEMail->text(), txtPassword->text(), this));

    Busy = false;
    UpdateControls();
    cboGroup->setFocus();
}

void frmGroupSelector::ShowSignInResult(const SignInResult &result)
{
    switch (result.outcome) {
    case ServiceResult::Accepted:
        if (result.blogList)
            FillCombo(*result.blogList, cboGroup);
        break;
    case ServiceResult::Failed:
    case ServiceResult::Stopped:
        dialogs().ShowRequestError(QStringLiteral("Can't authenicate on Tumblr."), result.errorText);
        break;
    case ServiceResult::Refused:
        dialogs().ShowRequestError(QStringLiteral("Can't authenticate on Tumblr. ") + result.serverMessage,
                                   result.errorText);
        break;
    case ServiceResult::BadAnswer:
    case ServiceResult::Unreadable:
        dialogs().critical(QStringLiteral("XML from Tumblr recieved but it contains invalid data."));
        break;
    }
}

void frmGroupSelector::FillCombo(const QString &listText, QComboBox *combo)
{
    combo->clear();
    const QStringList pieces = listText.split(QStringLiteral("\r\n"));
    for (const QString &piece : pieces) {
        const QString entry = modSupport::TrimEx(piece);
        if (!entry.isEmpty())
            combo->addItem(entry);
    }
    if (combo->count() > 0)
        combo->setCurrentIndex(0);
}

QString frmGroupSelector::JoinComboItems(const QComboBox *combo)
{
    QString text;
    for (int i = 0; i < combo->count(); ++i)
        text += modSupport::TrimEx(combo->itemText(i)) + QStringLiteral("\r\n");
    return modSupport::TrimCRLF(text);
}

void frmGroupSelector::LoadAccountSettings()
{
    const SettingsStore &store = m_settings;
    WindowPlacement::LoadFormPlacement(store, this, SettingKeys::name(Setting::WindowPlacement));
    txtEMail->setText(SettingKeys::text(store, Setting::EMail));
    // From the secret store (or a settings file of an earlier version, until
    // the next save moves it); where the browser signs in it is not asked.
    if (m_usesPassword)
        txtPassword->setText(SettingKeys::text(store, Setting::Password));
    FillCombo(SettingKeys::text(store, Setting::Groups), cboGroup);
    if (cboGroup->count() > 0) {
        const QString last = SettingKeys::text(store, Setting::LastGroup);
        if (last.isEmpty()) {
            cboGroup->setCurrentIndex(0);
        } else {
            // Exact text, letter case ignored (the list box's own search).
            const int found = cboGroup->findText(last, Qt::MatchFixedString);
            if (found >= 0)
                cboGroup->setCurrentIndex(found);
        }
    }
}

bool frmGroupSelector::SaveAccountSettings(QString *error)
{
    SettingsStore &store = m_settings;
    WindowPlacement::SaveFormPlacement(store, this, SettingKeys::name(Setting::WindowPlacement));
    SettingKeys::set(store, Setting::EMail, txtEMail->text());
    if (m_usesPassword)
        SettingKeys::set(store, Setting::Password, txtPassword->text());
    SettingKeys::set(store, Setting::Groups, JoinComboItems(cboGroup));
    SettingKeys::set(store, Setting::LastGroup, cboGroup->currentText());
    return store.flush(error);
}

void frmGroupSelector::cmdPostsList_Click()
{
    Account account;
    account.groupName = modMain::ExtractGroupName(cboGroup->currentText());

    if (!g_groupLock)
        g_groupLock = std::make_unique<NamedLock>();
    QString lockError;
    if (!g_groupLock->Acquire(NamedLock::BlogName(account.groupName), &lockError)) {
        if (!lockError.isEmpty())
            dialogs().critical(QStringLiteral("Can't open this group.") + QStringLiteral("\r\n\r\n") + lockError);
        else
            dialogs().exclamation(QStringLiteral("Can't open this group because it was already opened by another "
                                                 "instance. Switch to that instance of program and use it."));
        g_groupLock.reset();
        return;
    }

    account.email = txtEMail->text();
    account.password = txtPassword->text();
    History.AddEMail(txtEMail->text());

    if (!m_postsWindow) {
        QWidget *posts = createPostsWindow(account);
        if (!posts)
            return;
        posts->setAttribute(Qt::WA_DeleteOnClose);
        // Whatever way the posts window goes, this window comes back.
        posts->installEventFilter(this);
        connect(posts, &QObject::destroyed, this, &frmGroupSelector::postsWindowClosed);
        m_postsWindow = posts;
    }
    m_postsWindow->show();
    m_postsWindow->activateWindow();
    hide();
}

QWidget *frmGroupSelector::createPostsWindow(const Account &account)
{
    if (QWidget *standIn = modMain::createPostsWindowStandIn(account))
        return standIn;
    // Modeless and without an owner, like this window.
    auto *posts = new frmPostsList(m_settings, m_service, account);
    connect(posts, &frmPostsList::closed, this, &frmGroupSelector::postsWindowClosed);
    return posts;
}

void frmGroupSelector::postsWindowClosed()
{
    show();
    cboGroup->setFocus();
    activateWindow();
}

void frmGroupSelector::BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &cancel)
{
    if (CancelRequested)
        cancel = true;
    else
        QCoreApplication::processEvents();
}

void frmGroupSelector::BlockSent(const QByteArray &, qint64, qint64, bool &cancel)
{
    if (CancelRequested)
        cancel = true;
    else
        QCoreApplication::processEvents();
}

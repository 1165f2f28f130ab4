#include "windows/login/ApplicationKeyDialog.h"

#include "client/app/AppInfo.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ApplicationKeyDialog::ApplicationKeyDialog(const QString &redirectUrl, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ApplicationKeyDialog"));
    setWindowTitle(QStringLiteral("Application key - %1").arg(QString::fromUtf8(AppInfo::Title)));

    auto *intro = new QLabel(
        QStringLiteral("Signing in on the service's current interface takes an application of your own. "
                       "Register one at <a href=\"https://www.tumblr.com/oauth/apps\">"
                       "https://www.tumblr.com/oauth/apps</a>, give it the redirect URL below "
                       "exactly, then enter its OAuth consumer key and secret here."),
        this);
    intro->setObjectName(QStringLiteral("lblIntro"));
    intro->setWordWrap(true);
    intro->setOpenExternalLinks(true);

    m_txtRedirect = new QLineEdit(redirectUrl, this);
    m_txtRedirect->setObjectName(QStringLiteral("txtRedirect"));
    m_txtRedirect->setReadOnly(true);
    m_cmdCopy = new QPushButton(QStringLiteral("&Copy"), this);
    m_cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    m_cmdCopy->setAutoDefault(false);
    auto *redirectRow = new QHBoxLayout;
    redirectRow->addWidget(m_txtRedirect, 1);
    redirectRow->addWidget(m_cmdCopy);

    m_txtConsumerKey = new QLineEdit(this);
    m_txtConsumerKey->setObjectName(QStringLiteral("txtConsumerKey"));
    m_txtSecret = new QLineEdit(this);
    m_txtSecret->setObjectName(QStringLiteral("txtSecret"));
    m_txtSecret->setEchoMode(QLineEdit::Password);

    auto *form = new QFormLayout;
    // A row of a layout gets no buddy by itself: without one the "&" would show.
    auto *redirectLabel = new QLabel(QStringLiteral("&Redirect URL:"), this);
    redirectLabel->setObjectName(QStringLiteral("lblRedirect"));
    redirectLabel->setBuddy(m_txtRedirect);
    form->addRow(redirectLabel, redirectRow);
    form->addRow(QStringLiteral("Consumer &key:"), m_txtConsumerKey);
    form->addRow(QStringLiteral("&Secret:"), m_txtSecret);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_cmdOK = buttons->button(QDialogButtonBox::Ok);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(460);

    connect(m_cmdCopy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_txtRedirect->text()); });
    connect(m_txtConsumerKey, &QLineEdit::textChanged, this, &ApplicationKeyDialog::UpdateControls);
    connect(m_txtSecret, &QLineEdit::textChanged, this, &ApplicationKeyDialog::UpdateControls);
    m_txtConsumerKey->setFocus();
    UpdateControls();
}

QString ApplicationKeyDialog::consumerKey() const { return m_txtConsumerKey->text().trimmed(); }

QString ApplicationKeyDialog::secret() const { return m_txtSecret->text().trimmed(); }

void ApplicationKeyDialog::UpdateControls()
{
    m_cmdOK->setEnabled(!consumerKey().isEmpty() && !secret().isEmpty());
}

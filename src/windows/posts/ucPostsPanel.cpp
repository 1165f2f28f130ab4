#include "windows/posts/ucPostsPanel.h"

#include "windows/app/WindowSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>

#include "windows/posts/IPostsList.h"
#include "client/service/IResultIndicator.h"
#include "client/service/ITumblrService.h"

#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "client/app/modSupport.h"

ucPostsPanel::ucPostsPanel(ITumblrService &service, IPostsList &window, QWidget *parent)
    : QWidget(parent), m_service(service), m_window(window), m_lblStatus(new QLabel(this)),
      m_pacer(parent ? parent->window() : nullptr)
{
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setGeometry(twips(180), twips(180), twips(4815), twips(435));
    m_lblStatus->setAlignment(Qt::AlignCenter);
    m_lblStatus->setText(QStringLiteral("Initializing..."));
    setAutoFillBackground(true);
    resize(twips(5175), twips(795));
}

QString ucPostsPanel::statusText() const { return m_lblStatus->text(); }

void ucPostsPanel::StopIt()
{
    if (m_online)
        m_stopRequested = true;
}

void ucPostsPanel::BlockReceived(const QByteArray &, bool &, qint64 receivedBytes, qint64 totalBytes, bool &cancel)
{
    ShowProgress(receivedBytes, totalBytes);
    letEventsRun();
    if (m_stopRequested)
        cancel = true;
}

void ucPostsPanel::BlockSent(const QByteArray &, qint64, qint64, bool &cancel)
{
    letEventsRun();
    if (m_stopRequested)
        cancel = true;
}

void ucPostsPanel::WaitStarted(int)
{
    // A request the service asked to repeat later counts as one refused.
    resultIndicator().setResultColor(IResultIndicator::Yellow);
    resultIndicator().countFailure();
}

void ucPostsPanel::Waiting(int secondsLeft, bool &cancel)
{
    showStatus(QStringLiteral("Waiting %1 s").arg(secondsLeft));
    if (m_stopRequested)
        cancel = true;
}

PostsModel &ucPostsPanel::posts() { return m_window.posts(); }

IResultIndicator &ucPostsPanel::resultIndicator() { return m_window.resultIndicator(); }

void ucPostsPanel::DrawControls() { m_window.DrawControls(); }

void ucPostsPanel::selectAndShowRow(int row) { m_window.selectAndShowRow(row); }

void ucPostsPanel::showFailure(const QString &message) { dialogs().critical(message); }

bool ucPostsPanel::askRetry(const QString &message)
{
    return dialogs().MessageBoxEx(message, 21) == DialogServices::Retry;
}

void ucPostsPanel::goOnline()
{
    m_online = true;
    m_stopRequested = false;
    m_pacer.start();
    letEventsRun();
}

void ucPostsPanel::goOffline()
{
    m_online = false;
    m_stopRequested = false;
    m_pacer.stop();
}

void ucPostsPanel::ShowProgress(qint64 receivedBytes, qint64 totalBytes)
{
    showStatus(modSupport::FormatByteSizeEx(double(receivedBytes)) + QStringLiteral(" / ")
               + modSupport::FormatByteSizeEx(double(totalBytes)));
}

void ucPostsPanel::showStatus(const QString &secondLine)
{
    // Where the service counts calls, what is left of them goes with the number.
    const QString limits = m_service.limitsText();
    m_lblStatus->setText(progressWord() + QString::number(progressNumber())
                         + (limits.isEmpty() ? QString() : QStringLiteral(" \u00B7 ") + limits) + QStringLiteral("\r\n")
                         + secondLine);
}

void ucPostsPanel::letEventsRun()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ucPostsPanel::showEvent(QShowEvent *event)
{
    m_lblStatus->setText(QStringLiteral("Initializing..."));
    QWidget::showEvent(event);
}

void ucPostsPanel::resizeEvent(QResizeEvent *event)
{
    // The panel keeps its design size whatever its container gives it.
    const QSize design(twips(5175), twips(795));
    if (size() != design)
        resize(design);
    QWidget::resizeEvent(event);
}

void ucPostsPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    modMain::DrawPanelFrame(this, painter);
}

bool ucPostsPanel::accountComplete(const Account &account)
{
    return !account.groupName.isEmpty() && !account.email.isEmpty()
           && (!m_service.usesPassword() || !account.password.isEmpty());
}

#include "windows/posts/ucPostsPanel.h"

#include "windows/app/WindowSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPainter>

#include <QDir>
#include <QLocale>

#include "windows/posts/IPostsList.h"
#include "windows/posts/IResultIndicator.h"
#include "client/posts/PostsModel.h"
#include "client/runs/RunAccount.h"
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
    m_budgetWait = BudgetWait::None;
    const QString idle = idleLine();
    if (idle.isEmpty())
        ShowProgress(receivedBytes, totalBytes);
    else
        showStatus(idle);
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

void ucPostsPanel::BudgetWaitStarted(int, bool day)
{
    // Not a refusal: the run keeps within what the service allows.
    m_budgetWait = day ? BudgetWait::Day : BudgetWait::Hour;
}

void ucPostsPanel::WaitStarted(int)
{
    m_budgetWait = BudgetWait::None;
    // A request the service asked to repeat later counts as one refused.
    resultIndicator().setResultColor(IResultIndicator::Yellow);
    resultIndicator().countFailure();
}

void ucPostsPanel::Waiting(int secondsLeft, bool &cancel)
{
    if (m_budgetWait == BudgetWait::None)
        showStatus(QStringLiteral("Waiting %1 s").arg(secondsLeft));
    else
        showStatus(QStringLiteral("Waiting for %1's calls: %2 left")
                       .arg(m_budgetWait == BudgetWait::Day ? QStringLiteral("tomorrow") : QStringLiteral("the next hour"),
                            countdownText(secondsLeft)));
    if (m_stopRequested)
        cancel = true;
}

PostsModel &ucPostsPanel::posts() { return m_window.posts(); }

QString ucPostsPanel::countdownText(int seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60, 2, 10, QLatin1Char('0'));
}

QString ucPostsPanel::FirstWriteText(const WriteCheck &check)
{
    const auto tags = [](const QStringList &list) {
        return list.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("\"") + list.join(QStringLiteral("\", \"")) + u'"';
    };
    QString verdict = check.changed.isEmpty()
        ? QStringLiteral("Read back: every other member of the post (%1) is as it was.").arg(check.membersCompared)
        : QStringLiteral("Read back: these members changed: %1.").arg(check.changed.join(QStringLiteral(", ")));
    return QStringLiteral("The first post of this blog was written and read back:\r\n%1 \"%2\" (post %3)\r\n\r\n"
                          "Tags before: %4\r\nTags after: %5\r\n\r\n%6\r\n\r\nContinue with the other posts?")
        .arg(check.post.date, check.post.caption, check.post.id, tags(check.tagsBefore), tags(check.tagsAfter), verdict);
}

bool ucPostsPanel::firstWriteChecked(const WriteCheck &check)
{
    if (!m_showFirstWrite)
        return true;
    return dialogs().askContinue(FirstWriteText(check));
}

IResultIndicator &ucPostsPanel::resultIndicator() { return m_window.resultIndicator(); }

void ucPostsPanel::stepSucceeded() { resultIndicator().setResultColor(IResultIndicator::Green); }

void ucPostsPanel::rowsAdded(int) { m_window.DrawControls(); }

void ucPostsPanel::rowWritten(int row)
{
    const int left = posts().count();
    if (left > 0)
        m_window.selectAndShowRow(qMin(row, left - 1));
    m_window.DrawControls();
}

bool ucPostsPanel::askRetry(const RunProblem &problem)
{
    QString message;
    switch (problem.kind) {
    case RunProblem::PageUnreadable:
        resultIndicator().setResultColor(IResultIndicator::Red);
        message = QStringLiteral("Error parse received XML. Try download it again?\r\n\r\n") + problem.text;
        break;
    case RunProblem::WriteRefused:
        resultIndicator().setResultColor(IResultIndicator::Yellow);
        resultIndicator().countFailure();
        message = QStringLiteral("Can't send post. ") + problem.serverMessage + QStringLiteral("\r\n\r\n")
                  + problem.text;
        break;
    default: // a read that failed
        resultIndicator().setResultColor(IResultIndicator::Yellow);
        resultIndicator().countFailure();
        if (!problem.postId.isEmpty()) {
            message = QStringLiteral("Can't read post ") + problem.postId + QStringLiteral(".\r\n\r\n") + problem.text;
        } else {
            message = QStringLiteral("Can't download blog's XML file.\r\n\r\n") + problem.text;
            if (!problem.serverMessage.isEmpty())
                message += QStringLiteral("\r\n") + problem.serverMessage;
        }
        break;
    }
    return dialogs().MessageBoxEx(message, 21) == DialogServices::Retry;
}

void ucPostsPanel::showProblem(const RunProblem &problem)
{
    const auto journalText = [&problem] {
        return QDir::toNativeSeparators(problem.path) + QStringLiteral("\r\n") + problem.text;
    };
    IResultIndicator &indicator = resultIndicator();
    switch (problem.kind) {
    case RunProblem::None:
    case RunProblem::ReadFailed:
    case RunProblem::PageUnreadable:
    case RunProblem::WriteRefused:
        break;
    case RunProblem::AnswerUnusable:
        if (!problem.text.isEmpty())
            dialogs().critical(problem.text);
        break;
    case RunProblem::WriteFailed:
        dialogs().ShowRequestError(QStringLiteral("Can't send post."), problem.text);
        break;
    case RunProblem::JournalUnwritable:
        indicator.setResultColor(IResultIndicator::Red);
        dialogs().critical(QStringLiteral("Can't start: the journal of this blog can't be written, so the run could not "
                                          "be undone. Nothing was sent.\r\n\r\n")
                           + journalText());
        break;
    case RunProblem::JournalFailed:
        dialogs().critical(QStringLiteral("Can't write the journal of this blog, so the run stops here.\r\n\r\n")
                           + journalText());
        break;
    case RunProblem::MissingId:
        indicator.setResultColor(IResultIndicator::Red);
        dialogs().critical(MissingIdText(problem.post));
        break;
    case RunProblem::BudgetSpent:
        indicator.setResultColor(IResultIndicator::Red);
        dialogs().exclamation(
            QStringLiteral("The service allows only %1 more calls today, fewer than one post takes (%2): the run "
                           "pauses here, before the day's limit runs out. The rows left stay listed; press "
                           "\"Fix posts\" again tomorrow.")
                .arg(problem.callsLeft)
                .arg(problem.callsNeeded));
        break;
    }
}

QString ucPostsPanel::MissingIdText(const PostRow &row)
{
    return QStringLiteral("Can't send post. The post of ") + row.date + QStringLiteral(" \"") + row.caption
           + QStringLiteral("\" has no post id: writing it would add a new post instead of fixing this one. "
                            "The row stays in the list.");
}

void ucPostsPanel::finished(const RunReport &report)
{
    m_lastReport = report;
    if (report.withoutId > 0)
        dialogs().critical(QStringLiteral("%1 photo posts came without an id and were left out.").arg(report.withoutId));
    showProblem(report.problem);
    if (report.outcome == RunReport::Stopped && report.unchecked > 0)
        dialogs().information(QStringLiteral("The run stopped before the last %1 posts it wrote were read back to "
                                             "check them; the journal holds what they were before.")
                                  .arg(report.unchecked));
    if (report.outcome != RunReport::Done) {
        resultIndicator().setResultColor(IResultIndicator::Red);
        return;
    }
    if (!report.leftOut.isEmpty()) {
        QStringList lines;
        int count = 0;
        for (auto it = report.leftOut.cbegin(); it != report.leftOut.cend(); ++it) {
            lines << QStringLiteral("%1: %2").arg(it.value()).arg(it.key());
            count += it.value();
        }
        dialogs().information(QStringLiteral("%1 posts were left in the list, not written:\r\n").arg(count)
                              + lines.join(QStringLiteral("\r\n")));
    }
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
    const QString limits = limitsText();
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

bool ucPostsPanel::accountComplete(const Account &account) const
{
    return ::accountComplete(account, m_service.capabilities());
}

QString ucPostsPanel::limitsText() const
{
    const CallBudget budget = m_service.budget();
    if (!budget.hourLeft && !budget.dayLeft)
        return {};
    const auto number = [](const std::optional<int> &left) {
        return left ? QLocale::system().toString(*left) : QStringLiteral("?");
    };
    return QStringLiteral("calls left: %1 this hour, %2 today").arg(number(budget.hourLeft), number(budget.dayLeft));
}

#include "cli/ConsoleObserver.h"

#include <QDir>
#include <QLocale>
#include <QStringList>
#include <algorithm>

#include <cstdio>

#include "cli/StopSignals.h"
#include "cli/TerminalInput.h"
#include "client/posts/PostsModel.h"
#include "client/service/ITumblrService.h"

namespace {
constexpr int BarWidth = 24;
constexpr qint64 RedrawMs = 100; // at most ten redraws a second

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(u'\n', u' ').replace(u'\r', u' ');
    return text.simplified();
}

QString duration(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60);
    if (seconds >= 60)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 s").arg(seconds);
}
}

ConsoleObserver::ConsoleObserver(const ITumblrService &service, Style style) : m_service(service), m_style(style) {}

ConsoleObserver::Style ConsoleObserver::styleForStderr()
{
    const QByteArray term = qgetenv("TERM");
    return TerminalInput::stderrIsTerminal() && term != "dumb" ? Style::Bar : Style::Lines;
}

void ConsoleObserver::startDownload(const QString &blog)
{
    m_mode = Mode::Download;
    m_blog = blog;
    m_listed = 0;
    m_requestNumber = 0;
    m_leftOut.clear();
    m_sinceFirst.invalidate();
    line(QStringLiteral("Reading the photo posts of %1").arg(blog));
}

void ConsoleObserver::startFix(const QString &blog, const PostsModel &rows)
{
    m_mode = Mode::Fix;
    m_blog = blog;
    m_done = 0;
    m_rows.clear();
    for (int i = 0; i < rows.count(); ++i)
        m_rows.push_back(rows.at(i));
    m_total = rows.count();
    m_sinceFirst.invalidate();
    line(QStringLiteral("Fixing %1 posts of %2").arg(m_total).arg(blog));
}

void ConsoleObserver::startUndo(const QString &blog, int total)
{
    m_mode = Mode::Undo;
    m_blog = blog;
    m_done = 0;
    m_total = total;
    m_sinceFirst.invalidate();
    line(QStringLiteral("Putting back %1 posts of %2").arg(total).arg(blog));
}

void ConsoleObserver::endStatus()
{
    if (m_style == Style::Bar && m_statusShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    m_statusShown = false;
}

void ConsoleObserver::line(const QString &text)
{
    endStatus();
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    draw(true);
}

QString ConsoleObserver::statusText() const
{
    QStringList parts;
    switch (m_mode) {
    case Mode::Idle:
        return {};
    case Mode::Download:
        parts << QStringLiteral("Reading %1: request %2, %3 posts to fix")
                     .arg(m_blog)
                     .arg(std::max(1L, m_requestNumber))
                     .arg(m_listed);
        break;
    case Mode::Fix:
    case Mode::Undo: {
        const int filled = m_total > 0 ? int(qint64(BarWidth) * m_done / m_total) : BarWidth;
        parts << QStringLiteral("[%1%2] %3/%4")
                     .arg(QString(filled, u'#'), QString(BarWidth - filled, u'-'))
                     .arg(m_done)
                     .arg(m_total);
        // The rate from the first post done on: the first goes out at once, the pace counts after it.
        if (m_done >= 2 && m_sinceFirst.isValid() && m_sinceFirst.elapsed() > 0) {
            const double perMinute = (m_done - 1) * 60000.0 / double(m_sinceFirst.elapsed());
            const int pace = m_service.capabilities().writesPerMinute;
            const double leftRate = pace > 0 ? std::min(perMinute, double(pace)) : perMinute;
            parts << QStringLiteral("%1/min").arg(QLocale::c().toString(perMinute, 'f', 1));
            parts << duration(qint64((m_total - m_done) * 60.0 / leftRate)) + QStringLiteral(" left");
        }
        break;
    }
    }
    if (m_waitLeft >= 0)
        parts << (!m_budgetWait.isEmpty()
                      ? QStringLiteral("waiting %1 for the service's calls (this %2's are spent)").arg(duration(m_waitLeft), m_budgetWait)
                  : m_serviceWait ? QStringLiteral("the service asks to wait: %1").arg(duration(m_waitLeft))
                                  : QStringLiteral("waiting %1 (pace)").arg(duration(m_waitLeft)));
    const CallBudget budget = m_service.budget();
    if (budget.hourLeft || budget.dayLeft) {
        const auto number = [](const std::optional<int> &left) {
            return left ? QString::number(*left) : QStringLiteral("?");
        };
        parts << QStringLiteral("calls left: %1 this hour, %2 today").arg(number(budget.hourLeft), number(budget.dayLeft));
    }
    return parts.join(QStringLiteral(" \u00B7 "));
}

void ConsoleObserver::draw(bool now)
{
    if (m_style != Style::Bar || m_mode == Mode::Idle)
        return;
    if (!now && m_sinceDraw.isValid() && m_sinceDraw.elapsed() < RedrawMs)
        return;
    const QString text = statusText();
    if (m_statusShown && text == m_shownText)
        return;
    m_sinceDraw.start();
    m_shownText = text;
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
    m_statusShown = true;
}

void ConsoleObserver::BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &cancel)
{
    draw();
    if (stopRequested())
        cancel = true;
}

void ConsoleObserver::BlockSent(const QByteArray &, qint64, qint64, bool &cancel)
{
    m_waitLeft = -1;
    draw();
    if (stopRequested())
        cancel = true;
}

void ConsoleObserver::BudgetWaitStarted(int seconds, bool day)
{
    m_serviceWait = true;
    m_budgetWait = day ? QStringLiteral("day") : QStringLiteral("hour");
    m_waitLeft = seconds;
    if (m_style == Style::Lines)
        line(QStringLiteral("Waiting %1 for the service's calls: this %2's are spent").arg(duration(seconds), m_budgetWait));
    draw(true);
}

bool ConsoleObserver::firstWriteChecked(const WriteCheck &check)
{
    line(QStringLiteral("First post written and read back: %1 \"%2\" (post %3), tags \"%4\" -> \"%5\"; %6")
             .arg(check.post.date, check.post.caption, check.post.id, check.tagsBefore.join(QStringLiteral(", ")),
                  check.tagsAfter.join(QStringLiteral(", ")),
                  check.changed.isEmpty() ? QStringLiteral("every other member as it was")
                                          : QStringLiteral("changed: ") + check.changed.join(QStringLiteral(", "))));
    return true;
}

void ConsoleObserver::WaitStarted(int seconds)
{
    m_budgetWait.clear();
    m_serviceWait = true;
    m_waitLeft = seconds;
    if (m_style == Style::Lines)
        line(QStringLiteral("The service asks to wait %1 before the request is made again").arg(duration(seconds)));
    draw(true);
}

void ConsoleObserver::Waiting(int secondsLeft, bool &cancel)
{
    if (m_waitLeft < 0) {
        // Not announced by WaitStarted: the pace's gap between two writes.
        m_serviceWait = false;
        if (m_style == Style::Lines)
            line(QStringLiteral("Waiting %1 (pace)").arg(duration(secondsLeft)));
    }
    m_waitLeft = secondsLeft;
    draw();
    if (stopRequested())
        cancel = true;
}

void ConsoleObserver::stepSucceeded()
{
    m_waitLeft = -1;
    m_budgetWait.clear();
}

void ConsoleObserver::progress(long requestNumber)
{
    m_requestNumber = requestNumber;
    if (m_mode == Mode::Undo) {
        m_done = int(std::max(0L, requestNumber - 1));
        if (m_done == 1)
            m_sinceFirst.start();
    }
    draw();
}

void ConsoleObserver::rowsAdded(int count)
{
    m_listed += count;
    if (m_style == Style::Lines)
        line(QStringLiteral("Read %1: %2 posts to fix so far").arg(m_requestNumber - 1).arg(m_listed));
    draw();
}

void ConsoleObserver::rowWritten(int row)
{
    if (++m_done == 1)
        m_sinceFirst.start();
    m_waitLeft = -1;
    PostRow post;
    if (row >= 0 && size_t(row) < m_rows.size()) {
        post = m_rows[size_t(row)];
        m_rows.erase(m_rows.begin() + row);
    }
    if (m_style == Style::Lines)
        line(QStringLiteral("Wrote post %1 \"%2\" (%3/%4)").arg(post.id, oneLine(post.caption)).arg(m_done).arg(m_total));
    draw(true);
}

bool ConsoleObserver::askRetry(const RunProblem &problem)
{
    line(QStringLiteral("velloria-cli: ") + problemText(problem));
    // Only someone at the terminal is asked; a script's run stops here.
    if (stopRequested() || !TerminalInput::stdinIsTerminal() || !TerminalInput::stderrIsTerminal())
        return false;
    endStatus();
    const std::optional<QString> answer = TerminalInput::ask(QStringLiteral("Try again? [y/N] "), false);
    const bool retry = answer && answer->trimmed().toLower().startsWith(u'y');
    draw(true);
    return retry;
}

bool ConsoleObserver::stopRequested() const { return StopSignals::requested(); }

void ConsoleObserver::finished(const RunReport &report)
{
    m_report = report;
    m_waitLeft = -1;
    endStatus();
    m_mode = Mode::Idle;
}

void ConsoleObserver::postLeftOut(const PostRow &post, const QString &reason) { m_leftOut.push_back({post, reason}); }

QString ConsoleObserver::problemText(const RunProblem &problem)
{
    const QString journal = QDir::toNativeSeparators(problem.path) + QStringLiteral(": ") + oneLine(problem.text);
    switch (problem.kind) {
    case RunProblem::None:
        return {};
    case RunProblem::ReadFailed:
        if (!problem.postId.isEmpty())
            return QStringLiteral("can't read post %1: %2").arg(problem.postId, oneLine(problem.text));
        return oneLine(QStringLiteral("can't read the blog's posts: ") + problem.text + u' ' + problem.serverMessage);
    case RunProblem::PageUnreadable:
        return QStringLiteral("a page of posts came but can't be read: ") + oneLine(problem.text);
    case RunProblem::WriteRefused:
        return oneLine(QStringLiteral("the service refused post %1: %2 %3")
                           .arg(problem.postId, problem.serverMessage, problem.text));
    case RunProblem::AnswerUnusable:
        return oneLine(problem.text.isEmpty() ? QStringLiteral("the service's answer can't be used") : problem.text);
    case RunProblem::WriteFailed:
        return QStringLiteral("can't send post %1: %2").arg(problem.postId, oneLine(problem.text));
    case RunProblem::JournalUnwritable:
        return QStringLiteral("can't start: the journal of this blog can't be written, so the run could not be "
                              "undone; nothing was sent. ")
               + journal;
    case RunProblem::JournalFailed:
        return QStringLiteral("can't write the journal of this blog, so the run stops here. ") + journal;
    case RunProblem::MissingId:
        return QStringLiteral("the post of %1 \"%2\" has no post id: writing it would add a new post instead of "
                              "fixing this one; the run stops there")
            .arg(problem.post.date, oneLine(problem.post.caption));
    case RunProblem::BudgetSpent:
        return QStringLiteral("the service allows only %1 more calls today, fewer than one post takes (%2): the run "
                              "pauses here, before the day's limit runs out; run it again tomorrow")
            .arg(problem.callsLeft)
            .arg(problem.callsNeeded);
    }
    return oneLine(problem.text);
}

#include "client/runs/FixRun.h"

#include <QCoreApplication>
#include <algorithm>

#include "client/net/BackOff.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/runs/RunJournal.h"
#include "client/service/ITumblrService.h"

namespace {
// Tags as the service compares them: trimmed, empty ones dropped.
QStringList comparable(const QStringList &tags)
{
    QStringList result;
    for (const QString &tag : tags) {
        if (!tag.trimmed().isEmpty())
            result << tag.trimmed();
    }
    return result;
}
}

FixRun::FixRun(ITumblrService &service, PostsModel &rows, RunObserver &observer, QString journalFolder)
    : m_service(service), m_rows(rows), m_observer(observer), m_journalFolder(std::move(journalFolder))
{
}

bool FixRun::begin(const Account &account, RunJournal &journal, const char *kind, const QString &undoes,
                   RunReport &report)
{
    m_requestNumber = 0;
    m_fixing = QLatin1String(kind) == QLatin1String(RunJournal::Fix);
    m_firstOfBlog = false;
    if (m_fixing) {
        const JournalContents earlier = RunJournal::Read(journal.path(), account.groupName);
        m_firstOfBlog = earlier.status != JournalContents::Unreadable
            && std::none_of(earlier.runs.begin(), earlier.runs.end(), [](const JournalRun &run) {
                   return run.kind == QLatin1String(RunJournal::Fix) && run.written() > 0;
               });
    }
    m_endAfterRow.reset();
    // The budget learnt afresh, and nothing kept of an earlier run.
    const ServiceResult started = m_service.beginRun(account, &m_observer);
    if (started.outcome == ServiceResult::Stopped)
        return false;
    setProgress(1);
    const int perMinute = m_service.capabilities().writesPerMinute;
    m_gapMs = perMinute > 0 ? 60000 / perMinute : 0;
    m_sinceWrite.invalidate();
    m_sinceSync.invalidate();
    m_intended.clear();
    QString why;
    if (journal.Begin(QLatin1String(kind), undoes, why))
        return true;
    // A run that could not be undone is not started.
    report.problem.kind = RunProblem::JournalUnwritable;
    report.problem.text = why;
    report.problem.path = journal.path();
    return false;
}

bool FixRun::finish(RunJournal &journal, RunReport &report, RunReport::Outcome outcome)
{
    // Intents of writes that were never sent are closed, so undo counts them
    // as not written rather than unknown.
    if (!m_intended.isEmpty()) {
        QString why;
        journal.RecordNotSent(QStringList(m_intended.begin(), m_intended.end()), why);
        m_intended.clear();
    }
    // How it ended: "fix --new" starts after the last run that went to the end.
    QString why;
    journal.RecordEnd(QLatin1String(outcome == RunReport::Done      ? RunJournal::Done
                                    : outcome == RunReport::Stopped ? RunJournal::Stopped
                                                                    : RunJournal::Failed),
                      why);
    report.outcome = outcome;
    report.unchecked = m_service.uncheckedWrites();
    m_observer.finished(report);
    return outcome == RunReport::Done;
}

void FixRun::setProgress(long number)
{
    m_requestNumber = number;
    m_observer.progress(number);
}

bool FixRun::waitForTurn()
{
    // Pacing: a write starts no sooner than the gap after the answer to the one
    // before, so no two reach the service closer together, however long the
    // journal's disk took before either went out.
    if (m_gapMs <= 0 || !m_sinceWrite.isValid())
        return true;
    return BackOff::WaitMs(m_gapMs - m_sinceWrite.elapsed(), &m_observer);
}

bool FixRun::fix(const Account &account)
{
    RunJournal journal(RunJournal::filePath(m_journalFolder, account.groupName), account.groupName);
    RunReport report;
    if (!begin(account, journal, RunJournal::Fix, {}, report))
        return finish(journal, report, report.problem.kind == RunProblem::None ? RunReport::Stopped : RunReport::Failed);
    const ServiceCapabilities capabilities = m_service.capabilities();
    const TagRules &rules = capabilities.tagRules;

    // Rows this interface can't fix stay listed, skipped; the rest leave as written.
    int index = 0;
    while (index < m_rows.count()) {
        if (m_observer.stopRequested())
            return finish(journal, report, RunReport::Stopped); // between two rows: nothing under way
        const QString cantFix =
            m_rows.at(index).caption.isEmpty() ? QString() : TagRule::cantFixReason(m_rows.at(index), rules);
        if (!cantFix.isEmpty()) {
            ++report.leftOut[cantFix];
            ++index;
            continue;
        }
        // A day's window the service names a reset for is waited out by the
        // back end; without one, the run pauses before the limit.
        const CallBudget budget = m_service.budget();
        if (budget.dayLeft && !budget.dayResetSeconds && *budget.dayLeft < capabilities.callsPerWrite) {
            report.problem.kind = RunProblem::BudgetSpent;
            report.problem.callsLeft = *budget.dayLeft;
            report.problem.callsNeeded = capabilities.callsPerWrite;
            return finish(journal, report, RunReport::Failed);
        }
        if (!m_rows.at(index).caption.isEmpty() && !waitForTurn())
            return finish(journal, report, RunReport::Stopped); // stopped while waiting: the row stays
        if (!m_rows.at(index).caption.isEmpty()) {
            // A write without a post id adds a new post: a copy on the service.
            if (m_rows.at(index).id.trimmed().isEmpty()) {
                report.problem.kind = RunProblem::MissingId;
                report.problem.post = m_rows.at(index);
                return finish(journal, report, RunReport::Failed);
            }
            const PostRow post = m_rows.at(index); // the row must not be read again after the request
            const RunReport::Outcome sent =
                sendPost(account, post, TagRule::fixedTags(post, rules), post, index, journal, report);
            if (sent != RunReport::Done && !m_endAfterRow)
                return finish(journal, report, sent);
            m_observer.stepSucceeded();
        }

        m_rows.removeAt(index);
        m_observer.rowWritten(index);
        setProgress(m_requestNumber + 1);
        if (m_endAfterRow)
            return finish(journal, report, *m_endAfterRow);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return finish(journal, report, settle(account, journal, report));
}

bool FixRun::undo(const Account &account, const JournalRun &run)
{
    RunJournal journal(RunJournal::filePath(m_journalFolder, account.groupName), account.groupName);
    RunReport report;
    if (!begin(account, journal, RunJournal::Undo, run.id, report))
        return finish(journal, report, report.problem.kind == RunProblem::None ? RunReport::Stopped : RunReport::Failed);
    RunReport::Undo &undone = report.undo;
    undone.runPosts = int(run.posts.size());
    for (const JournalRun::Post &entry : run.posts) {
        if (entry.state == JournalRun::Post::NotWritten)
            continue; // the service refused it: nothing to put back
        if (m_observer.stopRequested())
            return finish(journal, report, RunReport::Stopped);
        std::optional<PostRow> current;
        const RunReport::Outcome read = readCurrent(account, entry.before, current);
        if (read != RunReport::Done)
            return finish(journal, report, read);
        const QStringList tagsNow = current ? comparable(current->tags) : QStringList();
        if (!current) {
            undone.gone.push_back(entry.before);
        } else if (!changedFields(entry.before, *current).isEmpty()) {
            undone.changed.push_back(*current); // edited since the run: writing it would undo that too
        } else if (tagsNow == comparable(entry.tagsSent)) {
            if (!waitForTurn())
                return finish(journal, report, RunReport::Stopped);
            const RunReport::Outcome sent =
                sendPost(account, entry.before, entry.before.tags, *current, -1, journal, report);
            if (sent != RunReport::Done)
                return finish(journal, report, sent);
            m_observer.stepSucceeded();
            ++undone.putBack;
        } else if (tagsNow == comparable(entry.before.tags)) {
            ++undone.asBefore; // the write never happened, or was put back already
        } else {
            undone.changed.push_back(*current); // someone changed it since: theirs is kept
        }
        setProgress(m_requestNumber + 1);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return finish(journal, report, settle(account, journal, report));
}

RunReport::Outcome FixRun::settle(const Account &account, RunJournal &journal, RunReport &report)
{
    const WriteResult settled = m_service.settleWrites(account, &m_observer);
    if (settled.outcome == ServiceResult::Stopped)
        return RunReport::Stopped;
    return settled.accepted() ? RunReport::Done : checkFailed(settled, journal, report);
}

RunReport::Outcome FixRun::checkFailed(const WriteResult &result, RunJournal &journal, RunReport &report)
{
    // The post whose read-back differed, recorded so: undo reads it as it stands.
    QString why;
    if (!result.earlierPostId.isEmpty() && !journal.RecordOutcome(result.earlierPostId, result, why)) {
        report.problem.kind = RunProblem::JournalFailed;
        report.problem.text = why;
        report.problem.path = journal.path();
        return RunReport::Failed;
    }
    report.problem.kind = RunProblem::WriteFailed;
    report.problem.text = result.errorText;
    report.problem.postId = result.earlierPostId;
    return RunReport::Failed;
}

RunReport::Outcome FixRun::readCurrent(const Account &account, const PostRow &known, std::optional<PostRow> &current)
{
    const QString &postId = known.id;
    for (;;) {
        const PostResult result = m_service.readPost(account, known, &m_observer);
        if (result.accepted()) {
            current = result.post;
            return RunReport::Done;
        }
        if (result.outcome == ServiceResult::Stopped)
            return RunReport::Stopped;
        RunProblem problem;
        problem.kind = RunProblem::ReadFailed;
        problem.text = result.errorText;
        problem.postId = postId;
        if (!m_observer.askRetry(problem))
            return RunReport::Failed;
    }
}

bool FixRun::recordIntent(const PostRow &before, const QStringList &tags, int row, RunJournal &journal, QString &why)
{
    const bool fresh = m_sinceSync.isValid() && m_sinceSync.elapsed() < IntentSpanMs;
    if (m_intended.contains(before.id) && fresh)
        return true;
    std::vector<RunJournal::Intent> intents{{before, tags}};
    // The writes that follow it in the list, as far as the pace reaches in the span.
    const int ahead = m_gapMs > 0 ? int(std::clamp<qint64>(IntentSpanMs / m_gapMs, 1, MaxIntentsAhead))
                                  : MaxIntentsAhead;
    if (row >= 0) {
        const TagRules rules = m_service.capabilities().tagRules;
        for (int next = row + 1; next < m_rows.count() && int(intents.size()) < ahead; ++next) {
            const PostRow &post = m_rows.at(next);
            if (post.caption.isEmpty() || !TagRule::cantFixReason(post, rules).isEmpty())
                continue; // not written
            if (post.id.trimmed().isEmpty())
                break; // the run stops there
            if (!m_intended.contains(post.id) && post.id != before.id)
                intents.push_back({post, TagRule::fixedTags(post, rules)});
        }
    }
    if (!journal.RecordWrites(intents, why))
        return false;
    m_sinceSync.start();
    for (const RunJournal::Intent &intent : intents)
        m_intended.insert(intent.post.id);
    return true;
}

RunReport::Outcome FixRun::sendPost(const Account &account, const PostRow &post, const QStringList &tags,
                                    const PostRow &before, int row, RunJournal &journal, RunReport &report)
{
    const auto journalFailed = [&](const QString &why) {
        report.problem.kind = RunProblem::JournalFailed;
        report.problem.text = why;
        report.problem.path = journal.path();
        return RunReport::Failed;
    };
    for (;;) {
        QString why;
        // On the disk before the request goes out: no write is ever unrecorded.
        if (!recordIntent(before, tags, row, journal, why))
            return journalFailed(why);
        const WriteResult result = m_service.writePost(account, post, tags, &m_observer);
        m_sinceWrite.start();
        if (!result.earlierPostId.isEmpty()) {
            // An earlier post's read-back differed: this one was written with
            // it or not sent at all (its intent is closed as not sent).
            if (result.written) {
                m_intended.remove(post.id);
                WriteResult accepted = result;
                accepted.outcome = ServiceResult::Accepted;
                if (!journal.RecordOutcome(post.id, accepted, why))
                    return journalFailed(why);
            }
            const RunReport::Outcome failed = checkFailed(result, journal, report);
            if (result.written)
                m_endAfterRow = failed;
            return failed;
        }
        m_intended.remove(post.id);
        if (!journal.RecordOutcome(post.id, result, why))
            return journalFailed(why);
        if (result.accepted() && result.firstCheck && m_firstOfBlog && !m_observer.firstWriteChecked(*result.firstCheck)) {
            m_endAfterRow = RunReport::Stopped; // written and checked: the row leaves, then the run stops
            return RunReport::Stopped;
        }
        switch (result.outcome) {
        case ServiceResult::Accepted:
            return RunReport::Done;
        case ServiceResult::Stopped:
            return RunReport::Stopped; // the user asked to stop: nothing to tell
        case ServiceResult::Failed:
        case ServiceResult::BadAnswer:
        case ServiceResult::Unreadable:
            report.problem.kind = RunProblem::WriteFailed;
            report.problem.text = result.errorText;
            report.problem.postId = post.id;
            return RunReport::Failed;
        case ServiceResult::Refused:
            break;
        }
        // Refused (200 included): let the user decide.
        RunProblem problem;
        problem.kind = RunProblem::WriteRefused;
        problem.text = result.errorText;
        problem.serverMessage = result.serverMessage;
        problem.postId = post.id;
        if (!m_observer.askRetry(problem) || !waitForTurn())
            return RunReport::Failed;
    }
}

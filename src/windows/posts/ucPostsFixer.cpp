#include "windows/posts/ucPostsFixer.h"

#include <QCoreApplication>
#include <QMap>
#include <QDir>

#include "windows/app/DialogServices.h"
#include "client/runs/RunJournal.h"
#include "client/net/BackOff.h"
#include "client/service/ITumblrService.h"
#include "client/service/IResultIndicator.h"
#include "client/posts/PostsModel.h"

namespace {
// "2025-01-31 18:04:05 GMT "Sunset" (post 123)", for lists in messages.
QString postLine(const PostRow &post)
{
    return post.date + QStringLiteral(" \"") + post.caption + QStringLiteral("\" (post ") + post.id
           + QLatin1Char(')');
}

// At most this many lines of posts in one message; the rest are counted.
QString postLines(const QList<PostRow> &posts)
{
    constexpr int MaxLines = 20;
    QStringList lines;
    for (int i = 0; i < posts.size() && i < MaxLines; ++i)
        lines << postLine(posts.at(i));
    if (posts.size() > MaxLines)
        lines << QStringLiteral("and %1 more.").arg(posts.size() - MaxLines);
    return lines.join(QStringLiteral("\r\n"));
}
}

ucPostsFixer::ucPostsFixer(ITumblrService &service, IPostsList &window, QWidget *parent)
    : ucPostsPanel(service, window, parent), m_journalFolder(RunJournal::defaultFolder())
{
    setObjectName(QStringLiteral("upfFixer"));
}

bool ucPostsFixer::FixPosts(const Account &account)
{
    if (!accountComplete(account))
        return false;
    RunJournal journal(RunJournal::filePath(m_journalFolder, account.groupName), account.groupName);
    if (!BeginJournal(journal, RunJournal::Fix, {}))
        return false;
    goOnline();
    const bool result = FixListedPosts(account, journal);
    goOffline();
    return result;
}

bool ucPostsFixer::BeginJournal(RunJournal &journal, const char *kind, const QString &undoes)
{
    QString why;
    if (journal.Begin(QLatin1String(kind), undoes, why))
        return true;
    // A run that could not be undone is not started.
    resultIndicator().setResultColor(IResultIndicator::Red);
    dialogs().critical(QStringLiteral("Can't start: the journal of this blog can't be written, so the run could not "
                                      "be undone. Nothing was sent.\r\n\r\n")
                       + QDir::toNativeSeparators(journal.path()) + QStringLiteral("\r\n") + why);
    return false;
}

bool ucPostsFixer::WaitForTurn()
{
    // Pacing: a write starts no sooner than the gap after the answer to the one
    // before, so no two reach the service closer together, however long the
    // journal's disk took before either went out.
    if (m_gapMs <= 0 || !m_sinceWrite.isValid())
        return true;
    return BackOff::WaitMs(m_gapMs - m_sinceWrite.elapsed(), this);
}

bool ucPostsFixer::FixListedPosts(const Account &account, RunJournal &journal)
{
    PostsModel &rows = posts();
    m_requestNumber = 1;
    const int perMinute = service().writesPerMinute();
    m_gapMs = perMinute > 0 ? 60000 / perMinute : 0;
    m_sinceWrite.invalidate();
    // Rows this interface can't fix stay listed, skipped; the rest leave as written.
    int index = 0;
    QMap<QString, int> leftOut;
    while (index < rows.count()) {
        const QString cantFix = rows.at(index).caption.isEmpty() ? QString() : service().CantFixReason(rows.at(index));
        if (!cantFix.isEmpty()) {
            ++leftOut[cantFix];
            ++index;
            continue;
        }
        const QString pause = service().pauseReason();
        if (!pause.isEmpty()) {
            resultIndicator().setResultColor(IResultIndicator::Red);
            dialogs().exclamation(pause);
            return false;
        }
        if (!rows.at(index).caption.isEmpty() && !WaitForTurn())
            return false; // stopped while waiting: the row stays
        const PostRow &row = rows.at(index);
        if (!row.caption.isEmpty()) {
            // A write without a post id adds a new post: a copy on the service.
            if (row.id.trimmed().isEmpty()) {
                resultIndicator().setResultColor(IResultIndicator::Red);
                dialogs().critical(MissingIdText(row));
                return false;
            }
            const PostRow post = row; // the row must not be read again after the request
            if (!SendPost(account, post, service().TagsToSend(post), post, journal)) {
                resultIndicator().setResultColor(IResultIndicator::Red);
                return false;
            }
            resultIndicator().setResultColor(IResultIndicator::Green);
        }

        rows.removeAt(index);
        if (rows.count() > 0)
            selectAndShowRow(qMin(index, rows.count() - 1));
        DrawControls();
        ++m_requestNumber;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    if (!leftOut.isEmpty()) {
        QStringList lines;
        int count = 0;
        for (auto it = leftOut.cbegin(); it != leftOut.cend(); ++it) {
            lines << QStringLiteral("%1: %2").arg(it.value()).arg(it.key());
            count += it.value();
        }
        dialogs().information(QStringLiteral("%1 posts were left in the list, not written:\r\n").arg(count)
                              + lines.join(QStringLiteral("\r\n")));
    }
    return true;
}

bool ucPostsFixer::UndoRun(const Account &account, const JournalRun &run)
{
    if (!accountComplete(account))
        return false;
    RunJournal journal(RunJournal::filePath(m_journalFolder, account.groupName), account.groupName);
    if (!BeginJournal(journal, RunJournal::Undo, run.id))
        return false;
    goOnline();
    QStringList report;
    const bool finished = UndoPosts(account, run, journal, report);
    goOffline();
    if (finished)
        dialogs().information(report.join(QStringLiteral("\r\n\r\n")));
    return finished;
}

bool ucPostsFixer::UndoPosts(const Account &account, const JournalRun &run, RunJournal &journal, QStringList &report)
{
    m_requestNumber = 1;
    const int perMinute = service().writesPerMinute();
    m_gapMs = perMinute > 0 ? 60000 / perMinute : 0;
    m_sinceWrite.invalidate();
    int putBack = 0;
    int asBefore = 0;
    QList<PostRow> changed;
    QList<PostRow> gone;
    for (const JournalRun::Post &entry : run.posts) {
        if (entry.state == JournalRun::Post::NotWritten)
            continue; // the service refused it: nothing to put back
        if (stopRequested())
            return false;
        std::optional<PostRow> current;
        if (!ReadCurrent(account, entry.before.id, current))
            return false;
        const QStringList tagsNow = current ? TagList(current->tags) : QStringList();
        if (!current) {
            gone << entry.before;
        } else if (tagsNow == TagList(entry.tagsSent)) {
            if (!WaitForTurn() || !SendPost(account, entry.before, entry.before.tags, *current, journal)) {
                resultIndicator().setResultColor(IResultIndicator::Red);
                return false;
            }
            resultIndicator().setResultColor(IResultIndicator::Green);
            ++putBack;
        } else if (tagsNow == TagList(entry.before.tags)) {
            ++asBefore; // the write never happened, or was put back already
        } else {
            changed << *current; // someone changed it since: theirs is kept
        }
        ++m_requestNumber;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    report << QStringLiteral("Undo finished: %1 of the run's %2 posts were put back as they were before it.")
                  .arg(putBack)
                  .arg(run.posts.size());
    if (asBefore > 0)
        report << QStringLiteral("%1 posts already had their tags from before the run.").arg(asBefore);
    if (!changed.isEmpty())
        report << QStringLiteral("%1 posts were changed since the run and were left as they are:\r\n").arg(changed.size())
                      + postLines(changed);
    if (!gone.isEmpty())
        report << QStringLiteral("%1 posts are no longer on the blog:\r\n").arg(gone.size()) + postLines(gone);
    return true;
}

bool ucPostsFixer::ReadCurrent(const Account &account, const QString &postId, std::optional<PostRow> &current)
{
    for (;;) {
        const PostResult result = service().ReadPost(account, postId, this);
        if (result.accepted()) {
            current = result.post;
            return true;
        }
        if (result.outcome == ServiceResult::Stopped)
            return false;
        resultIndicator().setResultColor(IResultIndicator::Yellow);
        resultIndicator().countFailure();
        if (!askRetry(QStringLiteral("Can't read post ") + postId + QStringLiteral(".\r\n\r\n") + result.errorText))
            return false;
    }
}

QString ucPostsFixer::MissingIdText(const PostRow &row)
{
    return QStringLiteral("Can't send post. The post of ") + row.date + QStringLiteral(" \"") + row.caption
           + QStringLiteral("\" has no post id: writing it would add a new post instead of fixing this one. "
                            "The row stays in the list.");
}

bool ucPostsFixer::SendPost(const Account &account, const PostRow &post, const QString &tags, const PostRow &before,
                            RunJournal &journal)
{
    const auto journalFailed = [&](const QString &why) {
        dialogs().critical(QStringLiteral("Can't write the journal of this blog, so the run stops here.\r\n\r\n")
                           + QDir::toNativeSeparators(journal.path()) + QStringLiteral("\r\n") + why);
        return false;
    };
    for (;;) {
        QString why;
        // On the disk before the request goes out: no write is ever unrecorded.
        if (!journal.RecordWrite(before, tags, why))
            return journalFailed(why);
        const WriteResult result = service().WritePost(account, post, tags, this);
        m_sinceWrite.start();
        if (!journal.RecordOutcome(post.id, result, why))
            return journalFailed(why);
        switch (result.outcome) {
        case ServiceResult::Accepted:
            return true;
        case ServiceResult::Stopped:
            return false; // the user asked to stop: nothing to tell
        case ServiceResult::Failed:
        case ServiceResult::BadAnswer:
            dialogs().ShowRequestError(QStringLiteral("Can't send post."), result.errorText);
            return false;
        case ServiceResult::Refused:
            break;
        }
        // Refused (200 included): count it and let the user decide.
        resultIndicator().setResultColor(IResultIndicator::Yellow);
        resultIndicator().countFailure();
        if (!askRetry(QStringLiteral("Can't send post. ") + result.serverMessage + QStringLiteral("\r\n\r\n")
                      + result.errorText)
            || !WaitForTurn())
            return false;
    }
}

#include "windows/posts/ucPostsFixer.h"

#include "client/runs/FixRun.h"
#include "client/runs/RunEstimate.h"
#include "client/runs/RunJournal.h"
#include "windows/app/DialogServices.h"

namespace {
// "2025-01-31 18:04:05 GMT "Sunset" (post 123)", for lists in messages.
QString postLine(const PostRow &post)
{
    return post.date + QStringLiteral(" \"") + post.caption + QStringLiteral("\" (post ") + post.id
           + QLatin1Char(')');
}

// At most this many lines of posts in one message; the rest are counted.
QString postLines(const std::vector<PostRow> &posts)
{
    constexpr size_t MaxLines = 20;
    QStringList lines;
    for (size_t i = 0; i < posts.size() && i < MaxLines; ++i)
        lines << postLine(posts.at(i));
    if (posts.size() > MaxLines)
        lines << QStringLiteral("and %1 more.").arg(posts.size() - MaxLines);
    return lines.join(QStringLiteral("\r\n"));
}

QString undoSummary(const RunReport::Undo &undo)
{
    QStringList report;
    report << QStringLiteral("Undo finished: %1 of the run's %2 posts were put back as they were before it.")
                  .arg(undo.putBack)
                  .arg(undo.runPosts);
    if (undo.asBefore > 0)
        report << QStringLiteral("%1 posts already had their tags from before the run.").arg(undo.asBefore);
    if (!undo.changed.empty())
        report << QStringLiteral("%1 posts were changed since the run and were left as they are:\r\n")
                          .arg(undo.changed.size())
                      + postLines(undo.changed);
    if (!undo.gone.empty())
        report << QStringLiteral("%1 posts are no longer on the blog:\r\n").arg(undo.gone.size()) + postLines(undo.gone);
    return report.join(QStringLiteral("\r\n\r\n"));
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
    goOnline();
    m_fixing = true;
    m_estimatedAt = -1;
    FixRun run(service(), posts(), *this, m_journalFolder);
    const bool result = run.fix(account);
    m_fixing = false;
    goOffline();
    return result;
}

QString ucPostsFixer::idleLine()
{
    // Where the service counts calls, what the rows left take is what
    // matters; elsewhere the bytes of each request.
    const CallBudget budget = service().budget();
    if (!m_fixing || (!budget.hourLeft && !budget.dayLeft))
        return {};
    // Once a row: the rows are many, the answers' blocks more.
    if (m_estimatedAt != progressNumber()) {
        m_estimatedAt = progressNumber();
        const RunEstimate estimate = RunEstimate::of(posts(), service());
        m_estimate = estimate.posts > 0 ? estimate.text() : QString(); // the last read-backs: their bytes
    }
    return m_estimate;
}

bool ucPostsFixer::UndoRun(const Account &account, const JournalRun &run)
{
    if (!accountComplete(account))
        return false;
    goOnline();
    FixRun undo(service(), posts(), *this, m_journalFolder);
    const bool finished = undo.undo(account, run);
    goOffline();
    if (finished)
        dialogs().information(undoSummary(lastReport().undo));
    return finished;
}

#include "client/runs/DownloadRun.h"

#include <QCoreApplication>
#include <QSet>
#include <algorithm>

#include "client/posts/PostDate.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/runs/RunObserver.h"
#include "client/service/ITumblrService.h"

DownloadRun::DownloadRun(ITumblrService &service, PostsModel &rows, RunObserver &observer)
    : m_service(service), m_rows(rows), m_observer(observer)
{
}

bool DownloadRun::run(const Account &account, const DownloadSettingsData &settings)
{
    if (settings.Cancelled)
        return false;
    if (!settings.Cumulative)
        m_rows.clear();

    RunReport report;
    int withoutId = 0;
    const auto end = [&](RunReport::Outcome outcome, bool result) {
        report.outcome = outcome;
        m_observer.finished(report);
        return result;
    };
    // Posts left out for want of an id are told of when the download reaches an end of its own.
    const auto endReached = [&](RunReport::Outcome outcome, bool result) {
        report.withoutId = withoutId;
        return end(outcome, result);
    };

    const ServiceCapabilities capabilities = m_service.capabilities();
    // A post seen twice (paging by offset repeats posts that share a time) is listed once.
    QSet<QString> listed;
    for (int i = 0; i < m_rows.count(); ++i)
        listed.insert(m_rows.at(i).id);
    QSet<long> startsRead;

    long requestNumber = 1;
    m_observer.progress(requestNumber);
    long start = settings.FirstPageIndex * PageSize;
    long pagesLeft = settings.PagesToRead;
    for (;;) {
        const long pageEnd = start + PageSize;
        while (start < pageEnd) {
            PageRequest request;
            request.account = account;
            request.start = start;
            request.count = std::min<long>(std::max(1, capabilities.postsPerRead), pageEnd - start);
            PageResult answer = m_service.readPage(request, &m_observer);
            while (answer.outcome == ServiceResult::Failed || answer.outcome == ServiceResult::Unreadable) {
                RunProblem problem;
                problem.kind = answer.outcome == ServiceResult::Failed ? RunProblem::ReadFailed
                                                                       : RunProblem::PageUnreadable;
                problem.text = answer.errorText;
                problem.serverMessage = answer.serverMessage;
                if (!m_observer.askRetry(problem))
                    return end(RunReport::Failed, false);
                // A failed read goes again where it went; an unreadable page is read anew.
                answer = m_service.readPage(answer.outcome == ServiceResult::Failed ? answer.retry : request,
                                            &m_observer);
            }
            if (answer.outcome == ServiceResult::BadAnswer) {
                report.problem.kind = RunProblem::AnswerUnusable;
                report.problem.text = answer.errorText;
                return end(RunReport::Failed, false);
            }
            if (!answer.accepted())
                return end(answer.outcome == ServiceResult::Stopped ? RunReport::Stopped : RunReport::Failed, false);
            m_observer.stepSucceeded();
            startsRead.insert(start);
            m_observer.progress(++requestNumber);
            withoutId += answer.withoutId;

            std::vector<PostRow> rows;
            bool olderReached = false;
            for (PostRow &post : answer.posts) {
                if (settings.NewerThan.isValid()) {
                    const QDateTime time = PostDate::parse(post.date);
                    if (time.isValid() && time <= settings.NewerThan) {
                        olderReached = true;
                        break;
                    }
                }
                if (!post.id.isEmpty()) {
                    if (listed.contains(post.id))
                        continue;
                    listed.insert(post.id);
                }
                const QString leftOut = TagRule::leftOutReason(post, capabilities.tagRules);
                if (leftOut.isEmpty())
                    rows.push_back(std::move(post));
                else
                    m_observer.postLeftOut(post, leftOut);
            }
            const int added = int(rows.size());
            m_rows.append(std::move(rows));
            m_observer.rowsAdded(added);

            if (!answer.next || olderReached)
                return endReached(RunReport::Done, true);
            // A link back to posts already read would go round for ever.
            if (*answer.next <= start || startsRead.contains(*answer.next)) {
                report.problem.kind = RunProblem::AnswerUnusable;
                report.problem.text = QStringLiteral("The service's link to the next posts points back to posts "
                                                     "already read; the download stops here.");
                return endReached(RunReport::Failed, false);
            }
            start = *answer.next;
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        }
        if (--pagesLeft == 0)
            return endReached(RunReport::Done, false);
    }
}

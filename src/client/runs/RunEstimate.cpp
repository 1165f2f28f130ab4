#include "client/runs/RunEstimate.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/service/ITumblrService.h"

namespace {
// The seconds a window of `limit` calls takes to pass `calls` more, `left`
// of it free now and room again `resetSeconds` from now.
qint64 budgetSeconds(int calls, const std::optional<int> &left, const std::optional<int> &limit,
                     const std::optional<int> &resetSeconds, qint64 window)
{
    if (!left || calls <= *left)
        return 0;
    const int perWindow = std::max(1, limit.value_or(*left));
    const qint64 windows = (calls - *left + perWindow - 1) / perWindow;
    return resetSeconds.value_or(int(window)) + (windows - 1) * window;
}
}

RunEstimate RunEstimate::of(const PostsModel &rows, const ITumblrService &service, int fromRow)
{
    const ServiceCapabilities capabilities = service.capabilities();
    RunEstimate estimate;
    double calls = 0;
    for (int row = std::max(0, fromRow); row < rows.count(); ++row) {
        const PostRow &post = rows.at(row);
        if (post.caption.isEmpty() || !TagRule::cantFixReason(post, capabilities.tagRules).isEmpty())
            continue; // left listed, not written
        ++estimate.posts;
        calls += service.callsToWrite(post);
    }
    estimate.calls = int(std::ceil(calls));
    const CallBudget budget = service.budget();
    const qint64 pace = capabilities.writesPerMinute > 0 ? qint64(estimate.posts) * 60 / capabilities.writesPerMinute : 0;
    const qint64 hours = budgetSeconds(estimate.calls, budget.hourLeft, budget.hourLimit, budget.hourResetSeconds, 3600);
    const qint64 days = budgetSeconds(estimate.calls, budget.dayLeft, budget.dayLimit, budget.dayResetSeconds, 86400);
    estimate.seconds = std::max({pace, hours, days});
    if (budget.dayLeft && estimate.posts > 0)
        estimate.postsToday = int(*budget.dayLeft / (calls / estimate.posts));
    return estimate;
}

QString RunEstimate::durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("less than a minute");
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60)
        return QStringLiteral("about %1 min").arg(minutes);
    if (minutes < 48 * 60)
        return minutes % 60 == 0 ? QStringLiteral("about %1 h").arg(minutes / 60)
                                 : QStringLiteral("about %1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("about %1 days").arg((minutes + 12 * 60) / (24 * 60));
}

QString RunEstimate::text() const
{
    const QLocale locale = QLocale::system();
    QString line = QStringLiteral("%1 posts, about %2 calls: %3")
                       .arg(locale.toString(posts), locale.toString(calls), durationText(seconds));
    if (postsToday)
        line += QStringLiteral("; today's calls allow %1 posts").arg(locale.toString(*postsToday));
    return line;
}

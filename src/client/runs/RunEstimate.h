#pragma once
#include <QString>
#include <optional>

class ITumblrService;
class PostsModel;

// What writing the listed rows will take: the calls, and the time at the
// pace and within the service's budget as its last answer told it.
struct RunEstimate {
    int posts = 0;                  // rows to write (from the row given on)
    int calls = 0;
    qint64 seconds = 0;
    std::optional<int> postsToday;  // as many as today's calls left allow; none: no daily limit known

    // "98 posts, about 120 calls: about 10 min; today's calls allow 4,100 posts"
    QString text() const;

    static RunEstimate of(const PostsModel &rows, const ITumblrService &service, int fromRow = 0);
    // "less than a minute", "about 10 min", "about 2 h 5 min", "about 3 days"
    static QString durationText(qint64 seconds);
};

#pragma once
#include <QString>

class IResultIndicator;
class PostsModel;

// What the page loop and the fixing loop need of the window they run in:
// its rows, its result square and the user's answers.
class IPostsRunHost
{
public:
    virtual ~IPostsRunHost() = default;
    virtual PostsModel &posts() = 0;
    virtual IResultIndicator &resultIndicator() = 0;
    virtual void DrawControls() = 0;
    // Selects the row (keeping other selected rows) and scrolls it into view.
    virtual void selectAndShowRow(int row) = 0;
    // A stop-icon box with OK.
    virtual void showFailure(const QString &message) = 0;
    // Retry and Cancel with the stop icon; true for Retry.
    virtual bool askRetry(const QString &message) = 0;
};

#pragma once
#include "windows/posts/IResultIndicator.h"

class PostsModel;
class QWidget;

// What the progress panels need of the posts window: its rows, its result
// square, its refresh, and where the download settings dialog goes.
class IPostsList
{
public:
    virtual ~IPostsList() = default;
    virtual PostsModel &posts() = 0;
    virtual IResultIndicator &resultIndicator() = 0;
    virtual void DrawControls() = 0;
    // Selects the row (keeping other selected rows) and scrolls it into view.
    virtual void selectAndShowRow(int row) = 0;
    // The "Get posts" button: the download settings dialog opens above it.
    virtual QWidget *getPostsButton() = 0;
    virtual QWidget *window() = 0;
};

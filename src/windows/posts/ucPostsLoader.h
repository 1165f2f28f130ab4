#pragma once
#include "windows/posts/ucPostsPanel.h"

// The panel shown while "Get posts" downloads a blog's photo posts.
class ucPostsLoader final : public ucPostsPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsLoader)

public:
    ucPostsLoader(ITumblrService &service, IPostsList &window, QWidget *parent = nullptr);
    // Runs a whole download; true when the blog had no further posts.
    bool GetPosts(const Account &account);

    long requestNumber() const { return progressNumber(); }

protected:
    QString progressWord() const override { return QStringLiteral("Request #"); }
};

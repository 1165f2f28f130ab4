#pragma once
#include "posts/ucPostsPanel.h"

class IPostsList;

// The panel shown while "Get posts" downloads a blog's photo posts.
class ucPostsLoader final : public ucPostsPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsLoader)

public:
    ucPostsLoader(IPostsList &window, QWidget *parent = nullptr);
    // Runs a whole download; true when the blog had no further posts.
    bool GetPosts(const QString &groupName, const QString &email, const QString &password);

protected:
    QString progressWord() const override { return QStringLiteral("Request #"); }
    long progressNumber() const override;

private:
    IPostsList &m_window;
};

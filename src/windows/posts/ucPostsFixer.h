#pragma once
#include "posts/ucPostsPanel.h"
#include "service/PostRow.h"

// The panel shown while "Fix posts" writes every listed post back.
class ucPostsFixer final : public ucPostsPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsFixer)

public:
    ucPostsFixer(ITumblrService &service, IPostsList &window, QWidget *parent = nullptr);
    // Writes every listed row from the top; true when the list became empty.
    bool FixPosts(const Account &account);
    // The message for a listed row that has no post id (it is never written).
    static QString MissingIdText(const PostRow &row);

protected:
    QString progressWord() const override { return QStringLiteral("Rquest #"); }
    long progressNumber() const override { return m_requestNumber; }

private:
    bool FixListedPosts(const Account &account);
    // Writes one post, asking Retry or Cancel while the service refuses it.
    bool SendPost(const Account &account, const PostRow &post, const QString &tags);

    long m_requestNumber = 0;
};

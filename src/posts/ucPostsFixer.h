#pragma once
#include "posts/ucPostsPanel.h"

class IPostsList;

// The panel shown while "Fix posts" writes every listed post back.
class ucPostsFixer final : public ucPostsPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsFixer)

public:
    ucPostsFixer(IPostsList &window, QWidget *parent = nullptr);
    // Writes every listed row from the top; true when the list became empty.
    bool FixPosts(const QString &groupName, const QString &email, const QString &password);

protected:
    QString progressWord() const override { return QStringLiteral("Rquest #"); }
    long progressNumber() const override { return m_requestNumber; }

private:
    bool FixListedPosts(const QString &groupName, const QString &email, const QString &password);
    bool SendPost(const QString &groupName, const QString &email, const QString &password, const QString &postId,
                  const QString &caption, const QString &tags, const QString &format, const QString &slug,
                  const QString &clickThroughUrl, const QString &postDate);

    IPostsList &m_window;
    long m_requestNumber = 0;
};

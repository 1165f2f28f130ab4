#pragma once
#include <QList>
#include <QString>

#include "client/service/IPostsRunHost.h"
#include "client/posts/PostsModel.h"

// A window for the page and fixing loops without windows: its own rows, the
// indicator it is given, and the questions asked recorded and answered from
// a queue (Cancel when empty).
class ScriptedRunHost final : public IPostsRunHost
{
public:
    struct Shown {
        bool retryCancel; // a Retry or Cancel question, else a box with OK
        QString text;
    };

    PostsModel &posts() override { return m_posts; }
    IResultIndicator &resultIndicator() override { return *indicator; }
    void DrawControls() override { ++drawCount; }
    void selectAndShowRow(int) override {}
    void showFailure(const QString &message) override { shown.append({false, message}); }
    bool askRetry(const QString &message) override
    {
        shown.append({true, message});
        return !m_answers.isEmpty() && m_answers.takeFirst();
    }

    void answer(bool retry) { m_answers.append(retry); }
    void clear()
    {
        shown.clear();
        m_answers.clear();
    }

    IResultIndicator *indicator = nullptr;
    QList<Shown> shown;
    int drawCount = 0;

private:
    PostsModel m_posts;
    QList<bool> m_answers;
};

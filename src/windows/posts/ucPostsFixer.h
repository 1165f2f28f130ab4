#pragma once
#include <QElapsedTimer>
#include <QStringList>
#include <optional>

#include "windows/posts/ucPostsPanel.h"
#include "client/posts/PostRow.h"

class RunJournal;
struct JournalRun;

// The panel shown while "Fix posts" writes every listed post back, and while
// an undo puts a journaled run's posts back as they were.
class ucPostsFixer final : public ucPostsPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsFixer)

public:
    ucPostsFixer(ITumblrService &service, IPostsList &window, QWidget *parent = nullptr);
    // Writes every listed row from the top; true when the list became empty.
    bool FixPosts(const Account &account);
    // Writes the run's posts back as they were before it, every field from
    // the journal, leaving out posts changed since; the listed rows are not
    // touched. True when it went through to the end (a summary was shown).
    bool UndoRun(const Account &account, const JournalRun &run);

    // The message for a listed row that has no post id (it is never written).
    static QString MissingIdText(const PostRow &row);
    // Where the journals of this program are (a test may point it elsewhere).
    void setJournalFolder(const QString &folder) { m_journalFolder = folder; }

protected:
    QString progressWord() const override { return QStringLiteral("Rquest #"); }
    long progressNumber() const override { return m_requestNumber; }

private:
    bool FixListedPosts(const Account &account, RunJournal &journal);
    bool UndoPosts(const Account &account, const JournalRun &run, RunJournal &journal, QStringList &report);
    // Opens the blog's journal for a new run; false, after saying why, when it can't be written.
    bool BeginJournal(RunJournal &journal, const char *kind, const QString &undoes);
    // Waits out the pacing gap, counted from the answer to the write before;
    // false when stopped meanwhile.
    bool WaitForTurn();
    // Writes one post, asking Retry or Cancel while the service refuses it. The
    // journal records `before` as the post's state ahead of every attempt.
    bool SendPost(const Account &account, const PostRow &post, const QString &tags, const PostRow &before,
                  RunJournal &journal);
    // The post as it stands now, asking Retry or Cancel while it can't be read.
    bool ReadCurrent(const Account &account, const QString &postId, std::optional<PostRow> &current);

    QString m_journalFolder;
    long m_requestNumber = 0;
    qint64 m_gapMs = 0;
    QElapsedTimer m_sinceWrite;
};

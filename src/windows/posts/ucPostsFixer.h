#pragma once
#include "windows/posts/ucPostsPanel.h"

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

    // Where the journals of this program are (a test may point it elsewhere).
    void setJournalFolder(const QString &folder) { m_journalFolder = folder; }

protected:
    QString progressWord() const override { return QStringLiteral("Rquest #"); }
    // During "Fix posts": what the rows left will take.
    QString idleLine() override;

private:
    QString m_journalFolder;
    bool m_fixing = false;
    long m_estimatedAt = -1; // the request number the estimate is for
    QString m_estimate;
};

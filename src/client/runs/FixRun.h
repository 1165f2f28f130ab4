#pragma once
#include <QElapsedTimer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

#include "client/runs/RunObserver.h"
#include "client/service/Account.h"

class ITumblrService;
class PostsModel;
class RunJournal;
struct JournalRun;
struct PostRow;

// "Fix posts" and its undo: writes every listed post back with its caption
// tag, from the top, each row leaving the model once written; or puts a
// journaled run's posts back as they were. Both keep the pace, wait out the
// service's back-off, pause before the day's limit and journal every write.
class FixRun final
{
public:
    // Intents put on the disk in one wait: at most this many writes ahead,
    // and no more than the pace sends in this many milliseconds.
    static constexpr int MaxIntentsAhead = 64;
    static constexpr int IntentSpanMs = 1000;

    FixRun(ITumblrService &service, PostsModel &rows, RunObserver &observer, QString journalFolder);

    // Writes every listed row from the top; true when the list became empty.
    bool fix(const Account &account);
    // Writes the run's posts back as they were before it, every field from
    // the journal, leaving out posts changed since; the listed rows are not
    // touched. True when it went through to the end.
    bool undo(const Account &account, const JournalRun &run);

private:
    bool begin(const Account &account, RunJournal &journal, const char *kind, const QString &undoes,
               RunReport &report);
    bool finish(RunJournal &journal, RunReport &report, RunReport::Outcome outcome);
    // Waits out the pacing gap, counted from the answer to the write before;
    // false when stopped meanwhile.
    bool waitForTurn();
    // Writes one post, asking Retry or Stop while the service refuses it. The
    // journal holds `before` as the post's state ahead of every attempt;
    // `row` >= 0: the model's row it is, whose followers' intents may share
    // the disk's wait.
    RunReport::Outcome sendPost(const Account &account, const PostRow &post, const QStringList &tags,
                                const PostRow &before, int row, RunJournal &journal, RunReport &report);
    bool recordIntent(const PostRow &before, const QStringList &tags, int row, RunJournal &journal, QString &why);
    // The post as it stands now, asking Retry or Stop while it can't be read.
    RunReport::Outcome readCurrent(const Account &account, const PostRow &known, std::optional<PostRow> &current);
    // Every write whose read-back is still due, read back; Failed when one differs.
    RunReport::Outcome settle(const Account &account, RunJournal &journal, RunReport &report);
    RunReport::Outcome checkFailed(const WriteResult &result, RunJournal &journal, RunReport &report);
    void setProgress(long number);

    ITumblrService &m_service;
    PostsModel &m_rows;
    RunObserver &m_observer;
    QString m_journalFolder;
    long m_requestNumber = 0;
    qint64 m_gapMs = 0;
    QElapsedTimer m_sinceWrite;
    QSet<QString> m_intended; // posts whose intent is on the disk, not sent yet
    QElapsedTimer m_sinceSync;
    bool m_fixing = false;
    bool m_firstOfBlog = false; // no earlier run wrote a post of this blog
    // The run ends once the row being written has left the list (it was
    // written, but the run stops there).
    std::optional<RunReport::Outcome> m_endAfterRow;
};

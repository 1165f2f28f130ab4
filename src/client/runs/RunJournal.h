#pragma once
#include <QDateTime>
#include <QFile>
#include <QString>
#include <vector>

#include "client/posts/PostRow.h"
#include "client/service/ServiceResult.h"

// One run ("Fix posts" or an undo) as its blog's journal tells it.
struct JournalRun {
    struct Post {
        enum State {
            Unknown,    // sent, but no answer was recorded (or the exchange broke off)
            Written,    // the service accepted the write
            NotWritten, // the service answered and refused it
        };
        PostRow before;   // every field as it was before the write
        QStringList tagsSent; // the tags the write carried
        State state = Unknown;
    };

    QString id;
    QString kind; // "fix" or "undo"
    QDateTime started;
    QString undoes;          // an undo: the id of the run it put back
    QString ended;           // how it ended (RunJournal::Done, Stopped, Failed); empty: not recorded
                             // (the program was killed, or an earlier version wrote it)
    std::vector<Post> posts; // in the order first sent; a post's last record counts

    int written() const;
    int unknown() const;
    // The newest of the run's posts by their dates; invalid when none has one.
    QDateTime newestPost() const;
};

// What could be read of a journal file.
struct JournalContents {
    enum Status { Read, Missing, Unreadable };
    Status status = Read;
    QString error;               // Unreadable: why
    std::vector<JournalRun> runs; // newest first
    int lines = 0;               // complete lines in the file
    int badLines = 0;            // complete lines that are no record of ours
    int refusedLines = 0;        // write records lacking a field or naming another blog: left out
    bool cutOff = false;         // the last line has no end (the program was stopped writing it)

    // One line on what could not be read; empty when everything was.
    QString problem() const;
};

// A blog's journal: a JSON Lines file in the program's data folder, one
// record a line. Before each write a "write" record (the run, every field of
// the post as listed, the tags sent), on the disk before the write goes out,
// and after it an "outcome" record (the status, the answer's first line or
// how the exchange failed), so a kill at any moment leaves no written post
// unrecorded. Intents of several writes about to be sent may share one wait
// for the disk; one not sent after all gets a "not sent" outcome.
class RunJournal final
{
    Q_DISABLE_COPY_MOVE(RunJournal)

public:
    static constexpr auto Fix = "fix";
    static constexpr auto Undo = "undo";
    // How a run ended, in its "end" record.
    static constexpr auto Done = "done";
    static constexpr auto Stopped = "stopped";
    static constexpr auto Failed = "failed";

    // <data folder>/journal
    static QString defaultFolder();
    // The journal of a blog (by the host it is written to) in folder.
    static QString filePath(const QString &folder, const QString &blog);
    // Reads the journal; with blog, a write record naming another blog is refused.
    static JournalContents Read(const QString &path, const QString &blog = {});

    RunJournal(const QString &path, const QString &blog);
    ~RunJournal();

    // Opens the file to append to and starts a run of kind (undoes: the run an
    // undo puts back). False, with why, when the journal can't be written.
    bool Begin(const QString &kind, const QString &undoes, QString &why);
    struct Intent {
        PostRow post;         // every field as it is before the write
        QStringList tagsSent; // the tags the write will carry
    };
    // Writes about to be sent, with the outcomes recorded since the last
    // sync, on the disk in one wait: none of them goes out before.
    bool RecordWrites(const std::vector<Intent> &writes, QString &why);
    bool RecordWrite(const PostRow &post, const QStringList &tagsSent, QString &why);
    // Intents recorded ahead that were never sent (the run ended first).
    bool RecordNotSent(const QStringList &postIds, QString &why);
    bool RecordOutcome(const QString &postId, const ServiceResult &result, QString &why);
    // How the run ended (Done, Stopped, Failed); nothing for a run that
    // recorded no write, which leaves no trace in the journal.
    bool RecordEnd(const QString &outcome, QString &why);

    QString path() const { return m_file.fileName(); }
    QString runId() const { return m_runId; }

    // Benchmarks only: false leaves the records to the page cache, to show
    // what the wait for the disk costs a run. The program always syncs.
    static void setDiskSyncForMeasuring(bool sync);

private:
    bool append(const QByteArray &line, QString &why, bool sync = true);

    QFile m_file;
    QString m_blog;
    QString m_runId;
    QString m_kind;
    QString m_undoes;
    QDateTime m_started;
    bool m_unsynced = false; // the last record is written but not yet on the disk
    bool m_wrote = false;    // this run recorded a write
};

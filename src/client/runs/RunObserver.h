#pragma once
#include <QMap>
#include <QString>
#include <vector>

#include "client/net/HTTPRequest.h"
#include "client/posts/PostRow.h"
#include "client/service/ITumblrService.h"

// What went wrong in a run, handed to its observer to show as it shows things.
struct RunProblem {
    enum Kind {
        None,
        ReadFailed,        // a page or a post could not be read (asked: Retry or Stop)
        PageUnreadable,    // a page came but can't be read (asked: Retry or Stop)
        WriteRefused,      // the service refused a write (asked: Retry or Stop)
        AnswerUnusable,    // the service's answer can't be used: the run ends
        WriteFailed,       // a write did not complete or was not what was asked: the run ends
        JournalUnwritable, // the blog's journal can't be started: nothing was sent
        JournalFailed,     // the journal can't be written: the run ends
        MissingId,         // a listed post has no id: the run ends before writing it
        BudgetSpent,       // the service allows fewer calls today than a post takes: the run pauses
    };
    Kind kind = None;
    QString text;          // what the service or the system said (for people); may be empty
    QString serverMessage; // a refusal's one-line answer
    QString postId;        // the post read or written, where there is one
    PostRow post;          // MissingId: the listed post
    QString path;          // the journal's file
    int callsLeft = 0;     // BudgetSpent
    int callsNeeded = 0;
};

// How a run ended, and what it has to report.
struct RunReport {
    enum Outcome { Done, Stopped, Failed };
    Outcome outcome = Done;
    RunProblem problem; // the failure that ended it, when it has not been asked about already

    // Fix and undo: writes accepted whose read-back was still due when the run ended.
    int unchecked = 0;
    // Download: photo posts the service gave without an id (left out).
    int withoutId = 0;
    // Fix: rows left listed, not written, with the reason for each count.
    QMap<QString, int> leftOut;
    // Undo: what happened to each post of the run.
    struct Undo {
        int runPosts = 0;               // posts the run journaled
        int putBack = 0;                // written back as they were
        int asBefore = 0;               // already had their tags from before the run
        std::vector<PostRow> changed;   // changed since the run: left as they are now
        std::vector<PostRow> gone;      // no longer on the blog
    } undo;
};

// Whoever a run works for: the windows' panels, or the command line. The run
// reports every step and asks its one question through here; it shows
// nothing itself. The request callbacks of every call come here too.
class RunObserver : public IHTTPRequestCallback
{
public:
    // A request of the run went through.
    virtual void stepSucceeded() = 0;
    // The number of the request or row being handled changed (from 1).
    virtual void progress(long requestNumber) = 0;
    // Download: rows were appended to the posts model.
    virtual void rowsAdded(int count) = 0;
    // Fix: the row at `row` was written and left the model.
    virtual void rowWritten(int row) = 0;
    // A problem to ask about: true to try again, false to stop.
    virtual bool askRetry(const RunProblem &problem) = 0;
    // Fix: the run's first write was read back; true to go on, false to stop.
    virtual bool firstWriteChecked(const WriteCheck &check)
    {
        Q_UNUSED(check)
        return true;
    }
    // True once the user asked to stop (between requests too).
    virtual bool stopRequested() const = 0;
    virtual void finished(const RunReport &report) = 0;
    // Download: a photo post that was read but not listed, and why
    // (TagRule::leftOutReason). Only a dry run's report needs them.
    virtual void postLeftOut(const PostRow &post, const QString &reason)
    {
        Q_UNUSED(post)
        Q_UNUSED(reason)
    }
};

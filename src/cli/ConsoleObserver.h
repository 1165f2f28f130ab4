#pragma once
#include <QElapsedTimer>
#include <QString>
#include <deque>
#include <vector>

#include "cli/DryRun.h"
#include "client/runs/RunObserver.h"

class ITumblrService;
class PostsModel;

// The command line's observer of the runs, as the posts window's panels are
// the windows': a terminal gets one status line redrawn in place (a bar,
// the count, the rate, the time left, the waits for the pace or the
// service), anything else one plain line per event. Both on standard error.
// A problem is told in one line and not retried unless someone at the
// terminal says so. Ctrl+C is its Esc.
class ConsoleObserver final : public RunObserver
{
public:
    enum class Style { Bar, Lines };

    ConsoleObserver(const ITumblrService &service, Style style);
    // The terminal's style where standard error is one, else plain lines.
    static Style styleForStderr();

    // What is under way, for the status: reading a blog's posts, writing the
    // rows of the model (a fix), or putting `total` journaled posts back.
    void startDownload(const QString &blog);
    void startFix(const QString &blog, const PostsModel &rows);
    void startUndo(const QString &blog, int total);
    // Ends the status line, so what follows starts on a line of its own.
    void endStatus();

    const RunReport &report() const { return m_report; }
    int written() const { return m_done; }
    // Download: the photo posts read but not listed, and why.
    const std::vector<DryRun::Left> &leftOut() const { return m_leftOut; }
    // One line for people about a problem of a run.
    static QString problemText(const RunProblem &problem);

    // IHTTPRequestCallback
    void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes, qint64 totalBytes,
                       bool &cancel) override;
    void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) override;
    void WaitStarted(int seconds) override;
    void BudgetWaitStarted(int seconds, bool day) override;
    void Waiting(int secondsLeft, bool &cancel) override;

    // RunObserver
    void stepSucceeded() override;
    void progress(long requestNumber) override;
    void rowsAdded(int count) override;
    void rowWritten(int row) override;
    bool askRetry(const RunProblem &problem) override;
    // Told, not asked: a script has no one to answer.
    bool firstWriteChecked(const WriteCheck &check) override;
    bool stopRequested() const override;
    void finished(const RunReport &report) override;
    void postLeftOut(const PostRow &post, const QString &reason) override;

private:
    enum class Mode { Idle, Download, Fix, Undo };
    void draw(bool now = false);
    void line(const QString &text);
    QString statusText() const;

    const ITumblrService &m_service;
    Style m_style;
    Mode m_mode = Mode::Idle;
    QString m_blog;
    long m_requestNumber = 0;
    int m_listed = 0;
    int m_done = 0;
    int m_total = 0;
    std::deque<PostRow> m_rows; // a fix: the rows not written yet, as the model holds them
    int m_waitLeft = -1;        // seconds of the wait under way; -1: none
    bool m_serviceWait = false; // the service asked for it (else the pace)
    QString m_budgetWait;       // the window of calls waited for ("hour", "day"); empty: none
    bool m_statusShown = false;
    QElapsedTimer m_sinceFirst; // since the first post was done
    QElapsedTimer m_sinceDraw;
    QString m_shownText;
    RunReport m_report;
    std::vector<DryRun::Left> m_leftOut;
};

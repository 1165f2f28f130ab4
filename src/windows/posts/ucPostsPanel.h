#pragma once
#include <QWidget>

#include "windows/app/FramePacer.h"

#include "client/runs/RunObserver.h"
#include "client/service/Account.h"

class IPostsList;
class ITumblrService;
class PostsModel;
class QLabel;
class IResultIndicator;

// What the loader and fixer panels share: the two-line status label inside a
// double edge, the stop flag, and the observer of their runs: the progress
// callbacks of every request, the result square's colour, the questions and
// messages, the rows that come and go.
class ucPostsPanel : public QWidget, public RunObserver
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsPanel)

public:
    ucPostsPanel(ITumblrService &service, IPostsList &window, QWidget *parent = nullptr);

    void StopIt();               // a stop request; ignored while idle
    bool IsOnline() const { return m_online; }
    QString statusText() const;
    // The message for a listed row that has no post id (it is never written).
    static QString MissingIdText(const PostRow &row);

    // IHTTPRequestCallback
    void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes, qint64 totalBytes,
                       bool &cancel) override;
    void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) override;
    void WaitStarted(int seconds) override;
    void BudgetWaitStarted(int seconds, bool day) override;
    void Waiting(int secondsLeft, bool &cancel) override;

    // RunObserver
    void stepSucceeded() override;
    void progress(long requestNumber) override { m_requestNumber = requestNumber; }
    void rowsAdded(int count) override;
    void rowWritten(int row) override;
    bool askRetry(const RunProblem &problem) override;
    bool firstWriteChecked(const WriteCheck &check) override;
    // The dialog of a blog's first write (on by default; the setting "Show first write").
    void setShowFirstWrite(bool show) { m_showFirstWrite = show; }
    // The text of that dialog.
    static QString FirstWriteText(const WriteCheck &check);
    bool stopRequested() const override { return m_stopRequested; }
    void finished(const RunReport &report) override;

protected:
    // "Request #" or "Rquest #", shown with the number of the request.
    virtual QString progressWord() const = 0;
    long progressNumber() const { return m_requestNumber; }

    void goOnline();  // Online, no stop requested, pending events run
    void goOffline();
    // A blog, an account and, where the sign-in takes one, a password.
    bool accountComplete(const Account &account) const;
    ITumblrService &service() { return m_service; }
    IPostsList &postsWindow() { return m_window; }
    PostsModel &posts();
    IResultIndicator &resultIndicator();
    const RunReport &lastReport() const { return m_lastReport; }

    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ShowProgress(qint64 receivedBytes, qint64 totalBytes);
    void showStatus(const QString &secondLine); // under the "Request #N" line
    // What the panel says under the number while nothing else is to be said.
    virtual QString idleLine() { return {}; }
    void showProblem(const RunProblem &problem);
    QString limitsText() const;
    static QString countdownText(int seconds);
    static void letEventsRun();

    ITumblrService &m_service;
    IPostsList &m_window;
    QLabel *m_lblStatus;
    bool m_online = false;
    bool m_stopRequested = false;
    long m_requestNumber = 0;
    enum class BudgetWait { None, Hour, Day } m_budgetWait = BudgetWait::None;
    bool m_showFirstWrite = true;
    RunReport m_lastReport;
    FramePacer m_pacer; // the window is painted once a frame during a run
};

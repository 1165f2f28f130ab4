#pragma once
#include <QWidget>

#include "windows/app/FramePacer.h"

#include "client/service/Account.h"
#include "client/net/HTTPRequest.h"
#include "client/service/IPostsRunHost.h"

class IPostsList;
class ITumblrService;
class QLabel;

// What the loader and fixer panels share: the two-line status label inside a
// double edge, the stop flag, the progress callbacks of their requests, and
// the window and questions their run works with.
class ucPostsPanel : public QWidget, public IHTTPRequestCallback, public IPostsRunHost
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsPanel)

public:
    ucPostsPanel(ITumblrService &service, IPostsList &window, QWidget *parent = nullptr);

    void StopIt();               // a stop request; ignored while idle
    bool IsOnline() const { return m_online; }
    QString statusText() const;

    void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes, qint64 totalBytes,
                       bool &cancel) override;
    void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) override;
    void WaitStarted(int seconds) override;
    void Waiting(int secondsLeft, bool &cancel) override;

    // IPostsRunHost: the window's rows and result square, and message boxes.
    PostsModel &posts() override;
    IResultIndicator &resultIndicator() override;
    void DrawControls() override;
    void selectAndShowRow(int row) override;
    void showFailure(const QString &message) override;
    bool askRetry(const QString &message) override;

protected:
    // "Request #" or "Rquest #" and the number shown in the progress text.
    virtual QString progressWord() const = 0;
    virtual long progressNumber() const = 0;

    void goOnline();  // Online, no stop requested, pending events run
    void goOffline();
    bool stopRequested() const { return m_stopRequested; }
    // A blog, an account and, where the sign-in takes one, a password.
    bool accountComplete(const Account &account);
    ITumblrService &service() { return m_service; }
    IPostsList &postsWindow() { return m_window; }

    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ShowProgress(qint64 receivedBytes, qint64 totalBytes);
    void showStatus(const QString &secondLine); // under the "Request #N" line
    static void letEventsRun();

    ITumblrService &m_service;
    IPostsList &m_window;
    QLabel *m_lblStatus;
    bool m_online = false;
    bool m_stopRequested = false;
    FramePacer m_pacer; // the window is painted once a frame during a run
};

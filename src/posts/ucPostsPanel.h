#pragma once
#include <QWidget>

#include "service/HTTPRequest.h"

class QLabel;

// What the loader and fixer panels share: the two-line status label inside a
// double edge, the stop flag and the progress callbacks of their requests.
class ucPostsPanel : public QWidget, public IHTTPRequestCallback
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucPostsPanel)

public:
    explicit ucPostsPanel(QWidget *parent = nullptr);

    void StopIt();               // a stop request; ignored while idle
    bool IsOnline() const { return m_online; }
    QString statusText() const;

    void BlockReceived(const QByteArray &block, bool &removeBlock, qint64 receivedBytes, qint64 totalBytes,
                       bool &cancel) override;
    void BlockSent(const QByteArray &block, qint64 sentBytes, qint64 totalBytes, bool &cancel) override;

protected:
    // "Request #" or "Rquest #" and the number shown in the progress text.
    virtual QString progressWord() const = 0;
    virtual long progressNumber() const = 0;

    void goOnline();  // Online, no stop requested, pending events run
    void goOffline();
    bool stopRequested() const { return m_stopRequested; }

    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void ShowProgress(qint64 receivedBytes, qint64 totalBytes);
    static void letEventsRun();

    QLabel *m_lblStatus;
    bool m_online = false;
    bool m_stopRequested = false;
};

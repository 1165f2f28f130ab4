#pragma once
#include <QProcess>
#include <QString>

// The simulator in a process of its own, so that its work is not counted as
// the client's: one account with a blog of `posts` photo posts to fix,
// every answer delayed by `delayMs`.
class SimProcess final
{
    Q_DISABLE_COPY_MOVE(SimProcess)

public:
    SimProcess(int posts, int delayMs);
    ~SimProcess();

    bool isRunning() const { return !m_serviceHost.isEmpty(); }
    QString error() const { return m_error; }
    QString serviceHost() const { return m_serviceHost; } // "127.0.0.1:PORT"
    QString blogHost() const { return m_blogHost; }
    static QString email() { return QStringLiteral("user@example.com"); }
    static QString password() { return QStringLiteral("secret"); }

private:
    QProcess m_process;
    QString m_serviceHost;
    QString m_blogHost;
    QString m_error;
};

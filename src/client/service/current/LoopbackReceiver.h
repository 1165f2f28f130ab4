#pragma once
#include <QOAuthOobReplyHandler>
#include <QTcpServer>
#include <QVariantMap>

class QTcpSocket;

// Waits on 127.0.0.1 for the browser to come back from the authorization
// page. Any local process can reach the port, so only the one answer that
// carries this sign-in's state is taken: any other is answered and ignored,
// and so is any after it. A request is capped in size and in time.
class LoopbackReceiver final : public QOAuthOobReplyHandler
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LoopbackReceiver)

public:
    static constexpr qsizetype MaxRequestBytes = 8 * 1024;
    static constexpr int MaxRequestMs = 10000;

    // redirect: the registered address, sent exactly ("http://127.0.0.1:PORT/callback").
    LoopbackReceiver(quint16 port, QString redirect, QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    QString callback() const override { return m_redirect; }
    // The state the authorization address carries; answers without it are ignored.
    void setExpectedState(const QString &state) { m_state = state; }
    void setRequestTimeLimit(int ms) { m_timeLimitMs = ms; } // tests
    // Answers ignored so far (another state, another path, too long, too slow).
    int ignored() const { return m_ignored; }

private:
    void serve(QTcpSocket *socket);
    void answer(QTcpSocket *socket, int status, const QByteArray &reason, const QString &text);

    QTcpServer m_server;
    QString m_redirect;
    QString m_path;
    QString m_state;
    bool m_taken = false;
    int m_ignored = 0;
    int m_timeLimitMs = MaxRequestMs;
};

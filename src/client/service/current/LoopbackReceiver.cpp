#include "client/service/current/LoopbackReceiver.h"

#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

LoopbackReceiver::LoopbackReceiver(quint16 port, QString redirect, QObject *parent)
    : QOAuthOobReplyHandler(parent), m_redirect(std::move(redirect)), m_path(QUrl(m_redirect).path())
{
    m_server.listen(QHostAddress::LocalHost, port);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

void LoopbackReceiver::serve(QTcpSocket *socket)
{
    auto *timer = new QTimer(socket);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, socket, [this, socket] {
        ++m_ignored;
        answer(socket, 408, "Request Timeout", QStringLiteral("Too slow."));
    });
    timer->start(m_timeLimitMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        if (socket->property("answered").toBool()) {
            socket->readAll();
            return;
        }
        QByteArray head = socket->property("head").toByteArray();
        head += socket->read(MaxRequestBytes + 1 - head.size());
        const qsizetype end = head.indexOf("\r\n\r\n");
        if (end < 0 && head.size() <= MaxRequestBytes) {
            socket->setProperty("head", head);
            return;
        }
        if (end < 0 || end > MaxRequestBytes) {
            ++m_ignored;
            answer(socket, 431, "Request Header Fields Too Large", QStringLiteral("Too long."));
            return;
        }
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        const QUrl target(QString::fromLatin1(requestLine.value(1)));
        if (requestLine.size() != 3 || requestLine.at(0) != "GET" || target.path() != m_path) {
            ++m_ignored;
            answer(socket, 404, "Not Found", QStringLiteral("Nothing here."));
            return;
        }
        // Browsers and servers write a blank of a query as "+".
        QString query = target.query(QUrl::FullyEncoded);
        query.replace(u'+', QStringLiteral("%20"));
        QVariantMap values;
        for (const auto &[name, value] : QUrlQuery(query).queryItems(QUrl::FullyDecoded))
            values.insert(name, value);
        if (m_taken || m_state.isEmpty() || values.value(QStringLiteral("state")).toString() != m_state) {
            ++m_ignored;
            answer(socket, 400, "Bad Request",
                   QStringLiteral("This answer is not for the sign-in Velloria is waiting for; it was ignored."));
            return;
        }
        m_taken = true;
        answer(socket, 200, "OK", QStringLiteral("Velloria has the answer: you can close this page and go back to it."));
        m_server.close();
        emit callbackReceived(values);
    });
}

void LoopbackReceiver::answer(QTcpSocket *socket, int status, const QByteArray &reason, const QString &text)
{
    socket->setProperty("answered", true);
    const QByteArray body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Velloria</title></head><body><p>"
                            + text.toHtmlEscaped().toUtf8() + "</p></body></html>";
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
                  + "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

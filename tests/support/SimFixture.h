#pragma once
#include "SimServer.h"

#include <QString>
#include <QStringList>

#include <memory>

// Owns an in-process simulator listening on free loopback ports. Build it
// in a test function (or init()); it stops when it goes out of scope.
class SimFixture final
{
    Q_DISABLE_COPY_MOVE(SimFixture)

public:
    SimFixture(); // the demo account
    explicit SimFixture(sim::Account account);
    explicit SimFixture(std::vector<sim::Account> accounts);
    ~SimFixture();

    sim::Server &server() { return *m_server; }
    bool isRunning() const;
    QString serviceHost() const; // "127.0.0.1:PORT"
    QString blogHost(const QString &blogName) const;
    sim::Blog &blog(const QString &blogName);  // fails the process on an unknown name
    sim::Post &post(const QString &postId);    // likewise

    // An account "user@example.com" / "secret" with one public blog holding
    // `posts` photo posts, newest first, ids "1001", "1002", ... (first = newest).
    // Every post has a one-line caption "Photo N" and the tags "tag N" and "shared";
    // none carries its caption as a tag, so every one is a post to fix.
    static sim::Account generatedAccount(const QString &blogName, int posts,
                                         const QString &email = QStringLiteral("user@example.com"),
                                         const QString &password = QStringLiteral("secret"));
    // One photo post with an address path; the rest of its fields at plain defaults.
    static sim::Post photoPost(const QString &id, const QString &caption, const QStringList &tags = {});
    // A fault of that kind with its other fields at their defaults.
    static sim::Fault fault(sim::Fault::Kind kind);
    // A loopback port nothing listens on (a connection there is refused).
    static quint16 unusedPort();
    // A blog of the given posts (newest first).
    static sim::Blog makeBlog(const QString &name, const QString &title, std::vector<sim::Post> posts);

private:
    void startServer();
    std::unique_ptr<sim::Server> m_server;
};

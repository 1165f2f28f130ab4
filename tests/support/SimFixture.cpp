#include "SimFixture.h"

#include <QTcpServer>
#include <QtGlobal>

SimFixture::SimFixture()
    : SimFixture(sim::Server::demoAccount())
{
}

SimFixture::SimFixture(sim::Account account)
    : m_server(std::make_unique<sim::Server>())
{
    m_server->addAccount(std::move(account));
    startServer();
}

SimFixture::SimFixture(std::vector<sim::Account> accounts)
    : m_server(std::make_unique<sim::Server>())
{
    for (sim::Account &account : accounts)
        m_server->addAccount(std::move(account));
    startServer();
}

SimFixture::~SimFixture()
{
    m_server->stop();
}

void SimFixture::startServer()
{
    if (!m_server->start(0))
        qFatal("SimFixture: the simulator could not listen on 127.0.0.1");
}

bool SimFixture::isRunning() const
{
    return m_server->servicePort() != 0;
}

QString SimFixture::serviceHost() const
{
    return m_server->serviceHost();
}

QString SimFixture::blogHost(const QString &blogName) const
{
    return m_server->blogHost(blogName);
}

sim::Blog &SimFixture::blog(const QString &blogName)
{
    sim::Blog *b = m_server->blog(blogName);
    if (!b)
        qFatal("SimFixture: no blog %s", qPrintable(blogName));
    return *b;
}

sim::Post &SimFixture::post(const QString &postId)
{
    sim::Post *p = m_server->post(postId);
    if (!p)
        qFatal("SimFixture: no post %s", qPrintable(postId));
    return *p;
}

sim::Account SimFixture::generatedAccount(const QString &blogName, int posts, const QString &email,
                                          const QString &password)
{
    return sim::Server::generatedAccount(blogName, posts, email, password);
}

sim::Post SimFixture::photoPost(const QString &id, const QString &caption, const QStringList &tags)
{
    return sim::Server::photoPost(id, caption, tags);
}

quint16 SimFixture::unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

sim::Blog SimFixture::makeBlog(const QString &name, const QString &title, std::vector<sim::Post> posts)
{
    sim::Blog blog;
    blog.name = name;
    blog.title = title;
    blog.posts = std::move(posts);
    return blog;
}

sim::Fault SimFixture::fault(sim::Fault::Kind kind)
{
    sim::Fault result;
    result.kind = kind;
    return result;
}

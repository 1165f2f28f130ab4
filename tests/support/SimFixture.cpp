#include "SimFixture.h"

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

sim::Post SimFixture::photoPost(const QString &id, const QString &caption, const QStringList &tags)
{
    sim::Post post;
    post.id = id;
    post.date = QStringLiteral("2026-11-30 18:04:05 GMT");
    post.slug = QStringLiteral("photo-") + id;
    post.url = QStringLiteral("/post/%1/%2").arg(id, post.slug);
    post.photoUrl = QStringLiteral("/media/%1_500.jpg").arg(id);
    post.caption = caption;
    post.tags = tags;
    return post;
}

sim::Blog SimFixture::makeBlog(const QString &name, const QString &title, std::vector<sim::Post> posts)
{
    sim::Blog blog;
    blog.name = name;
    blog.title = title;
    blog.posts = std::move(posts);
    return blog;
}

sim::Account SimFixture::generatedAccount(const QString &blogName, int posts, const QString &email,
                                          const QString &password)
{
    sim::Account account;
    account.email = email;
    account.password = password;
    account.userName = QStringLiteral("user");
    std::vector<sim::Post> list;
    list.reserve(size_t(std::max(0, posts)));
    for (int i = 1; i <= posts; ++i) {
        sim::Post post = photoPost(QString::number(1000 + i), QStringLiteral("Photo %1").arg(i),
                                   {QStringLiteral("tag %1").arg(i), QStringLiteral("shared")});
        // One minute apart, newest first.
        post.date = QStringLiteral("2026-11-%1 %2:%3:00 GMT")
                        .arg(30 - (i / 1440) % 28, 2, 10, QLatin1Char('0'))
                        .arg(23 - (i / 60) % 24, 2, 10, QLatin1Char('0'))
                        .arg(59 - i % 60, 2, 10, QLatin1Char('0'));
        list.push_back(std::move(post));
    }
    account.blogs.push_back(makeBlog(blogName, blogName + QStringLiteral(" photos"), std::move(list)));
    return account;
}

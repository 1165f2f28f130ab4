#include "SimServer.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimeZone>

namespace sim {

namespace {

// Captions of every kind the client has to cope with. Kept in one table so
// the demo and the tests see the same variety.
const char *const captionPool[] = {
    "Sleepy kitten on the sofa",
    "Morning stretch",
    "<p>Tom &amp; Jerry&nbsp;&mdash; best friends</p>",
    "Whiskers<br>and a very long tail",
    "<p>First paragraph</p>\n<p>Second paragraph with <b>bold</b> text</p>",
    "Found at <a href=\"https://example.com/shelter\">the shelter</a> today",
    "Кот на подоконнике",
    "Рыжий кот и «большая» коробка",
    "Box fort 📦 with a cat 🐈 inside",
    "“Curious” cat’s day…",
    "Who's #1? A/B \"test\" | back\\slash",
    "Line one\r\nLine two of the caption",
    "Tabs\tand  double  blanks",
    "Café crème brûlée",
    "<i>Italic</i> &lt;not a tag&gt; &quot;quoted&quot;",
    "   Leading and trailing blanks   ",
    "Sunset over the harbour",
    "Snow day!",
};

const char *const travelPool[] = {
    "Красная площадь ночью",
    "Байкал, лёд и небо",
    "Train window, somewhere in the Alps",
    "<p>Lisbon &mdash; tram 28</p>",
    "Горы 🏔 и озеро",
    "“Old town” at dawn",
    "Kyoto / Nara day trip?",
    "Harbour<br/>boats at rest",
};

const char *const tagPool[] = {
    "cats", "kitten", "cute", "photography", "big, comma, fluffy", "котики", "pets",
    "say \"hi\"", "travel", "summer, 2026", "bw", "🐱",
};

QString slugOf(const QString &caption)
{
    QString slug;
    int words = 0;
    bool pendingDash = false;
    for (const QChar ch : caption) {
        if (ch.unicode() < 128 && ch.isLetterOrNumber()) {
            if (pendingDash && !slug.isEmpty()) {
                if (++words >= 5)
                    break;
                slug += QLatin1Char('-');
            }
            pendingDash = false;
            slug += ch.toLower();
        } else {
            pendingDash = true;
        }
    }
    return slug;
}

// The display caption the client would derive for a plain one-line caption.
QString caseVariant(const QString &caption, quint32 pick)
{
    return pick % 2 ? caption.toUpper() : caption.toLower();
}

void fillBlog(Blog &blog, int count, qint64 firstId, const QDateTime &newest, quint32 seed,
              const char *const *pool, int poolSize, bool withOtherTypes)
{
    QRandomGenerator rng(seed);
    QDateTime when = newest;
    for (int i = 0; i < count; ++i) {
        Post post;
        post.id = QString::number(firstId - qint64(i) * 7);
        post.date = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'GMT'"));
        when = when.addSecs(-qint64(3600 + rng.bounded(36 * 3600)));
        const quint32 kind = rng.bounded(100);
        QString caption = QString::fromUtf8(pool[rng.bounded(poolSize)]);
        if (i % 9 == 0)
            caption += QStringLiteral(" #%1").arg(i); // not every caption repeats
        post.caption = caption;
        const int tagCount = int(rng.bounded(4));
        for (int t = 0; t < tagCount; ++t) {
            const QString tag = QString::fromUtf8(tagPool[rng.bounded(int(std::size(tagPool)))]);
            if (!post.tags.contains(tag))
                post.tags << tag;
        }
        if (withOtherTypes && kind < 4) {
            post.type = kind < 2 ? QStringLiteral("text") : QStringLiteral("quote");
        } else if (kind < 8) {
            post.caption.clear(); // a photo with an empty caption
        } else if (kind < 12) {
            post.hasCaption = false;
            post.caption.clear();
        } else if (kind < 24) {
            // Already carries its caption as a tag, in another letter case.
            post.caption = QString::fromUtf8(pool[rng.bounded(poolSize)]);
            if (post.caption.contains(QLatin1Char('<')) || post.caption.contains(QLatin1Char('\n')))
                post.caption = QStringLiteral("Sunset over the harbour");
            post.tags.insert(int(rng.bounded(post.tags.size() + 1)), caseVariant(post.caption.trimmed(), rng.generate()));
        }
        post.slug = slugOf(post.caption);
        post.url = post.slug.isEmpty() ? QStringLiteral("/post/%1").arg(post.id)
                                   : QStringLiteral("/post/%1/%2").arg(post.id, post.slug);
        post.photoUrl = post.type == QLatin1String("photo") ? QStringLiteral("/media/%1_500.jpg").arg(post.id) : QString();
        if (kind % 5 == 0)
            post.linkUrl = QStringLiteral("https://example.com/source/%1").arg(post.id);
        if (kind % 17 == 3)
            post.format = QStringLiteral("markdown");
        blog.posts.push_back(std::move(post));
    }
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

}

Account Server::demoAccount()
{
    Account account;
    account.email = QStringLiteral("demo@example.com");
    account.password = QStringLiteral("demo");
    account.userName = QStringLiteral("demo");
    const QDateTime newest(QDate(2026, 11, 30), QTime(18, 4, 5), Qt::UTC);

    Blog cats;
    cats.name = QStringLiteral("demo-cats");
    cats.title = QStringLiteral("Cats & Kittens");
    cats.ignoreTypeFilter = true; // pages mix photos with other types, as the client must handle
    fillBlog(cats, 260, 790000000000, newest, 20261130, captionPool, int(std::size(captionPool)), true);

    Blog travel;
    travel.name = QStringLiteral("demo-travel");
    travel.title = QStringLiteral("Путешествия и фото");
    fillBlog(travel, 140, 780000000000, newest.addDays(-2), 20261128, travelPool, int(std::size(travelPool)), true);

    Blog hidden;
    hidden.name = QStringLiteral("demo-private");
    hidden.title = QStringLiteral("Private notes");
    hidden.type = QStringLiteral("private");
    fillBlog(hidden, 12, 770000000000, newest.addDays(-5), 20261125, captionPool, int(std::size(captionPool)), false);

    account.blogs.push_back(std::move(cats));
    account.blogs.push_back(std::move(travel));
    account.blogs.push_back(std::move(hidden));
    return account;
}

Post Server::photoPost(const QString &id, const QString &caption, const QStringList &tags)
{
    Post post;
    post.id = id;
    post.date = QStringLiteral("2026-11-30 18:04:05 GMT");
    post.slug = QStringLiteral("photo-") + id;
    post.url = QStringLiteral("/post/%1/%2").arg(id, post.slug);
    post.photoUrl = QStringLiteral("/media/%1_500.jpg").arg(id);
    post.caption = caption;
    post.tags = tags;
    return post;
}

Account Server::generatedAccount(const QString &blogName, int posts, const QString &email, const QString &password)
{
    Account account;
    account.email = email;
    account.password = password;
    account.userName = QStringLiteral("user");
    Blog blog;
    blog.name = blogName;
    blog.title = blogName + QStringLiteral(" photos");
    blog.posts.reserve(size_t(std::max(0, posts)));
    for (int i = 1; i <= posts; ++i) {
        Post post = photoPost(QString::number(1000 + i), QStringLiteral("Photo %1").arg(i),
                              {QStringLiteral("tag %1").arg(i), QStringLiteral("shared")});
        // One minute apart, newest first.
        post.date = QStringLiteral("2026-11-%1 %2:%3:00 GMT")
                        .arg(30 - (i / 1440) % 28, 2, 10, QLatin1Char('0'))
                        .arg(23 - (i / 60) % 24, 2, 10, QLatin1Char('0'))
                        .arg(59 - i % 60, 2, 10, QLatin1Char('0'));
        blog.posts.push_back(std::move(post));
    }
    account.blogs.push_back(std::move(blog));
    return account;
}

bool Server::loadAccounts(const QString &path, std::vector<Account> &accounts, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("%1: cannot open: %2").arg(path, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(error, QStringLiteral("%1: not valid JSON at offset %2: %3")
                               .arg(path).arg(parseError.offset).arg(parseError.errorString()));
    if (!doc.isObject() || !doc.object().value(QLatin1String("accounts")).isArray())
        return fail(error, QStringLiteral("%1: expected an object with an \"accounts\" array").arg(path));

    std::vector<Account> loaded;
    QSet<QString> ids;
    const QJsonArray accountArray = doc.object().value(QLatin1String("accounts")).toArray();
    for (qsizetype a = 0; a < accountArray.size(); ++a) {
        const QString where = QStringLiteral("%1: accounts[%2]").arg(path).arg(a);
        const QJsonObject o = accountArray.at(a).toObject();
        if (!o.value(QLatin1String("email")).isString() || !o.value(QLatin1String("password")).isString())
            return fail(error, where + QStringLiteral(": \"email\" and \"password\" must be strings"));
        Account account;
        account.email = o.value(QLatin1String("email")).toString();
        account.password = o.value(QLatin1String("password")).toString();
        account.userName = o.value(QLatin1String("userName")).toString(account.userName);
        const QJsonArray blogArray = o.value(QLatin1String("blogs")).toArray();
        for (qsizetype b = 0; b < blogArray.size(); ++b) {
            const QString bwhere = where + QStringLiteral(".blogs[%1]").arg(b);
            const QJsonObject bo = blogArray.at(b).toObject();
            Blog blog;
            blog.name = bo.value(QLatin1String("name")).toString();
            if (blog.name.isEmpty())
                return fail(error, bwhere + QStringLiteral(": \"name\" is missing"));
            blog.title = bo.value(QLatin1String("title")).toString(blog.name);
            blog.type = bo.value(QLatin1String("type")).toString(blog.type);
            if (blog.type != QLatin1String("public") && blog.type != QLatin1String("private"))
                return fail(error, bwhere + QStringLiteral(": \"type\" must be \"public\" or \"private\""));
            blog.emptyUrl = bo.value(QLatin1String("emptyUrl")).toBool(false);
            blog.ignoreTypeFilter = bo.value(QLatin1String("ignoreTypeFilter")).toBool(false);
            const QJsonArray postArray = bo.value(QLatin1String("posts")).toArray();
            for (qsizetype p = 0; p < postArray.size(); ++p) {
                const QString pwhere = bwhere + QStringLiteral(".posts[%1]").arg(p);
                const QJsonObject po = postArray.at(p).toObject();
                Post post;
                const QJsonValue id = po.value(QLatin1String("id"));
                post.id = id.isDouble() ? QString::number(qint64(id.toDouble())) : id.toString();
                if (post.id.isEmpty())
                    return fail(error, pwhere + QStringLiteral(": \"id\" is missing"));
                if (ids.contains(post.id))
                    return fail(error, pwhere + QStringLiteral(": id %1 is used twice").arg(post.id));
                ids.insert(post.id);
                post.type = po.value(QLatin1String("type")).toString(post.type);
                post.date = po.value(QLatin1String("date")).toString();
                post.format = po.value(QLatin1String("format")).toString(post.format);
                post.slug = po.value(QLatin1String("slug")).toString();
                post.caption = po.value(QLatin1String("caption")).toString();
                post.hasCaption = po.value(QLatin1String("hasCaption")).toBool(true);
                post.linkUrl = po.value(QLatin1String("linkUrl")).toString();
                post.photoUrl = po.value(QLatin1String("photoUrl")).toString();
                post.url = po.value(QLatin1String("url")).toString(
                    post.slug.isEmpty() ? QStringLiteral("/post/%1").arg(post.id)
                                        : QStringLiteral("/post/%1/%2").arg(post.id, post.slug));
                const QJsonValue tags = po.value(QLatin1String("tags"));
                if (!tags.isUndefined() && !tags.isArray())
                    return fail(error, pwhere + QStringLiteral(": \"tags\" must be an array of strings"));
                for (const QJsonValue &tag : tags.toArray()) {
                    if (!tag.isString())
                        return fail(error, pwhere + QStringLiteral(": \"tags\" must be an array of strings"));
                    post.tags << tag.toString();
                }
                blog.posts.push_back(std::move(post));
            }
            account.blogs.push_back(std::move(blog));
        }
        loaded.push_back(std::move(account));
    }
    if (loaded.empty())
        return fail(error, QStringLiteral("%1: no accounts").arg(path));
    accounts = std::move(loaded);
    return true;
}

}

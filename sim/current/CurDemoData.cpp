#include "CurServer.h"

#include <QDateTime>
#include <QTimeZone>

namespace cursim {

namespace {

// Legacy captions as the old editor stored them: HTML of every kind.
const char *const legacyCaptions[] = {
    "Sleepy kitten on the sofa",
    "<p>Sunset <b>at</b> beach &amp; sea</p><p>two</p>",
    "<p>Tom &amp; Jerry&nbsp;&mdash; best friends</p>",
    "Whiskers<br>and a very long tail",
    "<p>First paragraph</p>\n<p>Second paragraph with <i>italic</i> text</p>",
    "Found at <a href=\"https://example.com/shelter\">the shelter</a> today",
    "Кот на подоконнике",
    "Box fort 📦 with a cat 🐈 inside",
    "“Curious” cat’s day…",
    "Who&#39;s #1? A/B &quot;test&quot; | back\\slash",
    "<i>Italic</i> &lt;not a tag&gt; and 3 &lt; 4",
    "Café crème brûlée &#x2615;",
    "   Leading and trailing blanks   ",
    "Snow day!",
};

// Texts of new-editor posts, one entry per post, blocks split at '\n'.
const char *const blockTexts[] = {
    "Morning stretch",
    "Window seat\nWatching the birds",
    "Рыжий кот и «большая» коробка",
    "Tabs\tand  double  blanks",
    "A cat & a \"quote\" <b>not html</b>",
    "Naptime 😴",
    "Three blocks\nsecond\nthird",
    "Who's a good cat?",
    "Caturday",
    "Mittens, again",
};

const char *const tagPool[] = {
    "cats", "kitten", "cute", "photography", "big, comma, fluffy", "котики", "pets", "say \"hi\"", "🐱",
};

QString dateText(qint64 timestamp)
{
    return QDateTime::fromSecsSinceEpoch(timestamp, QTimeZone::utc()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        + QStringLiteral(" GMT");
}

QString slugOf(const QString &text)
{
    QString slug;
    bool dash = false;
    for (const QChar ch : text) {
        if (ch.unicode() < 128 && ch.isLetterOrNumber()) {
            if (dash && !slug.isEmpty())
                slug += QLatin1Char('-');
            slug += ch.toLower();
            dash = false;
        } else {
            dash = true;
        }
        if (slug.size() >= 40)
            break;
    }
    return slug;
}

Post dated(Post post, qint64 timestamp)
{
    post.timestamp = timestamp;
    post.date = dateText(timestamp);
    return post;
}

// 2024-01-31 18:04:05 GMT, the newest demo post.
constexpr qint64 newest = 1706724245;

}

Post Server::legacyPost(const QString &idString, const QString &caption, const QStringList &tags)
{
    Post post;
    post.idString = idString;
    post.caption = caption;
    post.tags = tags;
    post.slug = slugOf(captionTexts(caption).join(QLatin1Char(' ')));
    post.photoUrl = QStringLiteral("/media/%1_500.jpg").arg(idString);
    post.timestamp = newest;
    post.date = dateText(newest);
    return post;
}

Post Server::blocksPost(const QString &idString, const QStringList &texts, const QStringList &tags)
{
    Post post = legacyPost(idString, {}, tags);
    post.blocks = true;
    post.texts = texts;
    post.slug = slugOf(texts.join(QLatin1Char(' ')));
    return post;
}

User Server::demoUser()
{
    User user;
    user.name = QStringLiteral("demo");

    Blog cats;
    cats.name = QStringLiteral("demo-cats");
    cats.title = QStringLiteral("Demo cats");
    cats.primary = true;
    qint64 stamp = newest;
    constexpr int catPosts = 60;
    for (int i = 0; i < catPosts; ++i) {
        // The newest post's id is beyond 2^53, where a double loses digits.
        const QString id = i == 0 ? QStringLiteral("9007199254740993") : QString::number(740000000000LL + (catPosts - i) * 7919LL);
        QStringList tags = {QString::fromUtf8(tagPool[i % std::size(tagPool)])};
        if (i % 4 == 1)
            tags.append(QString::fromUtf8(tagPool[(i * 5 + 2) % std::size(tagPool)]));
        const bool noCaption = i % 9 == 4;
        const bool blocks = i % 2 == 1;
        Post post;
        if (blocks) {
            const QStringList texts = noCaption ? QStringList()
                : QString::fromUtf8(blockTexts[(i / 2) % std::size(blockTexts)]).split(QLatin1Char('\n'));
            post = blocksPost(id, texts, tags);
            post.altText = i % 3 == 0 ? QStringLiteral("A cat, photographed") : QString();
            // What the service sends beyond what the program reads, and must get back from an edit.
            post.imageExtra = {{QStringLiteral("colors"),
                                *Json::parse(QStringLiteral(R"({"c0":"%1","c1":"1f1a17"})")
                                                 .arg(QString::number(0x8a6e4b + i * 0x010203, 16)).toUtf8())}};
            post.canBeTipped = i % 4 == 1;
            if (i % 5 == 0)
                post.extraFields = {{QStringLiteral("community_label"), *Json::parse(R"({"mature":false,"score":0.50})")}};
        } else {
            post = legacyPost(id, noCaption ? QString() : QString::fromUtf8(legacyCaptions[(i / 2) % std::size(legacyCaptions)]),
                              tags);
        }
        // Some already carry their caption as a tag: nothing to do for those.
        if (i % 7 == 3) {
            const QStringList texts = blocks ? post.texts : captionTexts(post.caption);
            if (!texts.isEmpty())
                post.tags.append(texts.join(QLatin1Char(' ')));
        }
        if (i % 11 == 5)
            post.linkUrl = QStringLiteral("https://example.com/cats/%1").arg(i);
        cats.posts.push_back(dated(std::move(post), stamp));
        // A few pairs share their second, the trap for paging by time.
        if (i % 15 != 9)
            stamp -= 5 * 3600 + 17 * 60 + i;
    }
    user.blogs.push_back(std::move(cats));

    Blog dogs;
    dogs.name = QStringLiteral("demo-dogs");
    dogs.title = QStringLiteral("Demo dogs");
    stamp = newest - 86400;
    const QList<Post> dogPosts = {
        legacyPost(QStringLiteral("741000000005"), QStringLiteral("<p>Fetch!</p>"), {QStringLiteral("dogs")}),
        blocksPost(QStringLiteral("741000000004"), {QStringLiteral("Good boy"), QStringLiteral("the best")},
                   {QStringLiteral("dogs"), QStringLiteral("Good boy the best")}),
        legacyPost(QStringLiteral("741000000003"), QString(), {QStringLiteral("dogs")}),
        blocksPost(QStringLiteral("741000000002"), {QStringLiteral("Puddle jumping")}, {}),
        legacyPost(QStringLiteral("741000000001"), QStringLiteral("Walkies &amp; treats"), {QStringLiteral("walk")}),
    };
    for (const Post &p : dogPosts) {
        dogs.posts.push_back(dated(p, stamp));
        stamp -= 7200;
    }
    user.blogs.push_back(std::move(dogs));

    Blog diary;
    diary.name = QStringLiteral("demo-diary");
    diary.title = QStringLiteral("Private diary");
    diary.type = QStringLiteral("private");
    diary.posts.push_back(dated(legacyPost(QStringLiteral("742000000002"), QStringLiteral("Dear diary"), {}), newest - 3600));
    diary.posts.push_back(
        dated(blocksPost(QStringLiteral("742000000001"), {QStringLiteral("Just for me")}, {QStringLiteral("private")}),
              newest - 7200));
    user.blogs.push_back(std::move(diary));
    return user;
}

User Server::generatedUser(const QString &blogName, int posts)
{
    User user;
    user.name = QStringLiteral("user");
    Blog blog;
    blog.name = blogName;
    blog.title = blogName + QStringLiteral(" photos");
    blog.primary = true;
    blog.posts.reserve(size_t(std::max(0, posts)));
    for (int i = 1; i <= posts; ++i) {
        Post post = legacyPost(QString::number(1000 + i), QStringLiteral("Photo %1").arg(i),
                               {QStringLiteral("tag %1").arg(i), QStringLiteral("shared")});
        // One minute apart, newest first.
        blog.posts.push_back(dated(std::move(post), newest - qint64(i) * 60));
    }
    user.blogs.push_back(std::move(blog));
    return user;
}

}

#include "client/service/current/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"

namespace JsonReader {

namespace {
QString text(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

// A decimal id of up to 64 bits, as text; never read through a double.
bool isPostId(const QString &id)
{
    if (id.isEmpty() || id.size() > 20)
        return false;
    for (const QChar c : id) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

std::optional<qint64> offsetOf(const QJsonValue &value)
{
    bool ok = false;
    qint64 offset = -1;
    if (value.isString())
        offset = value.toString().toLongLong(&ok);
    else if (value.isDouble()) {
        offset = value.toInteger(-1);
        ok = offset >= 0;
    }
    if (!ok || offset < 0)
        return std::nullopt;
    return offset;
}

std::optional<qint64> nextOffset(const QJsonObject &response)
{
    const QJsonValue next = response.value(QLatin1String("_links")).toObject().value(QLatin1String("next"));
    if (!next.isObject())
        return std::nullopt;
    const QJsonObject link = next.toObject();
    const QJsonValue params = link.value(QLatin1String("query_params"));
    if (params.isObject()) {
        if (std::optional<qint64> offset = offsetOf(params.toObject().value(QLatin1String("offset"))))
            return offset;
    }
    // Else the offset in the address itself.
    const QUrlQuery query(QUrl(text(link, "href")).query());
    bool ok = false;
    const qint64 offset = query.queryItemValue(QStringLiteral("offset")).toLongLong(&ok);
    if (!ok || offset < 0)
        return std::nullopt;
    return offset;
}

QStringList textBlocks(const QJsonObject &post)
{
    QStringList texts;
    const QJsonArray content = post.value(QLatin1String("content")).toArray();
    for (const QJsonValue &block : content) {
        const QJsonObject object = block.toObject();
        if (text(object, "type") == QLatin1String("text")) {
            const QString blockText = text(object, "text");
            if (!blockText.isEmpty())
                texts << blockText;
        }
    }
    return texts;
}
}

std::optional<Envelope> ParseEnvelope(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue meta = root.value(QLatin1String("meta"));
    if (!meta.isObject() || !meta.toObject().value(QLatin1String("status")).isDouble())
        return std::nullopt;
    Envelope envelope;
    envelope.status = meta.toObject().value(QLatin1String("status")).toInt();
    envelope.msg = text(meta.toObject(), "msg");
    envelope.response = root.value(QLatin1String("response"));
    const QJsonArray errors = root.value(QLatin1String("errors")).toArray();
    if (!errors.isEmpty()) {
        const QJsonObject first = errors.first().toObject();
        envelope.errorDetail = text(first, "detail");
        if (envelope.errorDetail.isEmpty())
            envelope.errorDetail = text(first, "title");
    }
    return envelope;
}

QString RefusalText(const QByteArray &body)
{
    if (const std::optional<Envelope> envelope = ParseEnvelope(body))
        return envelope->errorDetail.isEmpty() ? envelope->msg : envelope->errorDetail;
    // The token route answers OAuth's own {"error", "error_description"}.
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    const QString description = text(object, "error_description");
    return description.isEmpty() ? text(object, "error") : description;
}

std::optional<QString> BlogList(const QJsonValue &response)
{
    const QJsonValue blogs = response.toObject().value(QLatin1String("user")).toObject().value(QLatin1String("blogs"));
    if (!blogs.isArray())
        return std::nullopt;
    QString list;
    for (const QJsonValue &entry : blogs.toArray()) {
        const QJsonObject blog = entry.toObject();
        const QString name = modSupport::TrimEx(text(blog, "name"));
        // Private blogs have no public posts to read; a blog without a name can't be named.
        if (name.isEmpty() || name.contains(u'|') || text(blog, "type") == QLatin1String("private"))
            continue;
        QString title = text(blog, "title");
        // A line break in a title would split the entry in two.
        title.replace(u'\r', u' ');
        title.replace(u'\n', u' ');
        if (!list.isEmpty())
            list += QStringLiteral("\r\n");
        list += modSupport::TrimEx(title) + QStringLiteral(" | ") + name;
    }
    return list;
}

QStringList Tags(const QJsonObject &post)
{
    QStringList tags;
    for (const QJsonValue &tag : post.value(QLatin1String("tags")).toArray()) {
        if (tag.isString())
            tags << tag.toString();
    }
    return tags;
}

bool IsPhotoPost(const QJsonObject &post)
{
    if (text(post, "type") == QLatin1String("photo"))
        return true;
    const QJsonArray content = post.value(QLatin1String("content")).toArray();
    for (const QJsonValue &block : content) {
        if (text(block.toObject(), "type") == QLatin1String("image"))
            return true;
    }
    return false;
}

std::optional<PostRow> ReadPost(const QJsonObject &post)
{
    PostRow row;
    row.id = text(post, "id_string");
    if (!isPostId(row.id))
        return std::nullopt;
    row.date = text(post, "date");
    const QJsonValue caption = post.value(QLatin1String("caption"));
    if (caption.isString()) {
        row.rawCaption = caption.toString();
        if (!row.rawCaption.isEmpty())
            row.caption = modSupport::GetLineOnly(modCommon::HTMLToText(modSupport::GetLineOnly(row.rawCaption)));
    } else {
        row.rawCaption = textBlocks(post).join(u'\n');
        row.caption = modSupport::GetLineOnly(row.rawCaption);
    }
    row.tags = Tags(post);
    row.format = text(post, "format");
    row.slug = text(post, "slug");
    row.clickThroughUrl = text(post, "link_url");
    row.postUrl = text(post, "post_url");
    return row;
}

std::optional<PostsAnswer> ReadPostsAnswer(const QJsonValue &response)
{
    const QJsonObject object = response.toObject();
    const QJsonValue posts = object.value(QLatin1String("posts"));
    if (!posts.isArray())
        return std::nullopt;
    PostsAnswer answer;
    for (const QJsonValue &entry : posts.toArray()) {
        ++answer.received;
        const QJsonObject post = entry.toObject();
        if (!IsPhotoPost(post))
            continue;
        std::optional<PostRow> row = ReadPost(post);
        if (!row) {
            ++answer.withoutId;
            continue;
        }
        answer.posts.push_back(std::move(*row));
    }
    answer.nextOffset = nextOffset(object);
    return answer;
}
namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

qsizetype skipSpace(const QByteArray &text, qsizetype at)
{
    while (at < text.size() && isSpace(text.at(at)))
        ++at;
    return at;
}

// One past the end of the string opening at `at` (a quote), or -1.
qsizetype stringEnd(const QByteArray &text, qsizetype at)
{
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text.at(i) == '\\')
            ++i;
        else if (text.at(i) == '"')
            return i + 1;
    }
    return -1;
}

// One past the end of the value starting at `at`, or -1.
qsizetype valueEnd(const QByteArray &text, qsizetype at)
{
    if (at >= text.size())
        return -1;
    const char first = text.at(at);
    if (first == '"')
        return stringEnd(text, at);
    if (first == '{' || first == '[') {
        int depth = 0;
        for (qsizetype i = at; i < text.size(); ++i) {
            const char c = text.at(i);
            if (c == '"') {
                i = stringEnd(text, i);
                if (i < 0)
                    return -1;
                --i;
            } else if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0)
                    return i + 1;
            }
        }
        return -1;
    }
    // A number or a literal runs to the next separator.
    qsizetype i = at;
    while (i < text.size() && !isSpace(text.at(i)) && text.at(i) != ',' && text.at(i) != '}' && text.at(i) != ']')
        ++i;
    return i;
}
}

std::optional<Span> MemberValue(const QByteArray &objectJson, const QString &key)
{
    if (!QJsonDocument::fromJson(objectJson).isObject())
        return std::nullopt;
    qsizetype at = skipSpace(objectJson, 0);
    if (at >= objectJson.size() || objectJson.at(at) != '{')
        return std::nullopt;
    at = skipSpace(objectJson, at + 1);
    while (at < objectJson.size() && objectJson.at(at) == '"') {
        const qsizetype keyEnd = stringEnd(objectJson, at);
        if (keyEnd < 0)
            return std::nullopt;
        // The key decoded as JSON decodes it (escapes included).
        const QString name = QJsonDocument::fromJson("[" + objectJson.mid(at, keyEnd - at) + "]").array().first().toString();
        at = skipSpace(objectJson, keyEnd);
        if (at >= objectJson.size() || objectJson.at(at) != ':')
            return std::nullopt;
        const qsizetype begin = skipSpace(objectJson, at + 1);
        const qsizetype end = valueEnd(objectJson, begin);
        if (end < 0)
            return std::nullopt;
        if (name == key)
            return Span{begin, end};
        at = skipSpace(objectJson, end);
        if (at < objectJson.size() && objectJson.at(at) == ',')
            at = skipSpace(objectJson, at + 1);
    }
    return std::nullopt;
}

std::optional<QByteArray> ReplaceMember(const QByteArray &objectJson, const QString &key, const QByteArray &valueJson)
{
    const std::optional<Span> span = MemberValue(objectJson, key);
    if (!span)
        return std::nullopt;
    QByteArray changed = objectJson;
    changed.replace(span->begin, span->end - span->begin, valueJson);
    return changed;
}
std::optional<Span> FirstElement(const QByteArray &arrayJson)
{
    if (!QJsonDocument::fromJson(arrayJson).isArray())
        return std::nullopt;
    const qsizetype open = skipSpace(arrayJson, 0);
    const qsizetype begin = skipSpace(arrayJson, open + 1);
    if (begin >= arrayJson.size() || arrayJson.at(begin) == ']')
        return std::nullopt;
    const qsizetype end = valueEnd(arrayJson, begin);
    if (end < 0)
        return std::nullopt;
    return Span{begin, end};
}
}

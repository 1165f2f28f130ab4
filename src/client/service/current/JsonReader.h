#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <vector>

#include "client/posts/PostRow.h"

// Reading the answers of the service's current interface (JSON).
namespace JsonReader {

// Every answer of the API: {"meta": {"status", "msg"}, "response", "errors"}.
struct Envelope {
    int status = 0;
    QString msg;
    QJsonValue response;
    QString errorDetail; // the first error's detail (or title), when any
};
// None when the body is not such an envelope.
std::optional<Envelope> ParseEnvelope(const QByteArray &body);

// A refusal's one line for people: the first error's detail, else meta's msg.
QString RefusalText(const QByteArray &body);

// The account's public blogs from /v2/user/info, "title | name" a line (CR LF
// between lines); none when the response has no user with a blog list.
std::optional<QString> BlogList(const QJsonValue &response);

// What one answer of the posts route gave.
struct PostsAnswer {
    std::vector<PostRow> posts; // every post with an id, in the answer's order
    int received = 0;           // posts in the answer, with or without an id
    int withoutId = 0;          // posts left out for want of an id_string
    std::optional<qint64> nextOffset; // where _links.next points; none on the last page
};
// None when the response is not a posts answer.
std::optional<PostsAnswer> ReadPostsAnswer(const QJsonValue &response);

// One post of either form as a listed row; none without a usable id_string.
// Legacy posts give their caption HTML; posts in blocks their text blocks.
std::optional<PostRow> ReadPost(const QJsonObject &post);
// True for a photo post of either form (a post in blocks with an image block).
bool IsPhotoPost(const QJsonObject &post);
QStringList Tags(const QJsonObject &post);

// Byte-exact work on a JSON object's text, so that what is sent back keeps
// every member, its order and every number exactly as received (Qt's JSON
// classes sort members and turn numbers into doubles). Only well-formed JSON
// is looked at.
struct Span {
    qsizetype begin = 0;
    qsizetype end = 0; // one past the value's last byte
};
// Where the value of the object's own member `key` stands; none when the
// text is not an object or has no such member.
std::optional<Span> MemberValue(const QByteArray &objectJson, const QString &key);
// The object's text with that member's value replaced by valueJson; none
// when there is no such member.
std::optional<QByteArray> ReplaceMember(const QByteArray &objectJson, const QString &key, const QByteArray &valueJson);
// Where the first element of an array's text stands; none when it is not
// an array or is empty.
std::optional<Span> FirstElement(const QByteArray &arrayJson);
}

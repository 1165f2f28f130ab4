// An answer of the current interface as the network brings it: the envelope,
// then the blog list and the posts read from its response.
#include "FuzzTarget.h"

#include <QJsonDocument>

#include "client/service/current/JsonReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)JsonReader::RefusalText(body);
    // The byte-exact member work: a replaced member leaves valid JSON behind.
    if (const std::optional<QByteArray> changed = JsonReader::ReplaceMember(body, QStringLiteral("tags"), "\"t\"")) {
        if (!QJsonDocument::fromJson(*changed).isObject())
            __builtin_trap();
    }
    const std::optional<JsonReader::Envelope> envelope = JsonReader::ParseEnvelope(body);
    if (!envelope)
        return 0;
    (void)JsonReader::BlogList(envelope->response);
    if (const std::optional<JsonReader::PostsAnswer> posts = JsonReader::ReadPostsAnswer(envelope->response)) {
        for (const PostRow &row : posts->posts)
            (void)(row.caption.size() + row.tags.size());
    }
    (void)JsonReader::ReadPost(envelope->response.toObject());
    return 0;
}

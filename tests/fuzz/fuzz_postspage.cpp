// A page of posts as the service might send it: parsed, rows built, fixed tags made.
#include "FuzzTarget.h"

#include "client/posts/PostRow.h"
#include "client/posts/TagRules.h"
#include "client/service/designed/XMLDocument.h"
#include "client/service/designed/modTumblrReader.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    XMLDocument document;
    if (!document.LoadXML(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))))
        return 0;
    const XMLNodeList posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    for (const PostRow &row : modTumblrReader::AddPhotoPosts(document, posts))
        (void)TagRule::fixedTagsText(row, TagRules::designed());
    return 0;
}

#pragma once
#include <QString>

#include "client/net/HTTPRequest.h"
#include "client/service/ITumblrService.h"

class HTTPProxySettings;

// Writing one post back on the designed interface: /api/write with every
// field of the post, since a write replaces the whole post.
namespace WritePostRequest {

// The request that writes `post` back with `tags` (the designed tags text:
// tags added after the post's own go in double quotes).
HTTPRequestData RequestData(const QString &serviceHost, const Account &account, const PostRow &post,
                            const QStringList &tags);

WriteResult SendPost(const QString &serviceHost, const HTTPProxySettings &proxy, const Account &account,
                     const PostRow &post, const QStringList &tags, IHTTPRequestCallback *callback);
}

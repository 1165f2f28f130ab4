#pragma once
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "client/net/HTTPRequest.h"
#include "client/posts/PostRow.h"
#include "client/service/ITumblrService.h"
#include "client/service/designed/XMLDocument.h"

class HTTPProxySettings;
class IHTTPRequestCallback;

// Reading a blog's photo posts on the designed interface: the read request
// and the page reader.
namespace modTumblrReader {

inline constexpr int PageSize = 50;

// Most redirects followed in one read before giving up with a message.
inline constexpr int MaxRedirects = 10;

// Where a read answered 301 goes next: never from https to plain http, and
// without the account's credentials to another host.
enum class RedirectStep { Follow, FollowWithoutCredentials, Refuse };
RedirectStep NextStep(const HostTarget &from, const HostTarget &to);

// The request for one page (the blog's own host when `page` names none).
HTTPRequestData PageRequestData(const PageRequest &page);
// One page of a blog's posts from /api/read, following permanent redirects,
// parsed: its photo posts as rows, what comes next.
PageResult ReadPostsXML(const PageRequest &page, IHTTPRequestCallback *callback, const HTTPProxySettings &proxy);
// One post by its id, read as a listed row is (ReadPostRow).
PostResult ReadOnePost(const Account &account, const QString &postId, IHTTPRequestCallback *callback,
                       const HTTPProxySettings &proxy);

// Parses one page through a temporary "XML" file, so that the parser decodes
// it by its own declaration; false, with the parser's error number, reason
// and position in `error`, when it can't.
bool ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts, QString &error);

// The rows the page's photo posts give, in order, every field.
std::vector<PostRow> AddPhotoPosts(const XMLDocument &document, const XMLNodeList &posts);
// Every field of a post, whatever its caption and tags.
PostRow ReadPostRow(const XMLDocument &document, const XMLNode &post);
}

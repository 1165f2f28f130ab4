#pragma once
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "client/posts/PostRow.h"
#include "client/service/designed/XMLDocument.h"

#include "client/net/HTTPRequest.h"
#include "client/service/ITumblrService.h"

class HTTPProxySettings;
class IHTTPRequestCallback;
class IPostsRunHost;

// Reading a blog's photo posts: the read request, the page reader and the page loop.
namespace modTumblrReader {

inline constexpr int PageSize = 50;

// What the download settings dialog asked for.
struct DownloadSettingsData {
    long FirstPageIndex = 0;
    long PagesToRead = -1; // -1: all pages
    bool Cumulative = false;
    bool Cancelled = true;
};

// Most redirects followed in one read before giving up with a message.
inline constexpr int MaxRedirects = 10;

// One page of a blog's posts from /api/read, following permanent redirects.
// The request for one page (the blog's own host when `page` names none).
HTTPRequestData PageRequestData(const PageRequest &page);
PageResult ReadPostsXML(const PageRequest &page, IHTTPRequestCallback *callback, const HTTPProxySettings &proxy);
// One post by its id, read as a listed row is (ReadPostRow).
PostResult ReadOnePost(const Account &account, const QString &postId, IHTTPRequestCallback *callback,
                       const HTTPProxySettings &proxy);

enum class ParseOutcome { Parsed, Retry, Stop };
// Parses one page through a temporary "XML" file; asks Retry/Cancel when it can't.
ParseOutcome ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts, IPostsRunHost &host);

// The rows the page's photo posts give (posts without caption or already tagged left out).
std::vector<PostRow> AddPhotoPosts(const XMLDocument &document, const XMLNodeList &posts);
std::optional<PostRow> AddPostRow(const XMLDocument &document, const XMLNode &post);
// Every field of a post, whatever its caption and tags.
PostRow ReadPostRow(const XMLDocument &document, const XMLNode &post);

QString NormalizeText(const QString &text);
bool CaptionIsTag(const QString &caption, const QString &tagText);

// The page loop behind "Get posts", with the dialog's choices. requestNumber
// counts the page requests from 1, for the progress text. True when the blog
// had no further posts.
bool DownloadPosts(ITumblrService &service, const Account &account, const DownloadSettingsData &settings,
                   IHTTPRequestCallback *callback, IPostsRunHost &host, long &requestNumber);
}

#pragma once
#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "service/PostRow.h"
#include "service/XMLDocument.h"

class IHTTPRequestCallback;
class IResultIndicator;
class PostsModel;
class IPostsList;

// Reading a blog's photo posts: the read request, the page reader and the page loop.
namespace modTumblrReader {

inline constexpr int PageSize = 50;

struct DownloadSettingsData {
    long FirstPageIndex = 0;
    long PagesToRead = -1; // -1: all pages
    bool Cumulative = false;
    bool Cancelled = true;
};
DownloadSettingsData &DownloadSettings();
// Number of the page request under way in the current download, from 1.
long &RequestNumber();

// Most redirects followed in one read before giving up with a message.
inline constexpr int MaxRedirects = 10;

// One page of a blog's posts: the answer body, or empty when no usable
// answer came (message shown where the user must know).
QByteArray ReadPostsXML(long start, long num, IHTTPRequestCallback *callback, const QString &host,
                        const QString &email, const QString &password, IResultIndicator *indicator);

enum class ParseOutcome { Parsed, Retry, Stop };
// Parses one page through a temporary "XML" file; asks Retry/Cancel when it can't.
ParseOutcome ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts,
                            IResultIndicator *indicator);

// The rows the page's photo posts give (posts without caption or already tagged left out).
std::vector<PostRow> AddPhotoPosts(const XMLDocument &document, const XMLNodeList &posts);
std::optional<PostRow> AddPostRow(const XMLDocument &document, const XMLNode &post);

QString NormalizeText(const QString &text);
bool CaptionIsTag(const QString &caption, const QString &tagText);

// The page loop behind "Get posts". True when the blog had no further posts.
bool DownloadPosts(IHTTPRequestCallback *callback, const QString &groupName, const QString &email,
                   const QString &password, IPostsList &window);
}

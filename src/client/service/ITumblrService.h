#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>

#include "client/service/Account.h"
#include "client/posts/PostRow.h"

class IHTTPRequestCallback;
class IPostsRunHost;
namespace modTumblrReader {
struct DownloadSettingsData;
}

// How a call to the service ended.
struct ServiceResult {
    enum Outcome {
        Accepted,  // the service did what was asked
        Refused,   // it answered, but not with what was asked for
        Failed,    // the exchange did not complete
        Stopped,   // the user stopped it through the callback
        BadAnswer, // it answered with something that can't be used
    };
    Outcome outcome = Accepted;
    QString errorText;     // why it failed or what the service answered, for people
    QString serverMessage; // a refusal's one-line answer, decoded; empty when it has none
    int status = 0;        // the answer's HTTP status; 0 when none came
    QString answerLine;    // the answer's first line, cut at 200 characters (for the journal)

    bool accepted() const { return outcome == Accepted; }
};

struct SignInResult : ServiceResult {
    // The account's blogs, "title | host" a line (CR LF between lines); none
    // when the answer was empty.
    std::optional<QString> blogList;
};

// One page of a blog's posts to read. A failed read hands back the request to
// repeat, which goes where the failed attempt went (after redirects).
struct PageRequest {
    Account account;
    long start = 0;
    long count = 50;
    QString host; // where to send it; empty: the blog's own host
    int port = 80;
    QString path;
    QString postId; // set: only this post, whatever its type
};

struct PageResult : ServiceResult {
    QByteArray page;   // the answer's bytes, as received
    PageRequest retry; // what a Retry sends
};

using WriteResult = ServiceResult;

struct PostResult : ServiceResult {
    // The post as it stands now, every field read as for a listed row; none
    // when the blog has no post of that id.
    std::optional<PostRow> post;
};

// The service as the windows see it. Every call blocks in a local event
// loop, reporting progress to the callback, which can also stop it.
class ITumblrService
{
public:
    virtual ~ITumblrService() = default;

    virtual SignInResult SignIn(const QString &email, const QString &password, IHTTPRequestCallback *callback) = 0;
    virtual PageResult ReadPage(const PageRequest &request, IHTTPRequestCallback *callback) = 0;
    // One post of the account's blog as it stands now.
    virtual PostResult ReadPost(const Account &account, const QString &postId, IHTTPRequestCallback *callback) = 0;
    // Writes the post back with its tags text replaced by tags.
    virtual WriteResult WritePost(const Account &account, const PostRow &post, const QString &tags,
                                  IHTTPRequestCallback *callback) = 0;

    // The page loop behind "Get posts": the dialog's choices, the rows into
    // the host's list; requestNumber counts the requests for the progress
    // text. True when the blog had no further posts. This one reads pages
    // with ReadPage.
    virtual bool DownloadPosts(const Account &account, const modTumblrReader::DownloadSettingsData &settings,
                               IHTTPRequestCallback *callback, IPostsRunHost &host, long &requestNumber);

    // True when the sign-in takes the password box; false: the browser signs in.
    virtual bool usesPassword() const { return true; }
    // The sign-in needs an application key the user has not entered yet.
    virtual bool needsApplicationKey() const { return false; }
    // The address the service sends the browser back to (registered with the key).
    virtual QString redirectUrl() const { return {}; }
    virtual bool setApplicationKey(const QString &clientId, const QString &secret, QString *error)
    {
        Q_UNUSED(clientId)
        Q_UNUSED(secret)
        Q_UNUSED(error)
        return false;
    }

    // The tags text a post is written with so that it carries its caption as a tag.
    virtual QString TagsToSend(const PostRow &post) const { return FixedTags(post); }
    // Why this interface can't give the post its caption tag (the row then
    // stays, not written); empty when it can.
    virtual QString CantFixReason(const PostRow &post) const
    {
        Q_UNUSED(post)
        return {};
    }
    // Where the service's editor of the post is; empty: the designed address.
    virtual QString editorAddress(const QString &blog, const PostRow &post) const
    {
        Q_UNUSED(blog)
        Q_UNUSED(post)
        return {};
    }
    // The calls the service still allows, for the panel; empty when unknown.
    virtual QString limitsText() const { return {}; }
    // Why a run must pause before the next write (a limit nearly spent); empty: go on.
    virtual QString pauseReason() const { return {}; }

    // Host of the service's web pages (the post editor).
    virtual QString webHost() const = 0;
    // At most this many writes a minute during a run; 0: no limit.
    virtual int writesPerMinute() const = 0;
};

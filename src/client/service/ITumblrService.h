#pragma once
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "client/login/SettingKeys.h"
#include "client/posts/PostRow.h"
#include "client/posts/TagRules.h"
#include "client/service/Account.h"
#include "client/service/ServiceResult.h"

class IHTTPRequestCallback;

struct SignInResult : ServiceResult {
    // The account's blogs, "title | host" a line (CR LF between lines); none
    // when the answer was empty.
    std::optional<QString> blogList;
};

// A part of a blog's photo posts to read, from the newest. A failed read
// hands back the request to repeat, which goes where the failed attempt
// went (after the service's redirects).
struct PageRequest {
    Account account;
    long start = 0;
    long count = 50;
    QString host; // where to send it; empty: where the service reads the blog
    int port = 80;
    QString path;
    QString postId; // set: only this post, whatever its type
    bool anonymous = false; // without the account's credentials: the read was sent on to another host
};

// One read of posts, parsed.
struct PageResult : ServiceResult {
    std::vector<PostRow> posts; // the photo posts with an id, every field, in the answer's order
    int received = 0;           // posts in the answer, of any type, with or without an id
    int withoutId = 0;          // photo posts left out for want of an id
    std::optional<long> next;   // where the next posts start; none: the blog ends here
    PageRequest retry;          // what a Retry sends
};

struct PostResult : ServiceResult {
    // The post as it stands now, every field read as for a listed row; none
    // when the blog has no post of that id.
    std::optional<PostRow> post;
};

// What the read-back of a written post showed.
struct WriteCheck {
    PostRow post;           // the post as listed
    QStringList tagsBefore; // its tags before the write
    QStringList tagsAfter;  // its tags as read back
    int membersCompared = 0; // the other members, each found as it was before the write
    QStringList changed;    // members found changed; empty: the post is as it was, but its tags
};

struct WriteResult : ServiceResult {
    WriteResult() = default;
    WriteResult(const ServiceResult &result) : ServiceResult(result) {}
    // A write whose read-back is shared with the posts after it can be found
    // changed later: that post's id. The post of this call was then not sent.
    QString earlierPostId;
    // This call's own write was accepted (even when an earlier post's check failed).
    bool written = false;
    // The first read-back of a run, when this call made it.
    std::optional<WriteCheck> firstCheck;
};

// What a back end is, for the windows and the runs.
struct ServiceCapabilities {
    ServiceInterface interface = ServiceInterface::Designed; // which settings defaults apply
    bool usesPassword = true;        // the sign-in takes the password box; false: the browser signs in
    bool usesApplicationKey = false; // the sign-in needs a registered application key
    bool verifiesWrites = false;     // each accepted write is read back and compared
    int postsPerRead = 50;           // the most posts one read returns
    int callsPerWrite = 1;           // the most calls one written post takes
    int writesPerMinute = 0;         // the pace of a run; 0: no limit
    QString webHost;                 // host of the service's web pages (the post editor)
    QString inClearHost;             // where the account's credentials travel unencrypted; empty: nowhere
    TagRules tagRules;
};

// The service's calls left, as its last answer told them; none when unknown.
struct CallBudget {
    std::optional<int> hourLeft;
    std::optional<int> dayLeft;
    std::optional<int> hourLimit;        // calls an hour's window allows
    std::optional<int> dayLimit;
    std::optional<int> hourResetSeconds; // until the hour's window has room again
    std::optional<int> dayResetSeconds;
};

// The service, as the runs and the windows reach it: each back end only
// talks to its interface. Every call blocks in a local event loop, reporting
// progress to the callback, which can also stop it.
class ITumblrService
{
public:
    virtual ~ITumblrService() = default;

    virtual ServiceCapabilities capabilities() const = 0;

    virtual SignInResult signIn(const QString &email, const QString &password, IHTTPRequestCallback *callback) = 0;
    virtual PageResult readPage(const PageRequest &request, IHTTPRequestCallback *callback) = 0;
    // One post of the account's blog as it stands now; `post` as it was
    // known (its id; its date lets a back end read it with its neighbours).
    virtual PostResult readPost(const Account &account, const PostRow &post, IHTTPRequestCallback *callback) = 0;
    // Writes the post back with these tags.
    virtual WriteResult writePost(const Account &account, const PostRow &post, const QStringList &tags,
                                  IHTTPRequestCallback *callback) = 0;

    // A run starts: what the back end keeps of earlier runs is dropped, and
    // it may learn the service's budget.
    virtual ServiceResult beginRun(const Account &account, IHTTPRequestCallback *callback);
    // Every write whose read-back is still due is read back and checked.
    virtual WriteResult settleWrites(const Account &account, IHTTPRequestCallback *callback);
    // Writes accepted whose read-back is still due.
    virtual int uncheckedWrites() const { return 0; }
    // The calls writing this post takes, on average over a run.
    virtual double callsToWrite(const PostRow &post) const;

    // The sign-in needs an application key the user has not entered yet.
    virtual bool needsApplicationKey() const { return false; }
    // The address the service sends the browser back to (registered with the key).
    virtual QString redirectUrl() const { return {}; }
    virtual bool setApplicationKey(const QString &clientId, const QString &secret, QString *error);
    // Where the service's editor of the post is; empty: the designed address.
    virtual QString editorAddress(const QString &blog, const PostRow &post) const;
    virtual CallBudget budget() const { return {}; }
};

#include "client/service/designed/modTumblrReader.h"

#include <QFile>

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"
#include "client/net/HTTPProxySettings.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"

namespace modTumblrReader {

namespace {
const QString IncorrectResponse = QStringLiteral("Incorrect response received from server.");

QString attribute(const XMLDocument &document, const XMLNode &node, const char *path)
{
    return document.NodeText(node.SelectSingleNode(QString::fromLatin1(path)));
}
}

HTTPRequestData PageRequestData(const PageRequest &page)
{
    HTTPRequestData data;
    data.host = page.host.isEmpty() ? page.account.groupName : page.host;
    data.port = page.host.isEmpty() ? 80 : page.port;
    data.path = page.host.isEmpty() ? QStringLiteral("/api/read") : page.path;
    data.agent = HTTPRequest::AgentName();
    if (!page.anonymous) {
        data.fields.AddField(QStringLiteral("email"), page.account.email);
        data.fields.AddField(QStringLiteral("password"), page.account.password);
    }
    data.fields.AddField(QStringLiteral("start"), QString::number(page.start));
    data.fields.AddField(QStringLiteral("num"), QString::number(page.count));
    data.fields.AddField(QStringLiteral("generator"), HTTPRequest::AgentName());
    if (page.postId.isEmpty())
        data.fields.AddField(QStringLiteral("type"), QStringLiteral("photo"));
    else
        data.fields.AddField(QStringLiteral("id"), page.postId);
    return data;
}

RedirectStep NextStep(const HostTarget &from, const HostTarget &to)
{
    if (from.tls && !to.tls)
        return RedirectStep::Refuse;
    return to.host.compare(from.host, Qt::CaseInsensitive) == 0 ? RedirectStep::Follow
                                                                : RedirectStep::FollowWithoutCredentials;
}

PageResult ReadPostsXML(const PageRequest &page, IHTTPRequestCallback *callback, const HTTPProxySettings &proxy)
{
    HTTPRequestData data = PageRequestData(page);
    data.callback = callback;
    PageResult result;
    const auto badAnswer = [&result] {
        result.outcome = ServiceResult::BadAnswer;
        result.errorText = IncorrectResponse;
        return result;
    };

    HTTPRequest request;
    request.setProxy(proxy);
    int redirects = 0;
    int repeats = 0; // for the whole read, redirects included
    bool anonymous = page.anonymous;
    for (;;) {
        bool stopped = false;
        const HTTPResult answer = BackOff::Send(request, data, callback, repeats, stopped);
        if (answer.status == 301 && !stopped) {
            // A server that keeps redirecting would keep us here for ever.
            if (redirects++ >= MaxRedirects)
                return badAnswer();
            // The header name is matched exactly, as the service writes it.
            const QByteArray location = answer.header("Location");
            if (location.isNull())
                return badAnswer();
            QString newHost;
            int newPort = 80;
            QString newPath;
            if (!HTTPRequest::ParseURL(modSupport::TrimEx(QString::fromLatin1(location)), newHost, newPort, newPath))
                return badAnswer();
            const RedirectStep step =
                NextStep(HostTarget::parse(data.host, data.port), HostTarget::parse(newHost, newPort));
            if (step == RedirectStep::Refuse) {
                result.outcome = ServiceResult::BadAnswer;
                result.errorText = QStringLiteral("The service sent the read on from https to plain http (%1); "
                                                  "it was not followed.")
                                       .arg(QString::fromLatin1(location).trimmed());
                return result;
            }
            // The account's e-mail address and password go to no other host.
            if (step == RedirectStep::FollowWithoutCredentials && !anonymous) {
                anonymous = true;
                PageRequest withoutCredentials = page;
                withoutCredentials.anonymous = true;
                data.fields = PageRequestData(withoutCredentials).fields;
            }
            data.host = newHost;
            data.port = newPort;
            data.path = newPath;
            continue;
        }

        static_cast<ServiceResult &>(result) = ServiceResult::fromAnswer(answer, stopped, {200}, nullptr);
        if (!result.accepted()) {
            // Only a 200 carries the page: any other status, whatever its body, is
            // a read that failed (a well-formed error page is no end of the blog).
            if (result.outcome == ServiceResult::Refused)
                result.outcome = ServiceResult::Failed;
            // A Retry goes where this attempt went.
            result.retry = page;
            result.retry.host = data.host;
            result.retry.port = data.port;
            result.retry.path = data.path;
            result.retry.anonymous = anonymous;
            return result;
        }
        if (answer.body.isEmpty()) {
            // Nothing to read and nothing to say: the download ends here.
            result.outcome = ServiceResult::BadAnswer;
            result.errorText.clear();
            return result;
        }

        XMLDocument document;
        XMLNodeList posts;
        QString parseError;
        // A page goes through its temporary file; one post is read in memory,
        // as it is read before every write.
        const bool parsed = page.postId.isEmpty() ? ParsePostsPage(document, answer.body, posts, parseError)
                                                  : document.LoadXML(answer.body);
        if (parsed && !page.postId.isEmpty())
            posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
        if (!parsed) {
            // Read again from the blog's own host, as a new read.
            result.outcome = ServiceResult::Unreadable;
            result.errorText = parseError;
            result.retry = page;
            return result;
        }
        result.received = posts.Length();
        result.posts = AddPhotoPosts(document, posts);
        // Non-photo posts count too: a full page means there may be more.
        if (result.received > 0 && result.received >= page.count)
            result.next = page.start + page.count;
        return result;
    }
}

PostResult ReadOnePost(const Account &account, const QString &postId, IHTTPRequestCallback *callback,
                       const HTTPProxySettings &proxy)
{
    PageRequest request;
    request.account = account;
    request.count = 1;
    request.postId = postId;
    const PageResult page = ReadPostsXML(request, callback, proxy);
    PostResult result;
    static_cast<ServiceResult &>(result) = page;
    if (page.outcome == ServiceResult::Unreadable
        || (page.outcome == ServiceResult::BadAnswer && page.errorText.isEmpty())) {
        result.outcome = ServiceResult::BadAnswer;
        result.errorText = IncorrectResponse;
    }
    if (!result.accepted())
        return result;
    for (const PostRow &post : page.posts) {
        if (post.id == postId)
            result.post = post;
    }
    return result;
}

bool ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts, QString &error)
{
    posts = XMLNodeList();
    const QString path = modSupport::GetTempFileName2(QString(), QStringLiteral("XML"));
    {
        QFile file(path);
        if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(xml);
    }

    if (!document.Load(path)) {
        const XMLDocument::ParseErrorInfo &info = document.ParseError();
        error = QStringLiteral("Number:      ") + modSupport::GetErrorNumber(info.Number)
                + QStringLiteral("\r\nDescription: ") + info.Reason + QStringLiteral("\r\nLine, Col:   ")
                + QString::number(info.Line) + QStringLiteral(", ") + QString::number(info.LinePos);
        if (!path.isEmpty())
            QFile::remove(path);
        return false;
    }

    if (!path.isEmpty() && !modSupport::IsMyComputer())
        QFile::remove(path);

    posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    return true;
}

std::vector<PostRow> AddPhotoPosts(const XMLDocument &document, const XMLNodeList &posts)
{
    std::vector<PostRow> rows;
    for (int i = 0; i < posts.Length(); ++i) {
        const XMLNode post = posts.Item(i);
        if (attribute(document, post, "@type") == QLatin1String("photo"))
            rows.push_back(ReadPostRow(document, post));
    }
    return rows;
}

PostRow ReadPostRow(const XMLDocument &document, const XMLNode &post)
{
    PostRow row;
    row.date = attribute(document, post, "@date");

    // As it stands in the page, markup of child elements included: it is written back.
    row.rawCaption = post.SelectSingleNode(QStringLiteral("photo-caption")).InnerXml();
    if (!row.rawCaption.isEmpty())
        row.caption = modSupport::GetLineOnly(modCommon::HTMLToText(modSupport::GetLineOnly(row.rawCaption)));
    row.id = attribute(document, post, "@id");

    const XMLNodeList tags = post.SelectNodes(QStringLiteral("tag"));
    for (int i = 0; i < tags.Length(); ++i)
        row.tags << tags.Item(i).Text();

    row.format = attribute(document, post, "@format");
    row.slug = attribute(document, post, "@slug");
    row.clickThroughUrl = attribute(document, post, "photo-link-url");
    row.postUrl = attribute(document, post, "@url");
    return row;
}

}

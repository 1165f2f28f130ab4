#include "client/service/designed/WritePostRequest.h"

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"
#include "client/posts/TagRules.h"

namespace WritePostRequest {

HTTPRequestData RequestData(const QString &serviceHost, const Account &account, const PostRow &post,
                            const QStringList &tags)
{
    HTTPRequestData data;
    data.host = serviceHost;
    data.path = QStringLiteral("/api/write");
    data.agent = HTTPRequest::AgentName();
    // Every field goes out, empty or not: the write replaces the whole post.
    HTTPFormData &form = data.fields;
    form.AddField(QStringLiteral("group"), account.groupName.toUtf8());
    form.AddField(QStringLiteral("email"), account.email.toUtf8());
    form.AddField(QStringLiteral("password"), account.password.toUtf8());
    form.AddField(QStringLiteral("post-id"), post.id.toUtf8());
    form.AddField(QStringLiteral("type"), QByteArrayLiteral("photo"));
    form.AddField(QStringLiteral("caption"), modSupport::UNICODEToUTF8(post.rawCaption));
    form.AddField(QStringLiteral("tags"), modSupport::UNICODEToUTF8(TagRule::WriteText(post.tags, tags)));
    form.AddField(QStringLiteral("generator"), modSupport::UNICODEToUTF8(HTTPRequest::AgentName()));
    form.AddField(QStringLiteral("format"), post.format.toUtf8());
    form.AddField(QStringLiteral("slug"), post.slug.toUtf8());
    form.AddField(QStringLiteral("click-through-url"), post.clickThroughUrl.toUtf8());
    form.AddField(QStringLiteral("date"), post.date.toUtf8());
    return data;
}

WriteResult SendPost(const QString &serviceHost, const HTTPProxySettings &proxy, const Account &account,
                     const PostRow &post, const QStringList &tags, IHTTPRequestCallback *callback)
{
    HTTPRequestData data = RequestData(serviceHost, account, post, tags);
    data.callback = callback;
    HTTPRequest request;
    request.setProxy(proxy);
    int repeats = 0;
    bool stopped = false;
    const HTTPResult answer = BackOff::Send(request, data, callback, repeats, stopped);

    // Refused: any status but 201, 200 included.
    const WriteResult result = ServiceResult::fromAnswer(answer, stopped, {201}, modCommon::ServerMessageText);
    return result;
}
}

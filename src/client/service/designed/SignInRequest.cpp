#include "client/service/designed/SignInRequest.h"

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"
#include "client/net/HTTPRequest.h"
#include "client/service/designed/XMLDocument.h"

namespace SignInRequest {

SignInResult Authenticate(const QString &serviceHost, const HTTPProxySettings &proxy, const QString &email,
                          const QString &password, IHTTPRequestCallback *callback)
{
    HTTPRequestData data;
    data.host = serviceHost;
    data.path = QStringLiteral("/api/authenticate");
    data.fields.AddField(QStringLiteral("email"), email);
    data.fields.AddField(QStringLiteral("password"), password);
    data.fields.AddField(QStringLiteral("generator"), HTTPRequest::AgentName().toUtf8());
    data.agent = HTTPRequest::AgentName();
    data.callback = callback;

    HTTPRequest request;
    request.setProxy(proxy);
    const HTTPResult answer = request.Send(data);

    SignInResult result;
    static_cast<ServiceResult &>(result) = ServiceResult::fromAnswer(answer, false, {200}, modCommon::ServerMessageText);
    // A stopped sign-in is reported like any other failed one.
    if (result.outcome == ServiceResult::Stopped)
        result.outcome = ServiceResult::Failed;
    if (!result.accepted())
        return result;
    if (answer.body.isEmpty())
        return result; // accepted, but no list to show
    result.blogList = ReadGroups(answer.body);
    if (!result.blogList)
        result.outcome = ServiceResult::BadAnswer;
    return result;
}

std::optional<QString> ReadGroups(const QByteArray &answer)
{
    XMLDocument document;
    if (!document.LoadXML(answer))
        return std::nullopt;

    const XMLNodeList nodes = document.Root().SelectNodes(QStringLiteral("/tumblr/tumblelog"));
    QString list;
    for (int i = 0; i < nodes.Length(); ++i) {
        const XMLNode node = nodes.Item(i);
        // A missing attribute is unreadable data, as a missing node would be.
        const XMLNode type = node.GetNamedItem(QStringLiteral("type"));
        if (type.isNull())
            return std::nullopt;
        QString host;
        if (type.Text().toLower() != QLatin1String("private")) {
            const XMLNode url = node.GetNamedItem(QStringLiteral("url"));
            if (url.isNull())
                return std::nullopt;
            host = url.Text();
            if (host.left(7).toLower() == QLatin1String("http://"))
                host = modSupport::CutLeft(host, 7);
            if (host.endsWith(u'/'))
                host = modSupport::CutRight(host, 1);
        }
        if (!host.isEmpty()) {
            const XMLNode title = node.GetNamedItem(QStringLiteral("title"));
            if (title.isNull())
                return std::nullopt;
            // The parser has already decoded the document's UTF-8.
            list += title.Text() + QStringLiteral(" | ") + host + QStringLiteral("\r\n");
        }
    }
    return modSupport::TrimCRLF(list);
}
}

#include "client/service/designed/modTumblrReader.h"

#include <QCoreApplication>
#include <QFile>

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"
#include "client/net/HTTPProxySettings.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPRequest.h"
#include "client/service/IPostsRunHost.h"
#include "client/service/IResultIndicator.h"
#include "client/posts/PostsModel.h"

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
    data.fields.AddField(QStringLiteral("email"), page.account.email);
    data.fields.AddField(QStringLiteral("password"), page.account.password);
    data.fields.AddField(QStringLiteral("start"), QString::number(page.start));
    data.fields.AddField(QStringLiteral("num"), QString::number(page.count));
    data.fields.AddField(QStringLiteral("generator"), HTTPRequest::AgentName());
    if (page.postId.isEmpty())
        data.fields.AddField(QStringLiteral("type"), QStringLiteral("photo"));
    else
        data.fields.AddField(QStringLiteral("id"), page.postId);
    return data;
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
    for (;;) {
        bool stopped = false;
        const HTTPResult answer = BackOff::Send(request, data, callback, repeats, stopped);
        if (stopped) {
            result.outcome = ServiceResult::Stopped;
            result.errorText = answer.RequestErrorText();
            return result;
        }
        if (answer.status == 301) {
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
            data.host = newHost;
            data.port = newPort;
            data.path = newPath;
            continue;
        }

        result.status = answer.status;
        // Only a 200 carries the page: any other status, whatever its body, is a
        // read that failed (a well-formed error page is no end of the blog).
        if (answer.failed() || answer.status != 200) {
            // A stop asked for by the user is no failure to report.
            result.outcome = answer.failure == HTTPFailure::Cancelled ? ServiceResult::Stopped : ServiceResult::Failed;
            result.errorText = answer.RequestErrorText();
            // A Retry goes where this attempt went.
            result.retry = page;
            result.retry.host = data.host;
            result.retry.port = data.port;
            result.retry.path = data.path;
            return result;
        }

        result.page = answer.body;
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
    if (!page.accepted())
        return result;
    XMLDocument document;
    if (!document.LoadXML(page.page)) {
        result.outcome = ServiceResult::BadAnswer;
        result.errorText = IncorrectResponse;
        return result;
    }
    const XMLNodeList posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    for (int i = 0; i < posts.Length(); ++i) {
        if (attribute(document, posts.Item(i), "@id") == postId)
            result.post = ReadPostRow(document, posts.Item(i));
    }
    return result;
}

ParseOutcome ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts, IPostsRunHost &host)
{
    posts = XMLNodeList();
    // The page goes through a file so that the parser decodes it by its own declaration.
    const QString path = modSupport::GetTempFileName2(QString(), QStringLiteral("XML"));
    {
        QFile file(path);
        if (!path.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(xml);
    }

    if (!document.Load(path)) {
        host.resultIndicator().setResultColor(IResultIndicator::Red);
        const XMLDocument::ParseErrorInfo &error = document.ParseError();
        const QString message = QStringLiteral("Error parse received XML. Try download it again?\r\n\r\n")
                                + QStringLiteral("Number:      ") + modSupport::GetErrorNumber(error.Number)
                                + QStringLiteral("\r\nDescription: ") + error.Reason
                                + QStringLiteral("\r\nLine, Col:   ") + QString::number(error.Line)
                                + QStringLiteral(", ") + QString::number(error.LinePos);
        if (!path.isEmpty())
            QFile::remove(path);
        return host.askRetry(message) ? ParseOutcome::Retry : ParseOutcome::Stop;
    }

    if (!path.isEmpty() && !modSupport::IsMyComputer())
        QFile::remove(path);

    posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
    return ParseOutcome::Parsed;
}

std::vector<PostRow> AddPhotoPosts(const XMLDocument &document, const XMLNodeList &posts)
{
    std::vector<PostRow> rows;
    for (int i = 0; i < posts.Length(); ++i) {
        const XMLNode post = posts.Item(i);
        if (attribute(document, post, "@type") != QLatin1String("photo"))
            continue;
        if (std::optional<PostRow> row = AddPostRow(document, post))
            rows.push_back(std::move(*row));
    }
    return rows;
}

std::optional<PostRow> AddPostRow(const XMLDocument &document, const XMLNode &post)
{
    PostRow row = ReadPostRow(document, post);
    if (row.rawCaption.isEmpty())
        return std::nullopt;
    // Already carrying its caption as a tag: nothing left to fix.
    const XMLNodeList tags = post.SelectNodes(QStringLiteral("tag"));
    for (int i = 0; i < tags.Length(); ++i) {
        if (CaptionIsTag(row.caption, tags.Item(i).Text()))
            return std::nullopt;
    }
    return row;
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
    QString tagsText;
    for (int i = 0; i < tags.Length(); ++i) {
        const QString tag = tags.Item(i).Text();
        if (tag.contains(QLatin1Char(',')))
            tagsText += QLatin1Char('"') + tag + QLatin1Char('"') + QStringLiteral(", ");
        else
            tagsText += tag + QStringLiteral(", ");
    }
    if (tagsText.endsWith(QStringLiteral(", ")))
        tagsText = modSupport::CutRight(tagsText, 2);
    row.tags = tagsText;

    row.format = attribute(document, post, "@format");
    row.slug = attribute(document, post, "@slug");
    row.clickThroughUrl = attribute(document, post, "photo-link-url");
    row.postUrl = attribute(document, post, "@url");
    return row;
}

QString NormalizeText(const QString &text)
{
    QString result = modSupport::TrimEx(text).toUpper();
    result.replace(QChar(0x00A0), QLatin1Char(' '));
    result.replace(QChar(0x2019), QLatin1Char('\''));
    result.remove(QChar(0x201C));
    result.remove(QChar(0x201D));
    result.replace(QChar(0x2026), QStringLiteral("..."));
    return result;
}

bool CaptionIsTag(const QString &caption, const QString &tagText)
{
    return NormalizeText(tagText) == modCommon::StripTagChars(NormalizeText(caption));
}

bool DownloadPosts(ITumblrService &service, const Account &account, const DownloadSettingsData &settings,
                   IHTTPRequestCallback *callback, IPostsRunHost &host, long &requestNumber)
{
    if (settings.Cancelled)
        return false;
    if (!settings.Cumulative)
        host.posts().clear();

    long start = settings.FirstPageIndex * PageSize;
    long pagesLeft = settings.PagesToRead;
    IResultIndicator &indicator = host.resultIndicator();
    XMLDocument document;

    for (;;) {
        PageRequest page{account, start, PageSize, {}, 80, {}, {}};
        PageResult answer = service.ReadPage(page, callback);
        while (answer.outcome == ServiceResult::Failed) {
            indicator.setResultColor(IResultIndicator::Yellow);
            indicator.countFailure();
            if (!host.askRetry(QStringLiteral("Can't download blog's XML file.\r\n\r\n") + answer.errorText))
                break;
            answer = service.ReadPage(answer.retry, callback);
        }
        if (answer.outcome == ServiceResult::BadAnswer)
            host.showFailure(answer.errorText);

        // No usable answer: a failure not retried, a stop, or an empty body.
        if (!answer.accepted() || answer.page.isEmpty()) {
            indicator.setResultColor(IResultIndicator::Red);
            return false;
        }
        indicator.setResultColor(IResultIndicator::Green);

        XMLNodeList posts;
        const ParseOutcome outcome = ParsePostsPage(document, answer.page, posts, host);
        if (outcome == ParseOutcome::Retry)
            continue;
        if (outcome == ParseOutcome::Stop)
            return false;

        start += PageSize;
        ++requestNumber;
        --pagesLeft;

        if (posts.Length() == 0)
            return true;
        host.posts().append(AddPhotoPosts(document, posts));
        host.DrawControls();

        // Non-photo posts count too: a full page means there may be more.
        if (posts.Length() < PageSize)
            return true;
        if (pagesLeft == 0)
            return false;

        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}

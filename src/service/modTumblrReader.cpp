#include "service/modTumblrReader.h"

#include <QCoreApplication>
#include <QFile>

#include "app/AppInfo.h"
#include "app/DialogServices.h"
#include "app/modCommon.h"
#include "app/modSupport.h"
#include "posts/IPostsList.h"
#include "posts/frmDownloadSettings.h"
#include "service/HTTPProxySettings.h"
#include "service/HTTPRequest.h"
#include "service/IResultIndicator.h"
#include "service/PostsModel.h"

namespace modTumblrReader {

namespace {
const QString IncorrectResponse = QStringLiteral("Incorrect response received from server.");

QString attribute(const XMLDocument &document, const XMLNode &node, const char *path)
{
    return document.NodeText(node.SelectSingleNode(QString::fromLatin1(path)));
}
}

DownloadSettingsData &DownloadSettings()
{
    static DownloadSettingsData settings;
    return settings;
}

long &RequestNumber()
{
    static long number = 0;
    return number;
}

QByteArray ReadPostsXML(long start, long num, IHTTPRequestCallback *callback, const QString &host,
                        const QString &email, const QString &password, IResultIndicator *indicator)
{
    const QString generator = QString::fromUtf8(AppInfo::Title) + QLatin1Char(' ')
                              + modSupport::FormatVersion(AppInfo::Major, AppInfo::Minor, AppInfo::Revision);

    QString targetHost = host;
    int targetPort = 80;
    QString targetPath = QStringLiteral("/api/read");
    int redirects = 0;

    HTTPFormData form;
    HTTPRequest request;
    for (;;) {
        form.Clear();
        request.Reset();
        form.AddField(QStringLiteral("email"), email);
        form.AddField(QStringLiteral("password"), password);
        form.AddField(QStringLiteral("start"), QString::number(start));
        form.AddField(QStringLiteral("num"), QString::number(num));
        form.AddField(QStringLiteral("generator"), generator);
        form.AddField(QStringLiteral("type"), QStringLiteral("photo"));
        HTTPProxySettings proxy;
        proxy.LoadSettings(QStringLiteral("HTTP Proxy"));
        request.setProxy(proxy);
        request.SendRequest(targetHost, targetPort, QStringLiteral("POST"), targetPath, QStringLiteral("HTTP/1.1"),
                            form.PostData(), form.PostHeaders(), 30000, HTTPRequest::AgentName(), callback, true);

        if (request.StatusCode() == 301) {
            // A server that keeps redirecting would keep us here for ever.
            if (++redirects > MaxRedirects) {
                dialogs().critical(IncorrectResponse);
                return {};
            }
            // The header name is matched exactly, as the service writes it.
            const QByteArray headers = request.ResponseHeaders();
            const QByteArray marker("\r\nLocation: ");
            const qsizetype at = headers.indexOf(marker);
            if (at < 0) {
                dialogs().critical(IncorrectResponse);
                return {};
            }
            const qsizetype from = at + marker.size();
            const qsizetype end = headers.indexOf("\r\n", from);
            if (end < 0) {
                dialogs().critical(IncorrectResponse);
                return {};
            }
            const QString location = modSupport::TrimEx(QString::fromLatin1(headers.mid(from, end - from)));
            QString newHost;
            int newPort = 80;
            QString newPath;
            if (!HTTPRequest::ParseURL(location, newHost, newPort, newPath)) {
                dialogs().critical(IncorrectResponse);
                return {};
            }
            targetHost = newHost;
            targetPort = newPort;
            targetPath = newPath;
            continue;
        }

        if (request.Failed()) {
            // A stop asked for by the user is no failure to report.
            if (request.ErrorCode() == HTTPRequest::CancelledErrorCode)
                return {};
            if (indicator) {
                indicator->setResultColor(IResultIndicator::Yellow);
                indicator->setResultCaption(QString::number(modCommon::SafeCLng(indicator->resultCaption()) + 1));
            }
            const DialogServices::Answer answer = dialogs().MessageBoxEx(
                QStringLiteral("Can't download blog's XML file.\r\n\r\n") + DialogServices::RequestErrorText(request),
                21);
            if (answer == DialogServices::Retry)
                continue;
            return {};
        }

        return request.ResponseBody();
    }
}

ParseOutcome ParsePostsPage(XMLDocument &document, const QByteArray &xml, XMLNodeList &posts,
                            IResultIndicator *indicator)
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
        if (indicator)
            indicator->setResultColor(IResultIndicator::Red);
        const XMLDocument::ParseErrorInfo &error = document.ParseError();
        const QString message = QStringLiteral("Error parse received XML. Try download it again?\r\n\r\n")
                                + QStringLiteral("Number:      ") + modSupport::GetErrorNumber(error.Number)
                                + QStringLiteral("\r\nDescription: ") + error.Reason
                                + QStringLiteral("\r\nLine, Col:   ") + QString::number(error.Line)
                                + QStringLiteral(", ") + QString::number(error.LinePos);
        if (!path.isEmpty())
            QFile::remove(path);
        return dialogs().MessageBoxEx(message, 21) == DialogServices::Retry ? ParseOutcome::Retry
                                                                             : ParseOutcome::Stop;
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
    PostRow row;
    row.date = attribute(document, post, "@date");

    const QString rawCaption = attribute(document, post, "photo-caption");
    if (rawCaption.isEmpty())
        return std::nullopt;

    row.caption = modSupport::GetLineOnly(modCommon::HTMLToText(modSupport::GetLineOnly(rawCaption)));
    row.rawCaption = rawCaption;
    row.id = attribute(document, post, "@id");

    const XMLNodeList tags = post.SelectNodes(QStringLiteral("tag"));
    QString tagsText;
    for (int i = 0; i < tags.Length(); ++i) {
        const QString tag = tags.Item(i).Text();
        // Already carrying its caption as a tag: nothing left to fix.
        if (CaptionIsTag(row.caption, tag))
            return std::nullopt;
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

bool DownloadPosts(IHTTPRequestCallback *callback, const QString &groupName, const QString &email,
                   const QString &password, IPostsList &window)
{
    RequestNumber() = 1;

    {
        frmDownloadSettings dialog(window.getPostsButton(), window.window());
        dialog.exec();
    }
    const DownloadSettingsData settings = DownloadSettings();
    if (settings.Cancelled)
        return false;

    if (!settings.Cumulative)
        window.posts().clear();

    long start = settings.FirstPageIndex * PageSize;
    long pagesLeft = settings.PagesToRead;
    IResultIndicator &indicator = window.resultIndicator();
    XMLDocument document;

    for (;;) {
        const QByteArray xml = ReadPostsXML(start, PageSize, callback, groupName, email, password, &indicator);
        if (xml.isEmpty()) {
            indicator.setResultColor(IResultIndicator::Red);
            return false;
        }
        indicator.setResultColor(IResultIndicator::Green);

        XMLNodeList posts;
        const ParseOutcome outcome = ParsePostsPage(document, xml, posts, &indicator);
        if (outcome == ParseOutcome::Retry)
            continue;
        if (outcome == ParseOutcome::Stop)
            return false;

        start += PageSize;
        ++RequestNumber();
        --pagesLeft;

        if (posts.Length() == 0)
            return true;
        window.posts().append(AddPhotoPosts(document, posts));
        window.DrawControls();

        // Non-photo posts count too: a full page means there may be more.
        if (posts.Length() < PageSize)
            return true;
        if (pagesLeft == 0)
            return false;

        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}

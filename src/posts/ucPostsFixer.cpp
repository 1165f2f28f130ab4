#include "posts/ucPostsFixer.h"

#include <QCoreApplication>

#include "app/AppConfig.h"
#include "app/DialogServices.h"
#include "app/modCommon.h"
#include "app/modSupport.h"
#include "posts/IPostsList.h"
#include "service/HTTPProxySettings.h"
#include "service/HTTPRequest.h"
#include "service/IResultIndicator.h"
#include "service/PostsModel.h"

ucPostsFixer::ucPostsFixer(IPostsList &window, QWidget *parent) : ucPostsPanel(parent), m_window(window)
{
    setObjectName(QStringLiteral("upfFixer"));
}

bool ucPostsFixer::FixPosts(const QString &groupName, const QString &email, const QString &password)
{
    if (groupName.isEmpty() || email.isEmpty() || password.isEmpty())
        return false;
    goOnline();
    const bool result = FixListedPosts(groupName, email, password);
    goOffline();
    return result;
}

bool ucPostsFixer::FixListedPosts(const QString &groupName, const QString &email, const QString &password)
{
    PostsModel &posts = m_window.posts();
    m_requestNumber = 1;
    while (posts.count() > 0) {
        // Always the first row: a row leaves the list only once its post was written.
        const PostRow &row = posts.at(0);
        if (!row.caption.isEmpty()) {
            const PostRow post = row; // the row must not be read again after the request
            const QString newTag = modCommon::StripTagChars(post.caption);
            QString tags = post.tags;
            if (!tags.isEmpty())
                tags += QStringLiteral(", ");
            tags += QLatin1Char('"') + newTag + QLatin1Char('"');

            if (!SendPost(groupName, email, password, post.id, post.rawCaption, tags, post.format, post.slug,
                          post.clickThroughUrl, post.date)) {
                m_window.resultIndicator().setResultColor(IResultIndicator::Red);
                return false;
            }
            m_window.resultIndicator().setResultColor(IResultIndicator::Green);
        }

        posts.removeAt(0);
        if (posts.count() > 0)
            m_window.selectAndShowRow(0);
        m_window.DrawControls();
        ++m_requestNumber;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

bool ucPostsFixer::SendPost(const QString &groupName, const QString &email, const QString &password,
                            const QString &postId, const QString &caption, const QString &tags,
                            const QString &format, const QString &slug, const QString &clickThroughUrl,
                            const QString &postDate)
{
    HTTPFormData form;
    HTTPRequest request;
    for (;;) {
        form.Clear();
        request.Reset();

        // Every field goes out, empty or not: the write replaces the whole post.
        form.AddField(QStringLiteral("group"), groupName.toUtf8());
        form.AddField(QStringLiteral("email"), email.toUtf8());
        form.AddField(QStringLiteral("password"), password.toUtf8());
        form.AddField(QStringLiteral("post-id"), postId.toUtf8());
        form.AddField(QStringLiteral("type"), QByteArrayLiteral("photo"));
        form.AddField(QStringLiteral("caption"), modSupport::UNICODEToUTF8(caption));
        form.AddField(QStringLiteral("tags"), modSupport::UNICODEToUTF8(tags));
        form.AddField(QStringLiteral("generator"), modSupport::UNICODEToUTF8(HTTPRequest::AgentName()));
        form.AddField(QStringLiteral("format"), format.toUtf8());
        form.AddField(QStringLiteral("slug"), slug.toUtf8());
        form.AddField(QStringLiteral("click-through-url"), clickThroughUrl.toUtf8());
        form.AddField(QStringLiteral("date"), postDate.toUtf8());

        HTTPProxySettings proxy;
        proxy.LoadSettings(QStringLiteral("HTTP Proxy"));
        request.setProxy(proxy);

        request.SendRequest(AppConfig::serviceHost(), 80, QStringLiteral("POST"), QStringLiteral("/api/write"),
                            QStringLiteral("HTTP/1.1"), form.PostData(), form.PostHeaders(), 30000,
                            HTTPRequest::AgentName(), this, false);

        if (request.ErrorCode() == HTTPRequest::CancelledErrorCode)
            return false; // the user asked to stop: nothing to tell
        if (request.LastError() != 0) {
            dialogs().ShowRequestError(request, QStringLiteral("Can't send post."));
            return false;
        }
        if (request.StatusCode() == 201)
            return true;

        // Refused (200 included): count it and let the user decide.
        IResultIndicator &indicator = m_window.resultIndicator();
        indicator.setResultColor(IResultIndicator::Yellow);
        indicator.setResultCaption(QString::number(qint64(modCommon::SafeCLng(indicator.resultCaption())) + 1));
        const QString message = QStringLiteral("Can't send post. ")
                                + modCommon::ServerMessageText(request.ResponseBody()) + QStringLiteral("\r\n\r\n")
                                + DialogServices::RequestErrorText(request);
        if (dialogs().MessageBoxEx(message, 21) != DialogServices::Retry)
            return false;
    }
}

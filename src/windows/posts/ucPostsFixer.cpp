#include "posts/ucPostsFixer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include "app/DialogServices.h"
#include "service/BackOff.h"
#include "service/ITumblrService.h"
#include "service/IResultIndicator.h"
#include "service/PostsModel.h"

ucPostsFixer::ucPostsFixer(ITumblrService &service, IPostsList &window, QWidget *parent)
    : ucPostsPanel(service, window, parent)
{
    setObjectName(QStringLiteral("upfFixer"));
}

bool ucPostsFixer::FixPosts(const Account &account)
{
    if (account.groupName.isEmpty() || account.email.isEmpty() || account.password.isEmpty())
        return false;
    goOnline();
    const bool result = FixListedPosts(account);
    goOffline();
    return result;
}

bool ucPostsFixer::FixListedPosts(const Account &account)
{
    PostsModel &rows = posts();
    m_requestNumber = 1;
    // Pacing: a write starts no sooner than this after the one before.
    const int perMinute = service().writesPerMinute();
    const qint64 gapMs = perMinute > 0 ? 60000 / perMinute : 0;
    QElapsedTimer sinceWrite;
    while (rows.count() > 0) {
        if (gapMs > 0 && !rows.at(0).caption.isEmpty()) {
            if (sinceWrite.isValid() && !BackOff::WaitMs(gapMs - sinceWrite.elapsed(), this))
                return false; // stopped while waiting: the row stays
            sinceWrite.start();
        }
        // Always the first row: a row leaves the list only once its post was written.
        const PostRow &row = rows.at(0);
        if (!row.caption.isEmpty()) {
            // A write without a post id adds a new post: a copy on the service.
            if (row.id.trimmed().isEmpty()) {
                resultIndicator().setResultColor(IResultIndicator::Red);
                dialogs().critical(MissingIdText(row));
                return false;
            }
            const PostRow post = row; // the row must not be read again after the request
            if (!SendPost(account, post, FixedTags(post))) {
                resultIndicator().setResultColor(IResultIndicator::Red);
                return false;
            }
            resultIndicator().setResultColor(IResultIndicator::Green);
        }

        rows.removeAt(0);
        if (rows.count() > 0)
            selectAndShowRow(0);
        DrawControls();
        ++m_requestNumber;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

QString ucPostsFixer::MissingIdText(const PostRow &row)
{
    return QStringLiteral("Can't send post. The post of ") + row.date + QStringLiteral(" \"") + row.caption
           + QStringLiteral("\" has no post id: writing it would add a new post instead of fixing this one. "
                            "The row stays in the list.");
}

bool ucPostsFixer::SendPost(const Account &account, const PostRow &post, const QString &tags)
{
    for (;;) {
        const WriteResult result = service().WritePost(account, post, tags, this);
        switch (result.outcome) {
        case ServiceResult::Accepted:
            return true;
        case ServiceResult::Stopped:
            return false; // the user asked to stop: nothing to tell
        case ServiceResult::Failed:
        case ServiceResult::BadAnswer:
            dialogs().ShowRequestError(QStringLiteral("Can't send post."), result.errorText);
            return false;
        case ServiceResult::Refused:
            break;
        }
        // Refused (200 included): count it and let the user decide.
        resultIndicator().setResultColor(IResultIndicator::Yellow);
        resultIndicator().countFailure();
        if (!askRetry(QStringLiteral("Can't send post. ") + result.serverMessage + QStringLiteral("\r\n\r\n")
                      + result.errorText))
            return false;
    }
}

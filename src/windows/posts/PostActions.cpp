#include "windows/posts/PostActions.h"

#include <QDesktopServices>
#include <QItemSelectionModel>
#include <algorithm>

#include "windows/app/DialogServices.h"
#include "windows/posts/IPostsList.h"
#include "client/posts/PostsModel.h"

namespace {
std::function<bool(const QUrl &)> &urlOpener()
{
    static std::function<bool(const QUrl &)> opener;
    return opener;
}

bool isHexDigit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool openAddress(const QUrl &url)
{
    if (urlOpener())
        return urlOpener()(url);
    return QDesktopServices::openUrl(url);
}

// Addresses come from the service: only a web page goes to the desktop. Any
// other scheme (file:, a custom handler's) would have the desktop open a file
// or start a program on the service's word.
bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
           && !url.host().isEmpty();
}

// The address as it is. Tolerant parsing keeps percent escapes and reserved
// characters where they are ("%2F" stays "%2F"), but one stray "%" would make
// it re-escape every "%" of the address; so only a stray one becomes "%25",
// the one form a URL can carry it in.
QUrl addressUrl(const QString &address)
{
    QString text;
    text.reserve(address.size() + 8);
    for (qsizetype i = 0; i < address.size(); ++i) {
        const QChar c = address.at(i);
        if (c == QLatin1Char('%')
            && !(i + 2 < address.size() && isHexDigit(address.at(i + 1)) && isHexDigit(address.at(i + 2))))
            text += QStringLiteral("%25");
        else
            text += c;
    }
    const QUrl url(text, QUrl::TolerantMode);
    if (url.scheme().isEmpty())
        return QUrl::fromUserInput(text);
    return url;
}
}

PostActions::PostActions(IPostsList &window, QItemSelectionModel &selection, const QString &webHost)
    : m_window(window), m_selection(selection), m_webHost(webHost)
{
}

QList<int> PostActions::GetSelectedIndexes() const
{
    // From the selection's ranges, so a small selection costs little on a long list.
    QList<int> rows;
    const int count = m_window.posts().count();
    const QItemSelection selection = m_selection.selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom() && row < count; ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void PostActions::SelectAllPosts()
{
    PostsModel &posts = m_window.posts();
    if (posts.count() == 0)
        return;
    const QItemSelection all(posts.index(0, 0), posts.index(posts.count() - 1, PostsModel::ColumnCount - 1));
    m_selection.select(all, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void PostActions::RemovePostAt(int row)
{
    PostsModel &posts = m_window.posts();
    posts.removeAt(row);
    if (posts.count() == 0)
        return;
    // The row that followed the removed one, or the new last row, joins the selection.
    m_window.selectAndShowRow(std::min(row, posts.count() - 1));
}

void PostActions::RemoveSelectedPosts()
{
    const QList<int> rows = GetSelectedIndexes();
    // From the highest down, so the lower indexes stay valid.
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        RemovePostAt(*it);
    m_window.DrawControls();
}

void PostActions::OpenPost()
{
    const QList<int> rows = GetSelectedIndexes();
    if (rows.size() != 1)
        return;
    const QString address = m_window.posts().at(rows.first()).postUrl;
    if (address.isEmpty()) {
        dialogs().critical(QStringLiteral("Oops! For some reason this post don't have URL!"));
        return;
    }
    const QUrl url = addressUrl(address);
    if (!isWebAddress(url)) {
        dialogs().critical(address + QStringLiteral("\r\n\r\nThis post's address is not a web address (http or "
                                                    "https), so it is not opened."));
        return;
    }
    if (!openAddress(url))
        dialogs().critical(address + QStringLiteral("\r\n\r\nCan't open post in default browser."));
}

void PostActions::EditPost()
{
    const QList<int> rows = GetSelectedIndexes();
    if (rows.size() != 1)
        return;
    const PostRow &post = m_window.posts().at(rows.first());
    if (post.id.isEmpty()) {
        dialogs().critical(QStringLiteral("Oops! For some reason this post don't have ID!"));
        return;
    }
    if (post.postUrl.isEmpty()) {
        dialogs().critical(QStringLiteral("Oops! For some reason this post don't have URL!"));
        return;
    }
    QString address = m_editorAddress ? m_editorAddress(post) : QString();
    if (address.isEmpty())
        address = EditorAddress(m_webHost, post.id, post.postUrl);
    const QUrl url = addressUrl(address);
    if (!isWebAddress(url)) {
        dialogs().critical(address + QStringLiteral("\r\n\r\nThe post editor's address is not a web address (http "
                                                    "or https), so it is not opened."));
        return;
    }
    if (!openAddress(url))
        dialogs().critical(address + QStringLiteral("\r\n\r\nCan't open post editor in default browser."));
}

QString PostActions::EditorAddress(const QString &webHost, const QString &postId, const QString &postUrl)
{
    // Only these three are escaped, in this order; a "%" already there stays.
    QString escaped = postUrl;
    escaped.replace(QLatin1Char('/'), QStringLiteral("%2F"));
    escaped.replace(QLatin1Char('\\'), QStringLiteral("%5C"));
    escaped.replace(QLatin1Char(':'), QStringLiteral("%3A"));
    return QStringLiteral("http://") + webHost + QStringLiteral("/edit/") + postId + QStringLiteral("?redirect_to=")
           + escaped;
}

void PostActions::setUrlOpener(std::function<bool(const QUrl &)> opener) { urlOpener() = std::move(opener); }

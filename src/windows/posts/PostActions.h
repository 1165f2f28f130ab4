#pragma once
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>

#include "client/posts/PostRow.h"

class QItemSelectionModel;
class QWidget;
class IPostsList;

// What the user does to listed rows: select all, remove, open the post or its editor.
class PostActions
{
public:
    // webHost: where the service's post editor is.
    PostActions(IPostsList &window, QItemSelectionModel &selection, const QString &webHost);

    QList<int> GetSelectedIndexes() const; // zero-based rows, ascending
    void SelectAllPosts();
    void RemovePostAt(int row);
    void RemoveSelectedPosts();
    // Only http and https addresses reach the browser; any other is refused with a message.
    void OpenPost();
    void EditPost();

    // "http://WEBHOST/edit/ID?redirect_to=ESCAPED"
    static QString EditorAddress(const QString &webHost, const QString &postId, const QString &postUrl);
    // The editor's address where the interface has one of its own (empty: EditorAddress).
    void setEditorAddress(std::function<QString(const PostRow &)> address) { m_editorAddress = std::move(address); }

    // How an address reaches the browser; tests replace it. Default: QDesktopServices.
    static void setUrlOpener(std::function<bool(const QUrl &)> opener);

private:
    IPostsList &m_window;
    QItemSelectionModel &m_selection;
    QString m_webHost;
    std::function<QString(const PostRow &)> m_editorAddress;
};

#include "posts/ucPostsLoader.h"

#include "service/modTumblrReader.h"

ucPostsLoader::ucPostsLoader(IPostsList &window, QWidget *parent) : ucPostsPanel(parent), m_window(window) {}

long ucPostsLoader::progressNumber() const
{
    return modTumblrReader::RequestNumber();
}

bool ucPostsLoader::GetPosts(const QString &groupName, const QString &email, const QString &password)
{
    if (groupName.isEmpty() || email.isEmpty() || password.isEmpty())
        return false;
    goOnline();
    const bool result = modTumblrReader::DownloadPosts(this, groupName, email, password, m_window);
    goOffline();
    return result;
}

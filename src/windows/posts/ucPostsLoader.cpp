#include "windows/posts/ucPostsLoader.h"

#include "windows/posts/IPostsList.h"
#include "windows/posts/frmDownloadSettings.h"
#include "client/service/designed/modTumblrReader.h"

ucPostsLoader::ucPostsLoader(ITumblrService &service, IPostsList &window, QWidget *parent)
    : ucPostsPanel(service, window, parent)
{
}

bool ucPostsLoader::GetPosts(const Account &account)
{
    if (!accountComplete(account))
        return false;
    goOnline();
    m_requestNumber = 1;
    modTumblrReader::DownloadSettingsData settings;
    {
        frmDownloadSettings dialog(postsWindow().getPostsButton(), postsWindow().window());
        dialog.exec();
        settings = dialog.settings();
    }
    const bool result = service().DownloadPosts(account, settings, this, *this, m_requestNumber);
    goOffline();
    return result;
}

#include "windows/posts/ucPostsLoader.h"

#include "client/runs/DownloadRun.h"
#include "windows/posts/IPostsList.h"
#include "windows/posts/frmDownloadSettings.h"

ucPostsLoader::ucPostsLoader(ITumblrService &service, IPostsList &window, QWidget *parent)
    : ucPostsPanel(service, window, parent)
{
}

bool ucPostsLoader::GetPosts(const Account &account)
{
    if (!accountComplete(account))
        return false;
    goOnline();
    progress(1);
    DownloadSettingsData settings;
    {
        frmDownloadSettings dialog(postsWindow().getPostsButton(), postsWindow().window());
        dialog.exec();
        settings = dialog.settings();
    }
    DownloadRun run(service(), posts(), *this);
    const bool result = run.run(account, settings);
    goOffline();
    return result;
}

#include "client/service/ITumblrService.h"

#include "client/service/designed/modTumblrReader.h"

bool ITumblrService::DownloadPosts(const Account &account, const modTumblrReader::DownloadSettingsData &settings,
                                   IHTTPRequestCallback *callback, IPostsRunHost &host, long &requestNumber)
{
    return modTumblrReader::DownloadPosts(*this, account, settings, callback, host, requestNumber);
}

#pragma once
#include <QDateTime>

#include "client/service/Account.h"

class ITumblrService;
class PostsModel;
class RunObserver;

// What the download settings dialog asked for.
struct DownloadSettingsData {
    long FirstPageIndex = 0;
    long PagesToRead = -1; // -1: all pages
    bool Cumulative = false;
    bool Cancelled = true;
    // Set: only posts newer than this. The posts come newest first, so the
    // download ends at the first one that is not (a date it can't read
    // counts as newer).
    QDateTime NewerThan;
};

// "Get posts": reads a blog's photo posts page by page (50 a page, in as many
// reads as the service's interface needs) into the posts model, leaving out
// posts without a caption and posts that already carry it as a tag.
class DownloadRun final
{
public:
    static constexpr int PageSize = 50;

    DownloadRun(ITumblrService &service, PostsModel &rows, RunObserver &observer);
    // True when the blog had no further posts (or none newer than NewerThan).
    bool run(const Account &account, const DownloadSettingsData &settings);

private:
    ITumblrService &m_service;
    PostsModel &m_rows;
    RunObserver &m_observer;
};

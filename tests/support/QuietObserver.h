#pragma once
#include "client/runs/DownloadRun.h"
#include "client/runs/RunObserver.h"

// A run's observer that shows nothing, stops nothing and answers every
// question Stop; tests and benchmarks override what they watch.
class QuietObserver : public RunObserver
{
public:
    void BlockReceived(const QByteArray &, bool &, qint64, qint64, bool &) override {}
    void BlockSent(const QByteArray &, qint64, qint64, bool &) override {}
    void stepSucceeded() override {}
    void progress(long) override {}
    void rowsAdded(int) override {}
    void rowWritten(int) override {}
    bool askRetry(const RunProblem &) override { return false; }
    bool stopRequested() const override { return false; }
    void finished(const RunReport &) override {}
};

// "Get posts" for every page, the dialog answered.
inline DownloadSettingsData allPages()
{
    DownloadSettingsData settings;
    settings.Cancelled = false;
    return settings;
}

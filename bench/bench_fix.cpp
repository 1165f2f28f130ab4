// How long "Fix posts" takes through the posts window against the in-process
// simulator, and whether the cost of one row depends on the length of the list.
//
//   QT_QPA_PLATFORM=offscreen ./bench/bench_fix [posts [long list rows]]
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "app/AppConfig.h"
#include "app/DialogServices.h"
#include "posts/frmPostsList.h"
#include "service/PostsModel.h"

namespace {
const QString Blog = QStringLiteral("bench");

PostRow rowFor(const sim::Post &post)
{
    PostRow row;
    row.date = post.date;
    row.id = post.id;
    row.caption = post.caption;
    row.rawCaption = post.caption;
    row.tags = post.tags.join(QStringLiteral(", "));
    row.format = post.format;
    row.slug = post.slug;
    row.clickThroughUrl = post.linkUrl;
    row.postUrl = post.url;
    return row;
}

// Lists `rows` rows (the blog's posts over and over) and times the click.
double fixThroughWindow(SimFixture &sim, int rows, int *written)
{
    auto window = PostsWindowDriver::open(sharedTestService(), sim, Blog);
    const std::vector<sim::Post> &posts = sim.blog(Blog).posts;
    std::vector<PostRow> list;
    list.reserve(size_t(rows));
    for (int i = 0; i < rows; ++i)
        list.push_back(rowFor(posts[size_t(i) % posts.size()]));
    window->posts().append(std::move(list));
    window->DrawControls();
    sim.server().clearLog();

    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(PostsWindowDriver::button(*window, "cmdFixPosts"), Qt::LeftButton);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    *written = int(sim.server().log(sim::Endpoint::Write).size());
    return seconds;
}

// Fixes the first `sent` rows of a list of `rows` rows; a refused write
// (answered Cancel) ends the run there.
double perRowMs(int rows, int sent)
{
    SimFixture sim(SimFixture::generatedAccount(Blog, sent + 1));
    sharedTestService().useSimulator(sim);
    sim::Fault normal;
    normal.kind = sim::Fault::Delay;
    sim.server().injectFault(sim::Endpoint::Write, normal, sent);
    sim::Fault refused;
    refused.status = 400;
    refused.body = "Enough.";
    sim.server().injectFault(sim::Endpoint::Write, refused, 1);
    int written = 0;
    const double seconds = fixThroughWindow(sim, rows, &written);
    if (written != sent + 1)
        std::fprintf(stderr, "unexpected number of writes: %d\n", written);
    return seconds * 1000.0 / sent;
}
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestFolders folders;
    if (!folders.isValid()) {
        std::fprintf(stderr, "no temporary folder of our own\n");
        return 1;
    }
    ScriptedDialogs dialogs;
    setDialogs(&dialogs);

    const int posts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    {
        SimFixture sim(SimFixture::generatedAccount(Blog, posts));
        sharedTestService().useSimulator(sim);
        int written = 0;
        const double seconds = fixThroughWindow(sim, posts, &written);
        std::printf("Fix posts, %d listed posts: %.2f s, %.3f ms a post, %d writes, %d boxes shown\n", posts,
                    seconds, seconds * 1000.0 / posts, written, int(dialogs.shown.size()));
    }

    const int sent = 500;
    dialogs.clear();
    const double small = perRowMs(1000, sent);
    const int longList = argc > 2 ? std::max(sent + 1, std::atoi(argv[2])) : 100000;
    const double large = perRowMs(longList, sent);
    std::printf("First %d rows of a 1000-row list: %.3f ms a row\n", sent, small);
    std::printf("First %d rows of a %d-row list: %.3f ms a row (%.2fx)\n", sent, longList, large, large / small);
    setDialogs(nullptr);
    return 0;
}

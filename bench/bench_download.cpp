// How long a whole download takes through the real posts window, and what
// appending a page and removing the first row cost at 1k and at 100k rows.
// Run: QT_QPA_PLATFORM=offscreen ./bench/bench_download [posts]
#include "service/Account.h"
#include "ModalDialogs.h"
#include "TestService.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "SimFixture.h"
#include "TestFolders.h"
#include "app/DialogServices.h"
#include "app/modMain.h"
#include "posts/frmDownloadSettings.h"
#include "posts/frmPostsList.h"
#include "service/PostsModel.h"
#include "GeneratedRows.h"

namespace {

// Microseconds per page appended (50 rows) when the list already holds `base`
// rows; with `paint`, pending events (layout, painting) run after each page.
// The best of five rounds, since the machine may be busy with other work.
double appendCost(frmPostsList &window, int base, bool paint)
{
    constexpr int Pages = 40;
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        fillModel(window.posts(), base);
        QCoreApplication::processEvents();
        std::vector<std::vector<PostRow>> pages;
        for (int i = 0; i < Pages; ++i)
            pages.push_back(makeRows(50, base + i * 50));
        QElapsedTimer timer;
        timer.start();
        for (auto &page : pages) {
            window.posts().append(std::move(page));
            window.DrawControls();
            if (paint)
                QCoreApplication::processEvents();
        }
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0 / Pages);
    }
    return best;
}

// Microseconds per removal of the first row as the fixer does it: remove,
// select the new first row, refresh the caption.
double removeFirstCost(frmPostsList &window, int base, bool paint)
{
    constexpr int Removals = 200;
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        fillModel(window.posts(), base);
        window.selectAndShowRow(0);
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Removals; ++i) {
            window.posts().removeAt(0);
            window.selectAndShowRow(0);
            window.DrawControls();
            if (paint)
                QCoreApplication::processEvents();
        }
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0 / Removals);
    }
    return best;
}
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestFolders folders;
    if (!folders.isValid()) {
        std::fprintf(stderr, "no temporary folder of our own\n");
        return 1;
    }
    ScriptedDialogs scripted;
    setDialogs(&scripted);

    const int posts = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("bench"), posts));
    testAccount() = {sim.blogHost(QStringLiteral("bench")), QStringLiteral("user@example.com"),
                     QStringLiteral("secret")};

    frmPostsList window(sharedTestService().settings(), sharedTestService().service(), testAccount());
    window.show();
    QCoreApplication::processEvents();

    DownloadAnswer answer;
    answerDownloadSettings(&answer);
    QElapsedTimer timer;
    timer.start();
    window.findChild<QPushButton *>(QStringLiteral("cmdGetPosts"))->click();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const qsizetype requests = sim.server().log(sim::Endpoint::Read).size();
    std::printf("download %d posts: %.2f s (%lld requests, %d rows, %s)\n", posts, seconds,
                static_cast<long long>(requests), window.posts().count(),
                scripted.shown.isEmpty() ? "no messages" : "MESSAGES SHOWN");

    for (const bool paint : {false, true}) {
        const char *how = paint ? "with repaint" : "model+view  ";
        for (const int base : {1000, 100000})
            std::printf("append a page of 50 to %6d rows, %s: %8.1f us per page\n", base, how,
                        appendCost(window, base, paint));
        for (const int base : {1000, 100000})
            std::printf("remove the first of %6d rows,    %s: %8.1f us per row\n", base, how,
                        removeFirstCost(window, base, paint));
    }
    window.posts().clear();
    return window.posts().count() == 0 && requests > 0 ? 0 : 1;
}

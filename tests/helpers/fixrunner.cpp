// The program's posts window in a process of its own, fixing every photo post
// of one blog: the run a test kills in the middle. Lists the blog's first
// pages itself, says "listed N", clicks "Fix posts" and says "done" after.
#include <QApplication>
#include <QPushButton>
#include <QStandardPaths>

#include <cstdio>

#include "login/SettingsStore.h"
#include "posts/frmPostsList.h"
#include "service/PostsModel.h"
#include "service/XMLDocument.h"
#include "service/XmlTumblrService.h"
#include "service/modTumblrReader.h"

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 6) {
        std::fprintf(stderr, "usage: fixrunner SERVICE-HOST BLOG-HOST EMAIL PASSWORD JOURNAL-FOLDER\n");
        return 2;
    }
    SettingsStore settings;
    XmlTumblrService service(settings, arguments.at(1));
    Account account;
    account.groupName = arguments.at(2);
    account.email = arguments.at(3);
    account.password = arguments.at(4);
    frmPostsList window(settings, service, account);
    window.setJournalFolder(arguments.at(5));
    window.show();

    for (long start = 0;; start += modTumblrReader::PageSize) {
        PageRequest request;
        request.account = account;
        request.start = start;
        const PageResult page = service.ReadPage(request, nullptr);
        XMLDocument document;
        if (!page.accepted() || !document.LoadXML(page.page))
            return 1;
        const XMLNodeList posts = document.Root().SelectNodes(QStringLiteral("/tumblr/posts/post"));
        if (posts.Length() == 0)
            break;
        window.posts().append(modTumblrReader::AddPhotoPosts(document, posts));
    }
    window.DrawControls();
    std::printf("listed %d\n", window.posts().count());
    std::fflush(stdout);
    window.findChild<QPushButton *>(QStringLiteral("cmdFixPosts"))->click();
    std::printf("done\n");
    std::fflush(stdout);
    return 0;
}

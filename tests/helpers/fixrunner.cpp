// The program's posts window in a process of its own, fixing every photo post
// of one blog: the run a test kills in the middle. Lists the blog's pages
// itself, says "listed N", clicks "Fix posts" and says "done" after. With
// --undo it presses Ctrl+Z instead, takes the newest run and prints what the
// chooser and the summary showed.
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QStandardPaths>

#include <cstdio>

#include "client/login/SettingsStore.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/frmUndoRuns.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"
#include "client/service/designed/XmlTumblrService.h"
#include "client/service/designed/modTumblrReader.h"

int main(int argc, char *argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const bool undo = arguments.size() == 7 && arguments.at(6) == QLatin1String("--undo");
    if (arguments.size() != 6 && !undo) {
        std::fprintf(stderr, "usage: fixrunner SERVICE-HOST BLOG-HOST EMAIL PASSWORD JOURNAL-FOLDER [--undo]\n");
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

    if (undo) {
        // Answers the run chooser (the newest run) and the summary, printing both.
        QTimer answer;
        answer.setInterval(20);
        QObject::connect(&answer, &QTimer::timeout, [] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *chooser = qobject_cast<frmUndoRuns *>(modal)) {
                const auto *runs = chooser->findChild<QTreeWidget *>(QStringLiteral("tvRuns"));
                for (int i = 0; i < runs->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem *item = runs->topLevelItem(i);
                    std::printf("run: %s | %s | written %s | unknown %s\n", qPrintable(item->text(0)),
                                qPrintable(item->text(1)), qPrintable(item->text(2)), qPrintable(item->text(3)));
                }
                chooser->findChild<QPushButton *>(QStringLiteral("cmdUndo"))->click();
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                std::printf("%s\n", qPrintable(box->text()));
                box->accept();
            }
            std::fflush(stdout);
        });
        answer.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
        QCoreApplication::sendEvent(window.findChild<QWidget *>(QStringLiteral("lvPosts")), &press);
        return 0;
    }

    for (long start = 0;; start += modTumblrReader::PageSize) {
        PageRequest request;
        request.account = account;
        request.start = start;
        PageResult page = service.readPage(request, nullptr);
        if (!page.accepted())
            return 1;
        std::vector<PostRow> rows;
        for (PostRow &post : page.posts) {
            if (TagRule::needsFix(post, TagRules::designed()))
                rows.push_back(std::move(post));
        }
        window.posts().append(std::move(rows));
        if (!page.next)
            break;
    }
    window.DrawControls();
    std::printf("listed %d\n", window.posts().count());
    std::fflush(stdout);
    window.findChild<QPushButton *>(QStringLiteral("cmdFixPosts"))->click();
    std::printf("done\n");
    std::fflush(stdout);
    return 0;
}

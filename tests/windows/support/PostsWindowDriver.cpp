#include "PostsWindowDriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include "windows/posts/PostsListView.h"
#include <QTimer>

#include "ModalDialogs.h"
#include "SimFixture.h"
#include "TestService.h"
#include "client/service/designed/XmlTumblrService.h"
#include "windows/posts/frmPostsList.h"
#include "client/posts/PostsModel.h"

namespace PostsWindowDriver {

Account simulatorAccount(SimFixture &sim, const QString &blogName)
{
    Account account;
    account.groupName = sim.blogHost(blogName);
    account.email = sim.server().accounts().front().email;
    account.password = sim.server().accounts().front().password;
    return account;
}

std::unique_ptr<frmPostsList> open(TestService &service, SimFixture &sim, const QString &blogName)
{
    service.useSimulator(sim);
    auto window = std::make_unique<frmPostsList>(service.settings(), service.service(),
                                                 simulatorAccount(sim, blogName));
    window->show();
    return window;
}

bool downloadAll(frmPostsList &window)
{
    DownloadAnswer answer;
    answer.cumulative = false;
    answerDownloadSettings(&answer);
    button(window, "cmdGetPosts")->click();
    return answer.opened;
}

QPushButton *button(frmPostsList &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

PostsListView *list(frmPostsList &window)
{
    return window.findChild<PostsListView *>(QStringLiteral("lvPosts"));
}

QStringList listedIds(frmPostsList &window)
{
    QStringList ids;
    for (int row = 0; row < window.posts().count(); ++row)
        ids << window.posts().at(row).id;
    return ids;
}

QList<int> selectedRows(frmPostsList &window)
{
    QList<int> rows;
    for (const QModelIndex &index : list(window)->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}
}

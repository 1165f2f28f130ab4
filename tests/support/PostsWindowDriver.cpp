#include "PostsWindowDriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include "posts/PostsListView.h"
#include <QTimer>

#include "SimFixture.h"
#include "app/modMain.h"
#include "posts/frmDownloadSettings.h"
#include "posts/frmPostsList.h"
#include "service/PostsModel.h"

namespace PostsWindowDriver {

std::unique_ptr<frmPostsList> open(SimFixture &sim, const QString &blogName)
{
    modMain::CurrentAccount &account = modMain::current();
    account.groupName = sim.blogHost(blogName);
    account.email = sim.server().accounts().front().email;
    account.password = sim.server().accounts().front().password;
    auto window = std::make_unique<frmPostsList>();
    window->show();
    return window;
}

bool downloadAll(frmPostsList &window)
{
    bool opened = false;
    // The dialog is modal: answer it from a timer once it is up.
    auto *timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, &opened] {
        auto *dialog = qobject_cast<frmDownloadSettings *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        opened = true;
        dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"))->setText(QStringLiteral("1"));
        dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"))->setText(QStringLiteral("All"));
        dialog->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"))->setChecked(false);
        dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"))->click();
    });
    timer->start();
    button(window, "cmdGetPosts")->click();
    if (!opened) {
        timer->stop();
        timer->deleteLater();
    }
    return opened;
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

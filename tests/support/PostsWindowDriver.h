#pragma once
#include <QString>
#include <QStringList>
#include <memory>

class frmPostsList;
class QPushButton;
class PostsListView;
class SimFixture;

// Drives the real posts window the way a user does: opens it for a blog of
// the simulator, runs "Get posts" with the download settings dialog answered,
// and reads back what the window shows.
namespace PostsWindowDriver {

// Sets the current account to the simulator's first account and `blogName`
// (by its host, as the login window hands it over) and shows the window.
std::unique_ptr<frmPostsList> open(SimFixture &sim, const QString &blogName);

// "Get posts" for every page from the first; true when the dialog opened.
bool downloadAll(frmPostsList &window);

QPushButton *button(frmPostsList &window, const char *name);
PostsListView *list(frmPostsList &window);
QStringList listedIds(frmPostsList &window);
QList<int> selectedRows(frmPostsList &window); // zero-based, ascending
}

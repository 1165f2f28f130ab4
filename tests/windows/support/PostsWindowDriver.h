#pragma once
#include <QString>
#include <QStringList>
#include <memory>

class frmPostsList;
class QPushButton;
class PostsListView;
class SimFixture;
class TestService;
struct Account;

// Drives the real posts window the way a user does: opens it for a blog of
// the simulator, runs "Get posts" with the download settings dialog answered,
// and reads back what the window shows.
namespace PostsWindowDriver {

// The simulator's first account with `blogName` (by its host, as the login
// window hands it over).
Account simulatorAccount(SimFixture &sim, const QString &blogName);
// Points the service at the simulator and shows the window for that account.
std::unique_ptr<frmPostsList> open(TestService &service, SimFixture &sim, const QString &blogName);

// "Get posts" for every page from the first; true when the dialog opened.
bool downloadAll(frmPostsList &window);

QPushButton *button(frmPostsList &window, const char *name);
PostsListView *list(frmPostsList &window);
QStringList listedIds(frmPostsList &window);
QList<int> selectedRows(frmPostsList &window); // zero-based, ascending
}

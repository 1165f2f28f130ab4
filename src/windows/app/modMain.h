#pragma once
#include <QString>
#include <functional>

struct Account;
class ITumblrService;
class QPainter;
class QWidget;
class SettingsStore;

// Start-up and the hand-over between the windows.
namespace modMain {

// The application's names, version and font substitutions; first thing
// after the application object is made.
void InitApplication();

// Prepares the process and shows the login window; the program then lives
// as long as one of its windows is open. Both must outlive the windows.
void Main(SettingsStore &settings, ITumblrService &service);

// Tests put a stand-in for the posts window that "Proceed" shows here;
// without one, the program's own posts window is made.
using PostsWindowFactory = std::function<QWidget *(const Account &)>;
void setPostsWindowFactory(PostsWindowFactory factory);
QWidget *createPostsWindowStandIn(const Account &account); // nullptr when none is set

// The blog name in a blog-list entry: the trimmed text after the last "|".
QString ExtractGroupName(const QString &entry);

// The raised outer and sunken inner edge of the progress panels.
void DrawPanelFrame(QWidget *panel, QPainter &painter);
}

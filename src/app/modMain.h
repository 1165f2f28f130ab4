#pragma once
#include <QString>
#include <functional>

class QPainter;
class QWidget;

// Start-up and the values the windows hand over to each other.
namespace modMain {

// The account and blog that "Proceed" opened.
struct CurrentAccount {
    QString groupName;
    QString email;
    QString password;
};
CurrentAccount &current();

// Prepares the process and shows the login window; the program then lives
// as long as one of its windows is open.
void Main();

// Makes the posts window that "Proceed" shows (tests put a stand-in here).
// Without one set, the program's own posts window is made.
using PostsWindowFactory = std::function<QWidget *()>;
void setPostsWindowFactory(PostsWindowFactory factory);
QWidget *createPostsWindow();

// The blog name in a blog-list entry: the trimmed text after the last "|".
QString ExtractGroupName(const QString &entry);

// The raised outer and sunken inner edge of the progress panels.
void DrawPanelFrame(QWidget *panel, QPainter &painter);
}

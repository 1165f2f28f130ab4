// Saves a picture of one window as its X server shows it, for tst_desktop:
//   windowshot WINDOW_ID FILE.png
// Runs on the window's display (DISPLAY, QT_QPA_PLATFORM=xcb) and prints the
// picture's width and height.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        fputs("usage: windowshot WINDOW_ID FILE.png\n", stderr);
        return 2;
    }
    bool ok = false;
    const WId window = arguments.at(1).toULongLong(&ok, 0);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!ok || window == 0 || !screen) {
        fprintf(stderr, "windowshot: no window %s or no screen\n", qPrintable(arguments.at(1)));
        return 2;
    }
    const QPixmap picture = screen->grabWindow(window);
    if (picture.isNull() || !picture.save(arguments.at(2), "PNG")) {
        fprintf(stderr, "windowshot: could not save window %s to %s\n", qPrintable(arguments.at(1)),
                qPrintable(arguments.at(2)));
        return 1;
    }
    printf("%dx%d\n", picture.width(), picture.height());
    return 0;
}

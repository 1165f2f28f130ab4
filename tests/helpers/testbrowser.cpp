// The user's browser for velloria-cli's --browser in the tests: opens the
// authorization page it is given, presses Allow (or Deny with --deny) and
// follows the service's redirect back, then ends: 0 when the program took
// the answer.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QUrl>

#include <cstdio>

#include "TestBrowser.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: testbrowser [--deny] URL\n");
        return 2;
    }
    TestBrowser browser(arguments.contains(QStringLiteral("--deny")) ? TestBrowser::Deny : TestBrowser::Allow);
    browser.opener()(QUrl(arguments.last()));
    QElapsedTimer waited;
    waited.start();
    while (!browser.finished && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!browser.problem.isEmpty())
        std::fprintf(stderr, "testbrowser: %s\n", qPrintable(browser.problem));
    return browser.finished && browser.callbackStatus == 200 ? 0 : 1;
}

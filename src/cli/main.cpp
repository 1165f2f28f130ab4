// velloria-cli: the fix without windows, for scripts and machines without a
// display. A QCoreApplication: neither Widgets nor a display is needed.
#include <QCoreApplication>

#include "cli/CliMain.h"
#include "cli/StopSignals.h"
#include "client/app/AppConfig.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The windows' names: the same settings, secrets and journal.
    AppConfig::setApplicationNames();
    StopSignals::install();
    return CliMain::run(app.arguments());
}

#pragma once
#include <QStringList>

// velloria-cli: reads its command line, makes the back end the options and
// the settings choose (as the windows do), runs one command and gives its
// exit status (CliCommands.h, ExitCode).
namespace CliMain {

int run(const QStringList &arguments);
}

#include "FuzzTarget.h"

#include <QGuiApplication>
#include <QtGlobal>

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velloria-fuzz";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // lives as long as the process
}

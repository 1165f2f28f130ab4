// Takes the blog lock named on the command line, says "held" or "refused",
// then waits to be killed: the other copy of the program in the lock tests.
#include "client/login/NamedLock.h"

#include <QStandardPaths>
#include <QString>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: lockholder NAME\n");
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true);
    NamedLock lock;
    const bool held = lock.Acquire(QString::fromUtf8(argv[1]));
    std::printf("%s\n", held ? "held" : "refused");
    std::fflush(stdout);
    for (;;)
        ::pause();
}

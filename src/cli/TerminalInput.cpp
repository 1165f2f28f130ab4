#include "cli/TerminalInput.h"

#include <QByteArray>

#include <cerrno>
#include <cstdio>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "cli/StopSignals.h"

namespace {
// Byte by byte, so nothing past the line is taken from a script's input;
// poll() returns on a signal whatever SA_RESTART says, so Ctrl+C ends the wait.
std::optional<QString> lineFrom(int handle)
{
    QByteArray line;
    for (;;) {
        if (StopSignals::requested())
            return std::nullopt;
        pollfd ready{handle, POLLIN, 0};
        const int polled = ::poll(&ready, 1, 200);
        if (polled < 0 && errno != EINTR)
            return std::nullopt;
        if (polled <= 0)
            continue;
        char c = 0;
        const ssize_t got = ::read(handle, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return line.isEmpty() ? std::nullopt : std::optional<QString>(QString::fromUtf8(line));
        if (c == '\n')
            break;
        line += c;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}
}

namespace TerminalInput {

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::optional<QString> ask(const QString &prompt, bool secret)
{
    if (!stdinIsTerminal())
        return std::nullopt;
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios before{};
    const bool quiet = secret && ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (quiet) {
        termios noEcho = before;
        noEcho.c_lflag &= tcflag_t(~ECHO);
        noEcho.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &noEcho);
    }
    const std::optional<QString> line = lineFrom(STDIN_FILENO);
    if (quiet) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &before);
        if (!line)
            std::fputc('\n', stderr);
    }
    return line;
}

std::optional<QString> readLine() { return lineFrom(STDIN_FILENO); }
}

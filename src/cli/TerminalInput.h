#pragma once
#include <QString>
#include <optional>

// What the command line reads from the person at the terminal, or from a
// script through standard input: a password without echo, a line, a yes.
namespace TerminalInput {

bool stdinIsTerminal();
bool stderrIsTerminal();

// Asks on standard error and reads a line from the terminal, its echo off
// when secret. None when there is no terminal, at the end of input, or
// when Ctrl+C stopped the wait.
std::optional<QString> ask(const QString &prompt, bool secret);
// The next line of standard input, without its line end; none at the end
// of input or when Ctrl+C stopped the wait.
std::optional<QString> readLine();
}

#pragma once

// Ctrl+C (SIGINT) and SIGTERM stop a run as Esc does in the windows: the
// handler only raises a flag, which the run's observer reads between
// requests, in every progress callback and in every second of a wait. A
// second signal ends the program at once (the journal is safe either way:
// every write's record is on the disk before it goes out).
namespace StopSignals {

void install();
bool requested();
// Tests of the observer raise it as a signal would.
void request();
}

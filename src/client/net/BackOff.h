#pragma once
#include <QDateTime>

class HTTPRequest;
struct HTTPRequestData;
struct HTTPResult;
class IHTTPRequestCallback;

// Answers that ask the client to slow down (429 Too Many Requests, 503
// Service Unavailable) are waited out and the same request is made again,
// a few times, before the answer is treated like any other refusal.
namespace BackOff {

inline constexpr int MaxRepeats = 5;
inline constexpr int MaxWaitSeconds = 15 * 60;
inline constexpr int FirstWaitSeconds = 30; // when the answer names no time; doubled each time

bool AsksToWait(const HTTPResult &answer);

// The wait an answer names: Retry-After in seconds or as an HTTP date, else
// an X-Ratelimit-...-Reset header in seconds; else FirstWaitSeconds doubled
// for each earlier repeat. Never more than MaxWaitSeconds, never below 1.
int WaitSeconds(const HTTPResult &answer, int repeat, const QDateTime &now = QDateTime::currentDateTimeUtc());

// Sends the request, and while the service asks to wait (and fewer than
// MaxRepeats repeats were made, counted in `repeats`) waits and sends it
// again. The last answer; `stopped` when the callback stopped a wait.
HTTPResult Send(HTTPRequest &request, const HTTPRequestData &data, IHTTPRequestCallback *callback, int &repeats,
                bool &stopped);

// Waits, telling the callback when the wait starts and how long is left,
// letting events run meanwhile; false when the callback stops it.
bool Wait(int seconds, IHTTPRequestCallback *callback);

// Waits until the service's window of calls has room again (real seconds,
// whatever the tests' second), telling the callback; false when stopped.
bool WaitForBudget(int seconds, bool day, IHTTPRequestCallback *callback);

// Waits ms milliseconds, telling the callback the whole seconds left,
// letting events run; false when the callback stops it.
bool WaitMs(qint64 ms, IHTTPRequestCallback *callback);

// Tests make a second last this many milliseconds (0: a real second).
void setSecondForTesting(int ms);
}

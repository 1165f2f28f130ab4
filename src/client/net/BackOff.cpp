#include "client/net/BackOff.h"

#include "client/net/HTTPRequest.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {
int g_secondMs = 1000;

int clamped(qint64 seconds)
{
    return int(std::clamp<qint64>(seconds, 1, BackOff::MaxWaitSeconds));
}

// Waits ms, telling the callback the seconds left (of secondMs each) every
// tenth of one, so a stop is seen at once.
bool waitFor(qint64 ms, int secondMs, IHTTPRequestCallback *callback)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 left = ms - timer.elapsed();
        if (left <= 0)
            return true;
        bool cancel = false;
        if (callback)
            callback->Waiting(int((left + secondMs - 1) / secondMs), cancel);
        if (cancel)
            return false;
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(left, std::max(1, secondMs / 10))), Qt::PreciseTimer, &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
}

// The first header of that name in any letter case.
QByteArray headerAnyCase(const HTTPResult &answer, const QByteArray &name)
{
    for (const auto &[headerName, value] : answer.headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}
}

namespace BackOff {

bool AsksToWait(const HTTPResult &answer)
{
    return !answer.failed() && (answer.status == 429 || answer.status == 503);
}

int WaitSeconds(const HTTPResult &answer, int repeat, const QDateTime &now)
{
    const QByteArray retryAfter = headerAnyCase(answer, "Retry-After");
    if (!retryAfter.isEmpty()) {
        bool ok = false;
        const qint64 seconds = retryAfter.toLongLong(&ok);
        if (ok && seconds >= 0)
            return clamped(seconds);
        // An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"); Qt reads the zone as an offset.
        QString date = QString::fromLatin1(retryAfter);
        if (date.endsWith(QLatin1String(" GMT")))
            date = date.chopped(4) + QStringLiteral(" +0000");
        const QDateTime when = QDateTime::fromString(date, Qt::RFC2822Date);
        if (when.isValid())
            return clamped(now.secsTo(when));
    }
    // The window that is spent (its -Remaining is 0) says when calls may go
    // on again; a day's reset would be far too long a wait for an hour's limit.
    std::optional<qint64> firstReset;
    for (const auto &[name, value] : answer.headers) {
        const QByteArray lower = name.toLower();
        if (lower.startsWith("x-ratelimit-") && lower.endsWith("-reset")) {
            bool ok = false;
            const qint64 seconds = value.trimmed().toLongLong(&ok);
            if (!ok || seconds < 0)
                continue;
            const QByteArray remaining = headerAnyCase(answer, lower.chopped(5) + "remaining");
            if (remaining == "0")
                return clamped(seconds);
            if (!firstReset)
                firstReset = seconds;
        }
    }
    if (firstReset)
        return clamped(*firstReset);
    return clamped(qint64(FirstWaitSeconds) << std::clamp(repeat, 0, 20));
}

HTTPResult Send(HTTPRequest &request, const HTTPRequestData &data, IHTTPRequestCallback *callback, int &repeats,
                bool &stopped)
{
    stopped = false;
    HTTPResult answer = request.Send(data);
    while (AsksToWait(answer) && repeats < MaxRepeats) {
        if (!Wait(WaitSeconds(answer, repeats), callback)) {
            stopped = true;
            return answer;
        }
        ++repeats;
        answer = request.Send(data);
    }
    return answer;
}

bool Wait(int seconds, IHTTPRequestCallback *callback)
{
    if (callback)
        callback->WaitStarted(seconds);
    return waitFor(qint64(seconds) * g_secondMs, g_secondMs, callback);
}

bool WaitForBudget(int seconds, bool day, IHTTPRequestCallback *callback)
{
    if (callback)
        callback->BudgetWaitStarted(seconds, day);
    return waitFor(qint64(std::max(seconds, 1)) * 1000, 1000, callback);
}

bool WaitMs(qint64 ms, IHTTPRequestCallback *callback)
{
    return waitFor(ms, 1000, callback);
}

void setSecondForTesting(int ms) { g_secondMs = ms > 0 ? ms : 1000; }
}

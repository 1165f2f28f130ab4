#include "service/BackOff.h"

#include "service/HTTPRequest.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace {
int g_secondMs = 1000;

int clamped(qint64 seconds)
{
    return int(std::clamp<qint64>(seconds, 1, BackOff::MaxWaitSeconds));
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
    for (const auto &[name, value] : answer.headers) {
        const QByteArray lower = name.toLower();
        if (lower.startsWith("x-ratelimit-") && lower.endsWith("-reset")) {
            bool ok = false;
            const qint64 seconds = value.trimmed().toLongLong(&ok);
            if (ok && seconds >= 0)
                return clamped(seconds);
        }
    }
    return clamped(qint64(FirstWaitSeconds) << std::clamp(repeat, 0, 20));
}

bool Wait(int seconds, IHTTPRequestCallback *callback)
{
    if (callback)
        callback->WaitStarted(seconds);
    for (int left = seconds; left > 0; --left) {
        bool cancel = false;
        if (callback)
            callback->Waiting(left, cancel);
        if (cancel)
            return false;
        // A second in steps, so a stop is seen at once.
        constexpr int Steps = 10;
        for (int step = 0; step < Steps; ++step) {
            QEventLoop loop;
            QTimer::singleShot(std::max(1, g_secondMs / Steps), &loop, &QEventLoop::quit);
            loop.exec();
            if (callback) {
                callback->Waiting(left, cancel);
                if (cancel)
                    return false;
            }
        }
    }
    return true;
}

bool WaitMs(qint64 ms, IHTTPRequestCallback *callback)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 left = ms - timer.elapsed();
        if (left <= 0)
            return true;
        bool cancel = false;
        if (callback)
            callback->Waiting(int((left + 999) / 1000), cancel);
        if (cancel)
            return false;
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(left, 100)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void setSecondForTesting(int ms) { g_secondMs = ms > 0 ? ms : 1000; }
}

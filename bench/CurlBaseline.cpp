#include "CurlBaseline.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryFile>

#include "client/net/HTTPRequest.h"

namespace {
// Inside a quoted config value only backslash and quote need escaping; the
// bodies are form-encoded and hold neither.
QByteArray quoted(const QByteArray &text)
{
    QByteArray out = text;
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

QByteArray configFor(const QList<HTTPRequestData> &requests)
{
    QByteArray config;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const HTTPRequestData &request = requests[i];
        const HostTarget target = HostTarget::parse(request.host, request.port);
        const QByteArray url = "http://" + target.host.toUtf8() + ':' + QByteArray::number(target.port)
                               + request.path.toUtf8();
        if (i > 0)
            config += "next\n";
        config += "url = " + quoted(url) + '\n';
        config += "data-binary = " + quoted(request.fields.PostData()) + '\n';
        config += "header = \"Content-Type: application/x-www-form-urlencoded\"\n";
        config += "header = \"Expect:\"\n"; // no 100-continue round trip
        config += "user-agent = " + quoted(request.agent.toUtf8()) + '\n';
        config += "output = \"/dev/null\"\n";
        config += "write-out = \"%{http_code}\\n\"\n";
    }
    return config;
}
}

int expectedStatus(const HTTPRequestData &request, int status)
{
    return request.path == QLatin1String("/api/read") ? 200 : status;
}

CurlRun runCurl(const QList<HTTPRequestData> &requests, int expectedStatus)
{
    CurlRun run;
    run.requests = int(requests.size());
    QTemporaryFile config;
    if (!config.open() || config.write(configFor(requests)) < 0 || !config.flush()) {
        run.error = QStringLiteral("cannot write the curl config");
        return run;
    }
    QProcess curl;
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("--http1.1"), QStringLiteral("-K"),
                                        config.fileName()});
    if (!curl.waitForStarted(10000)) {
        run.error = QStringLiteral("curl is not installed");
        return run;
    }
    curl.waitForFinished(-1);
    run.seconds = double(timer.nsecsElapsed()) / 1e9;
    if (curl.exitStatus() != QProcess::NormalExit || curl.exitCode() != 0)
        run.error = QStringLiteral("curl failed: ") + QString::fromLocal8Bit(curl.readAllStandardError()).trimmed();
    const QList<QByteArray> lines = curl.readAllStandardOutput().split('\n');
    for (qsizetype i = 0; i < lines.size() && i < requests.size(); ++i)
        run.answered += lines.at(i).trimmed() == QByteArray::number(::expectedStatus(requests.at(i), expectedStatus)) ? 1 : 0;
    return run;
}

#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

SimProcess::SimProcess(int posts, int delayMs)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral(VELLORIA_SIM_PATH),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--generate"),
                     QString::number(posts), QStringLiteral("--delay"), QString::number(delayMs)});
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1").arg(QStringLiteral(VELLORIA_SIM_PATH));
        return;
    }
    static const QRegularExpression service(QStringLiteral("^Service: http://([^/]+)/"));
    static const QRegularExpression blog(QStringLiteral("^Blog generated .*: http://([^/]+)/"));
    QString serviceHost;
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (!m_process.canReadLine() && !m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (const auto match = service.match(line); match.hasMatch())
                serviceHost = match.captured(1);
            else if (const auto blogMatch = blog.match(line); blogMatch.hasMatch())
                m_blogHost = blogMatch.captured(1);
            else if (line.startsWith(QLatin1String("Run the program with"))) {
                m_serviceHost = serviceHost;
                return;
            }
        }
    }
    m_error = QStringLiteral("the simulator did not say where it listens");
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

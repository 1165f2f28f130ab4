#include "client/app/ServiceOptions.h"

#include <QCommandLineParser>

#include "client/login/SettingsStore.h"
#include "client/service/current/CurrentTumblrService.h"
#include "client/service/designed/XmlTumblrService.h"

ServiceOptions::ServiceOptions()
    : m_interfaceOption(
          QStringLiteral("interface"),
          QStringLiteral("The service's interface for this run: \"designed\" (the XML interface with e-mail and "
                         "password, which the real service no longer answers) or \"current\" (JSON and OAuth 2, "
                         "signing in in the browser). Default: the setting \"Service interface\"; without it "
                         "\"designed\" with --service or the setting \"Service host\", else \"current\"."),
          QStringLiteral("NAME")),
      m_serviceOption(QStringLiteral("service"),
                      QStringLiteral("Talk to the service at HOST[:PORT] for this run (port 80 if none): a simulator."),
                      QStringLiteral("HOST[:PORT]")),
      m_webHostOption(QStringLiteral("web-host"),
                      QStringLiteral("Open the post editor at HOST[:PORT] for this run (port 80 if none)."),
                      QStringLiteral("HOST[:PORT]")),
      m_paceOption(QStringLiteral("pace"),
                   QStringLiteral("Write at most N posts a minute during \"Fix posts\" for this run (0: no limit)."),
                   QStringLiteral("N")),
      m_noVerifyOption(QStringLiteral("no-verify"),
                       QStringLiteral("Current interface: don't read each written post back to check it for this "
                                      "run (saves one call a post; a write that changed more than the tags then "
                                      "goes unnoticed)."))
{
}

void ServiceOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOption(m_interfaceOption);
    parser.addOption(m_noVerifyOption);
    parser.addOption(m_serviceOption);
    parser.addOption(m_webHostOption);
    parser.addOption(m_paceOption);
}

bool ServiceOptions::read(const QCommandLineParser &parser, QString *why)
{
    m_interface = parser.value(m_interfaceOption).trimmed().toLower();
    m_serviceHost = parser.value(m_serviceOption);
    m_webHost = parser.value(m_webHostOption);
    m_noVerify = parser.isSet(m_noVerifyOption);
    m_pace = -1;
    if (parser.isSet(m_paceOption)) {
        bool ok = false;
        m_pace = parser.value(m_paceOption).toInt(&ok);
        if (!ok || m_pace < 0) {
            m_pace = -1;
            if (why)
                *why = QStringLiteral("--pace needs a number of writes a minute, 0 or more");
            return false;
        }
    }
    return true;
}

bool ServiceOptions::chooseInterface(const SettingsStore &settings, ServiceInterface &interface, QString *why) const
{
    QString name = m_interface;
    if (name.isEmpty())
        name = SettingKeys::trimmed(settings, Setting::ServiceInterface).toLower();
    // A service named by hand (a simulator) is the designed one; the real
    // service answers only the current interface.
    if (name.isEmpty())
        name = !m_serviceHost.trimmed().isEmpty()
                       || !settings.GetValue(SettingKeys::name(Setting::ServiceHost)).trimmed().isEmpty()
                   ? QStringLiteral("designed")
                   : QStringLiteral("current");
    if (name == QLatin1String("designed")) {
        interface = ServiceInterface::Designed;
        return true;
    }
    if (name == QLatin1String("current")) {
        interface = ServiceInterface::Current;
        return true;
    }
    if (why)
        *why = QStringLiteral("the interface is \"designed\" or \"current\"");
    return false;
}

std::unique_ptr<ITumblrService> ServiceOptions::makeService(SettingsStore &settings, ServiceInterface interface) const
{
    if (interface == ServiceInterface::Current) {
        auto service = std::make_unique<CurrentTumblrService>(settings, settings.secrets(), m_serviceHost);
        service->setWritesPerMinute(m_pace);
        service->setWebHost(m_webHost);
        if (m_noVerify)
            service->setVerifyWrites(false);
        return service;
    }
    auto service = std::make_unique<XmlTumblrService>(settings, m_serviceHost, m_webHost);
    service->setWritesPerMinute(m_pace);
    return service;
}

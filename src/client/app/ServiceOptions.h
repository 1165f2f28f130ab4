#pragma once
#include <QCommandLineOption>
#include <QString>
#include <memory>

#include "client/login/SettingKeys.h"

class ITumblrService;
class QCommandLineParser;
class SettingsStore;

// The options both programs take for the service (--interface, --service,
// --web-host, --pace, --no-verify), and the back end they choose: the
// windows and the command line read them the same way.
class ServiceOptions final
{
public:
    ServiceOptions();

    void addTo(QCommandLineParser &parser) const;
    // Takes the values from a parsed command line; false, with why, when one
    // is not a value the program takes (a usage error).
    bool read(const QCommandLineParser &parser, QString *why);

    // The option, else the setting "Service interface", else designed where a
    // service is named (a simulator), else current; false, with why, when
    // the name is neither.
    bool chooseInterface(const SettingsStore &settings, ServiceInterface &interface, QString *why) const;
    // The back end of that interface, with this run's hosts, pace and checks.
    // One secret store for the whole run: the settings' passwords, the key
    // and the tokens.
    std::unique_ptr<ITumblrService> makeService(SettingsStore &settings, ServiceInterface interface) const;

    QString serviceHost() const { return m_serviceHost; }
    QString webHost() const { return m_webHost; }
    int pace() const { return m_pace; }

private:
    QCommandLineOption m_interfaceOption;
    QCommandLineOption m_serviceOption;
    QCommandLineOption m_webHostOption;
    QCommandLineOption m_paceOption;
    QCommandLineOption m_noVerifyOption;

    QString m_interface; // as given, lower case; empty: not given
    QString m_serviceHost;
    QString m_webHost;
    int m_pace = -1; // < 0: the setting "Writes per minute"
    bool m_noVerify = false;
};

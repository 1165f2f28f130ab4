#include "app/AppConfig.h"

#include <QSettings>

namespace {
QString g_serviceOverride;
QString g_webOverride;

QString storedHost(const char *name, const char *fallback)
{
    auto settings = AppConfig::openSettings();
    const QString value = settings->value(QLatin1String(name)).toString().trimmed();
    return value.isEmpty() ? QString::fromLatin1(fallback) : value;
}
}

namespace AppConfig {

std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Zelvat"), QStringLiteral("Velloria"));
}

QString serviceHost()
{
    return g_serviceOverride.isEmpty() ? storedHost("Service host", DefaultServiceHost) : g_serviceOverride;
}

void setServiceHostOverride(const QString &hostText) { g_serviceOverride = hostText.trimmed(); }

QString webHost()
{
    return g_webOverride.isEmpty() ? storedHost("Web host", DefaultWebHost) : g_webOverride;
}

void setWebHostOverride(const QString &hostText) { g_webOverride = hostText.trimmed(); }
}

#include "client/app/AppConfig.h"

#include <QCoreApplication>
#include <QSettings>

#include "client/app/AppInfo.h"
#include "client/app/modSupport.h"

namespace AppConfig {

std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Zelvat"), QStringLiteral("Velloria"));
}

void setApplicationNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    QCoreApplication::setApplicationVersion(
        modSupport::FormatVersion(AppInfo::Major, AppInfo::Minor, AppInfo::Revision));
}
}

#include "client/app/AppConfig.h"

#include <QSettings>

namespace AppConfig {

std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Zelvat"), QStringLiteral("Velloria"));
}
}

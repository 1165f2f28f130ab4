#pragma once
#include <QString>
#include <memory>

class QSettings;

// Where the program keeps its settings and which service it talks to.
namespace AppConfig {

// The settings store: an INI file in the user's configuration folder
// (~/.config/Zelvat/Velloria.ini). QSettings writes it atomically under a lock.
std::unique_ptr<QSettings> openSettings();

// Service host text "HOST[:PORT]" or "https://HOST[:PORT]": the setting
// "Service host", unless overridden for this run with --service.
QString serviceHost();
void setServiceHostOverride(const QString &hostText);

// Host of the service's web pages (the post editor), "Web host" / --web-host.
QString webHost();
void setWebHostOverride(const QString &hostText);

inline constexpr auto DefaultServiceHost = "www.tumblr.com";
inline constexpr auto DefaultWebHost = "www.tumblr.com";
}

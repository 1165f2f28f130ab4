#pragma once
#include <QString>
#include <vector>

class SettingsStore;
struct SecretValue;

// Which of the service's interfaces a setting's default is for: a back end
// whose default differs has its own value in the table, not code of its own.
enum class ServiceInterface { Designed, Current };

// Every value the program keeps in the settings store, with its type and
// default in one table (SettingKeys.cpp). The secret ones (the passwords)
// live in the secret store; earlier versions kept them in the settings file.
enum class Setting {
    EMail,
    Password, // secret; earlier versions: scrambled in the file
    Groups,
    LastGroup,
    WindowPlacement, // a window's geometry (bytes); the key is the window's own
    PostsList,       // the posts list's column layout (bytes)
    ServiceInterface,
    ServiceHost,
    WebHost,
    WritesPerMinute,
    VerifyWrites,
    ShowFirstWrite, // the first write of a blog's first run shown, to go on or stop
    RedirectPort,
    ProxyType, // the fields of the proxy's section
    ProxyHost,
    ProxyPort,
    ProxyUser,
    ProxyPassword, // secret; earlier versions: in clear in the file
};

namespace SettingKeys {

// The key's name in the store ("Writes per minute"); a proxy field's name
// within its section ("Type").
QString name(Setting key);
// The section of the proxy's fields.
inline constexpr auto ProxySection = "HTTP Proxy";

// The value as text, untouched; the default when the store has none. A
// secret key's value comes from the secret store (or an earlier version's
// settings file).
QString text(const SettingsStore &store, Setting key, ServiceInterface interface = ServiceInterface::Designed);
// The value trimmed; the default when it is missing or blank.
QString trimmed(const SettingsStore &store, Setting key, ServiceInterface interface = ServiceInterface::Designed);
// A number within the key's range; the default when missing, not a number or out of range.
int number(const SettingsStore &store, Setting key, ServiceInterface interface = ServiceInterface::Designed);
// "no", "0", "false" (any case) and "yes", "1", "true"; the default for anything else.
bool flag(const SettingsStore &store, Setting key, ServiceInterface interface = ServiceInterface::Designed);

// A secret key's value goes to the secret store at the next flush.
void set(SettingsStore &store, Setting key, const QString &value);

bool isSecret(Setting key);
// Where a secret key's value is kept, and where earlier versions kept it.
SecretValue secretValue(Setting key);
// Every secret key's.
std::vector<SecretValue> secretValues();
}

#include "client/login/SettingKeys.h"

#include <climits>

#include "client/login/SettingsStore.h"

namespace {
// Secret: in the secret store, never in the file.
enum class Type { Text, Bytes, Number, Flag, Secret };

struct Entry {
    Setting key;
    const char *name;
    Type type;
    const char *designedDefault;
    const char *currentDefault; // nullptr: the same as the designed interface's
    int min = 0;
    int max = INT_MAX;
};

// The secret keys: their names in the secret store, and how earlier
// versions kept them in the settings file.
struct SecretEntry {
    Setting key;
    const char *secretName;
    bool scrambled;
    const char *what;
};
const SecretEntry Secrets[] = {
    {Setting::Password, "password", true, "The password"},
    {Setting::ProxyPassword, "proxy password", false, "The proxy's password"},
};

// Rows in the order of the enum.
const Entry Table[] = {
    {Setting::EMail, "E-Mail", Type::Text, "", nullptr},
    {Setting::Password, "Password", Type::Secret, "", nullptr},
    {Setting::Groups, "Groups", Type::Text, "", nullptr},
    {Setting::LastGroup, "Last Group", Type::Text, "", nullptr},
    {Setting::WindowPlacement, "Window placement", Type::Bytes, "", nullptr},
    {Setting::PostsList, "Posts list", Type::Bytes, "", nullptr},
    // Empty: chosen from the command line and "Service host" (main.cpp).
    {Setting::ServiceInterface, "Service interface", Type::Text, "", nullptr},
    {Setting::ServiceHost, "Service host", Type::Text, "www.tumblr.com", nullptr},
    {Setting::WebHost, "Web host", Type::Text, "www.tumblr.com", nullptr},
    // The designed interface has no published limit; the current one allows
    // 250 new posts a day and counts every call, so it is paced by default.
    {Setting::WritesPerMinute, "Writes per minute", Type::Number, "0", "10", 0, INT_MAX},
    {Setting::VerifyWrites, "Verify writes", Type::Flag, "yes", nullptr},
    {Setting::ShowFirstWrite, "Show first write", Type::Flag, "yes", nullptr},
    {Setting::RedirectPort, "Redirect port", Type::Number, "47321", nullptr, 1, 65535},
    {Setting::ProxyType, "Type", Type::Text, "None", nullptr},
    {Setting::ProxyHost, "Host", Type::Text, "", nullptr},
    {Setting::ProxyPort, "Port", Type::Number, "0", nullptr, 0, 65535},
    {Setting::ProxyUser, "User", Type::Text, "", nullptr},
    {Setting::ProxyPassword, "Password", Type::Secret, "", nullptr},
};
static_assert(sizeof(Table) / sizeof(Table[0]) == size_t(Setting::ProxyPassword) + 1);

const Entry &entry(Setting key) { return Table[size_t(key)]; }

bool isProxyField(Setting key) { return key >= Setting::ProxyType; }

QString storeName(Setting key)
{
    const QString name = QString::fromLatin1(entry(key).name);
    return isProxyField(key) ? QString::fromLatin1(SettingKeys::ProxySection) + u'/' + name : name;
}

QString defaultOf(Setting key, ServiceInterface interface)
{
    const Entry &row = entry(key);
    const char *value = interface == ServiceInterface::Current && row.currentDefault ? row.currentDefault
                                                                                      : row.designedDefault;
    return QString::fromLatin1(value);
}
}

namespace SettingKeys {

QString name(Setting key) { return QString::fromLatin1(entry(key).name); }

QString text(const SettingsStore &store, Setting key, ServiceInterface interface)
{
    if (isSecret(key))
        return store.GetSecret(secretValue(key));
    return store.GetValue(storeName(key), defaultOf(key, interface));
}

QString trimmed(const SettingsStore &store, Setting key, ServiceInterface interface)
{
    const QString value = store.GetValue(storeName(key)).trimmed();
    return value.isEmpty() ? defaultOf(key, interface) : value;
}

int number(const SettingsStore &store, Setting key, ServiceInterface interface)
{
    const Entry &row = entry(key);
    bool ok = false;
    const int value = store.GetValue(storeName(key)).trimmed().toInt(&ok);
    if (ok && value >= row.min && value <= row.max)
        return value;
    return defaultOf(key, interface).toInt();
}

bool flag(const SettingsStore &store, Setting key, ServiceInterface interface)
{
    const QString value = store.GetValue(storeName(key)).trimmed().toLower();
    if (value == QLatin1String("no") || value == QLatin1String("0") || value == QLatin1String("false"))
        return false;
    if (value == QLatin1String("yes") || value == QLatin1String("1") || value == QLatin1String("true"))
        return true;
    return defaultOf(key, interface) == QLatin1String("yes");
}

void set(SettingsStore &store, Setting key, const QString &value)
{
    if (isSecret(key))
        store.SetSecret(secretValue(key), value);
    else
        store.SetValue(storeName(key), value);
}

bool isSecret(Setting key) { return entry(key).type == Type::Secret; }

SecretValue secretValue(Setting key)
{
    for (const SecretEntry &secret : Secrets) {
        if (secret.key == key)
            return {QString::fromLatin1(secret.secretName), storeName(key), secret.scrambled,
                    QString::fromLatin1(secret.what)};
    }
    return {};
}

std::vector<SecretValue> secretValues()
{
    std::vector<SecretValue> values;
    for (const SecretEntry &secret : Secrets)
        values.push_back(secretValue(secret.key));
    return values;
}
}

#include "TestFolders.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

TestFolders::TestFolders(SessionBus bus)
{
    QStandardPaths::setTestModeEnabled(true);
    if (!m_dir.isValid())
        return;
    const QDir home(m_dir.path());
    const auto point = [&home](const char *name, const QString &relative) {
        home.mkpath(relative);
        qputenv(name, QFile::encodeName(home.filePath(relative)));
    };
    point("HOME", QStringLiteral("."));
    point("TMPDIR", QStringLiteral("tmp"));
    point("XDG_CONFIG_HOME", QStringLiteral(".config"));
    point("XDG_DATA_HOME", QStringLiteral(".local/share"));
    point("XDG_CACHE_HOME", QStringLiteral(".cache"));
    if (bus == SessionBus::None)
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(home.filePath(QStringLiteral("no-session-bus"))));
    // QSettings works its folder out once and keeps it, so it is told outright.
    home.mkpath(settingsPath());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsPath());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsPath());
}

bool TestFolders::isValid() const
{
    return m_dir.isValid() && QDir::tempPath() == tempPath();
}

QString TestFolders::path() const
{
    return m_dir.path();
}

QString TestFolders::tempPath() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("tmp"));
}

QString TestFolders::settingsPath() const
{
    // Where test mode puts them below HOME, as QSettings would find by itself.
    return QDir(m_dir.path()).filePath(QStringLiteral(".qttest/config"));
}

#include "client/login/NamedLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// An advisory lock (flock) on one file per name. The kernel drops it when the
// descriptor closes, which includes the holder being killed, so no stale
// lock is ever left behind. The files themselves stay: removing one could let
// a second copy lock a fresh file while the first still holds the old one.
struct NamedLock::Held {
    QString name;
    int fd = -1;
    ~Held()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

namespace {

QString lockFolder()
{
    // The user's runtime folder when the session has one (asked only then, as
    // Qt warns otherwise); the temporary folder, per user, when not.
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty()) {
            const QString folder = QDir(runtime).filePath(QStringLiteral("velloria-locks"));
            if (QDir().mkpath(folder))
                return folder;
        }
    }
    const QString folder = QDir(QDir::tempPath()).filePath(QStringLiteral("velloria-locks-%1").arg(::getuid()));
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

// Letter case is kept, so names differing only in case get different files.
QString fileNameFor(const QString &name)
{
    QString encoded;
    const QByteArray utf8 = name.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
                          || byte == '-' || byte == '_' || byte == '.' || byte == '{' || byte == '}';
        if (safe)
            encoded += QLatin1Char(c);
        else
            encoded += QStringLiteral("%%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    // A file name may hold 255 bytes; a long blog name keeps its start and a hash of the whole.
    if (encoded.size() > 180) {
        const QByteArray hash = QCryptographicHash::hash(utf8, QCryptographicHash::Sha256).toHex();
        encoded = encoded.left(100) + QLatin1Char('~') + QString::fromLatin1(hash);
    }
    // A name starting with a dot would make a hidden file; "." and ".." are no files at all.
    if (encoded.startsWith(QLatin1Char('.')))
        encoded.replace(0, 1, QStringLiteral("%2E"));
    return encoded + QStringLiteral(".lock");
}
}

NamedLock::NamedLock() = default;

NamedLock::~NamedLock() = default;

bool NamedLock::Acquire(const QString &name)
{
    for (const auto &held : m_held) {
        if (held->name == name)
            return true;
    }

    const QString path = QDir(lockFolder()).filePath(fileNameFor(name));
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // Taking the lock is the check: two copies can't both get it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }

    auto held = std::make_unique<Held>();
    held->name = name;
    held->fd = fd;
    m_held.push_back(std::move(held));
    return true;
}

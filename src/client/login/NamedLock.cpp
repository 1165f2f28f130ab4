#include "client/login/NamedLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "client/app/PrivatePaths.h"

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

// Makes folder 0700 when it is missing; then it must be the user's own
// folder (not a link to one), open to nobody else. Someone else may have
// made it first, in a temporary folder everyone can write to.
bool isPrivateFolder(const QString &folder, QString *error)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), PrivatePaths::FolderMode) != 0 && errno != EEXIST) {
        if (error)
            *error = QStringLiteral("The lock folder \"%1\" can't be made: %2.")
                         .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat info {};
    QString problem;
    if (::lstat(path.constData(), &info) != 0)
        problem = QString::fromLocal8Bit(std::strerror(errno));
    else if (S_ISLNK(info.st_mode))
        problem = QStringLiteral("it is a symbolic link");
    else if (!S_ISDIR(info.st_mode))
        problem = QStringLiteral("it is not a folder");
    else if (info.st_uid != ::getuid())
        problem = QStringLiteral("it belongs to another user (uid %1)").arg(info.st_uid);
    else if ((info.st_mode & 07777) != PrivatePaths::FolderMode)
        problem = QStringLiteral("others can reach it (mode %1, not 0700)").arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (problem.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("The lock folder \"%1\" is not safe to use: %2. Blogs are not opened until it is "
                                "removed (or XDG_RUNTIME_DIR names the session's own folder).")
                     .arg(folder, problem);
    return false;
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

QString NamedLock::LockFolder(QString *error)
{
    // The user's runtime folder when the session has one (asked only then, as
    // Qt warns otherwise); the temporary folder, per user, when not.
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
            const QString folder = QDir(runtime).filePath(QStringLiteral("velloria-locks"));
            return isPrivateFolder(folder, error) ? folder : QString();
        }
    }
    const QString folder = QDir(QDir::tempPath()).filePath(QStringLiteral("velloria-locks-%1").arg(::getuid()));
    return isPrivateFolder(folder, error) ? folder : QString();
}

bool NamedLock::Acquire(const QString &name, QString *error)
{
    for (const auto &held : m_held) {
        if (held->name == name)
            return true;
    }

    const QString folder = LockFolder(error);
    if (folder.isEmpty())
        return false;
    const QString path = QDir(folder).filePath(fileNameFor(name));
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, PrivatePaths::FileMode);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("The lock file \"%1\" can't be opened: %2.")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    PrivatePaths::narrowFile(fd);
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

QString NamedLock::BlogName(const QString &blog)
{
    // The prefix of every version so far: copies of different versions keep each other out too.
    return QStringLiteral("{4DDF3828-CA63-484F-8CED-8200C31B102E}_") + blog;
}

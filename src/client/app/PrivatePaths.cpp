#include "client/app/PrivatePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace PrivatePaths {

bool makeFolder(const QString &path, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("The folder \"%1\" %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    const QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // The missing folders, from the outermost down.
    QStringList missing;
    QString at = folder;
    struct stat info {};
    while (::lstat(QFile::encodeName(at).constData(), &info) != 0) {
        if (errno != ENOENT)
            return fail(QStringLiteral("can't be reached: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString &one : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(one).constData(), FolderMode) != 0 && errno != EEXIST)
            return fail(QStringLiteral("can't be made: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return fail(QStringLiteral("can't be made: something else is in its place."));
    if ((info.st_mode & 0777) != FolderMode && info.st_uid == ::getuid()
        && ::chmod(QFile::encodeName(folder).constData(), FolderMode) != 0)
        return fail(QStringLiteral("can't be made private: %1.").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return true;
}

bool narrowFile(int handle)
{
    struct stat info {};
    if (handle < 0 || ::fstat(handle, &info) != 0)
        return false;
    return (info.st_mode & 0777) == FileMode || ::fchmod(handle, FileMode) == 0;
}

bool narrowFile(const QString &path)
{
    const int mode = modeOf(path);
    return mode == int(FileMode) || (mode >= 0 && ::chmod(QFile::encodeName(path).constData(), FileMode) == 0);
}

int modeOf(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}
}

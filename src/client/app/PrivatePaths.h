#pragma once
#include <QString>

// The program's files are the user's alone: each file 0600, in folders 0700.
namespace PrivatePaths {

inline constexpr unsigned FolderMode = 0700;
inline constexpr unsigned FileMode = 0600;

// Makes the folder and any missing folder above it, each 0700 from the
// start; the folder itself, when it is already there (an earlier version
// made it 0755), is narrowed to 0700. False, with the reason, when it can't
// be made or is not a folder.
bool makeFolder(const QString &path, QString *error = nullptr);

// Narrows an open file, or a file by its path, to 0600; true when it is so.
bool narrowFile(int handle);
bool narrowFile(const QString &path);

// A file's permission bits (mode & 0777); -1 when it can't be read. The
// file itself, not what a symbolic link points to.
int modeOf(const QString &path);
}

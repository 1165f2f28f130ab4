#pragma once
#include <QString>
#include <memory>
#include <vector>

class QLockFile;

// A name held system-wide for this user by one running copy. Taking it is
// atomic; it is freed when the object goes or the process ends, even killed.
//
// The lock files are in a folder of the user's alone: velloria-locks in
// $XDG_RUNTIME_DIR, else velloria-locks-UID in the temporary folder. A folder
// there that is a symbolic link, belongs to someone else or is open to
// others (not 0700) is not used: the lock is refused with a message.
class NamedLock
{
public:
    NamedLock();
    ~NamedLock();
    // True when this object now holds the name (again true for a name it
    // already holds). False when another copy holds it, or (error set) when
    // the lock can't be taken at all.
    bool Acquire(const QString &name, QString *error = nullptr);

    // The name a blog is held by while one copy of either program (the
    // windows or the command line) has it open to fix.
    static QString BlogName(const QString &blog);

    // The folder the lock files go to, made if missing; empty (error set)
    // when it is not safe to use.
    static QString LockFolder(QString *error = nullptr);

private:
    struct Held;
    std::vector<std::unique_ptr<Held>> m_held;
};

#pragma once
#include <QString>
#include <memory>
#include <vector>

class QLockFile;

// A name held system-wide for this user by one running copy. Taking it is
// atomic; it is freed when the object goes or the process ends, even killed.
class NamedLock
{
public:
    NamedLock();
    ~NamedLock();
    // True when this object now holds the name (again true for a name it already holds).
    bool Acquire(const QString &name);

private:
    struct Held;
    std::vector<std::unique_ptr<Held>> m_held;
};

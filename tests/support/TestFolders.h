#pragma once

#include <QString>
#include <QTemporaryDir>

// Gives this test program folders of its own: HOME, TMPDIR and the XDG folders
// point into a temporary folder, QStandardPaths test mode is on, and QSettings'
// user scope lives there too. Test programs run side by side (ctest -j): with
// one shared ~/.qttest, one would read settings another is writing.
// Make it before anything reads settings or temporary folders: the first data
// member of the test class, or first thing in main(). XDG_RUNTIME_DIR is left
// alone; helper processes inherit the rest, so they see the same folders.
//
// The session bus is one that is not there, so no test reaches the desktop's
// secret store (the developer's own keyring): secrets go to their file. A
// test of the secret store itself keeps the bus it was started on.
class TestFolders
{
    Q_DISABLE_COPY_MOVE(TestFolders)

public:
    enum class SessionBus { None, Kept };
    explicit TestFolders(SessionBus bus = SessionBus::None);

    bool isValid() const;
    QString path() const;         // HOME
    QString tempPath() const;     // TMPDIR, what QDir::tempPath() gives
    QString settingsPath() const; // QSettings' user scope folder

private:
    QTemporaryDir m_dir;
};

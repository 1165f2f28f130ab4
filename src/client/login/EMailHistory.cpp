#include "client/login/EMailHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "client/app/PrivatePaths.h"

namespace {
constexpr auto Signature = "Velloria e-mail history 1";
constexpr int MaxAddresses = 50;
constexpr qint64 MaxReadBytes = 1024 * 1024; // far more than 50 addresses
constexpr int MaxAddressLength = 320;
constexpr int LockWaitMs = 10000;

bool isUsableAddress(const QString &text)
{
    if (text.isEmpty() || text.size() > MaxAddressLength)
        return false;
    for (const QChar c : text) {
        if (!c.isPrint() || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

// Adds addresses not yet in list, keeping the list's order first.
void mergeInto(QStringList &list, const QStringList &more)
{
    for (const QString &address : more) {
        if (list.size() >= MaxAddresses)
            break;
        if (!list.contains(address, Qt::CaseInsensitive))
            list.append(address);
    }
}

// Whatever of the file can be read; a file of another kind counts as empty.
QStringList readHistoryFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.read(MaxReadBytes);
    const QList<QByteArray> lines = data.split('\n');
    // Only lines that end in a line break count: a cut-off last line is dropped.
    if (lines.size() < 2 || lines.first().trimmed() != Signature)
        return {};
    QStringList addresses;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        const QString address = QString::fromUtf8(lines.at(i)).trimmed();
        if (isUsableAddress(address))
            mergeInto(addresses, {address});
    }
    return addresses;
}
}

void EMailHistory::Init(const QString &fileName)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    m_path = QDir(folder).filePath(fileName);
    m_addresses.clear();
}

void EMailHistory::Load()
{
    if (m_path.isEmpty())
        Init();
    m_addresses = readHistoryFile(m_path);
}

bool EMailHistory::Save(QString *error)
{
    if (m_path.isEmpty())
        Init();
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };

    const QString folder = QFileInfo(m_path).absolutePath();
    if (!PrivatePaths::makeFolder(folder))
        return fail(QStringLiteral("The folder \"%1\" could not be created.").arg(folder));

    // Another copy may be saving right now: wait for it, then keep its addresses too.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.tryLock(LockWaitMs))
        return fail(QStringLiteral("The e-mail history \"%1\" is locked by another program.").arg(m_path));
    PrivatePaths::narrowFile(lock.fileName());

    QStringList merged = m_addresses;
    mergeInto(merged, readHistoryFile(m_path));

    QByteArray data = QByteArray(Signature) + '\n';
    for (const QString &address : std::as_const(merged))
        data += address.toUtf8() + '\n';

    QSaveFile file(m_path);
    // Readable by the user alone, before a byte of it is written.
    if (!file.open(QIODevice::WriteOnly) || !PrivatePaths::narrowFile(file.handle()) || file.write(data) != data.size()
        || !file.commit())
        return fail(QStringLiteral("The e-mail history \"%1\" could not be written: %2")
                        .arg(m_path, file.errorString()));
    m_addresses = merged;
    return true;
}

void EMailHistory::AddEMail(const QString &email)
{
    const QString address = email.trimmed();
    if (!isUsableAddress(address))
        return;
    for (qsizetype i = m_addresses.size() - 1; i >= 0; --i) {
        if (m_addresses.at(i).compare(address, Qt::CaseInsensitive) == 0)
            m_addresses.removeAt(i);
    }
    m_addresses.prepend(address);
    while (m_addresses.size() > MaxAddresses)
        m_addresses.removeLast();
}

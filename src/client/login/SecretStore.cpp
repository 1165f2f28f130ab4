#include "client/login/SecretStore.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>

#include <qt6keychain/keychain.h>

#include <sys/stat.h>

namespace {
const QString KeychainService = QStringLiteral("Velloria");

void runJob(QKeychain::Job &job)
{
    // The job reports through a signal; wait for it here, events running.
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    loop.exec();
}
}

SecretStore::SecretStore(Backend backend, const QString &folder) : m_useFile(backend == Backend::File)
{
    const QString base =
        folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) : folder;
    m_filePath = QDir(base).filePath(QString::fromLatin1(FileName));
}

QString SecretStore::where() const
{
    return m_useFile ? m_filePath : QStringLiteral("the desktop's secret store");
}

std::optional<QByteArray> SecretStore::read(const QString &key, QString *error)
{
    if (!m_useFile) {
        QByteArray value;
        const Answer answer = keychainRead(key, value, error);
        bool ok = false;
        if (settled(answer, ok))
            return answer == Answer::Done ? std::optional<QByteArray>(value) : std::nullopt;
    }
    QJsonObject entries;
    if (!loadFile(entries, error))
        return std::nullopt;
    const QJsonValue entry = entries.value(key);
    if (!entry.isString())
        return std::nullopt;
    return QByteArray::fromBase64(entry.toString().toLatin1());
}

bool SecretStore::write(const QString &key, const QByteArray &value, QString *error)
{
    bool ok = false;
    if (!m_useFile && settled(keychainWrite(key, value, error), ok))
        return ok;
    QJsonObject entries;
    // A file that can't be read is not overwritten: it may hold other secrets.
    if (!loadFile(entries, error))
        return false;
    entries.insert(key, QString::fromLatin1(value.toBase64()));
    return saveFile(entries, error);
}

bool SecretStore::remove(const QString &key, QString *error)
{
    bool ok = false;
    if (!m_useFile && settled(keychainRemove(key, error), ok))
        return ok;
    QJsonObject entries;
    if (!loadFile(entries, error))
        return false;
    if (!entries.contains(key))
        return true;
    entries.remove(key);
    return saveFile(entries, error);
}

bool SecretStore::settled(Answer answer, bool &ok)
{
    if (answer == Answer::NoBackend) {
        // No secret store on this desktop: the file from now on.
        m_useFile = true;
        return false;
    }
    ok = answer != Answer::Failed;
    return true;
}

SecretStore::Answer SecretStore::keychainAnswer(const QKeychain::Job &job, QString *error)
{
    switch (job.error()) {
    case QKeychain::NoError:
        return Answer::Done;
    case QKeychain::EntryNotFound:
        return Answer::Missing;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    // Without a session bus (or with one nothing answers on) the library
    // says no more than this.
    case QKeychain::OtherError:
        return Answer::NoBackend;
    default:
        if (error)
            *error = QStringLiteral("The desktop's secret store refused: ") + job.errorString();
        return Answer::Failed;
    }
}

SecretStore::Answer SecretStore::keychainRead(const QString &key, QByteArray &value, QString *error)
{
    QKeychain::ReadPasswordJob job(KeychainService);
    job.setKey(key);
    runJob(job);
    value = job.binaryData();
    return keychainAnswer(job, error);
}

SecretStore::Answer SecretStore::keychainWrite(const QString &key, const QByteArray &value, QString *error)
{
    QKeychain::WritePasswordJob job(KeychainService);
    job.setKey(key);
    job.setBinaryData(value);
    runJob(job);
    return keychainAnswer(job, error);
}

SecretStore::Answer SecretStore::keychainRemove(const QString &key, QString *error)
{
    QKeychain::DeletePasswordJob job(KeychainService);
    job.setKey(key);
    runJob(job);
    return keychainAnswer(job, error);
}

bool SecretStore::loadFile(QJsonObject &entries, QString *error) const
{
    QFile file(m_filePath);
    if (!file.exists()) {
        entries = {};
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Can't read %1: %2").arg(m_filePath, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("%1 is damaged (%2); it is left as it is.")
                         .arg(m_filePath, parseError.error == QJsonParseError::NoError
                                              ? QStringLiteral("not an object")
                                              : parseError.errorString());
        return false;
    }
    entries = document.object();
    return true;
}

bool SecretStore::saveFile(const QJsonObject &entries, QString *error) const
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("Can't write %1: %2").arg(m_filePath, why);
        return false;
    };
    if (!QDir().mkpath(QFileInfo(m_filePath).absolutePath()))
        return fail(QStringLiteral("its folder can't be made"));
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Readable by the user alone, before a byte of it is written.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0)
        return fail(QStringLiteral("its permissions can't be set"));
    file.write(QJsonDocument(entries).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

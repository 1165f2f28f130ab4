#include "client/login/SecretStore.h"

#include "client/app/PrivatePaths.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {
const QString KeychainService = QStringLiteral("Velloria");
const QString DesktopStore = QStringLiteral("the desktop's secret store");

using Answer = SecretStore::Keychain::Answer;

// The desktop's secret store through QtKeychain: each call waits for its job
// in a local event loop, at most timeoutMs. A job that does not finish in
// time is left to finish (and delete itself) on its own.
class QtKeychainStore final : public SecretStore::Keychain
{
public:
    Answer read(const QString &key, QByteArray &value, int timeoutMs, QString &why) override
    {
        auto *job = new QKeychain::ReadPasswordJob(KeychainService);
        job->setKey(key);
        const Answer answer = run(job, timeoutMs, why);
        if (answer == Answer::Done)
            value = job->binaryData();
        if (answer != Answer::TimedOut)
            delete job;
        return answer;
    }

    Answer write(const QString &key, const QByteArray &value, int timeoutMs, QString &why) override
    {
        auto *job = new QKeychain::WritePasswordJob(KeychainService);
        job->setKey(key);
        job->setBinaryData(value);
        const Answer answer = run(job, timeoutMs, why);
        if (answer != Answer::TimedOut)
            delete job;
        return answer;
    }

    Answer remove(const QString &key, int timeoutMs, QString &why) override
    {
        auto *job = new QKeychain::DeletePasswordJob(KeychainService);
        job->setKey(key);
        const Answer answer = run(job, timeoutMs, why);
        if (answer != Answer::TimedOut)
            delete job;
        return answer;
    }

private:
    static Answer run(QKeychain::Job *job, int timeoutMs, QString &why)
    {
        QEventLoop loop;
        bool finished = false;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        job->setAutoDelete(false);
        job->start();
        if (!finished)
            loop.exec();
        if (!finished) {
            // Whenever its answer comes, nobody waits for it any more.
            job->setAutoDelete(true);
            return Answer::TimedOut;
        }
        switch (job->error()) {
        case QKeychain::NoError:
            return Answer::Done;
        case QKeychain::EntryNotFound:
            return Answer::Missing;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
        // Without a session bus (or with one no secret service answers on)
        // the library says no more than this.
        case QKeychain::OtherError:
            return Answer::NoBackend;
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            why = job->errorString();
            return Answer::Locked;
        default:
            why = job->errorString();
            return Answer::Failed;
        }
    }
};

QString refusal(Answer answer, const QString &why)
{
    if (answer == Answer::Locked)
        return QStringLiteral("The desktop's secret store is locked or refused access (%1). Unlock it (on GNOME: "
                              "\"Passwords and Keys\", the \"Login\" keyring) and try again.")
            .arg(why);
    return QStringLiteral("The desktop's secret store refused: ") + why;
}
}

SecretStore::SecretStore(Backend backend, const QString &folder)
    : SecretStore(backend == Backend::File ? nullptr : std::make_unique<QtKeychainStore>(), folder)
{
}

SecretStore::SecretStore(std::unique_ptr<Keychain> keychain, const QString &folder)
    : m_keychain(std::move(keychain)), m_useFile(!m_keychain)
{
    const QString base =
        folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) : folder;
    m_filePath = QDir(base).filePath(QString::fromLatin1(FileName));
}

SecretStore::~SecretStore() = default;

QString SecretStore::where() const
{
    return m_useFile ? m_filePath : DesktopStore;
}

void SecretStore::useFileFromNowOn(Answer answer)
{
    m_useFile = true;
    if (answer != Answer::TimedOut)
        return; // no store on this desktop: the file, as always
    m_notice = QStringLiteral("The desktop's secret store did not answer within %1 s (it may be waiting for a "
                              "password to be chosen or typed). Until the program is started again, secrets are "
                              "kept in %2, readable by you alone; they move into the secret store once it answers.")
                   .arg(m_timeoutMs / 1000.0)
                   .arg(m_filePath);
    qWarning("%s", qPrintable(m_notice));
}

std::optional<QByteArray> SecretStore::read(const QString &key, QString *error)
{
    if (!m_useFile) {
        QByteArray value;
        QString why;
        const Answer answer = m_keychain->read(key, value, m_timeoutMs, why);
        switch (answer) {
        case Answer::Done:
        case Answer::Missing:
            if (const std::optional<QByteArray> kept = fileEntry(key)) {
                // Written to the file while the store did not answer: newer
                // than anything the store holds, and now moved over.
                QString ignored;
                if (m_keychain->write(key, *kept, m_timeoutMs, ignored) == Answer::Done)
                    dropFileEntry(key, nullptr);
                return kept;
            }
            return answer == Answer::Done ? std::optional<QByteArray>(value) : std::nullopt;
        case Answer::Locked:
        case Answer::Failed:
            if (const std::optional<QByteArray> kept = fileEntry(key))
                return kept;
            if (error)
                *error = refusal(answer, why);
            return std::nullopt;
        case Answer::NoBackend:
        case Answer::TimedOut:
            useFileFromNowOn(answer);
            break;
        }
    }
    return readFile(key, error);
}

bool SecretStore::write(const QString &key, const QByteArray &value, QString *error)
{
    if (!m_useFile) {
        QString why;
        const Answer answer = m_keychain->write(key, value, m_timeoutMs, why);
        switch (answer) {
        case Answer::Done:
        case Answer::Missing:
            // An older copy in the file would otherwise win the next read.
            return dropFileEntry(key, error);
        case Answer::Locked:
        case Answer::Failed:
            if (error)
                *error = refusal(answer, why);
            return false;
        case Answer::NoBackend:
        case Answer::TimedOut:
            useFileFromNowOn(answer);
            break;
        }
    }
    return writeFile(key, value, error);
}

bool SecretStore::remove(const QString &key, QString *error)
{
    if (!m_useFile) {
        QString why;
        const Answer answer = m_keychain->remove(key, m_timeoutMs, why);
        switch (answer) {
        case Answer::Done:
        case Answer::Missing:
            return dropFileEntry(key, error);
        case Answer::Locked:
        case Answer::Failed:
            if (error)
                *error = refusal(answer, why);
            return false;
        case Answer::NoBackend:
        case Answer::TimedOut:
            useFileFromNowOn(answer);
            break;
        }
    }
    return dropFileEntry(key, error);
}

std::optional<QByteArray> SecretStore::fileEntry(const QString &key) const
{
    if (!QFileInfo::exists(m_filePath))
        return std::nullopt;
    return readFile(key, nullptr);
}

bool SecretStore::dropFileEntry(const QString &key, QString *error) const
{
    if (!QFileInfo::exists(m_filePath))
        return true;
    QJsonObject entries;
    // With the desktop's store answering, a file that can't be read holds no
    // copy that could win a read; on its own, it is reported.
    if (!loadFile(entries, m_useFile ? error : nullptr))
        return !m_useFile;
    if (!entries.contains(key))
        return true;
    entries.remove(key);
    return saveFile(entries, error);
}

std::optional<QByteArray> SecretStore::readFile(const QString &key, QString *error) const
{
    QJsonObject entries;
    if (!loadFile(entries, error))
        return std::nullopt;
    const QJsonValue entry = entries.value(key);
    if (!entry.isString())
        return std::nullopt;
    return QByteArray::fromBase64(entry.toString().toLatin1());
}

bool SecretStore::writeFile(const QString &key, const QByteArray &value, QString *error) const
{
    QJsonObject entries;
    // A file that can't be read is not overwritten: it may hold other secrets.
    if (!loadFile(entries, error))
        return false;
    entries.insert(key, QString::fromLatin1(value.toBase64()));
    return saveFile(entries, error);
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
    QString folderError;
    if (!PrivatePaths::makeFolder(QFileInfo(m_filePath).absolutePath(), &folderError))
        return fail(folderError);
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Readable by the user alone, before a byte of it is written.
    if (!PrivatePaths::narrowFile(file.handle()))
        return fail(QStringLiteral("its permissions can't be set"));
    file.write(QJsonDocument(entries).toJson(QJsonDocument::Indented));
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

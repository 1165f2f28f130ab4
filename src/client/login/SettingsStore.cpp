#include "client/login/SettingsStore.h"

#include "client/app/AppConfig.h"
#include "client/app/PrivatePaths.h"
#include "client/login/SecretStore.h"
#include "client/login/SettingKeys.h"
#include "client/login/modPasswordCryptor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {
// Our own file holds a few kilobytes; anything this big is not ours.
constexpr qint64 MaxSettingsFileSize = 4 * 1024 * 1024;

// Why the last write of a store that went away without flush() failed.
QString g_unreportedFailure;

bool isSaneKey(const QString &key)
{
    if (key.isEmpty() || key.size() > 256)
        return false;
    for (const QString &part : key.split(u'/')) {
        if (part.isEmpty())
            return false;
    }
    for (const QChar c : key) {
        if (!c.isPrint() || c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

// What QSettings reads without complaint is not always what it wrote: each
// line must be a section, a comment or a key with a value, all in UTF-8.
bool isWellFormedIni(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.read(MaxSettingsFileSize + 1);
    if (data.size() > MaxSettingsFileSize)
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(data);
    if (decoder.hasError() || text.contains(QChar::ReplacementCharacter) || text.contains(QChar(u'\0')))
        return false;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i).trimmed();
        while (line.endsWith(u'\\') && i + 1 < lines.size()) // a value continued on the next line
            line = line.chopped(1) + lines.at(++i).trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return false;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            return false;
    }
    return true;
}

// A settings file is damaged when it is truncated, overwritten or not an INI
// file. It is left as it is until the program writes its settings: then it is
// replaced by a clean file holding every entry that could be read.
bool isDamaged(const QSettings &settings, qint64 size)
{
    return size > MaxSettingsFileSize || settings.status() != QSettings::NoError
           || !isWellFormedIni(settings.fileName());
}

QByteArray decodeBase64(const QString &text)
{
    const auto result = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}
}

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(std::unique_ptr<SecretStore> secrets) : m_secrets(std::move(secrets)) {}

SettingsStore::~SettingsStore()
{
    // Kept for the next flush(), so a failure at exit is not lost.
    if (m_changed) {
        QString reason;
        if (!write(&reason))
            g_unreportedFailure = reason;
    }
}

QSettings &SettingsStore::settings() const
{
    if (m_settings)
        return *m_settings;
    m_settings = AppConfig::openSettings();
    const QFileInfo info(m_settings->fileName());
    // A folder in the way shows up as a failure when writing.
    if (!info.exists() || info.isDir())
        return *m_settings;
    m_damaged = isDamaged(*m_settings, info.size());
    if (m_damaged && info.size() <= MaxSettingsFileSize) {
        // Everything that could be read is kept, whatever it holds; only a key
        // that can't be written back is left out.
        for (const QString &key : m_settings->allKeys()) {
            if (isSaneKey(key))
                m_salvaged.insert(key, m_settings->value(key));
        }
    }
    return *m_settings;
}

QVariant SettingsStore::value(const QString &name) const
{
    QSettings &store = settings();
    return m_damaged ? m_salvaged.value(name) : store.value(name);
}

void SettingsStore::setValue(const QString &name, const QVariant &value)
{
    QSettings &store = settings();
    if (m_damaged)
        m_salvaged.insert(name, value);
    else
        store.setValue(name, value);
    m_changed = true;
}

QString SettingsStore::GetValue(const QString &name, const QString &defaultValue) const
{
    const QVariant found = value(name);
    if (!found.isValid())
        return defaultValue;
    if (found.typeId() == QMetaType::QStringList)
        return found.toStringList().join(QStringLiteral(", ")); // an unquoted value with commas
    return found.toString();
}

void SettingsStore::SetValue(const QString &name, const QString &text) { setValue(name, text); }

QByteArray SettingsStore::GetBytes(const QString &name) const
{
    return decodeBase64(value(name).toString());
}

void SettingsStore::SetBytes(const QString &name, const QByteArray &bytes)
{
    setValue(name, QString::fromLatin1(bytes.toBase64()));
}

QString SettingsStore::fileName() const { return settings().fileName(); }

SecretStore &SettingsStore::secrets() const
{
    if (!m_secrets) {
        // ~/.config/Zelvat/Velloria.ini: ~/.config/Zelvat/Velloria/secrets.json
        const QFileInfo file(settings().fileName());
        m_secrets = std::make_unique<SecretStore>(SecretStore::Backend::Auto,
                                                  QDir(file.absolutePath()).filePath(file.completeBaseName()));
    }
    return *m_secrets;
}

QString SettingsStore::GetSecret(const SecretValue &secret, QString *error) const
{
    const auto pending = m_pendingSecrets.constFind(secret.secretName);
    if (pending != m_pendingSecrets.cend())
        return pending->value;
    // An earlier version's value in the file is the newest until a flush moves it.
    const QVariant old = value(secret.fileKey);
    if (old.isValid()) {
        const QString text = old.toString();
        return secret.scrambled ? modPasswordCryptor::UnscramblePassword(text) : text;
    }
    const auto known = m_secretValues.constFind(secret.secretName);
    if (known != m_secretValues.cend())
        return *known;
    QString why;
    const std::optional<QByteArray> stored = secrets().read(secret.secretName, &why);
    if (!stored && !why.isEmpty()) {
        if (error)
            *error = why;
        return {};
    }
    const QString text = stored ? QString::fromUtf8(*stored) : QString();
    m_secretValues.insert(secret.secretName, text);
    return text;
}

void SettingsStore::SetSecret(const SecretValue &secret, const QString &value)
{
    settings();
    m_pendingSecrets.insert(secret.secretName, {secret, value});
    m_changed = true;
}

void SettingsStore::moveSecrets(QStringList &problems)
{
    std::vector<SecretValue> secretValues = SettingKeys::secretValues();
    for (const PendingSecret &pending : std::as_const(m_pendingSecrets)) {
        if (std::none_of(secretValues.cbegin(), secretValues.cend(),
                         [&](const SecretValue &s) { return s.secretName == pending.secret.secretName; }))
            secretValues.push_back(pending.secret);
    }
    for (const SecretValue &secret : secretValues) {
        const auto pending = m_pendingSecrets.constFind(secret.secretName);
        const bool set = pending != m_pendingSecrets.cend();
        const QVariant old = m_settings->value(secret.fileKey);
        if (!set && !old.isValid())
            continue;
        const QString text = set ? pending->value
                             : secret.scrambled ? modPasswordCryptor::UnscramblePassword(old.toString())
                                                : old.toString();
        const auto known = m_secretValues.constFind(secret.secretName);
        if (!old.isValid() && known != m_secretValues.cend() && *known == text) {
            m_pendingSecrets.remove(secret.secretName); // as the secret store has it
            continue;
        }
        QString why;
        const bool kept = text.isEmpty() ? secrets().remove(secret.secretName, &why)
                                         : secrets().write(secret.secretName, text.toUtf8(), &why);
        if (!kept) {
            // Nothing is lost: a value from the file stays there, a new one in memory.
            problems << QStringLiteral("%1 could not be kept in the secret store: %2").arg(secret.what, why);
            continue;
        }
        m_secretValues.insert(secret.secretName, text);
        m_pendingSecrets.remove(secret.secretName);
        if (old.isValid())
            m_settings->remove(secret.fileKey);
    }
}

void SettingsStore::makeFilePrivate() const
{
    // The file and its folder are the user's alone; a new file is 0600 before
    // its first byte, and QSettings keeps an existing file's mode.
    const QString path = m_settings->fileName();
    PrivatePaths::makeFolder(QFileInfo(path).absolutePath());
    const QFileInfo info(path);
    if (info.isDir())
        return;
    if (info.exists()) {
        PrivatePaths::narrowFile(path);
        return;
    }
    const int handle = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              PrivatePaths::FileMode);
    if (handle >= 0)
        ::close(handle);
}

void SettingsStore::replaceDamagedFile()
{
    const QString path = m_settings->fileName();
    m_settings.reset();
    QFile::remove(path);
    m_settings = AppConfig::openSettings();
    for (auto it = m_salvaged.cbegin(); it != m_salvaged.cend(); ++it)
        m_settings->setValue(it.key(), it.value());
    m_salvaged.clear();
    m_damaged = false;
}

bool SettingsStore::write(QString *error)
{
    m_changed = false;
    if (m_damaged)
        replaceDamagedFile();
    QStringList problems;
    moveSecrets(problems);
    makeFilePrivate();
    m_settings->sync();
    switch (m_settings->status()) {
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        problems.prepend(QStringLiteral("The settings file \"%1\" could not be written.").arg(m_settings->fileName()));
        break;
    case QSettings::FormatError:
        // Also set when the file read before writing had a flaw; what counts
        // is the file now on disk.
        if (!isWellFormedIni(m_settings->fileName()))
            problems.prepend(QStringLiteral("The settings file \"%1\" is damaged and could not be written.")
                                 .arg(m_settings->fileName()));
        break;
    }
    if (problems.isEmpty())
        return true;
    if (error)
        *error = problems.join(QStringLiteral("\r\n"));
    return false;
}

bool SettingsStore::flush(QString *error)
{
    QString reason = g_unreportedFailure;
    const bool written = m_changed ? write(&reason) : reason.isEmpty();
    g_unreportedFailure.clear();
    if (!written && error)
        *error = reason;
    return written;
}

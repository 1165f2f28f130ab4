#include "login/SettingsStore.h"

#include "app/AppConfig.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>
#include <QVariantMap>

namespace {
// Our own file holds a few kilobytes; anything this big is not ours.
constexpr qint64 MaxSettingsFileSize = 4 * 1024 * 1024;

// Why the last write of a store that went away without flush() failed.
QString g_unreportedFailure;

bool isSaneText(const QString &text)
{
    for (const QChar c : text) {
        if (c == QChar::ReplacementCharacter)
            return false;
    }
    return true;
}

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

bool isSaneValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return isSaneText(value.toString());
    case QMetaType::QStringList:
        for (const QString &item : value.toStringList()) {
            if (!isSaneText(item))
                return false;
        }
        return true;
    case QMetaType::QByteArray:
        return true;
    default:
        return false;
    }
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

// A settings file that is damaged (truncated, overwritten, not an INI file)
// is replaced by the entries that could be read, so the next write leaves a
// clean file instead of carrying the damage along.
std::unique_ptr<QSettings> openCleanSettings()
{
    auto settings = AppConfig::openSettings();
    const QString path = settings->fileName();
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return settings; // a folder in the way shows up as a failure when writing

    const bool oversized = info.size() > MaxSettingsFileSize;
    QVariantMap salvaged;
    bool damaged = oversized || settings->status() != QSettings::NoError || !isWellFormedIni(path);
    if (!oversized) {
        const QStringList keys = settings->allKeys();
        for (const QString &key : keys) {
            const QVariant value = settings->value(key);
            if (isSaneKey(key) && isSaneValue(value))
                salvaged.insert(key, value);
            else
                damaged = true;
        }
    }
    if (!damaged)
        return settings;

    settings.reset();
    if (!QFile::remove(path))
        return AppConfig::openSettings();
    settings = AppConfig::openSettings();
    for (auto it = salvaged.cbegin(); it != salvaged.cend(); ++it)
        settings->setValue(it.key(), it.value());
    return settings;
}

QByteArray decodeBase64(const QString &text)
{
    const auto result = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                       QByteArray::AbortOnBase64DecodingErrors);
    return result ? *result : QByteArray();
}
}

SettingsStore::SettingsStore() = default;

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
    if (!m_settings)
        m_settings = openCleanSettings();
    return *m_settings;
}

QString SettingsStore::GetValue(const QString &name, const QString &defaultValue) const
{
    const QVariant value = settings().value(name);
    if (!value.isValid())
        return defaultValue;
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", ")); // an unquoted value with commas
    return value.toString();
}

void SettingsStore::SetValue(const QString &name, const QString &value)
{
    settings().setValue(name, value);
    m_changed = true;
}

QByteArray SettingsStore::GetBytes(const QString &name) const
{
    return decodeBase64(settings().value(name).toString());
}

void SettingsStore::SetBytes(const QString &name, const QByteArray &value)
{
    settings().setValue(name, QString::fromLatin1(value.toBase64()));
    m_changed = true;
}

QString SettingsStore::fileName() const { return settings().fileName(); }

bool SettingsStore::write(QString *error)
{
    m_changed = false;
    m_settings->sync();
    switch (m_settings->status()) {
    case QSettings::NoError:
        return true;
    case QSettings::AccessError:
        if (error)
            *error = QStringLiteral("The settings file \"%1\" could not be written.")
                         .arg(m_settings->fileName());
        return false;
    case QSettings::FormatError:
        // Also set when the file read before writing had a flaw; what counts
        // is the file now on disk.
        if (isWellFormedIni(m_settings->fileName()))
            return true;
        if (error)
            *error = QStringLiteral("The settings file \"%1\" is damaged and could not be written.")
                         .arg(m_settings->fileName());
        return false;
    }
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

#include "client/login/SettingsStore.h"

#include "client/app/AppConfig.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>
#include <QVariant>

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

#pragma once
#include <QString>
#include <QVariantMap>
#include <memory>

class QSettings;

// Remembered state in the settings store (section "" of the user's settings
// file). The file is read once, when the store is first used; every value is
// then read from memory, and flush() writes what was set (atomically, merged
// with what other copies of the program wrote meanwhile). The program keeps
// one store for its whole run and hands it to whoever needs it.
class SettingsStore
{
    Q_DISABLE_COPY_MOVE(SettingsStore)

public:
    SettingsStore();
    ~SettingsStore();

    QString GetValue(const QString &name, const QString &defaultValue = {}) const;
    void SetValue(const QString &name, const QString &value);

    // Binary values (window geometry, a list's header state), kept as base64 text.
    QByteArray GetBytes(const QString &name) const;
    void SetBytes(const QString &name, const QByteArray &value);

    QString fileName() const;

    // Writes what was set; false (with a reason) when the file could not be
    // written. A store with nothing of its own to write reports a failed write
    // of an earlier store of this run that nobody was told about yet.
    bool flush(QString *error = nullptr);

private:
    QSettings &settings() const;
    QVariant value(const QString &name) const;
    void setValue(const QString &name, const QVariant &value);
    bool write(QString *error);
    void replaceDamagedFile();
    mutable std::unique_ptr<QSettings> m_settings; // opened on first use
    // A damaged file is not written to until the first write replaces it;
    // meanwhile its entries live here.
    mutable bool m_damaged = false;
    mutable QVariantMap m_salvaged;
    bool m_changed = false;
};

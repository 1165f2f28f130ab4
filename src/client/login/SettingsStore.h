#pragma once
#include <QHash>
#include <QString>
#include <QVariantMap>
#include <memory>

class QSettings;
class SecretStore;

// A value kept in the secret store, never in the settings file: a password.
struct SecretValue {
    QString secretName; // its name in the secret store
    QString fileKey;    // where earlier versions kept it in the settings file
    bool scrambled = false; // kept there in modPasswordCryptor's form
    QString what;       // for messages: "the password"
};

// Remembered state in the settings store (section "" of the user's settings
// file). The file is read once, when the store is first used; every value is
// then read from memory, and flush() writes what was set (atomically, merged
// with what other copies of the program wrote meanwhile). The program keeps
// one store for its whole run and hands it to whoever needs it.
//
// Secret values (the passwords) go to the secret store instead. A settings
// file of an earlier version may still hold one: it is read from there until
// the next flush, which moves it to the secret store and out of the file.
class SettingsStore
{
    Q_DISABLE_COPY_MOVE(SettingsStore)

public:
    // The secrets in the desktop's secret store, its file (where none
    // answers) beside the settings file: ~/.config/Zelvat/Velloria/.
    SettingsStore();
    explicit SettingsStore(std::unique_ptr<SecretStore> secrets);
    ~SettingsStore();

    // Where this store's secret values go; the program's other secrets (the
    // tokens) go there too.
    SecretStore &secrets() const;

    // The secret value; empty when there is none (error is set when the
    // secret store could not be read).
    QString GetSecret(const SecretValue &secret, QString *error = nullptr) const;
    // Kept in the secret store by the next flush (an empty value removes it).
    void SetSecret(const SecretValue &secret, const QString &value);

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
    // Moves the set secret values, and those an earlier version left in the
    // file, to the secret store; each problem is added to problems.
    void moveSecrets(QStringList &problems);
    void makeFilePrivate() const;
    mutable std::unique_ptr<SecretStore> m_secrets; // made on first use when not given
    // What the secret store holds, by secret name, as read or written this run.
    mutable QHash<QString, QString> m_secretValues;
    struct PendingSecret {
        SecretValue secret;
        QString value;
    };
    QHash<QString, PendingSecret> m_pendingSecrets;
    mutable std::unique_ptr<QSettings> m_settings; // opened on first use
    // A damaged file is not written to until the first write replaces it;
    // meanwhile its entries live here.
    mutable bool m_damaged = false;
    mutable QVariantMap m_salvaged;
    bool m_changed = false;
};

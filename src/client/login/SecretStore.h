#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace QKeychain {
class Job;
}

// Secrets (the application key, the sign-in tokens): in the desktop's secret
// store where one answers, else in a file only the user can read. Never in
// the settings file.
class SecretStore
{
    Q_DISABLE_COPY_MOVE(SecretStore)

public:
    enum class Backend {
        Auto,    // the desktop's secret store, the file when none answers
        File,    // the file only
    };
    // folder: where the file goes; empty: the program's configuration folder.
    explicit SecretStore(Backend backend = Backend::Auto, const QString &folder = {});

    // The value stored under key; none when nothing is. error is set (and
    // none returned) when the store could not be read.
    std::optional<QByteArray> read(const QString &key, QString *error = nullptr);
    bool write(const QString &key, const QByteArray &value, QString *error = nullptr);
    bool remove(const QString &key, QString *error = nullptr);

    // Where the secrets are: "the desktop's secret store" or the file's path.
    QString where() const;
    QString filePath() const { return m_filePath; }

    static constexpr auto FileName = "secrets.json";

private:
    enum class Answer { Done, Missing, NoBackend, Failed };
    // False when the keychain's answer leaves the call to the file; else ok is the call's result.
    bool settled(Answer answer, bool &ok);
    static Answer keychainAnswer(const QKeychain::Job &job, QString *error);
    Answer keychainRead(const QString &key, QByteArray &value, QString *error);
    Answer keychainWrite(const QString &key, const QByteArray &value, QString *error);
    Answer keychainRemove(const QString &key, QString *error);

    bool loadFile(QJsonObject &entries, QString *error) const;
    bool saveFile(const QJsonObject &entries, QString *error) const;

    bool m_useFile;
    QString m_filePath;
};

#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>

// Secrets (the application key, the sign-in tokens, the designed interface's
// password, the proxy's password): in the desktop's secret store where one
// answers, else in a file only the user can read. Never in the settings file.
//
// A secret written to the file while the desktop's store did not answer is
// read from there until the store answers again; the first read that finds
// the store answering moves it over and takes it out of the file.
class SecretStore
{
    Q_DISABLE_COPY_MOVE(SecretStore)

public:
    enum class Backend {
        Auto,    // the desktop's secret store, the file when none answers
        File,    // the file only
    };

    // The desktop's secret store as this class reaches it: QtKeychain, or a
    // stand-in in the tests.
    class Keychain
    {
    public:
        enum class Answer {
            Done,
            Missing,   // no such entry
            NoBackend, // no secret store on this desktop
            Locked,    // locked, or access refused
            Failed,
            TimedOut,  // no answer in time (a prompt for a password may be open)
        };
        virtual ~Keychain() = default;
        // why: the store's own words when the answer is not Done or Missing.
        virtual Answer read(const QString &key, QByteArray &value, int timeoutMs, QString &why) = 0;
        virtual Answer write(const QString &key, const QByteArray &value, int timeoutMs, QString &why) = 0;
        virtual Answer remove(const QString &key, int timeoutMs, QString &why) = 0;
    };

    // folder: where the file goes; empty: the program's configuration folder.
    explicit SecretStore(Backend backend = Backend::Auto, const QString &folder = {});
    SecretStore(std::unique_ptr<Keychain> keychain, const QString &folder);
    ~SecretStore();

    // The value stored under key; none when nothing is. error is set (and
    // none returned) when the store could not be read.
    std::optional<QByteArray> read(const QString &key, QString *error = nullptr);
    bool write(const QString &key, const QByteArray &value, QString *error = nullptr);
    bool remove(const QString &key, QString *error = nullptr);

    // Where the secrets are: "the desktop's secret store" or the file's path.
    QString where() const;
    QString filePath() const { return m_filePath; }

    // How long one call waits for the desktop's secret store. A store that
    // does not answer in time (it may be showing a prompt nobody answers)
    // leaves this run's secrets to the file.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    static constexpr int DefaultTimeoutMs = 30000;
    // Why the file stands in for the desktop's store this run; empty when it
    // does not, or when this desktop has no store at all.
    QString notice() const { return m_notice; }

    static constexpr auto FileName = "secrets.json";

private:
    using Answer = Keychain::Answer;
    // The file from now on; a store that did not answer says so once.
    void useFileFromNowOn(Answer answer);
    // The file's entry for key, when the file has one and can be read.
    std::optional<QByteArray> fileEntry(const QString &key) const;
    // Takes key out of the file, where it is.
    bool dropFileEntry(const QString &key, QString *error) const;

    std::optional<QByteArray> readFile(const QString &key, QString *error) const;
    bool writeFile(const QString &key, const QByteArray &value, QString *error) const;
    bool loadFile(QJsonObject &entries, QString *error) const;
    bool saveFile(const QJsonObject &entries, QString *error) const;

    std::unique_ptr<Keychain> m_keychain;
    bool m_useFile;
    int m_timeoutMs = DefaultTimeoutMs;
    QString m_notice;
    QString m_filePath;
};

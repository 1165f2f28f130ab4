#pragma once
#include <QString>
#include <QStringList>

// Every e-mail address used to sign in, kept in "E-Mail History.DAT" in the
// program's data folder.
class EMailHistory
{
public:
    void Init(const QString &fileName = QStringLiteral("E-Mail History.DAT"));
    void Load();
    bool Save(QString *error = nullptr); // false (with a reason) when the file could not be written
    void AddEMail(const QString &email);

    QStringList addresses() const { return m_addresses; }
    QString filePath() const { return m_path; }

private:
    QString m_path;
    QStringList m_addresses; // most recent first
};

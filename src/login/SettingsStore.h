#pragma once
#include <QString>
#include <memory>

class QWidget;
class QHeaderView;
class QSettings;

// Remembered state in the settings store (section "" of the user's settings
// file). Each window's placement is kept apart under its class name.
class SettingsStore
{
public:
    SettingsStore();
    ~SettingsStore();

    QString GetValue(const QString &name, const QString &defaultValue = {}) const;
    void SetValue(const QString &name, const QString &value);

    void SaveFormPlacement(QWidget *window, const QString &name = QStringLiteral("Window placement"));
    void LoadFormPlacement(QWidget *window, const QString &name = QStringLiteral("Window placement"));

    // Column widths, order and visibility of a list's header.
    void SaveListViewLayout(QHeaderView *header, const QString &name);
    void LoadListViewLayout(QHeaderView *header, const QString &name);

    // Writes what was set; false (with a reason) when the file could not be
    // written. A store with nothing of its own to write reports a failed write
    // of an earlier store of this run that nobody was told about yet.
    bool flush(QString *error = nullptr);

private:
    QSettings &settings() const;
    bool write(QString *error);
    mutable std::unique_ptr<QSettings> m_settings; // opened on first use
    bool m_changed = false;
};

#pragma once
#include <QDialog>
#include <optional>

#include "client/runs/DownloadRun.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks, at the start of every download, for the first page, the number of
// pages and whether the listed posts stay.
class frmDownloadSettings final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmDownloadSettings)

public:
    // getPostsButton: the posts window's "Get posts" button; the dialog sits on it.
    explicit frmDownloadSettings(QWidget *getPostsButton, QWidget *parent = nullptr);
    ~frmDownloadSettings() override;

    // A 32-bit whole number from text: blanks around allowed, a fraction
    // rounded to the nearest whole number with halves to the even neighbour.
    static std::optional<qint32> ToLong(const QString &text);

    // What the user chose; Cancelled unless "Ok" accepted valid values.
    const DownloadSettingsData &settings() const { return m_settings; }

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void PositionDialog();
    void cmdOk_Click();
    void cmdCancel_Click();
    void showHelp(QWidget *control);

    QWidget *m_getPostsButton;
    QLabel *m_lblTag2;
    QLineEdit *m_txtStartReadFrom;
    QLabel *m_lblTag3;
    QLineEdit *m_txtReadPages;
    QCheckBox *m_chkCummulativeDownload;
    QLabel *m_lblTag0;
    QPushButton *m_cmdOk;
    QPushButton *m_cmdCancel;
    bool m_positioned = false;
    DownloadSettingsData m_settings;
};

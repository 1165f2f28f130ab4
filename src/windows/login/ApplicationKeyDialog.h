#pragma once
#include <QDialog>

class QLineEdit;
class QPushButton;

// Asks for the application key the current interface signs in with: the
// consumer key and secret of an application the user registered on the
// service, with the redirect address to register shown and copyable.
class ApplicationKeyDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ApplicationKeyDialog)

public:
    ApplicationKeyDialog(const QString &redirectUrl, QWidget *parent = nullptr);

    QString consumerKey() const;
    QString secret() const;

private:
    void UpdateControls();

    QLineEdit *m_txtConsumerKey = nullptr;
    QLineEdit *m_txtSecret = nullptr;
    QLineEdit *m_txtRedirect = nullptr;
    QPushButton *m_cmdCopy = nullptr;
    QPushButton *m_cmdOK = nullptr;
};

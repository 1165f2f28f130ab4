#pragma once
#include <QDialog>

class QLabel;

// The program's title, version and dedication.
class AboutBox final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutBox)

public:
    explicit AboutBox(QWidget *owner = nullptr);

    QString titleText() const;
    QString versionText() const;
    QString dedicationText() const;

private:
    QLabel *m_lblTitle = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_lblDedication = nullptr;
};

// Shows the about box modal to owner (created on first use, shared by the windows).
void ShowAbout(QWidget *owner);

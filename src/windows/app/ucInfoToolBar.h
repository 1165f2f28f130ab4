#pragma once
#include <QWidget>

class QLabel;
struct Account;

// The info bar along the top of the posts window: "Group:" with the blog,
// and the account's e-mail address.
class ucInfoToolBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ucInfoToolBar)

public:
    explicit ucInfoToolBar(QWidget *parent = nullptr);
    // A bar showing the account's e-mail address.
    ucInfoToolBar(const Account &account, QWidget *parent);

    QString ListInfo() const;
    void setListInfo(const QString &text);
    QString ListInfoLabel() const;
    void setListInfoLabel(const QString &text);
    QString EMail() const;
    void setEMail(const QString &text);

    // Docks the bar at the top of form, grows the form by the bar's height and
    // moves the form's other direct children down by it.
    void InitToolBar(QWidget *form);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_lblTag0;
    QLabel *m_lblListInfo;
    QLabel *m_lblTag1;
    QLabel *m_lblEMail;
};

#include "windows/login/EMailHistoryMenu.h"

#include "client/login/EMailHistory.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

void ShowHistory(const EMailHistory &history, QLineEdit *emailBox)
{
    const QStringList addresses = history.addresses();
    if (!emailBox || addresses.isEmpty())
        return;
    QMenu menu(emailBox);
    menu.setObjectName(QStringLiteral("mnuEMailHistory"));
    menu.setMinimumWidth(emailBox->width());
    for (const QString &address : addresses) {
        // "&" would otherwise be taken as a shortcut marker.
        QAction *action = menu.addAction(QString(address).replace(u'&', QStringLiteral("&&")));
        action->setData(address);
    }
    const QAction *chosen = menu.exec(emailBox->mapToGlobal(QPoint(0, emailBox->height())));
    if (!chosen)
        return;
    emailBox->setText(chosen->data().toString());
    emailBox->setFocus();
}

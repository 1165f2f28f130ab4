#include "ModalDialogs.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "windows/posts/frmDownloadSettings.h"

void answerDownloadSettings(DownloadAnswer *answer)
{
    whenModal<frmDownloadSettings>([answer](frmDownloadSettings *dialog) {
        answer->opened = true;
        auto *check = dialog->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"));
        answer->cumulativeTickedAtLoad = check->isChecked();
        if (answer->cancel) {
            dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"))->setText(answer->firstPage);
        dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"))->setText(answer->pages);
        if (answer->cumulative)
            check->setChecked(*answer->cumulative);
        dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"))->click();
    });
}

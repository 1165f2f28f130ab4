#include "windows/app/AboutBox.h"

#include "client/app/AppInfo.h"
#include "windows/app/WindowSupport.h"
#include "client/app/modSupport.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

AboutBox::AboutBox(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About %1").arg(QString::fromUtf8(AppInfo::Title)));
    modSupport::SetWindowResIconAll(this, QStringLiteral("A_MAIN"));

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/icons/A_MAIN")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    m_lblTitle = new QLabel(QString::fromUtf8(AppInfo::Title), this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    QFont titleFont = m_lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    m_lblTitle->setFont(titleFont);

    m_lblVersion = new QLabel(
        QStringLiteral("Version %1").arg(modSupport::FormatVersion(AppInfo::Major, AppInfo::Minor, AppInfo::Revision)),
        this);
    m_lblVersion->setObjectName(QStringLiteral("lblVersion"));

    m_lblDedication = new QLabel(QStringLiteral("For %1").arg(QString::fromUtf8(AppInfo::Dedication)), this);
    m_lblDedication->setObjectName(QStringLiteral("lblDedication"));

    auto *texts = new QVBoxLayout;
    texts->addWidget(m_lblTitle);
    texts->addWidget(m_lblVersion);
    texts->addSpacing(8);
    texts->addWidget(m_lblDedication);
    texts->addStretch();

    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutBox::titleText() const { return m_lblTitle->text(); }

QString AboutBox::versionText() const { return m_lblVersion->text(); }

QString AboutBox::dedicationText() const { return m_lblDedication->text(); }

void ShowAbout(QWidget *owner)
{
    // One box for the whole run, re-parented to whichever window asked.
    static QPointer<AboutBox> box;
    if (!box)
        box = new AboutBox(owner);
    else if (box->parentWidget() != owner)
        box->setParent(owner, box->windowFlags());
    if (box->isVisible())
        return;
    box->exec();
}

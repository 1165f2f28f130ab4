#include "windows/posts/frmDownloadSettings.h"

#include "windows/app/WindowSupport.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <cmath>
#include <limits>

#include "windows/app/DialogServices.h"
#include "windows/app/modSkerrybar.h"
#include "client/app/modSupport.h"
#include "client/runs/DownloadRun.h"

namespace {
const QString TypeMismatch = QStringLiteral("Type mismatch");
}

frmDownloadSettings::frmDownloadSettings(QWidget *getPostsButton, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      m_getPostsButton(getPostsButton), m_lblTag2(new QLabel(QStringLiteral("First page:"), this)),
      m_txtStartReadFrom(new QLineEdit(this)), m_lblTag3(new QLabel(QStringLiteral("Pages to read:"), this)),
      m_txtReadPages(new QLineEdit(this)),
      m_chkCummulativeDownload(new QCheckBox(QStringLiteral("Cummulative download"), this)),
      m_lblTag0(new QLabel(this)), m_cmdOk(new QPushButton(QStringLiteral("Ok"), this)),
      m_cmdCancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("frmDownloadSettings"));
    setWindowTitle(QStringLiteral("Download settings"));
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    setFixedSize(twips(4815), twips(1695));

    m_lblTag2->setObjectName(QStringLiteral("lblTag2"));
    m_lblTag2->move(twips(120), twips(120));
    m_lblTag2->adjustSize();
    m_txtStartReadFrom->setObjectName(QStringLiteral("txtStartReadFrom"));
    m_txtStartReadFrom->setGeometry(twips(1440), twips(60), twips(1335), twips(315));
    m_lblTag3->setObjectName(QStringLiteral("lblTag3"));
    m_lblTag3->move(twips(120), twips(540));
    m_lblTag3->adjustSize();
    m_txtReadPages->setObjectName(QStringLiteral("txtReadPages"));
    m_txtReadPages->setGeometry(twips(1440), twips(480), twips(1335), twips(315));
    m_chkCummulativeDownload->setObjectName(QStringLiteral("chkCummulativeDownload"));
    m_chkCummulativeDownload->setGeometry(twips(120), twips(900), twips(2295), twips(255));
    m_chkCummulativeDownload->resize(m_chkCummulativeDownload->size().expandedTo(m_chkCummulativeDownload->sizeHint()));

    m_lblTag0->setObjectName(QStringLiteral("lblTag0"));
    m_lblTag0->setGeometry(twips(3000), twips(60), twips(1695), twips(1530));
    m_lblTag0->setWordWrap(true);
    m_lblTag0->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette help = m_lblTag0->palette();
    help.setColor(QPalette::WindowText, help.color(QPalette::ToolTipText));
    help.setColor(QPalette::Window, help.color(QPalette::ToolTipBase));
    m_lblTag0->setPalette(help);
    m_lblTag0->setAutoFillBackground(true);

    m_cmdOk->setObjectName(QStringLiteral("cmdOk"));
    m_cmdOk->setGeometry(twips(720), twips(1260), twips(975), twips(375));
    m_cmdOk->setDefault(true);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setGeometry(twips(1800), twips(1260), twips(975), twips(375));

    setTabOrder(m_txtStartReadFrom, m_txtReadPages);
    setTabOrder(m_txtReadPages, m_chkCummulativeDownload);
    setTabOrder(m_chkCummulativeDownload, m_cmdOk);
    setTabOrder(m_cmdOk, m_cmdCancel);

    for (QWidget *control : {static_cast<QWidget *>(m_txtStartReadFrom), static_cast<QWidget *>(m_txtReadPages),
                             static_cast<QWidget *>(m_chkCummulativeDownload), static_cast<QWidget *>(m_cmdOk),
                             static_cast<QWidget *>(m_cmdCancel)})
        control->installEventFilter(this);

    connect(m_cmdOk, &QPushButton::clicked, this, &frmDownloadSettings::cmdOk_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmDownloadSettings::cmdCancel_Click);

    // Form_Load
    modSupport::CenterFormEx(this);
    PositionDialog();
    m_txtStartReadFrom->setText(QStringLiteral("1"));
    m_txtReadPages->setText(QStringLiteral("All"));
    // Ctrl held while the download starts pre-selects a cumulative download.
    m_chkCummulativeDownload->setChecked(modSupport::IsKeyPressed(17));
    m_settings.Cancelled = true;
    m_txtStartReadFrom->setFocus();
    showHelp(m_txtStartReadFrom);
}

frmDownloadSettings::~frmDownloadSettings()
{
    if (m_positioned)
        modSkerrybar::ToolbarUnMarkForm(this);
}

std::optional<qint32> frmDownloadSettings::ToLong(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    // Halves go to the even neighbour, as the language's own conversion does.
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    if (whole < double(std::numeric_limits<qint32>::min()) || whole > double(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(whole);
}

void frmDownloadSettings::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_positioned) {
        m_positioned = true;
        // Again now that the frame is known: the bottom edge sits on the button.
        PositionDialog();
        modSkerrybar::ToolbarMarkForm(this);
        m_txtStartReadFrom->setFocus();
        m_txtStartReadFrom->selectAll();
    }
}

void frmDownloadSettings::PositionDialog()
{
    if (!m_getPostsButton)
        return;
    const QPoint corner = m_getPostsButton->mapToGlobal(QPoint(0, 0));
    move(corner.x(), corner.y() - frameGeometry().height());
}

bool frmDownloadSettings::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn)
        showHelp(static_cast<QWidget *>(watched));
    return QDialog::eventFilter(watched, event);
}

void frmDownloadSettings::showHelp(QWidget *control)
{
    if (control == m_txtStartReadFrom)
        m_lblTag0->setText(QStringLiteral("Input page number for program to start read posts from. The first page "
                                          "(default) is 1. Every page contains 50 posts."));
    else if (control == m_txtReadPages)
        m_lblTag0->setText(QStringLiteral("Input number of pages to read. Or leave blank (or \"All\") to read all "
                                          "pages. Every page contains 50 posts."));
    else if (control == m_chkCummulativeDownload)
        m_lblTag0->setText(
            QStringLiteral("Check this it you want to download part of list and add it to existing list."));
    else if (control == m_cmdOk)
        m_lblTag0->setText(QStringLiteral("Proceed download."));
    else if (control == m_cmdCancel)
        m_lblTag0->setText(QStringLiteral("Cancel download."));

    // Typing replaces the whole value.
    if (control == m_txtStartReadFrom || control == m_txtReadPages)
        modSupport::HighlightText(control);
}

void frmDownloadSettings::cmdOk_Click()
{
    DownloadSettingsData &settings = m_settings;

    const std::optional<qint32> firstPage = ToLong(m_txtStartReadFrom->text());
    if (!firstPage) {
        dialogs().ShowRuntimeError(QStringLiteral("Invalid page number value."), TypeMismatch);
        m_txtStartReadFrom->setFocus();
        return;
    }
    if (*firstPage <= 0) {
        dialogs().critical(QStringLiteral("Invalid page number value. It must me 1 or greater."));
        m_txtStartReadFrom->setFocus();
        return;
    }
    settings.FirstPageIndex = long(*firstPage) - 1;

    const QString pages = modSupport::TrimEx(m_txtReadPages->text()).toUpper();
    if (pages == QLatin1String("ALL") || pages.isEmpty()) {
        settings.PagesToRead = -1;
    } else {
        const std::optional<qint32> count = ToLong(m_txtReadPages->text());
        if (!count) {
            dialogs().ShowRuntimeError(QStringLiteral("Invalid pages count value."), TypeMismatch);
            m_txtReadPages->setFocus();
            return;
        }
        if (*count < 1) {
            dialogs().critical(QStringLiteral("Invalid pages count value. It must be 1 or greater."));
            m_txtReadPages->setFocus();
            return;
        }
        settings.PagesToRead = *count;
    }

    settings.Cumulative = m_chkCummulativeDownload->isChecked();
    settings.Cancelled = false;
    accept();
}

void frmDownloadSettings::cmdCancel_Click()
{
    reject();
}

void frmDownloadSettings::paintEvent(QPaintEvent *event)
{
    // The help panel: the dialog's right part in tool-tip colours.
    QPainter painter(this);
    const QPalette &pal = palette();
    painter.setPen(pal.color(QPalette::ToolTipText));
    painter.setBrush(pal.color(QPalette::ToolTipBase));
    painter.drawRect(QRect(twips(2880), twips(-540), twips(7095), twips(2595)));
    QDialog::paintEvent(event);
}

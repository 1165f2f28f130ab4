#include "windows/app/ucInfoToolBar.h"

#include "windows/app/WindowSupport.h"
#include "client/service/Account.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>

namespace {
constexpr int BarHeight = twips(615);
constexpr int CaptionGap = 10;

// Keeps the docked bar as wide as its form.
class DockFilter final : public QObject
{
    Q_DISABLE_COPY_MOVE(DockFilter)

public:
    DockFilter(QWidget *form, QWidget *bar)
        : QObject(bar)
        , m_bar(bar)
    {
        form->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize && m_bar && watched == m_bar->parentWidget()) {
            auto *form = static_cast<QWidget *>(watched);
            m_bar->setGeometry(0, 0, form->width(), BarHeight);
        }
        return false;
    }

private:
    QPointer<QWidget> m_bar;
};

QLabel *makeLabel(QWidget *bar, const char *name, const QString &text, int leftTwips, int topTwips)
{
    auto *label = new QLabel(text, bar);
    label->setObjectName(QLatin1String(name));
    label->move(twips(leftTwips), twips(topTwips));
    label->setAutoFillBackground(true);
    label->adjustSize();
    return label;
}
}

ucInfoToolBar::ucInfoToolBar(QWidget *parent)
    : QWidget(parent)
{
    QFont barFont(QStringLiteral("Tahoma"));
    barFont.setPointSize(9);
    setFont(barFont);

    m_lblTag0 = makeLabel(this, "lblTag0", QStringLiteral("???"), 120, 60);
    m_lblListInfo = makeLabel(this, "lblListInfo", QStringLiteral("-----"), 1080, 60);
    m_lblTag1 = makeLabel(this, "lblTag1", QStringLiteral("E-Mail:"), 120, 300);
    m_lblEMail = makeLabel(this, "lblEMail", QStringLiteral("-----"), 1080, 300);

    // The bar and its labels in the tool-tip colours.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
    setPalette(colours);
    setAutoFillBackground(true);
    for (QLabel *label : {m_lblEMail, m_lblListInfo, m_lblTag0, m_lblTag1})
        label->setPalette(colours);

    resize(twips(4800), BarHeight);
    setFixedHeight(BarHeight);
}

ucInfoToolBar::ucInfoToolBar(const Account &account, QWidget *parent) : ucInfoToolBar(parent)
{
    setEMail(account.email);
}

QString ucInfoToolBar::ListInfo() const { return m_lblListInfo->text(); }

void ucInfoToolBar::setListInfo(const QString &text)
{
    m_lblListInfo->setText(text);
    m_lblListInfo->adjustSize();
}

QString ucInfoToolBar::ListInfoLabel() const { return m_lblTag0->text(); }

void ucInfoToolBar::setListInfoLabel(const QString &text)
{
    m_lblTag0->setText(text);
    m_lblTag0->adjustSize();
    // Both values start one column right of the first caption; "E-Mail:" does not count.
    const int valueLeft = m_lblTag0->x() + m_lblTag0->width() + CaptionGap;
    m_lblListInfo->move(valueLeft, m_lblListInfo->y());
    m_lblEMail->move(valueLeft, m_lblEMail->y());
}

QString ucInfoToolBar::EMail() const { return m_lblEMail->text(); }

void ucInfoToolBar::setEMail(const QString &text)
{
    m_lblEMail->setText(text);
    m_lblEMail->adjustSize();
}

void ucInfoToolBar::InitToolBar(QWidget *form)
{
    if (!form)
        return;
    setObjectName(QStringLiteral("itbMainInfo"));
    if (parentWidget() != form)
        setParent(form);

    const int barHeight = height();
    setGeometry(0, 0, form->width(), barHeight);
    new DockFilter(form, this);

    // A fixed-size window only grows through its fixed size.
    const QSize grown(form->width(), form->height() + barHeight);
    if (form->minimumSize() == form->maximumSize())
        form->setFixedSize(grown);
    else
        form->resize(grown);
    // Half the bar up, so the grown window keeps its centre.
    form->move(form->x(), form->y() - barHeight / 2);

    const QObjectList children = form->children();
    for (QObject *child : children) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (!widget || widget == this || widget->isWindow())
            continue;
        widget->move(widget->x(), widget->y() + barHeight);
    }
    raise();
}

void ucInfoToolBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (height() != BarHeight)
        setFixedHeight(BarHeight);
    update();
}

void ucInfoToolBar::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // An etched line between the bar and the window below.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, height() - 2, width(), height() - 2);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

#include "TestFolders.h"

#include "client/service/Account.h"
#include "windows/app/ucInfoToolBar.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>

namespace {
constexpr int BarHeight = 41; // 615 twips

QLabel *label(const ucInfoToolBar &bar, const char *name)
{
    return bar.findChild<QLabel *>(QLatin1String(name));
}
}

class TestInfoBar final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void newBar_showsDesignCaptionsAndCurrentEMail();
    void listInfoLabel_movesBothValuesBesideCaption_data();
    void listInfoLabel_movesBothValuesBesideCaption();
    void listInfoLabel_shortAfterLong_movesValuesBack();
    void listInfoAndEMail_moveNothing();
    void resize_keepsHeightAt615Twips();
    void colours_comeFromToolTipRoles();
    void paint_drawsEtchedLineAlongBottom();
    void initToolBar_growsFormAndMovesDirectChildrenDown_data();
    void initToolBar_growsFormAndMovesDirectChildrenDown();
    void initToolBar_formResized_barKeepsFullWidth();

private:
    TestFolders m_folders;
};

void TestInfoBar::initTestCase()
{
    QVERIFY(m_folders.isValid());
    // Distinct tool-tip colours, so a bar in plain window colours would show.
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xE1));
    palette.setColor(QPalette::ToolTipText, QColor(0x10, 0x20, 0x80));
    palette.setColor(QPalette::Dark, QColor(0x40, 0x40, 0x40));
    palette.setColor(QPalette::Light, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(palette);
}

void TestInfoBar::newBar_showsDesignCaptionsAndCurrentEMail()
{
    Account account;
    account.email = QStringLiteral("me@example.com");
    ucInfoToolBar bar(account, nullptr);

    QCOMPARE(bar.ListInfoLabel(), QStringLiteral("???"));
    QCOMPARE(bar.ListInfo(), QStringLiteral("-----"));
    QCOMPARE(bar.EMail(), QStringLiteral("me@example.com"));
    QCOMPARE(label(bar, "lblTag0")->text(), QStringLiteral("???"));
    QCOMPARE(label(bar, "lblTag1")->text(), QStringLiteral("E-Mail:"));
    QCOMPARE(label(bar, "lblEMail")->text(), QStringLiteral("me@example.com"));
    QCOMPARE(label(bar, "lblTag0")->pos(), QPoint(8, 4));
    QCOMPARE(label(bar, "lblListInfo")->pos(), QPoint(72, 4));
    QCOMPARE(label(bar, "lblTag1")->pos(), QPoint(8, 20));
    QCOMPARE(label(bar, "lblEMail")->pos(), QPoint(72, 20));
    QCOMPARE(bar.height(), BarHeight);
}

void TestInfoBar::listInfoLabel_movesBothValuesBesideCaption_data()
{
    QTest::addColumn<QString>("caption");
    QTest::newRow("posts window") << QStringLiteral("Group:");
    QTest::newRow("long") << QStringLiteral("A much longer caption than any design expected:");
    QTest::newRow("one letter") << QStringLiteral("G");
}

void TestInfoBar::listInfoLabel_movesBothValuesBesideCaption()
{
    QFETCH(QString, caption);
    ucInfoToolBar bar;
    bar.setListInfoLabel(caption);
    QLabel *tag0 = label(bar, "lblTag0");
    QCOMPARE(bar.ListInfoLabel(), caption);
    QCOMPARE(tag0->text(), caption);
    QCOMPARE(tag0->width(), tag0->sizeHint().width()); // the caption sizes itself to its text
    const int valueLeft = tag0->x() + tag0->width() + 10;
    QCOMPARE(label(bar, "lblListInfo")->x(), valueLeft);
    QCOMPARE(label(bar, "lblEMail")->x(), valueLeft);
    QCOMPARE(label(bar, "lblListInfo")->y(), 4);
    QCOMPARE(label(bar, "lblEMail")->y(), 20);
    QCOMPARE(label(bar, "lblTag1")->pos(), QPoint(8, 20));
}

void TestInfoBar::listInfoLabel_shortAfterLong_movesValuesBack()
{
    ucInfoToolBar bar;
    bar.setListInfoLabel(QStringLiteral("A very long caption for the first line:"));
    const int longLeft = label(bar, "lblListInfo")->x();
    bar.setListInfoLabel(QStringLiteral("Group:"));
    const int shortLeft = label(bar, "lblListInfo")->x();
    QVERIFY2(shortLeft < longLeft, qPrintable(QStringLiteral("%1 vs %2").arg(shortLeft).arg(longLeft)));
    QCOMPARE(label(bar, "lblEMail")->x(), shortLeft);
}

void TestInfoBar::listInfoAndEMail_moveNothing()
{
    ucInfoToolBar bar;
    bar.setListInfoLabel(QStringLiteral("Group:"));
    QList<QPoint> before;
    const char *const names[] = {"lblTag0", "lblListInfo", "lblTag1", "lblEMail"};
    for (const char *name : names)
        before << label(bar, name)->pos();

    bar.setListInfo(QStringLiteral("a-blog-with-a-rather-long-name.example.com"));
    bar.setEMail(QStringLiteral("x@y.z"));
    QCOMPARE(bar.ListInfo(), QStringLiteral("a-blog-with-a-rather-long-name.example.com"));
    QCOMPARE(bar.EMail(), QStringLiteral("x@y.z"));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(label(bar, names[i])->pos(), before.at(i));
    QCOMPARE(label(bar, "lblListInfo")->width(), label(bar, "lblListInfo")->sizeHint().width());
}

void TestInfoBar::resize_keepsHeightAt615Twips()
{
    ucInfoToolBar bar;
    bar.resize(600, 100);
    QCOMPARE(bar.height(), BarHeight);
    QCOMPARE(bar.width(), 600);
    bar.resize(200, 10);
    QCOMPARE(bar.height(), BarHeight);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    bar.resize(300, 500);
    QCOMPARE(bar.height(), BarHeight);
}

void TestInfoBar::colours_comeFromToolTipRoles()
{
    ucInfoToolBar bar;
    const QColor background = QApplication::palette().color(QPalette::ToolTipBase);
    const QColor text = QApplication::palette().color(QPalette::ToolTipText);
    QVERIFY(bar.autoFillBackground());
    QCOMPARE(bar.palette().color(QPalette::Window), background);
    QCOMPARE(bar.palette().color(QPalette::WindowText), text);
    for (const char *name : {"lblTag0", "lblListInfo", "lblTag1", "lblEMail"}) {
        QLabel *l = label(bar, name);
        QVERIFY(l->autoFillBackground());
        QCOMPARE(l->palette().color(QPalette::Window), background);
        QCOMPARE(l->palette().color(QPalette::WindowText), text);
    }
}

void TestInfoBar::paint_drawsEtchedLineAlongBottom()
{
    ucInfoToolBar bar;
    bar.resize(400, BarHeight);
    const QImage image = bar.grab().toImage();
    QCOMPARE(image.height(), BarHeight);
    const QColor dark = QApplication::palette().color(QPalette::Dark);
    const QColor light = QApplication::palette().color(QPalette::Light);
    for (int x : {0, 200, 399}) {
        QCOMPARE(image.pixelColor(x, BarHeight - 2), dark);
        QCOMPARE(image.pixelColor(x, BarHeight - 1), light);
    }
    QCOMPARE(image.pixelColor(399, 0), QApplication::palette().color(QPalette::ToolTipBase));
}

void TestInfoBar::initToolBar_growsFormAndMovesDirectChildrenDown_data()
{
    QTest::addColumn<bool>("fixedSize");
    QTest::newRow("fixed-size window") << true;
    QTest::newRow("sizable window") << false;
}

void TestInfoBar::initToolBar_growsFormAndMovesDirectChildrenDown()
{
    QFETCH(bool, fixedSize);
    QWidget form;
    if (fixedSize)
        form.setFixedSize(557, 249);
    else
        form.resize(557, 249);
    form.move(100, 200);
    auto *list = new QFrame(&form);
    list->setGeometry(8, 8, 541, 197);
    auto *inList = new QPushButton(QStringLiteral("inner"), list);
    inList->move(5, 6);
    auto *button = new QPushButton(QStringLiteral("Get posts"), &form);
    button->setGeometry(8, 212, 81, 29);
    auto *bar = new ucInfoToolBar(&form);
    bar->setGeometry(156, 60, 269, 41);

    bar->InitToolBar(&form);

    QCOMPARE(bar->objectName(), QStringLiteral("itbMainInfo"));
    QCOMPARE(bar->geometry(), QRect(0, 0, 557, BarHeight));
    QCOMPARE(form.size(), QSize(557, 249 + BarHeight));
    QCOMPARE(form.pos(), QPoint(100, 200 - BarHeight / 2));
    QCOMPARE(form.y(), 180);
    QCOMPARE(list->geometry(), QRect(8, 8 + BarHeight, 541, 197));
    QCOMPARE(button->geometry(), QRect(8, 212 + BarHeight, 81, 29));
    QCOMPARE(inList->pos(), QPoint(5, 6));
}

void TestInfoBar::initToolBar_formResized_barKeepsFullWidth()
{
    QWidget form;
    form.resize(400, 300);
    auto *bar = new ucInfoToolBar(&form);
    bar->InitToolBar(&form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(640, 400);
    QTRY_COMPARE(bar->width(), 640);
    QCOMPARE(bar->height(), BarHeight);
    QCOMPARE(bar->pos(), QPoint(0, 0));
}

QTEST_MAIN(TestInfoBar)
#include "tst_infobar.moc"

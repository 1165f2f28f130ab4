#include "client/service/Account.h"
#include "TestService.h"
#include "TestFolders.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <memory>

#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/posts/frmDownloadSettings.h"
#include "windows/posts/frmPostsList.h"
#include "client/runs/DownloadRun.h"

namespace {
const QString StartHelp = QStringLiteral(
    "Input page number for program to start read posts from. The first page (default) is 1. Every page contains 50 "
    "posts.");
const QString PagesHelp = QStringLiteral(
    "Input number of pages to read. Or leave blank (or \"All\") to read all pages. Every page contains 50 posts.");
}

class tst_downloaddialog final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void ToLong_roundsHalvesToEvenWithin32Bits_data();
    void ToLong_roundsHalvesToEvenWithin32Bits();
    void design_captionControlsAndDefaults();
    void ok_withInputs_setsSettingsOrShowsMessage_data();
    void ok_withInputs_setsSettingsOrShowsMessage();
    void cancelOrClose_leavesCancelled_data();
    void cancelOrClose_leavesCancelled();
    void cancelAfterFailedOk_staysCancelled();
    void ctrlHeldAtLoad_ticksCumulative();
    void position_bottomLeftOnGetPostsButton();
    void focus_showsHelpTextAndSelectsText();

private:
    std::unique_ptr<frmDownloadSettings> openDialog();
    QWidget *child(QWidget *parent, const char *name) { return parent->findChild<QWidget *>(QLatin1String(name)); }

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<frmPostsList> m_posts;
};

void tst_downloaddialog::initTestCase()
{
    // Settings of this run only: placement and column layout start from the design.
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
    testAccount() = {QStringLiteral("127.0.0.1:1"), QStringLiteral("a@b.c"), QStringLiteral("p")};
    m_posts = std::make_unique<frmPostsList>(sharedTestService().settings(), sharedTestService().service(), testAccount());
    m_posts->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_posts.get()));
}

void tst_downloaddialog::init()
{
    m_dialogs.clear();
}

void tst_downloaddialog::cleanup()
{
    QTest::keyRelease(m_posts->windowHandle(), Qt::Key_Control);
}

std::unique_ptr<frmDownloadSettings> tst_downloaddialog::openDialog()
{
    auto dialog = std::make_unique<frmDownloadSettings>(m_posts->getPostsButton(), m_posts.get());
    dialog->show();
    return dialog;
}

void tst_downloaddialog::ToLong_roundsHalvesToEvenWithin32Bits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("1") << "1" << true << 1;
    QTest::newRow("blanks") << "  2 " << true << 2;
    QTest::newRow("2.5 to even 2") << "2.5" << true << 2;
    QTest::newRow("3.5 to even 4") << "3.5" << true << 4;
    QTest::newRow("0.5 to 0") << "0.5" << true << 0;
    QTest::newRow("-2.5 to -2") << "-2.5" << true << -2;
    QTest::newRow("2.6 up") << "2.6" << true << 3;
    QTest::newRow("2.4 down") << "2.4" << true << 2;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("over max") << "2147483648" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("number and letters") << "3x" << false << 0;
}

void tst_downloaddialog::ToLong_roundsHalvesToEvenWithin32Bits()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    const std::optional<qint32> result = frmDownloadSettings::ToLong(text);
    QCOMPARE(result.has_value(), ok);
    if (ok)
        QCOMPARE(*result, value);
}

void tst_downloaddialog::design_captionControlsAndDefaults()
{
    auto dialog = openDialog();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Download settings"));
    QCOMPARE(dialog->size(), QSize(4815 / 15, 1695 / 15));
    QVERIFY(dialog->windowFlags().testFlag(Qt::Tool));
    QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!dialog->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblTag2"))->text(), QStringLiteral("First page:"));
    QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblTag3"))->text(), QStringLiteral("Pages to read:"));
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"))->text(), QStringLiteral("1"));
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"))->text(), QStringLiteral("All"));
    auto *check = dialog->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"));
    QCOMPARE(check->text(), QStringLiteral("Cummulative download"));
    QVERIFY(!check->isChecked());
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"));
    QCOMPARE(ok->text(), QStringLiteral("Ok"));
    QVERIFY(ok->isDefault());
    QCOMPARE(dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblTag0"))->text(), StartHelp);
    QVERIFY(dialog->settings().Cancelled);

    ok->click();
    const DownloadSettingsData &settings = dialog->settings();
    QCOMPARE(settings.FirstPageIndex, 0L);
    QCOMPARE(settings.PagesToRead, -1L);
    QCOMPARE(settings.Cumulative, false);
    QCOMPARE(settings.Cancelled, false);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(m_dialogs.shown.isEmpty());
}

void tst_downloaddialog::ok_withInputs_setsSettingsOrShowsMessage_data()
{
    QTest::addColumn<QString>("firstPage");
    QTest::addColumn<QString>("pages");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("focused");
    QTest::addColumn<long>("firstPageIndex");
    QTest::addColumn<long>("pagesToRead");

    const QString pageMustBe = QStringLiteral("Invalid page number value. It must me 1 or greater.");
    const QString pageMismatch = QStringLiteral("Invalid page number value.\r\n\r\nType mismatch");
    const QString countMustBe = QStringLiteral("Invalid pages count value. It must be 1 or greater.");
    const QString countMismatch = QStringLiteral("Invalid pages count value.\r\n\r\nType mismatch");
    const QString start = QStringLiteral("txtStartReadFrom");
    const QString count = QStringLiteral("txtReadPages");

    QTest::newRow("first 0") << "0" << "All" << pageMustBe << start << 0L << -1L;
    QTest::newRow("first -3") << "-3" << "All" << pageMustBe << start << 0L << -1L;
    QTest::newRow("first 0.4 rounds to 0") << "0.4" << "All" << pageMustBe << start << 0L << -1L;
    QTest::newRow("first abc") << "abc" << "All" << pageMismatch << start << 0L << -1L;
    QTest::newRow("first empty") << "" << "All" << pageMismatch << start << 0L << -1L;
    QTest::newRow("first too big") << "3000000000" << "All" << pageMismatch << start << 0L << -1L;
    QTest::newRow("first ' 2 '") << " 2 " << "All" << QString() << QString() << 1L << -1L;
    QTest::newRow("first 2.5 is 2") << "2.5" << "All" << QString() << QString() << 1L << -1L;
    QTest::newRow("first 3.5 is 4") << "3.5" << "All" << QString() << QString() << 3L << -1L;
    QTest::newRow("pages all") << "1" << "all" << QString() << QString() << 0L << -1L;
    QTest::newRow("pages ' ALL '") << "1" << " ALL " << QString() << QString() << 0L << -1L;
    QTest::newRow("pages aLl") << "1" << "aLl" << QString() << QString() << 0L << -1L;
    QTest::newRow("pages empty") << "1" << "" << QString() << QString() << 0L << -1L;
    QTest::newRow("pages blanks") << "1" << "   " << QString() << QString() << 0L << -1L;
    QTest::newRow("pages 0") << "1" << "0" << countMustBe << count << 0L << -1L;
    QTest::newRow("pages -1") << "1" << "-1" << countMustBe << count << 0L << -1L;
    QTest::newRow("pages x") << "1" << "x" << countMismatch << count << 0L << -1L;
    QTest::newRow("pages 3") << "1" << "3" << QString() << QString() << 0L << 3L;
    QTest::newRow("pages ' 3 '") << "1" << " 3 " << QString() << QString() << 0L << 3L;
    QTest::newRow("pages 2.5 is 2") << "4" << "2.5" << QString() << QString() << 3L << 2L;
}

void tst_downloaddialog::ok_withInputs_setsSettingsOrShowsMessage()
{
    QFETCH(QString, firstPage);
    QFETCH(QString, pages);
    QFETCH(QString, message);
    QFETCH(QString, focused);
    QFETCH(long, firstPageIndex);
    QFETCH(long, pagesToRead);

    auto dialog = openDialog();
    dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"))->setText(firstPage);
    dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"))->setText(pages);
    auto *ok = dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"));
    ok->setFocus();
    ok->click();

    const DownloadSettingsData &settings = dialog->settings();
    if (message.isEmpty()) {
        QVERIFY(m_dialogs.shown.isEmpty());
        QVERIFY(!dialog->isVisible());
        QVERIFY(!settings.Cancelled);
        QCOMPARE(settings.FirstPageIndex, firstPageIndex);
        QCOMPARE(settings.PagesToRead, pagesToRead);
        QCOMPARE(settings.Cumulative, false);
        return;
    }
    QCOMPARE(m_dialogs.texts(), QStringList{message});
    QCOMPARE(m_dialogs.shown.first().icon, DialogServices::Critical);
    QCOMPARE(m_dialogs.shown.first().buttons, DialogServices::OkOnly);
    QVERIFY(dialog->isVisible());
    QVERIFY(settings.Cancelled);
    QCOMPARE(dialog->focusWidget()->objectName(), focused);
}

void tst_downloaddialog::cancelOrClose_leavesCancelled_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Esc") << 1;
    QTest::newRow("close box") << 2;
}

void tst_downloaddialog::cancelOrClose_leavesCancelled()
{
    QFETCH(int, how);
    auto dialog = openDialog();
    QVERIFY(dialog->settings().Cancelled);
    if (how == 0)
        dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    else if (how == 1)
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    else
        dialog->close();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(dialog->settings().Cancelled);
}

void tst_downloaddialog::cancelAfterFailedOk_staysCancelled()
{
    auto dialog = openDialog();
    dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"))->setText(QStringLiteral("2"));
    dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"))->setText(QStringLiteral("0"));
    dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"))->click();
    QCOMPARE(m_dialogs.shown.size(), 1);
    dialog->findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
    QVERIFY(dialog->settings().Cancelled);
}

void tst_downloaddialog::ctrlHeldAtLoad_ticksCumulative()
{
    QTest::keyPress(m_posts->windowHandle(), Qt::Key_Control, Qt::ControlModifier);
    auto dialog = openDialog();
    QTest::keyRelease(m_posts->windowHandle(), Qt::Key_Control);
    QVERIFY(dialog->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"))->isChecked());
    dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"))->click();
    QVERIFY(dialog->settings().Cumulative);

    auto plain = openDialog();
    QVERIFY(!plain->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"))->isChecked());
}

void tst_downloaddialog::position_bottomLeftOnGetPostsButton()
{
    auto dialog = openDialog();
    const QPoint corner = m_posts->getPostsButton()->mapToGlobal(QPoint(0, 0));
    const QRect frame = dialog->frameGeometry();
    QCOMPARE(frame.left(), corner.x());
    QCOMPARE(frame.top() + frame.height(), corner.y());
    QCOMPARE(dialog->size(), QSize(4815 / 15, 1695 / 15));
}

void tst_downloaddialog::focus_showsHelpTextAndSelectsText()
{
    auto dialog = openDialog();
    dialog->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    auto *help = dialog->findChild<QLabel *>(QStringLiteral("lblTag0"));
    auto *start = dialog->findChild<QLineEdit *>(QStringLiteral("txtStartReadFrom"));
    auto *pages = dialog->findChild<QLineEdit *>(QStringLiteral("txtReadPages"));
    QCOMPARE(QApplication::focusWidget(), start);
    QCOMPARE(help->text(), StartHelp);
    QCOMPARE(start->selectedText(), QStringLiteral("1"));
    QVERIFY(help->wordWrap());

    const struct {
        const char *control;
        QString text;
    } expected[] = {
        {"txtReadPages", PagesHelp},
        {"chkCummulativeDownload",
         QStringLiteral("Check this it you want to download part of list and add it to existing list.")},
        {"cmdOk", QStringLiteral("Proceed download.")},
        {"cmdCancel", QStringLiteral("Cancel download.")},
        {"txtStartReadFrom", StartHelp},
    };
    for (const auto &entry : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(entry.control));
        QCOMPARE(help->text(), entry.text);
    }
    QCOMPARE(start->selectedText(), QStringLiteral("1"));
    pages->setFocus();
    QCOMPARE(pages->selectedText(), QStringLiteral("All"));
}

QTEST_MAIN(tst_downloaddialog)
#include "tst_downloaddialog.moc"

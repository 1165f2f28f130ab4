#include "client/service/Account.h"
#include "ModalDialogs.h"
#include "TestService.h"
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include "windows/posts/PostsListView.h"
#include <QTimer>
#include <QtTest>
#include <memory>

#include "SimFixture.h"
#include "TestFolders.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/posts/PostActions.h"
#include "windows/posts/frmDownloadSettings.h"
#include "windows/posts/frmPostsList.h"
#include "client/posts/PostsModel.h"

namespace {
std::vector<PostRow> rows(int count)
{
    std::vector<PostRow> result;
    for (int i = 0; i < count; ++i) {
        PostRow row;
        row.id = QString::number(100 + i);
        row.date = QStringLiteral("2026-11-30 18:04:05 GMT");
        row.caption = QStringLiteral("Photo %1").arg(i);
        row.rawCaption = row.caption;
        row.postUrl = QStringLiteral("http://blog.example/post/%1").arg(100 + i);
        result.push_back(row);
    }
    return result;
}

}

class tst_postslist final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keys_actOnlyForTheirExactModifiers_data();
    void keys_actOnlyForTheirExactModifiers();
    void rowChangingKeys_ignoredWhileDownloading();
    void doubleClick_onRowOpensOrEditsWithShift_emptyAreaNothing();
    void shiftF1_showsAboutBox();
    void removeButton_removesSelectedAndRefreshes();
    void close_savesColumnLayout_reopenRestoresIt();

private:
    std::unique_ptr<frmPostsList> openWindow(int rowCount);

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    QList<QUrl> m_opened;
};

void tst_postslist::initTestCase()
{
    // Settings of this run only: placement and column layout start from the design.
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
    PostActions::setUrlOpener([this](const QUrl &url) {
        m_opened << url;
        return true;
    });
}

void tst_postslist::init()
{
    m_dialogs.clear();
    m_opened.clear();
    testAccount() = {QStringLiteral("127.0.0.1:1"), QStringLiteral("user@example.com"),
                     QStringLiteral("secret")};
}

void tst_postslist::cleanup()
{
    if (QWindow *window = QGuiApplication::focusWindow())
        QTest::keyRelease(window, Qt::Key_Shift);
}

std::unique_ptr<frmPostsList> tst_postslist::openWindow(int rowCount)
{
    auto window = std::make_unique<frmPostsList>(sharedTestService().settings(), sharedTestService().service(), testAccount());
    window->posts().append(rows(rowCount));
    window->DrawControls();
    window->show();
    return window;
}

void tst_postslist::keys_actOnlyForTheirExactModifiers_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("opened"); // "", "post" or "editor"

    const int none = Qt::NoModifier, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
    QTest::newRow("Ctrl+A selects all") << int(Qt::Key_A) << ctrl << 5 << 5 << QString();
    QTest::newRow("Ctrl+Shift+A nothing") << int(Qt::Key_A) << (ctrl | shift) << 5 << 1 << QString();
    QTest::newRow("Delete removes") << int(Qt::Key_Delete) << none << 4 << 1 << QString();
    QTest::newRow("Ctrl+Delete nothing") << int(Qt::Key_Delete) << ctrl << 5 << 1 << QString();
    QTest::newRow("Enter opens") << int(Qt::Key_Return) << none << 5 << 1 << "post";
    QTest::newRow("keypad Enter opens") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << 5 << 1 << "post";
    QTest::newRow("Shift+Enter edits") << int(Qt::Key_Return) << shift << 5 << 1 << "editor";
    QTest::newRow("Ctrl+Enter nothing") << int(Qt::Key_Return) << ctrl << 5 << 1 << QString();
}

void tst_postslist::keys_actOnlyForTheirExactModifiers()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, rowsLeft);
    QFETCH(int, selected);
    QFETCH(QString, opened);

    auto window = openWindow(5);
    auto *list = window->findChild<PostsListView *>(QStringLiteral("lvPosts"));
    window->selectAndShowRow(2);
    list->setFocus();
    QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QCOMPARE(window->posts().count(), rowsLeft);
    QCOMPARE(list->selectionModel()->selectedRows().size(), selected);
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: %1").arg(rowsLeft));
    if (opened.isEmpty()) {
        QVERIFY(m_opened.isEmpty());
    } else {
        QCOMPARE(m_opened.size(), 1);
        const QString address = m_opened.first().toString();
        if (opened == QLatin1String("post"))
            QCOMPARE(address, QStringLiteral("http://blog.example/post/102"));
        else
            QVERIFY2(address.contains(QStringLiteral("/edit/102?redirect_to=")), qPrintable(address));
    }
    QVERIFY(window->isVisible());
}

void tst_postslist::rowChangingKeys_ignoredWhileDownloading()
{
    SimFixture sim(SimFixture::generatedAccount(QStringLiteral("photos"), 60));
    testAccount() = {sim.blogHost(QStringLiteral("photos")), QStringLiteral("user@example.com"),
                     QStringLiteral("secret")};
    auto window = openWindow(5);
    window->selectAndShowRow(0);
    sim::Fault stall;
    stall.kind = sim::Fault::Stall;
    sim.server().injectFault(sim::Endpoint::Read, stall);
    int rowsDuringDownload = -1;
    int selectedDuringDownload = -1;
    auto *list = window->findChild<PostsListView *>(QStringLiteral("lvPosts"));
    connect(&sim.server(), &sim::Server::requestLogged, this, [&] {
        QTimer::singleShot(50, window.get(), [&] {
            QTest::keyClick(window.get(), Qt::Key_Delete);
            QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
            rowsDuringDownload = window->posts().count();
            selectedDuringDownload = list->selectionModel()->selectedRows().size();
            QTest::keyClick(window.get(), Qt::Key_Escape);
        });
    });
    whenModal<frmDownloadSettings>([](frmDownloadSettings *dialog) {
        dialog->findChild<QCheckBox *>(QStringLiteral("chkCummulativeDownload"))->setChecked(true);
        dialog->findChild<QPushButton *>(QStringLiteral("cmdOk"))->click();
    });
    window->findChild<QPushButton *>(QStringLiteral("cmdGetPosts"))->click();

    QCOMPARE(rowsDuringDownload, 5);
    QCOMPARE(selectedDuringDownload, 1);
    QCOMPARE(window->posts().count(), 5);
    QVERIFY(window->isVisible());
}

void tst_postslist::doubleClick_onRowOpensOrEditsWithShift_emptyAreaNothing()
{
    auto window = openWindow(3);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    auto *list = window->findChild<PostsListView *>(QStringLiteral("lvPosts"));
    QWidget *viewport = list->viewport();
    const auto at = [&](const QPoint &inViewport) { return viewport->mapTo(window.get(), inViewport); };
    const QPoint row1 = list->visualRect(window->posts().index(1, 1)).center();
    const QPoint empty(row1.x(), viewport->height() - 5);
    QVERIFY(!list->indexAt(empty).isValid());

    // Below the last row, with a row selected: nothing.
    window->selectAndShowRow(0);
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at(empty));
    QVERIFY(m_opened.isEmpty());
    QVERIFY(m_dialogs.shown.isEmpty());

    list->selectionModel()->clearSelection();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at(row1));
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::NoModifier, at(row1));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toString(), QStringLiteral("http://blog.example/post/101"));

    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, Qt::ShiftModifier, at(row1));
    QCOMPARE(m_opened.size(), 2);
    QVERIFY2(m_opened.last().toString().contains(QStringLiteral("/edit/101?redirect_to=")),
             qPrintable(m_opened.last().toString()));
}

void tst_postslist::shiftF1_showsAboutBox()
{
    auto window = openWindow(0);
    QString shown;
    whenModal<QDialog>([&shown](QDialog *dialog) {
        shown = dialog->objectName();
        dialog->reject();
    });
    QTest::keyClick(window.get(), Qt::Key_F1, Qt::ShiftModifier);
    QTRY_COMPARE(shown, QStringLiteral("AboutBox"));

    // F1 alone and Ctrl+F1 are not the key.
    shown.clear();
    QTest::keyClick(window.get(), Qt::Key_F1);
    QTest::keyClick(window.get(), Qt::Key_F1, Qt::ControlModifier);
    QTest::qWait(30);
    QVERIFY(shown.isEmpty());
    if (QWidget *modal = QApplication::activeModalWidget())
        modal->close();
}

void tst_postslist::removeButton_removesSelectedAndRefreshes()
{
    auto window = openWindow(3);
    window->selectAndShowRow(0);
    window->selectAndShowRow(1);
    window->selectAndShowRow(2);
    window->findChild<QPushButton *>(QStringLiteral("cmdRemoveSelected"))->click();
    QCOMPARE(window->posts().count(), 0);
    QCOMPARE(window->windowTitle(), QStringLiteral("Velloria :: Posts list :: 0"));
    for (const char *name : {"cmdFixPosts", "cmdOpenPost", "cmdEditPost", "cmdRemoveSelected"})
        QVERIFY2(!window->findChild<QPushButton *>(QLatin1String(name))->isEnabled(), name);
    QVERIFY(window->findChild<QPushButton *>(QStringLiteral("cmdGetPosts"))->isEnabled());
}

void tst_postslist::close_savesColumnLayout_reopenRestoresIt()
{
    auto window = openWindow(1);
    bool closed = false;
    connect(window.get(), &frmPostsList::closed, this, [&closed] { closed = true; });
    QHeaderView *header = window->findChild<PostsListView *>(QStringLiteral("lvPosts"))->horizontalHeader();
    QVERIFY(header->sectionsMovable());
    header->resizeSection(1, 300);
    header->moveSection(2, 0);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QVERIFY(!window->isVisible());
    QVERIFY(closed);

    auto again = openWindow(0);
    QHeaderView *restored = again->findChild<PostsListView *>(QStringLiteral("lvPosts"))->horizontalHeader();
    QCOMPARE(restored->sectionSize(1), 300);
    QCOMPARE(restored->logicalIndex(0), 2);
    again->close();
}

QTEST_MAIN(tst_postslist)
#include "tst_postslist.moc"

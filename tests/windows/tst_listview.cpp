#include "client/service/Account.h"
#include "TestService.h"
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <QtTest>
#include <functional>
#include <memory>

#include "GeneratedRows.h"

#include "TestFolders.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modMain.h"
#include "windows/posts/PostsListView.h"
#include "windows/posts/frmPostsList.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"

namespace {
std::vector<PostRow> rows(int count)
{
    std::vector<PostRow> result;
    result.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        PostRow row;
        row.id = QString::number(100 + i);
        row.date = QStringLiteral("2026-11-30 18:04:05 GMT");
        row.caption = QStringLiteral("Photo %1").arg(i);
        row.rawCaption = row.caption;
        row.tags = QStringList{QStringLiteral("tag %1").arg(i)};
        row.postUrl = QStringLiteral("http://blog.example/post/%1").arg(100 + i);
        result.push_back(std::move(row));
    }
    return result;
}

QList<int> selectedRows(const PostsListView &list)
{
    QList<int> result;
    for (const QModelIndex &index : list.selectionModel()->selectedRows())
        result << index.row();
    std::sort(result.begin(), result.end());
    return result;
}

QList<int> range(int first, int last)
{
    QList<int> result;
    for (int row = first; row <= last; ++row)
        result << row;
    return result;
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &at, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}
}

// The posts list as a user sees it: the header, the rows, clicks and keys.
class tst_listview final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void header_showsColumnTextsAboveTheRows();
    void click_selectsTheWholeRow();
    void shiftClick_extendsFromTheClickedRow();
    void ctrlClick_addsAndRemovesOneRow();
    void keys_moveTheCurrentRowAndKeepItOnScreen_data();
    void keys_moveTheCurrentRowAndKeepItOnScreen();
    void selectAndShowRow_farRow_scrollsItIntoView();
    void removingFirstRows_scrollRangeFollowsTheList();
    void horizontalScroll_movesHeaderWithTheRows();
    void headerDrag_reordersColumns_rowsFollow();
    void paint_emptyAndLongList_showsWindow_data();
    void paint_emptyAndLongList_showsWindow();
    void tagsToolTip_previewsTheTagsToBeSent_data();
    void tagsToolTip_previewsTheTagsToBeSent();
    void paint_afterChanges_sameAsAListDrawnAfresh_data();
    void paint_afterChanges_sameAsAListDrawnAfresh();

private:
    std::unique_ptr<frmPostsList> openWindow(int rowCount);
    static PostsListView *list(frmPostsList &window);
    static QPoint rowPoint(const PostsListView &list, int row, int column = 1);

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

void tst_listview::initTestCase()
{
    // Settings of this run only: placement and column layout start from the design.
    QVERIFY(m_folders.isValid());
    setDialogs(&m_dialogs);
}

void tst_listview::init()
{
    m_dialogs.clear();
    testAccount() = {QStringLiteral("127.0.0.1:1"), QStringLiteral("user@example.com"),
                     QStringLiteral("secret")};
}

std::unique_ptr<frmPostsList> tst_listview::openWindow(int rowCount)
{
    auto window = std::make_unique<frmPostsList>(sharedTestService().settings(), sharedTestService().service(), testAccount());
    window->posts().append(rows(rowCount));
    window->DrawControls();
    window->show();
    return window;
}

PostsListView *tst_listview::list(frmPostsList &window)
{
    return window.findChild<PostsListView *>(QStringLiteral("lvPosts"));
}

QPoint tst_listview::rowPoint(const PostsListView &list, int row, int column)
{
    return list.visualRect(list.model()->index(row, column)).center();
}

void tst_listview::header_showsColumnTextsAboveTheRows()
{
    auto window = openWindow(3);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QHeaderView *header = view->horizontalHeader();
    QVERIFY(header->isVisible());
    QCOMPARE(header->orientation(), Qt::Horizontal);
    QCOMPARE(header->count(), 7);
    const QStringList texts = {"Date", "Caption", "Tags", "Format", "Slug", "Click through URL", "Post URL"};
    const int widths[] = {2500, 2715, 2760, 960, 3375, 1740, 5000};
    for (int column = 0; column < 7; ++column) {
        QCOMPARE(header->model()->headerData(column, Qt::Horizontal).toString(), texts[column]);
        QCOMPARE(header->sectionSize(column), widths[column] / 15);
    }
    // The header sits right above the rows, as wide as they are.
    QCOMPARE(header->geometry().bottom() + 1, view->viewport()->geometry().top());
    QCOMPARE(header->width(), view->viewport()->width());
    QVERIFY(header->height() > 0);
    QCOMPARE(view->indexAt(QPoint(1, 1)), window->posts().index(0, 0));
    QCOMPARE(view->indexAt(rowPoint(*view, 2, 3)), window->posts().index(2, 3));
}

void tst_listview::click_selectsTheWholeRow()
{
    auto window = openWindow(5);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowPoint(*view, 2, 3));

    QCOMPARE(selectedRows(*view), QList<int>{2});
    for (int column = 0; column < 7; ++column)
        QVERIFY(view->selectionModel()->isSelected(window->posts().index(2, column)));
    QCOMPARE(view->currentIndex().row(), 2);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowPoint(*view, 4, 0));
    QCOMPARE(selectedRows(*view), QList<int>{4});
}

void tst_listview::shiftClick_extendsFromTheClickedRow()
{
    auto window = openWindow(8);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowPoint(*view, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(*view, 4));
    QCOMPARE(selectedRows(*view), range(1, 4));

    // Upwards from the same anchor.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(*view, 0));
    QCOMPARE(selectedRows(*view), range(0, 1));

    // Shift+Down from the keyboard extends too.
    QTest::keyClick(view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(selectedRows(*view), QList<int>{1});
    QTest::keyRelease(view, Qt::Key_Shift);
}

void tst_listview::ctrlClick_addsAndRemovesOneRow()
{
    auto window = openWindow(6);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowPoint(*view, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(*view, 3));
    QCOMPARE(selectedRows(*view), (QList<int>{0, 3}));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(*view, 0));
    QCOMPARE(selectedRows(*view), QList<int>{3});
    QTest::keyRelease(view, Qt::Key_Control);
}

void tst_listview::keys_moveTheCurrentRowAndKeepItOnScreen_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("presses");
    // -1: the last row; -2: the last whole row of the page; -3: of the next page; -4: a page up
    QTest::addColumn<int>("expected");

    QTest::newRow("Down") << int(Qt::Key_Down) << 3 << 13;
    QTest::newRow("Up") << int(Qt::Key_Up) << 3 << 7;
    QTest::newRow("Up stops at the first row") << int(Qt::Key_Up) << 30 << 0;
    QTest::newRow("Home") << int(Qt::Key_Home) << 1 << 0;
    QTest::newRow("End") << int(Qt::Key_End) << 1 << -1;
    QTest::newRow("Down stops at the last row") << int(Qt::Key_Down) << 1100 << -1;
    QTest::newRow("Page Down to the page's last row") << int(Qt::Key_PageDown) << 1 << -2;
    QTest::newRow("Page Down again, a page further") << int(Qt::Key_PageDown) << 2 << -3;
    QTest::newRow("Page Up, a page back") << int(Qt::Key_PageUp) << 1 << -4;
}

void tst_listview::keys_moveTheCurrentRowAndKeepItOnScreen()
{
    QFETCH(int, key);
    QFETCH(int, presses);
    QFETCH(int, expected);

    auto window = openWindow(1000);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    window->selectAndShowRow(10);
    view->scrollTo(window->posts().index(10, 0), QAbstractItemView::PositionAtTop);
    view->setFocus();
    const int firstOnScreen = view->rowAt(0);
    QCOMPARE(firstOnScreen, 10);
    const int wholeRows = view->viewport()->height() / view->rowHeight();
    for (int i = 0; i < presses; ++i)
        QTest::keyClick(view, Qt::Key(key));

    if (expected == -1)
        expected = 999;
    else if (expected == -2)
        expected = firstOnScreen + wholeRows - 1;
    else if (expected == -3)
        expected = firstOnScreen + 2 * (wholeRows - 1);
    else if (expected == -4)
        expected = std::max(0, firstOnScreen - (wholeRows - 1));
    QCOMPARE(view->currentIndex().row(), expected);
    QCOMPARE(selectedRows(*view), QList<int>{expected});
    QVERIFY(view->viewport()->rect().contains(view->visualRect(view->currentIndex())));
}

void tst_listview::selectAndShowRow_farRow_scrollsItIntoView()
{
    auto window = openWindow(100000);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    window->selectAndShowRow(76543);

    const QRect shown = view->visualRect(window->posts().index(76543, 0));
    QVERIFY(view->viewport()->rect().contains(shown));
    QCOMPARE(view->indexAt(shown.center()).row(), 76543);
    QCOMPARE(selectedRows(*view), QList<int>{76543});

    // Back to the top, as after "Get posts".
    window->selectAndShowRow(0);
    QCOMPARE(view->rowAt(0), 0);
    QCOMPARE(selectedRows(*view), (QList<int>{0, 76543}));

    // Shift+click from the first row to a row on screen selects the rows between.
    view->selectionModel()->clearSelection();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowPoint(*view, 0));
    window->posts().removeAt(0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(*view, 3));
    QCOMPARE(selectedRows(*view), range(0, 3));
}

void tst_listview::removingFirstRows_scrollRangeFollowsTheList()
{
    auto window = openWindow(200);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    const int wholeRows = view->viewport()->height() / view->rowHeight();
    QScrollBar *bar = view->verticalScrollBar();
    QCOMPARE(bar->maximum(), 200 - wholeRows);

    for (int i = 0; i < 50; ++i) {
        window->posts().removeAt(0);
        window->selectAndShowRow(0);
    }
    QCOMPARE(bar->maximum(), 150 - wholeRows);
    QCOMPARE(view->rowAt(0), 0);
    const QModelIndex top = view->indexAt(rowPoint(*view, 0));
    QCOMPARE(top.data().toString(), QStringLiteral("Photo 50"));

    window->posts().append(rows(10));
    QCOMPARE(bar->maximum(), 160 - wholeRows);
    window->posts().clear();
    QCOMPARE(bar->maximum(), 0);
    QVERIFY(!view->indexAt(QPoint(1, 1)).isValid());
}

void tst_listview::horizontalScroll_movesHeaderWithTheRows()
{
    auto window = openWindow(3);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QHeaderView *header = view->horizontalHeader();
    QScrollBar *bar = view->horizontalScrollBar();
    QCOMPARE(bar->maximum(), header->length() - view->viewport()->width());

    bar->setValue(bar->maximum());
    QCOMPARE(header->offset(), bar->maximum());
    // The last column ends at the right edge of the rows and of the header.
    const QRect last = view->visualRect(window->posts().index(0, PostsModel::POST_URL));
    QCOMPARE(last.right(), view->viewport()->width() - 1);
    QCOMPARE(header->sectionViewportPosition(PostsModel::POST_URL), last.left());
    QCOMPARE(view->indexAt(QPoint(view->viewport()->width() - 2, 1)).column(), int(PostsModel::POST_URL));
}

void tst_listview::headerDrag_reordersColumns_rowsFollow()
{
    auto window = openWindow(3);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    QHeaderView *header = view->horizontalHeader();
    QWidget *target = header->viewport();
    const int y = header->height() / 2;
    const QPoint from(header->sectionViewportPosition(PostsModel::CAPTION) + header->sectionSize(PostsModel::CAPTION) / 2, y);
    const QPoint to(header->sectionViewportPosition(PostsModel::DATE) + 5, y);

    sendMouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(target, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    sendMouse(target, QEvent::MouseMove, to, Qt::LeftButton);
    sendMouse(target, QEvent::MouseButtonRelease, to, Qt::NoButton);

    QCOMPARE(header->logicalIndex(0), int(PostsModel::CAPTION));
    QCOMPARE(header->logicalIndex(1), int(PostsModel::DATE));
    // The rows are drawn and hit in the header's order.
    QCOMPARE(view->indexAt(QPoint(2, rowPoint(*view, 1).y())).column(), int(PostsModel::CAPTION));
    QCOMPARE(view->visualRect(window->posts().index(1, PostsModel::CAPTION)).left(), 0);
}

void tst_listview::paint_emptyAndLongList_showsWindow_data()
{
    QTest::addColumn<int>("rowCount");
    QTest::newRow("no rows") << 0;
    QTest::newRow("one row") << 1;
    QTest::newRow("100,000 rows") << 100000;
}

void tst_listview::paint_emptyAndLongList_showsWindow()
{
    QFETCH(int, rowCount);
    auto window = openWindow(rowCount);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    if (rowCount > 0) {
        window->selectAndShowRow(rowCount - 1);
        view->setFocus();
    }
    const QImage image = window->grab().toImage();
    QCOMPARE(image.size(), window->size() * image.devicePixelRatio());

    if (rowCount > 0) {
        // The selected row is drawn in the selection colour.
        const QImage rowsImage = view->viewport()->grab().toImage();
        const QRect last = view->visualRect(window->posts().index(rowCount - 1, PostsModel::CAPTION));
        const QColor highlight = view->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor inactive = view->palette().color(QPalette::Inactive, QPalette::Highlight);
        const QColor drawn = rowsImage.pixelColor(last.left() + 1, last.center().y());
        QVERIFY2(drawn == highlight || drawn == inactive, qPrintable(drawn.name()));
    }
}

void tst_listview::tagsToolTip_previewsTheTagsToBeSent_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tags");
    QTest::addColumn<QString>("preview");
    QTest::newRow("no tags") << QStringLiteral("Sunset") << QString() << QStringLiteral("\"Sunset\"");
    QTest::newRow("with tags") << QStringLiteral("Sunset? at #Beach") << QStringLiteral("cat")
                               << QStringLiteral("cat, \"Sunset at Beach\"");
    QTest::newRow("comma in the caption") << QStringLiteral("Red, white") << QStringLiteral("a, \"big, fluffy\"")
                                          << QStringLiteral("a, \"big, fluffy\", \"Red, white\"");
}

void tst_listview::tagsToolTip_previewsTheTagsToBeSent()
{
    QFETCH(QString, caption);
    QFETCH(QString, tags);
    QFETCH(QString, preview);
    auto window = openWindow(0);
    PostRow row;
    row.id = QStringLiteral("1");
    row.caption = caption;
    row.rawCaption = caption;
    row.tags = TagRule::TagList(tags);
    window->posts().append(row);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    PostsListView *view = list(*window);
    const QPoint at = rowPoint(*view, 0, PostsModel::TAGS);
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(view->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), preview);
    // The cell itself still shows the tags as listed.
    QCOMPARE(window->posts().index(0, PostsModel::TAGS).data().toString(), tags);
    QToolTip::hideText();
}

// The list draws rows from images of rows it drew before: whatever changed in
// between, what it shows must be what a list drawing everything anew shows.
void tst_listview::paint_afterChanges_sameAsAListDrawnAfresh_data()
{
    QTest::addColumn<int>("change");
    QTest::newRow("first rows written and removed, next one selected") << 0;
    QTest::newRow("column widened") << 1;
    QTest::newRow("scrolled down to a far row") << 2;
    QTest::newRow("selection moved to another row") << 3;
    QTest::newRow("list cleared and filled with other rows") << 4;
    QTest::newRow("scrolled sideways") << 5;
    QTest::newRow("rows removed from the middle") << 6;
}

void tst_listview::paint_afterChanges_sameAsAListDrawnAfresh()
{
    QFETCH(int, change);
    const auto steps = [change](frmPostsList &window, const std::function<void()> &between) {
        PostsListView *view = list(window);
        window.selectAndShowRow(0);
        between();
        switch (change) {
        case 0:
            for (int i = 0; i < 5; ++i) {
                window.posts().removeAt(0);
                window.selectAndShowRow(0);
                between();
            }
            break;
        case 1:
            view->horizontalHeader()->resizeSection(PostsModel::CAPTION,
                                                    view->horizontalHeader()->sectionSize(PostsModel::CAPTION) + 40);
            break;
        case 2: window.selectAndShowRow(150); break;
        case 3:
            view->selectionModel()->clearSelection();
            between();
            window.selectAndShowRow(3);
            break;
        case 4:
            window.posts().clear();
            between();
            window.posts().append(makeRows(30, 5000));
            window.selectAndShowRow(1);
            break;
        case 5: view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 2); break;
        case 6:
            window.posts().removeAt(3);
            between();
            window.posts().removeAt(1);
            break;
        }
    };

    // One window after the other, so that each is the active one when drawn.
    const auto draw = [this, &steps](bool drawEveryStep) {
        auto window = openWindow(200);
        if (!QTest::qWaitForWindowActive(window.get()))
            return QImage();
        PostsListView *view = list(*window);
        steps(*window, [view, drawEveryStep] {
            if (drawEveryStep)
                view->viewport()->grab();
        });
        if (!drawEveryStep) {
            // The window was drawn once when shown: another look in between
            // makes the list forget every row image it drew.
            const QPalette palette = view->palette();
            QPalette other = palette;
            other.setColor(QPalette::Base, Qt::yellow);
            view->setPalette(other);
            view->viewport()->grab();
            view->setPalette(palette);
        }
        return view->viewport()->grab().toImage();
    };
    const QImage shown = draw(true);
    const QImage expected = draw(false);
    QVERIFY(!expected.isNull());
    QCOMPARE(shown, expected);
}

QTEST_MAIN(tst_listview)
#include "tst_listview.moc"

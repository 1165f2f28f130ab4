// Select all, remove, open and edit on the rows of the posts window.
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include "windows/posts/PostsListView.h"
#include <QtTest>

#include "PostsWindowDriver.h"
#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/posts/PostActions.h"
#include "windows/posts/frmPostsList.h"
#include "client/posts/PostsModel.h"

using namespace PostsWindowDriver;

namespace {
const QString Blog = QStringLiteral("photos");
const QString WebHost = QStringLiteral("www.example.test");
const QString NoUrl = QStringLiteral("Oops! For some reason this post don't have URL!");
const QString NoId = QStringLiteral("Oops! For some reason this post don't have ID!");

PostRow row(int number)
{
    PostRow post;
    post.id = QString::number(100 + number);
    post.date = QStringLiteral("2026-11-30 18:04:%1 GMT").arg(number, 2, 10, QLatin1Char('0'));
    post.caption = QStringLiteral("Row %1").arg(number);
    post.rawCaption = post.caption;
    post.postUrl = QStringLiteral("http://photos.example.test/post/%1/row-%2").arg(post.id).arg(number);
    return post;
}

// Row numbers as the user counts them (1-based) from the ids of row().
QList<int> numbers(const QStringList &ids)
{
    QList<int> out;
    for (const QString &id : ids)
        out << id.toInt() - 100;
    return out;
}
}

class TestPostActions final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Settings of our own: other test programs may write a proxy into theirs meanwhile.
        QVERIFY(m_folders.isValid());
        setDialogs(&m_dialogs);
        sharedTestService().service().setWebHost(WebHost);
        PostActions::setUrlOpener([this](const QUrl &url) {
            m_opened << url.toString(QUrl::FullyEncoded);
            return m_openerWorks;
        });
        m_sim = std::make_unique<SimFixture>(SimFixture::generatedAccount(Blog, 1));
    }
    void init()
    {
        m_dialogs.clear();
        m_opened.clear();
        m_openerWorks = true;
        m_window = open(sharedTestService(), *m_sim, Blog);
    }
    void cleanup() { m_window.reset(); }
    void cleanupTestCase()
    {
        m_sim.reset();
        PostActions::setUrlOpener(nullptr);
        sharedTestService().service().setWebHost({});
        setDialogs(nullptr);
    }

    void removeSelected_followersOfRemovedRowsSelected_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QList<int>>("selected"); // 1-based
        QTest::addColumn<QList<int>>("remaining");
        QTest::addColumn<QList<int>>("selectedAfter");
        QTest::newRow("rows 3 and 5 of 10") << 10 << QList<int>{3, 5} << QList<int>{1, 2, 4, 6, 7, 8, 9, 10}
                                            << QList<int>{4, 6};
        QTest::newRow("middle row") << 5 << QList<int>{3} << QList<int>{1, 2, 4, 5} << QList<int>{4};
        QTest::newRow("last row") << 5 << QList<int>{5} << QList<int>{1, 2, 3, 4} << QList<int>{4};
        QTest::newRow("last two rows") << 5 << QList<int>{4, 5} << QList<int>{1, 2, 3} << QList<int>{3};
        QTest::newRow("first row") << 3 << QList<int>{1} << QList<int>{2, 3} << QList<int>{2};
        QTest::newRow("only row") << 1 << QList<int>{1} << QList<int>{} << QList<int>{};
        QTest::newRow("nothing selected") << 3 << QList<int>{} << QList<int>{1, 2, 3} << QList<int>{};
    }
    void removeSelected_followersOfRemovedRowsSelected()
    {
        QFETCH(int, rows);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, remaining);
        QFETCH(QList<int>, selectedAfter);
        fill(rows);
        select(selected);

        QTest::mouseClick(button(*m_window, "cmdRemoveSelected"), Qt::LeftButton);

        QCOMPARE(numbers(listedIds(*m_window)), remaining);
        QList<int> selectedNumbers;
        for (int index : selectedRows(*m_window))
            selectedNumbers << m_window->posts().at(index).id.toInt() - 100;
        QCOMPARE(selectedNumbers, selectedAfter);
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Velloria :: Posts list :: %1").arg(remaining.size()));
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void ctrlA_thenDelete_emptiesList()
    {
        fill(6);
        select({2});
        list(*m_window)->setFocus();
        QTest::keyClick(list(*m_window), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(selectedRows(*m_window), QList<int>({0, 1, 2, 3, 4, 5}));
        QTest::keyClick(list(*m_window), Qt::Key_Delete);

        QCOMPARE(m_window->posts().count(), 0);
        QVERIFY(m_window->windowTitle().endsWith(QStringLiteral(" 0")));
        for (const char *name : {"cmdFixPosts", "cmdOpenPost", "cmdEditPost", "cmdRemoveSelected"})
            QVERIFY2(!button(*m_window, name)->isEnabled(), name);
        QVERIFY(button(*m_window, "cmdGetPosts")->isEnabled());
    }

    void otherModifiers_doNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Ctrl+Shift+A") << int(Qt::Key_A) << int(Qt::ControlModifier | Qt::ShiftModifier);
        QTest::newRow("Ctrl+Delete") << int(Qt::Key_Delete) << int(Qt::ControlModifier);
        QTest::newRow("Ctrl+Enter") << int(Qt::Key_Return) << int(Qt::ControlModifier);
    }
    void otherModifiers_doNothing()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        fill(3);
        select({2});
        QTest::keyClick(list(*m_window), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(m_window->posts().count(), 3);
        QCOMPARE(selectedRows(*m_window), QList<int>({1}));
        QVERIFY(m_opened.isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void openAndEdit_oneSelectedRow_opensAddress_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("edit");
        QTest::newRow("Open button") << "cmdOpenPost" << false;
        QTest::newRow("Enter") << "Enter" << false;
        QTest::newRow("double-click") << "double-click" << false;
        QTest::newRow("Edit button") << "cmdEditPost" << true;
        QTest::newRow("Shift+Enter") << "Shift+Enter" << true;
        QTest::newRow("Shift+double-click") << "Shift+double-click" << true;
    }
    void openAndEdit_oneSelectedRow_opensAddress()
    {
        QFETCH(QString, how);
        QFETCH(bool, edit);
        fill(3);
        select({2});
        trigger(how, 1);
        const QString address = edit ? QStringLiteral("http://www.example.test/edit/102?redirect_to="
                                                      "http%3A%2F%2Fphotos.example.test%2Fpost%2F102%2Frow-2")
                                     : QStringLiteral("http://photos.example.test/post/102/row-2");
        QCOMPARE(m_opened, QStringList({address}));
        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(m_window->posts().count(), 3);
    }

    // A double-click's first press selects the row under the pointer, so only
    // the buttons and keys can act on two selected rows.
    void openAndEdit_twoRowsSelected_doNothing_data()
    {
        QTest::addColumn<QString>("how");
        for (const char *how : {"cmdOpenPost", "Enter", "cmdEditPost", "Shift+Enter"})
            QTest::newRow(how) << QString::fromLatin1(how);
    }
    void openAndEdit_twoRowsSelected_doNothing()
    {
        QFETCH(QString, how);
        fill(3);
        select({1, 2});
        trigger(how, 1);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void openAndEdit_nothingSelected_doNothing()
    {
        fill(2);
        for (const char *how : {"cmdOpenPost", "cmdEditPost", "Enter", "Shift+Enter"})
            trigger(QLatin1String(how), 0);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void doubleClickOnEmptyArea_doesNothing()
    {
        fill(2);
        select({1});
        PostsListView *view = list(*m_window);
        const QPoint below(20, view->viewport()->height() - 5);
        QVERIFY(!view->indexAt(below).isValid());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, below);
        QVERIFY(m_opened.isEmpty());
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void missingIdOrAddress_showsMessage_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QString>("message");
        const QString url = QStringLiteral("http://photos.example.test/post/1");
        QTest::newRow("open, no address") << "101" << QString() << false << NoUrl;
        QTest::newRow("edit, no address") << "101" << QString() << true << NoUrl;
        QTest::newRow("edit, no id") << QString() << url << true << NoId;
        QTest::newRow("edit, neither: id first") << QString() << QString() << true << NoId;
    }
    void missingIdOrAddress_showsMessage()
    {
        QFETCH(QString, id);
        QFETCH(QString, url);
        QFETCH(bool, edit);
        QFETCH(QString, message);
        PostRow post = row(1);
        post.id = id;
        post.postUrl = url;
        m_window->posts().append(post);
        m_window->DrawControls();
        select({1});
        QTest::mouseClick(button(*m_window, edit ? "cmdEditPost" : "cmdOpenPost"), Qt::LeftButton);
        QCOMPARE(m_dialogs.texts(), QStringList({message}));
        QCOMPARE(m_dialogs.shown.at(0).icon, DialogServices::Critical);
        QVERIFY(m_opened.isEmpty());
    }

    void browserFails_showsAddressAndMessage_data()
    {
        QTest::addColumn<bool>("edit");
        QTest::addColumn<QString>("message");
        QTest::newRow("open") << false
                              << QStringLiteral("http://photos.example.test/post/101/row-1\r\n\r\n"
                                                "Can't open post in default browser.");
        QTest::newRow("edit") << true
                              << QStringLiteral("http://www.example.test/edit/101?redirect_to=http%3A%2F%2F"
                                                "photos.example.test%2Fpost%2F101%2Frow-1\r\n\r\n"
                                                "Can't open post editor in default browser.");
    }
    void browserFails_showsAddressAndMessage()
    {
        QFETCH(bool, edit);
        QFETCH(QString, message);
        fill(1);
        select({1});
        m_openerWorks = false;
        QTest::mouseClick(button(*m_window, edit ? "cmdEditPost" : "cmdOpenPost"), Qt::LeftButton);
        QCOMPARE(m_dialogs.texts(), QStringList({message}));
        QCOMPARE(m_dialogs.shown.at(0).icon, DialogServices::Critical);
    }

    void editorAddress_escapesOnlyColonSlashBackslash_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("postUrl");
        QTest::addColumn<QString>("address");
        QTest::newRow("example") << "7" << "a:/b\\c" << "http://www.example.test/edit/7?redirect_to=a%3A%2Fb%5Cc";
        QTest::newRow("post address")
            << "123" << "http://photos.example.test/post/123/sunset"
            << "http://www.example.test/edit/123?redirect_to=http%3A%2F%2Fphotos.example.test%2Fpost%2F123%2Fsunset";
        QTest::newRow("port, backslashes")
            << "9" << "http://127.0.0.1:8080\\post\\9"
            << "http://www.example.test/edit/9?redirect_to=http%3A%2F%2F127.0.0.1%3A8080%5Cpost%5C9";
        QTest::newRow("percent escapes kept")
            << "5" << "http://b.test/post/5/caf%C3%A9-100%25"
            << "http://www.example.test/edit/5?redirect_to=http%3A%2F%2Fb.test%2Fpost%2F5%2Fcaf%C3%A9-100%25";
        QTest::newRow("query and others untouched")
            << "6" << "http://b.test/p?x=1&y=a+b;c"
            << "http://www.example.test/edit/6?redirect_to=http%3A%2F%2Fb.test%2Fp?x=1&y=a+b;c";
        QTest::newRow("empty address") << "8" << "" << "http://www.example.test/edit/8?redirect_to=";
    }
    void editorAddress_escapesOnlyColonSlashBackslash()
    {
        QFETCH(QString, id);
        QFETCH(QString, postUrl);
        QFETCH(QString, address);
        QCOMPARE(PostActions::EditorAddress(WebHost, id, postUrl), address);
    }

    void editPost_addressReachesBrowserUnchanged_data()
    {
        QTest::addColumn<QString>("postUrl");
        QTest::addColumn<QString>("reaches");
        QTest::newRow("colons, slashes, backslashes")
            << "http://b.test:81/post/1\\x"
            << "http://www.example.test/edit/101?redirect_to=http%3A%2F%2Fb.test%3A81%2Fpost%2F1%5Cx";
        QTest::newRow("percent escape")
            << "http://b.test/post/1/caf%C3%A9"
            << "http://www.example.test/edit/101?redirect_to=http%3A%2F%2Fb.test%2Fpost%2F1%2Fcaf%C3%A9";
        QTest::newRow("encoded percent")
            << "http://b.test/post/1/100%25"
            << "http://www.example.test/edit/101?redirect_to=http%3A%2F%2Fb.test%2Fpost%2F1%2F100%25";
        // A lone "%" can only travel as "%25"; every other escape stays as it was.
        QTest::newRow("lone percent")
            << "http://b.test/post/1/100%-off"
            << "http://www.example.test/edit/101?redirect_to=http%3A%2F%2Fb.test%2Fpost%2F1%2F100%25-off";
    }
    void editPost_addressReachesBrowserUnchanged()
    {
        QFETCH(QString, postUrl);
        QFETCH(QString, reaches);
        PostRow post = row(1);
        post.postUrl = postUrl;
        m_window->posts().append(post);
        m_window->DrawControls();
        select({1});
        QTest::mouseClick(button(*m_window, "cmdEditPost"), Qt::LeftButton);
        QCOMPARE(m_opened, QStringList({reaches}));
        QVERIFY(m_dialogs.shown.isEmpty());
    }

    void openPost_addressReachesBrowserUnchanged()
    {
        PostRow post = row(1);
        post.postUrl = QStringLiteral("http://b.test/post/1/caf%C3%A9?a=%2F");
        m_window->posts().append(post);
        m_window->DrawControls();
        select({1});
        QTest::mouseClick(button(*m_window, "cmdOpenPost"), Qt::LeftButton);
        QCOMPARE(m_opened, QStringList({post.postUrl}));
    }

    void openPost_onlyWebAddressesReachTheDesktop_data()
    {
        QTest::addColumn<QString>("postUrl");
        QTest::addColumn<bool>("opens");
        QTest::newRow("http") << "http://b.test/post/1" << true;
        QTest::newRow("https, scheme in capitals") << "HTTPS://b.test/post/1" << true;
        QTest::newRow("file") << "file:///etc/passwd" << false;
        QTest::newRow("a path, which would become a file address") << "/home/someone/.ssh/id_rsa" << false;
        QTest::newRow("custom handler") << "vnd.some-handler://run?command=x" << false;
        QTest::newRow("custom handler without slashes") << "ms-settings:display" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("http without a host") << "http:///post/1" << false;
    }
    void openPost_onlyWebAddressesReachTheDesktop()
    {
        QFETCH(QString, postUrl);
        QFETCH(bool, opens);
        PostRow post = row(1);
        post.postUrl = postUrl;
        m_window->posts().append(post);
        m_window->DrawControls();
        select({1});
        QTest::mouseClick(button(*m_window, "cmdOpenPost"), Qt::LeftButton);
        if (opens) {
            QCOMPARE(m_opened.size(), 1);
            QVERIFY(m_dialogs.shown.isEmpty());
            return;
        }
        QVERIFY2(m_opened.isEmpty(), qPrintable(m_opened.join(u' ')));
        QCOMPARE(m_dialogs.texts(),
                 QStringList({postUrl + QStringLiteral("\r\n\r\nThis post's address is not a web address (http or "
                                                       "https), so it is not opened.")}));
        QCOMPARE(m_dialogs.shown.at(0).icon, DialogServices::Critical);
    }

    void selectedIndexes_fromSelection_ascending()
    {
        fill(8);
        select({7, 2, 5});
        PostActions actions(*m_window, *list(*m_window)->selectionModel(), WebHost);
        QCOMPARE(actions.GetSelectedIndexes(), QList<int>({1, 4, 6}));
        actions.SelectAllPosts();
        QCOMPARE(actions.GetSelectedIndexes(), QList<int>({0, 1, 2, 3, 4, 5, 6, 7}));
    }

private:
    void fill(int rows)
    {
        for (int i = 1; i <= rows; ++i)
            m_window->posts().append(row(i));
        m_window->DrawControls();
    }
    // 1-based row numbers, as a user clicks them.
    void select(const QList<int> &rowNumbers)
    {
        QItemSelectionModel *selection = list(*m_window)->selectionModel();
        selection->clearSelection();
        for (int number : rowNumbers) {
            const QModelIndex index = m_window->posts().index(number - 1, 0);
            selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        }
    }
    // A click, key or double-click on the row with the given zero-based index.
    void trigger(const QString &how, int row)
    {
        PostsListView *view = list(*m_window);
        const QPoint at = view->visualRect(m_window->posts().index(row, 1)).center();
        if (how.startsWith(QLatin1String("cmd")))
            QTest::mouseClick(button(*m_window, how.toLatin1().constData()), Qt::LeftButton);
        else if (how == QLatin1String("Enter"))
            QTest::keyClick(view, Qt::Key_Return);
        else if (how == QLatin1String("Shift+Enter"))
            QTest::keyClick(view, Qt::Key_Return, Qt::ShiftModifier);
        else if (how == QLatin1String("double-click"))
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        else if (how == QLatin1String("Shift+double-click"))
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, at);
    }
    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<SimFixture> m_sim;
    std::unique_ptr<frmPostsList> m_window;
    QStringList m_opened;
    bool m_openerWorks = true;
};

QTEST_MAIN(TestPostActions)
#include "tst_postactions.moc"

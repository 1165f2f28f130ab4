// The fixer panel on its own: the fixing loop and the write request against
// the simulator, with a small stand-in for the posts window.
#include <QItemSelectionModel>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include "SimFixture.h"
#include "TestFolders.h"
#include "TestService.h"
#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/posts/IPostsList.h"
#include "windows/posts/ucPostsFixer.h"
#include "client/net/HTTPRequest.h"
#include "windows/posts/IResultIndicator.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"

namespace {

const QString Blog = QStringLiteral("fixblog");
const QString EMail = QStringLiteral("user@example.com");
const QString Password = QStringLiteral("secret");

// The posts window as the fixer sees it: a model in a table, a result square.
class FakePostsList final : public QWidget, public IPostsList, public IResultIndicator
{
    Q_DISABLE_COPY_MOVE(FakePostsList)

public:
    FakePostsList() : m_view(new QTableView(this)), fixer(new ucPostsFixer(sharedTestService().service(), *this, this))
    {
        m_view->setModel(&model);
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        resize(560, 300);
        m_view->setGeometry(0, 0, 560, 200);
        fixer->move(0, 200);
    }

    PostsModel &posts() override { return model; }
    IResultIndicator &resultIndicator() override { return *this; }
    void DrawControls() override
    {
        ++drawCount;
        // Between rows the panel keeps the last progress text: its first line
        // names the request just made.
        progressLines.append(fixer->statusText().section(QStringLiteral("\r\n"), 0, 0));
        if (onDraw)
            onDraw();
    }
    void selectAndShowRow(int row) override
    {
        m_view->selectionModel()->select(model.index(row, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
        m_view->scrollTo(model.index(row, 0));
    }
    QWidget *getPostsButton() override { return nullptr; }
    QWidget *window() override { return this; }

    void setResultColor(Color color) override { colors.append(color); }
    QString resultCaption() const override { return caption; }
    void setResultCaption(const QString &text) override { caption = text; }

    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    QStringList ids() const
    {
        QStringList out;
        for (int i = 0; i < model.count(); ++i)
            out.append(model.at(i).id);
        return out;
    }

    PostsModel model;
    QList<Color> colors;
    QString caption;
    int drawCount = 0;
    QStringList progressLines;
    std::function<void()> onDraw;

private:
    QTableView *m_view;

public:
    ucPostsFixer *fixer;
};

// A listed row as the reader makes it from a simulator post.
PostRow rowFor(const sim::Post &post, const QString &displayCaption, const QString &tagsText)
{
    PostRow row;
    row.date = post.date;
    row.id = post.id;
    row.caption = displayCaption;
    row.rawCaption = post.caption;
    row.tags = TagRule::TagList(tagsText);
    row.format = post.format;
    row.slug = post.slug;
    row.clickThroughUrl = post.linkUrl;
    row.postUrl = QStringLiteral("http://") + Blog + QStringLiteral(".example/") + post.id;
    return row;
}

sim::Account accountWith(std::vector<sim::Post> posts)
{
    sim::Account account;
    account.email = EMail;
    account.password = Password;
    account.blogs.push_back(SimFixture::makeBlog(Blog, QStringLiteral("Fix blog"), std::move(posts)));
    return account;
}

// Three plain posts "Photo 1".."Photo 3", listed in that order.
sim::Account threePosts()
{
    return accountWith({SimFixture::photoPost(QStringLiteral("101"), QStringLiteral("Photo 1"), {QStringLiteral("cat")}),
                        SimFixture::photoPost(QStringLiteral("102"), QStringLiteral("Photo 2")),
                        SimFixture::photoPost(QStringLiteral("103"), QStringLiteral("Photo 3"), {QStringLiteral("dog")})});
}

void listAll(SimFixture &sim, FakePostsList &list)
{
    for (const sim::Post &post : sim.blog(Blog).posts)
        list.model.append(rowFor(post, post.caption, post.tags.join(QStringLiteral(", "))));
}

QByteArrayList fieldNames(const sim::Request &request)
{
    QByteArrayList names;
    for (const auto &field : request.fields)
        names.append(field.first.toUtf8());
    return names;
}

const QByteArrayList TwelveFields = {"group",   "email", "password",  "post-id", "type",
                                     "caption", "tags",  "generator", "format",  "slug",
                                     "click-through-url", "date"};
}

class TestFixer final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Settings of our own: other test programs may write a proxy into theirs meanwhile.
        QVERIFY(m_folders.isValid());
        setDialogs(&m_dialogs);
    }
    void init() { m_dialogs.clear(); m_dialogs.onShow = nullptr; }
    void cleanupTestCase()
    {
        setDialogs(nullptr);
        sharedTestService().useServiceHost({});
    }

    void fix_threeRowsAccepted_numbersRequestsAndEmptiesList()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);

        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        QCOMPARE(list.model.count(), 0);
        QCOMPARE(list.progressLines, QStringList({"Rquest #1", "Rquest #2", "Rquest #3"}));
        QCOMPARE(list.colors, QList<IResultIndicator::Color>(3, IResultIndicator::Green));
        QVERIFY(m_dialogs.shown.isEmpty());
        QVERIFY(!list.fixer->IsOnline());
        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 3);
        QCOMPARE(sim.post(QStringLiteral("101")).tags, QStringList({"cat", "Photo 1"}));
        QCOMPARE(sim.post(QStringLiteral("102")).tags, QStringList({"Photo 2"}));
        QCOMPARE(sim.post(QStringLiteral("103")).tags, QStringList({"dog", "Photo 3"}));
        for (const char *id : {"101", "102", "103"})
            QCOMPARE(sim.post(QLatin1String(id)).writeCount, 1);
        QCOMPARE(sim.server().log(sim::Endpoint::Write).at(0).field(QStringLiteral("tags")),
                 QByteArray("cat, \"Photo 1\""));
    }

    void fix_afterEachRow_newFirstRowSelected()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        QList<QList<int>> selections;
        list.onDraw = [&] { selections.append(list.selectedRows()); };
        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));
        QCOMPARE(selections, QList<QList<int>>({{0}, {0}, {}}));
    }

    void fix_refusedAndCancelled_stopsAtThatRow_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("one-line body") << 400 << QByteArray("Post 102 is locked.")
                                       << QStringLiteral("Can't send post. Post 102 is locked.\r\n\r\n"
                                                         "The server answered: 400 Bad Request");
        QTest::newRow("multi-line body") << 400 << QByteArray("Post 102\r\nis locked.")
                                         << QStringLiteral("Can't send post. \r\n\r\n"
                                                           "The server answered: 400 Bad Request");
        QTest::newRow("LF in body") << 502 << QByteArray("Busy\n")
                                    << QStringLiteral("Can't send post. \r\n\r\n"
                                                      "The server answered: 502 Bad Gateway");
        QTest::newRow("200 instead of 201") << 200 << QByteArray("OK")
                                            << QStringLiteral("Can't send post. OK\r\n\r\n"
                                                              "The server answered: 200 OK");
    }
    void fix_refusedAndCancelled_stopsAtThatRow()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        list.caption = QStringLiteral("2");
        QList<IResultIndicator::Color> colorsAtBox;
        m_dialogs.onShow = [&](const DialogServices::Shown &) { colorsAtBox = list.colors; };
        // The first write goes through; the second is refused.
        sim.server().injectFault(sim::Endpoint::Write, {sim::Fault::Delay, 0, {}, {}, 0, 1, {}}, 1);
        sim::Fault refused;
        refused.kind = sim::Fault::Status;
        refused.status = status;
        refused.body = body;
        sim.server().injectFault(sim::Endpoint::Write, refused, 1);
        m_dialogs.answer(DialogServices::Cancel);

        QVERIFY(!list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        QCOMPARE(m_dialogs.texts(), QStringList({message}));
        QCOMPARE(m_dialogs.shown.at(0).buttons, DialogServices::RetryCancel);
        QCOMPARE(m_dialogs.shown.at(0).icon, DialogServices::Critical);
        QCOMPARE(colorsAtBox, QList<IResultIndicator::Color>({IResultIndicator::Green, IResultIndicator::Yellow}));
        QCOMPARE(list.colors.last(), IResultIndicator::Red);
        QCOMPARE(list.caption, QStringLiteral("3"));
        QCOMPARE(list.ids(), QStringList({"102", "103"}));
        QCOMPARE(list.model.at(0).tags, QStringList()); // the row stays as listed
        QCOMPARE(list.model.at(1).tags, QStringList{QStringLiteral("dog")});
        QCOMPARE(sim.post(QStringLiteral("101")).writeCount, 1);
        QCOMPARE(sim.post(QStringLiteral("102")).writeCount, 0);
        QCOMPARE(sim.post(QStringLiteral("103")).writeCount, 0);
        QCOMPARE(sim.server().log(sim::Endpoint::Write).size(), 2);
        QVERIFY(!list.fixer->IsOnline());
    }

    void fix_resultCaptionNotANumber_countsFromZero()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        list.caption = QStringLiteral("x");
        sim.server().injectFault(sim::Endpoint::Write, {sim::Fault::Status, 400, "No.", {}, 0, 1, {}}, 1);
        QVERIFY(!list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));
        QCOMPARE(list.caption, QStringLiteral("1"));
        QCOMPARE(list.model.count(), 3);
    }

    void fix_connectionDropped_showsErrorWithoutRetry()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        sim::Fault dropped;
        dropped.kind = sim::Fault::CloseBeforeAnswer;
        // More than one: the network layer may try a dropped request once more by itself.
        sim.server().injectFault(sim::Endpoint::Write, dropped, 5);

        QVERIFY(!list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        QCOMPARE(m_dialogs.shown.size(), 1);
        QCOMPARE(m_dialogs.shown.at(0).buttons, DialogServices::OkOnly);
        QCOMPARE(m_dialogs.shown.at(0).icon, DialogServices::Critical);
        QVERIFY2(m_dialogs.shown.at(0).text.startsWith(QStringLiteral("Can't send post.\r\n\r\n")),
                 qPrintable(m_dialogs.shown.at(0).text));
        QCOMPARE(list.colors, QList<IResultIndicator::Color>({IResultIndicator::Red}));
        QCOMPARE(list.caption, QString()); // not a refusal: not counted
        QCOMPARE(list.ids(), QStringList({"101", "102", "103"}));
        QCOMPARE(sim.post(QStringLiteral("101")).writeCount, 0);
    }

    void fix_stalledWriteStopped_showsNothingAndKeepsRow()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        // The second write never gets an answer; the user stops meanwhile.
        sim.server().injectFault(sim::Endpoint::Write, {sim::Fault::Delay, 0, {}, {}, 0, 1, {}}, 1);
        sim::Fault stall;
        stall.kind = sim::Fault::Stall;
        sim.server().injectFault(sim::Endpoint::Write, stall, 1);
        int writes = 0;
        connect(&sim.server(), &sim::Server::requestLogged, this, [&](const sim::Request &request) {
            if (request.path == QLatin1String("/api/write") && ++writes == 2)
                QTimer::singleShot(200, list.fixer, &ucPostsFixer::StopIt);
        });

        QVERIFY(!list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        QVERIFY(m_dialogs.shown.isEmpty());
        QCOMPARE(list.colors, QList<IResultIndicator::Color>({IResultIndicator::Green, IResultIndicator::Red}));
        QCOMPARE(list.ids(), QStringList({"102", "103"}));
        QCOMPARE(sim.post(QStringLiteral("102")).writeCount, 0);
        QVERIFY(!list.fixer->IsOnline());

        // A stop asked for while idle is ignored: the next run goes through.
        list.fixer->StopIt();
        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));
        QCOMPARE(list.model.count(), 0);
    }

    void fix_threeRefusalsThenAccepted_writesOnceWithSameFields()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        list.model.append(rowFor(sim.post(QStringLiteral("101")), QStringLiteral("Photo 1"), QStringLiteral("cat")));
        list.caption = QStringLiteral("5");
        QStringList progressAtBox;
        m_dialogs.onShow = [&](const DialogServices::Shown &) {
            progressAtBox.append(list.fixer->statusText().section(QStringLiteral("\r\n"), 0, 0));
        };
        sim.server().injectFault(sim::Endpoint::Write, {sim::Fault::Status, 409, "Try again.", {}, 0, 1, {}}, 3);
        for (int i = 0; i < 3; ++i)
            m_dialogs.answer(DialogServices::Retry);

        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        QCOMPARE(m_dialogs.shown.size(), 3);
        QCOMPARE(progressAtBox, QStringList(3, QStringLiteral("Rquest #1")));
        QCOMPARE(list.caption, QStringLiteral("8"));
        QCOMPARE(list.colors.last(), IResultIndicator::Green);
        QCOMPARE(list.colors.count(IResultIndicator::Yellow), 3);
        QCOMPARE(list.model.count(), 0);
        QCOMPARE(sim.post(QStringLiteral("101")).writeCount, 1);
        const QList<sim::Request> writes = sim.server().log(sim::Endpoint::Write);
        QCOMPARE(writes.size(), 4);
        for (const sim::Request &write : writes)
            QCOMPARE(write.fields, writes.first().fields);
    }

    void fix_emptyDisplayCaption_droppedWithoutRequest()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        list.model.append(rowFor(sim.post(QStringLiteral("101")), QString(), QStringLiteral("cat")));
        list.model.append(rowFor(sim.post(QStringLiteral("102")), QStringLiteral("Photo 2"), QString()));

        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        const QList<sim::Request> writes = sim.server().log(sim::Endpoint::Write);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes.at(0).field(QStringLiteral("post-id")), QByteArray("102"));
        QCOMPARE(list.colors, QList<IResultIndicator::Color>({IResultIndicator::Green}));
        QCOMPARE(list.progressLines, QStringList({"Initializing...", "Rquest #2"}));
        QCOMPARE(sim.post(QStringLiteral("101")).writeCount, 0);
        QCOMPARE(sim.post(QStringLiteral("101")).tags, QStringList({"cat"}));
    }

    void fix_onlyEmptyCaptions_nothingSentListEmptied()
    {
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        list.model.append(rowFor(sim.post(QStringLiteral("101")), QString(), QString()));
        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));
        QCOMPARE(list.model.count(), 0);
        QVERIFY(list.colors.isEmpty());
        QVERIFY(sim.server().log(sim::Endpoint::Write).isEmpty());
    }

    void fix_emptyArgument_returnsAtOnce_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::newRow("no group") << QString() << EMail << Password;
        QTest::newRow("no e-mail") << Blog << QString() << Password;
        QTest::newRow("no password") << Blog << EMail << QString();
    }
    void fix_emptyArgument_returnsAtOnce()
    {
        QFETCH(QString, group);
        QFETCH(QString, email);
        QFETCH(QString, password);
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        listAll(sim, list);
        QVERIFY(!list.fixer->FixPosts((Account{group, email, password})));
        QCOMPARE(list.model.count(), 3);
        QVERIFY(list.colors.isEmpty());
        QVERIFY(sim.server().log().isEmpty());
    }

    void fix_newTag_quotedAfterListedTags_data()
    {
        QTest::addColumn<QString>("tags");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("no tags") << QString() << QStringLiteral("Sunset") << QByteArray("\"Sunset\"");
        QTest::newRow("stripped characters") << QStringLiteral("cat") << QStringLiteral("Sunset? at #Beach")
                                             << QByteArray("cat, \"Sunset at Beach\"");
        QTest::newRow("only the six characters") << QString() << QStringLiteral("#\"\\/|?") << QByteArray("\"\"");
        QTest::newRow("comma kept inside quotes")
            << QStringLiteral("a, \"big, fluffy\"") << QStringLiteral("Red, white") << QByteArray("a, \"big, fluffy\", \"Red, white\"");
        QTest::newRow("typographic quotes stay") << QStringLiteral("x") << QStringLiteral("“Hi” it’s me")
                                                 << QStringLiteral("x, \"“Hi” it’s me\"").toUtf8();
        // Characters no XML document can hold are left out of the new tag.
        QTest::newRow("C0 controls left out, tab kept")
            << QString() << QStringLiteral("a\u0000b\u0001c\u0007d\u001Be\tf") << QByteArray("\"abcde\tf\"");
        QTest::newRow("lone surrogates and U+FFFE, U+FFFF left out")
            << QString() << (QStringLiteral("x") + QChar(0xD800) + QStringLiteral("y") + QChar(0xDC00) + QChar(0xFFFE)
                             + QChar(0xFFFF) + QStringLiteral("z"))
            << QByteArray("\"xyz\"");
        QTest::newRow("a pair of surrogates stays") << QString() << QStringLiteral("cat \U0001F408")
                                                    << QStringLiteral("\"cat \U0001F408\"").toUtf8();
    }
    void fix_newTag_quotedAfterListedTags()
    {
        QFETCH(QString, tags);
        QFETCH(QString, caption);
        QFETCH(QByteArray, sent);
        SimFixture sim(threePosts());
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        // The service holds the tags as listed: the write reads the post first.
        sim.post(QStringLiteral("101")).tags = TagRule::TagList(tags);
        list.model.append(rowFor(sim.post(QStringLiteral("101")), caption, tags));
        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));
        QCOMPARE(sim.server().log(sim::Endpoint::Write).at(0).field(QStringLiteral("tags")), sent);
    }

    void send_twelveFieldsInOrder_exactBytes()
    {
        sim::Post post = SimFixture::photoPost(QStringLiteral("777"), QString());
        post.caption = QStringLiteral("<p>Кот 🐈 &amp; «друзья»</p>\r\n<p>second line</p>");
        post.format = QStringLiteral("markdown");
        post.slug = QStringLiteral("kot-i-druzya");
        post.linkUrl = QStringLiteral("http://example.com/café/ñandú?x=1&y=2");
        post.date = QStringLiteral("2026-11-30 18:04:05 GMT");
        post.tags = QStringList{QStringLiteral("ёлка"), QStringLiteral("a, b")};
        SimFixture sim(accountWith({post}));
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        list.model.append(rowFor(post, QStringLiteral("Кот 🐈 & «друзья»"), QStringLiteral("ёлка, \"a, b\"")));

        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        const QList<sim::Request> writes = sim.server().log(sim::Endpoint::Write);
        QCOMPARE(writes.size(), 1);
        const sim::Request &write = writes.at(0);
        QCOMPARE(write.method, QStringLiteral("POST"));
        QCOMPARE(write.path, QStringLiteral("/api/write"));
        QCOMPARE(fieldNames(write), TwelveFields);
        const QList<QByteArray> values = {sim.blogHost(Blog).toUtf8(),
                                          EMail.toUtf8(),
                                          Password.toUtf8(),
                                          "777",
                                          "photo",
                                          post.caption.toUtf8(),
                                          QStringLiteral("ёлка, \"a, b\", \"Кот 🐈 & «друзья»\"").toUtf8(),
                                          "Zelvat - Velloria 1.00.0036",
                                          "markdown",
                                          "kot-i-druzya",
                                          QStringLiteral("http://example.com/café/ñandú?x=1&y=2").toUtf8(),
                                          "2026-11-30 18:04:05 GMT"};
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(write.fields.at(i).second, values.at(i));
        QCOMPARE(write.header("User-Agent"), QByteArray("Zelvat - Velloria 1.00.0036"));
        QCOMPARE(sim.post(QStringLiteral("777")).caption, post.caption);
        QCOMPARE(sim.post(QStringLiteral("777")).linkUrl, post.linkUrl);
        QCOMPARE(sim.post(QStringLiteral("777")).tags,
                 QStringList({"ёлка", "a, b", QStringLiteral("Кот 🐈 & «друзья»")}));
    }

    void send_emptyFields_stillSent()
    {
        sim::Post post = SimFixture::photoPost(QStringLiteral("778"), QStringLiteral("Plain"));
        post.format.clear();
        post.slug.clear();
        post.linkUrl.clear();
        post.date.clear();
        SimFixture sim(accountWith({post}));
        sharedTestService().useSimulator(sim);
        FakePostsList list;
        list.model.append(rowFor(post, QStringLiteral("Plain"), QString()));

        QVERIFY(list.fixer->FixPosts((Account{sim.blogHost(Blog), EMail, Password})));

        const sim::Request write = sim.server().log(sim::Endpoint::Write).at(0);
        QCOMPARE(fieldNames(write), TwelveFields);
        for (const char *name : {"format", "slug", "click-through-url", "date"})
            QCOMPARE(write.field(QLatin1String(name)), QByteArray());
        QCOMPARE(write.field(QStringLiteral("tags")), QByteArray("\"Plain\""));
    }

private:
    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
};

QTEST_MAIN(TestFixer)
#include "tst_fixer.moc"

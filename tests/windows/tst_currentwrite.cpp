#include "CurrentSimFixture.h"
#include "ModalDialogs.h"
#include "PostsWindowDriver.h"
#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "windows/app/DialogServices.h"
#include "windows/posts/PostActions.h"
#include "windows/posts/PostsListView.h"
#include "windows/posts/frmPostsList.h"
#include "windows/posts/frmUndoRuns.h"
#include "windows/posts/ucPostsFixer.h"
#include "client/net/BackOff.h"
#include "client/posts/PostsModel.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {
using PostsWindowDriver::list;
using PostsWindowDriver::listedIds;

const QString Legacy = QStringLiteral("30001");
const QString Editor = QStringLiteral("30002");
const QString Comma = QStringLiteral("30003");
const QString FullOfTags = QStringLiteral("30004");
const QString LongCaption = QStringLiteral("30005");
const QString Scheduled = QStringLiteral("30006");

cursim::User catsUser()
{
    cursim::Blog blog;
    blog.name = QStringLiteral("cats");
    blog.title = QStringLiteral("Cats");
    cursim::Post legacy = cursim::Server::legacyPost(Legacy, QStringLiteral("<p>Sunset at beach</p>"),
                                                     {QStringLiteral("cat"), QStringLiteral("sea")});
    cursim::Post editor = cursim::Server::blocksPost(Editor, {QStringLiteral("Made in the editor")}, {QStringLiteral("x")});
    // What an edit loses when a client drops or renames what it does not know.
    editor.canBeTipped = true;
    editor.extraFields = {{QStringLiteral("some_future_field"), *cursim::Json::parse(R"({"a":[1,2.50,"x"]})")}};
    editor.imageExtra = {{QStringLiteral("colors"), *cursim::Json::parse(R"({"c0":"a1b2c3"})")}};
    editor.altText = QStringLiteral("A cat on a mat"); // the image description
    cursim::Post scheduled = cursim::Server::blocksPost(Scheduled, {QStringLiteral("Goes out later")});
    scheduled.state = QStringLiteral("queue");
    scheduled.publishOn = QStringLiteral("2027-01-01T10:00:00Z");
    cursim::Post comma = cursim::Server::legacyPost(Comma, QStringLiteral("Hello, world"));
    QStringList thirty;
    for (int i = 1; i <= 30; ++i)
        thirty << QStringLiteral("tag%1").arg(i);
    cursim::Post full = cursim::Server::legacyPost(FullOfTags, QStringLiteral("Full"), thirty);
    cursim::Post longCaption = cursim::Server::legacyPost(LongCaption, QString(141, u'x'));
    blog.posts = {legacy, editor, comma, full, longCaption, scheduled};
    cursim::User user;
    user.name = QStringLiteral("me");
    user.blogs = {blog};
    return user;
}

QStringList simTags(cursim::Server &sim, const QString &id) { return sim.post(id)->tags; }
}

class TestCurrentWrite final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fix_eachPostThroughItsRoute_onlyTagsChange();
    void fix_postsBeyondTheLimits_stayMarkedAndCounted();
    void fix_captionWithComma_notListedAgain();
    void fix_readBackDifference_stopsNamingTheField();
    void fix_withoutReadBack_twoCallsAPost();
    void fix_tagsChangedSinceListed_postLeftAsItIs();
    void fix_callsLeftShown_waitsForTheDaysWindow_stopsAtOnce();
    void fix_rateLimitedMidRun_waitsAndGoesOn();
    void fix_firstWriteShown_continueOrStop_orSettingOff_data();
    void fix_firstWriteShown_continueOrStop_orSettingOff();
    void estimate_shownBeforeAndDuringTheRun();
    void undo_putsTagsBackThroughTheSameRoutes();
    void edit_opensTheCurrentEditor();

private:
    QByteArray fetchPost(const QString &id); // the simulator's answer for the post, as it came
    QJsonObject readPost(const QString &id); // as the service answers it, for comparing
    QByteArray readPostText(const QString &id); // the answer's bytes, its tags taken out
    std::unique_ptr<frmPostsList> openAndDownload();
    void fixAll(frmPostsList &window);

    TestFolders m_folders;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<CurrentSimFixture> m_fixture;
    int m_run = 0;
};

void TestCurrentWrite::initTestCase()
{
    QVERIFY(m_folders.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Zelvat"));
    QCoreApplication::setApplicationName(QStringLiteral("Velloria"));
    setDialogs(&m_dialogs);
    BackOff::setSecondForTesting(10);
}

void TestCurrentWrite::init()
{
    auto settings = AppConfig::openSettings();
    settings->clear();
    // No pacing here: the tests are about what is sent.
    settings->setValue(QStringLiteral("Writes per minute"), QStringLiteral("0"));
    // The first write's dialog has tests of its own.
    settings->setValue(QStringLiteral("Show first write"), QStringLiteral("no"));
    settings->sync();
    m_dialogs.clear();
    m_fixture = std::make_unique<CurrentSimFixture>(
        catsUser(), QDir(m_folders.path()).filePath(QStringLiteral("secrets-%1").arg(++m_run)));
    QString why;
    QVERIFY2(m_fixture->signIn(&why), qPrintable(why));
    m_fixture->sim().clearLog();
}

void TestCurrentWrite::cleanup()
{
    m_dialogs.onShow = nullptr;
    m_fixture.reset();
    PostActions::setUrlOpener(nullptr);
}

QByteArray TestCurrentWrite::fetchPost(const QString &id)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://%1/v2/blog/cats/posts/%2?post_format=npf")
                                     .arg(m_fixture->sim().host(), id)));
    request.setRawHeader("Authorization", "Bearer " + m_fixture->sim().issuedAccessToken().toUtf8());
    std::unique_ptr<QNetworkReply> reply(network.get(request));
    QEventLoop loop;
    connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    return reply->readAll();
}

QByteArray TestCurrentWrite::readPostText(const QString &id)
{
    QString text = QString::fromUtf8(fetchPost(id));
    // The simulator writes tags as an array of plain strings.
    text.replace(QRegularExpression(QStringLiteral(R"("tags":\[[^\]]*\])")), QStringLiteral("\"tags\":[]"));
    return text.toUtf8();
}

QJsonObject TestCurrentWrite::readPost(const QString &id)
{
    return QJsonDocument::fromJson(fetchPost(id)).object().value(QLatin1String("response")).toObject();
}

std::unique_ptr<frmPostsList> TestCurrentWrite::openAndDownload()
{
    auto window = std::make_unique<frmPostsList>(m_fixture->settings(), m_fixture->service(),
                                                 m_fixture->account(QStringLiteral("cats")));
    window->setJournalFolder(QDir(m_folders.path()).filePath(QStringLiteral("journal-%1").arg(m_run)));
    window->show();
    PostsWindowDriver::downloadAll(*window);
    return window;
}

void TestCurrentWrite::fixAll(frmPostsList &window)
{
    PostsWindowDriver::button(window, "cmdFixPosts")->click();
}

void TestCurrentWrite::fix_eachPostThroughItsRoute_onlyTagsChange()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    QCOMPARE(listedIds(*window), (QStringList{Legacy, Editor, Comma, FullOfTags, LongCaption, Scheduled}));
    // The preview is what will be sent.
    QCOMPARE(window->posts().data(window->posts().index(1, PostsModel::TAGS), Qt::ToolTipRole).toString(),
             QStringLiteral("x, Made in the editor"));
    QMap<QString, QJsonObject> before;
    QMap<QString, QByteArray> beforeText;
    for (const QString &id : {Legacy, Editor, Comma, Scheduled}) {
        before[id] = readPost(id);
        beforeText[id] = readPostText(id);
    }
    m_fixture->sim().clearLog();
    fixAll(*window);

    QCOMPARE(simTags(m_fixture->sim(), Legacy), (QStringList{"cat", "sea", "Sunset at beach"}));
    QCOMPARE(simTags(m_fixture->sim(), Editor), (QStringList{"x", "Made in the editor"}));
    QCOMPARE(simTags(m_fixture->sim(), Comma), (QStringList{"Hello world"}));
    QCOMPARE(simTags(m_fixture->sim(), Scheduled), (QStringList{"Goes out later"}));

    // Legacy posts: the edit route with the id, the type and the tags alone.
    const QList<cursim::Request> edits = m_fixture->sim().log(cursim::Endpoint::Edit);
    QCOMPARE(edits.size(), 2);
    QStringList fields;
    for (const auto &field : edits[0].form)
        fields << field.first + u'=' + QString::fromUtf8(field.second);
    QCOMPARE(fields, (QStringList{"id=30001", "type=photo", "tags=cat,sea,Sunset at beach"}));
    // The new editor's post: the whole post as received, numbers as written.
    const QList<cursim::Request> updates = m_fixture->sim().log(cursim::Endpoint::Update);
    QCOMPARE(updates.size(), 2);
    QVERIFY2(updates[0].body.contains(R"("some_future_field":{"a":[1,2.50,"x"]})"), updates[0].body.constData());
    QVERIFY(updates[0].body.contains(R"("colors":{"c0":"a1b2c3"})"));
    QCOMPARE(updates[0].path, QStringLiteral("/v2/blog/cats/posts/30002"));

    // A post of the new editor is read alone for its bytes; every other read
    // (the states before, the read-backs) is one of the list's, shared.
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::OnePost).size(), 2);
    QVERIFY(m_fixture->sim().log(cursim::Endpoint::Posts).size() <= 4);

    // Every field but the tags as it was: the description, the schedule, the tip setting, the unknown field,
    // to the byte.
    for (auto it = beforeText.cbegin(); it != beforeText.cend(); ++it)
        QCOMPARE(readPostText(it.key()), it.value());
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QJsonObject after = readPost(it.key());
        QJsonObject expected = it.value();
        after.remove(QStringLiteral("tags"));
        expected.remove(QStringLiteral("tags"));
        QCOMPARE(after, expected);
    }
    const cursim::Post &editor = *m_fixture->sim().post(Editor);
    QVERIFY(editor.canBeTipped);
    QCOMPARE(editor.altText, QStringLiteral("A cat on a mat"));
    QCOMPARE(m_fixture->sim().post(Scheduled)->state, QStringLiteral("queue"));
    QCOMPARE(m_fixture->sim().post(Scheduled)->publishOn, QStringLiteral("2027-01-01T10:00:00Z"));
    QCOMPARE(m_fixture->sim().post(Legacy)->caption, QStringLiteral("<p>Sunset at beach</p>"));
    QCOMPARE(m_dialogs.texts().size(), 1); // the rows left, below
}

void TestCurrentWrite::fix_postsBeyondTheLimits_stayMarkedAndCounted()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    const auto preview = [&window](int row) {
        return window->posts().data(window->posts().index(row, PostsModel::TAGS), Qt::ToolTipRole).toString();
    };
    QVERIFY2(preview(3).contains(QStringLiteral("30 tags")), qPrintable(preview(3)));
    QVERIFY2(preview(4).contains(QStringLiteral("140 characters")), qPrintable(preview(4)));
    fixAll(*window);
    QCOMPARE(listedIds(*window), (QStringList{FullOfTags, LongCaption}));
    QCOMPARE(m_dialogs.texts().size(), 1);
    const QString summary = m_dialogs.texts().first();
    QVERIFY2(summary.startsWith(QStringLiteral("2 posts were left in the list, not written:")), qPrintable(summary));
    QVERIFY(summary.contains(QStringLiteral("1: Not written: the post already has 30 tags")));
    QVERIFY(summary.contains(QStringLiteral("1: Not written: its caption tag would be longer than 140 characters")));
    QCOMPARE(simTags(m_fixture->sim(), FullOfTags).size(), 30);
    QVERIFY(simTags(m_fixture->sim(), LongCaption).isEmpty());
}

void TestCurrentWrite::fix_captionWithComma_notListedAgain()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    fixAll(*window);
    m_dialogs.clear();
    PostsWindowDriver::downloadAll(*window);
    QCOMPARE(listedIds(*window), (QStringList{FullOfTags, LongCaption}));
}

void TestCurrentWrite::fix_readBackDifference_stopsNamingTheField()
{
    // A service that does not keep what an edit leaves out.
    m_fixture->sim().setLegacyEditWipes(QStringLiteral("caption"));
    std::unique_ptr<frmPostsList> window = openAndDownload();
    fixAll(*window);
    QCOMPARE(m_dialogs.texts().size(), 1);
    const QString message = m_dialogs.texts().first();
    QVERIFY2(message.contains(QStringLiteral("Post 30001")) && message.contains(QStringLiteral("changed: caption")),
             qPrintable(message));
    QCOMPARE(listedIds(*window).first(), Legacy); // the row stays
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Update).size(), 0); // the run stopped there

    // The journal has it: the run can be undone (the write did happen).
    m_dialogs.clear();
    QStringList runs;
    whenModal<frmUndoRuns>([&runs](frmUndoRuns *dialog) {
        auto *tree = dialog->findChild<QTreeWidget *>(QStringLiteral("tvRuns"));
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            runs << tree->topLevelItem(i)->text(2) + u'/' + tree->topLevelItem(i)->text(3);
        dialog->reject();
    });
    QTest::keyClick(list(*window), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(runs, QStringList{QStringLiteral("0/1")});
}

void TestCurrentWrite::fix_withoutReadBack_twoCallsAPost()
{
    m_fixture->service().setVerifyWrites(false);
    std::unique_ptr<frmPostsList> window = openAndDownload();
    m_fixture->sim().clearLog();
    fixAll(*window);
    // The new editor's posts read alone for their bytes, the legacy ones' states from one read of the list.
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::OnePost).size(), 2);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Posts).size(), 1);
    QCOMPARE(simTags(m_fixture->sim(), Editor), (QStringList{"x", "Made in the editor"}));
}

void TestCurrentWrite::fix_tagsChangedSinceListed_postLeftAsItIs()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    // Someone tags the post in the meantime.
    m_fixture->sim().post(Legacy)->tags << QStringLiteral("given since");
    m_dialogs.answer(DialogServices::Cancel);
    fixAll(*window);
    QCOMPARE(m_dialogs.texts().size(), 1);
    QVERIFY2(m_dialogs.texts().first().contains(QStringLiteral("The post's tags changed since it was listed")),
             qPrintable(m_dialogs.texts().first()));
    QCOMPARE(simTags(m_fixture->sim(), Legacy), (QStringList{"cat", "sea", "given since"}));
    QCOMPARE(listedIds(*window).first(), Legacy);
    QVERIFY(m_fixture->sim().log(cursim::Endpoint::Edit).isEmpty());
}

void TestCurrentWrite::fix_callsLeftShown_waitsForTheDaysWindow_stopsAtOnce()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    auto *fixer = window->findChild<ucPostsFixer *>();
    auto *status = fixer->findChild<QLabel *>(QStringLiteral("lblStatus"));
    // The budget's call and the first post (its read, its write, its read-back).
    m_fixture->sim().setDayCallsLeft(4);
    m_fixture->sim().clearLog();
    QString waiting;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (waiting.isEmpty() && status->text().contains(QStringLiteral("Waiting for tomorrow's calls"))) {
            waiting = status->text();
            fixer->StopIt();
        }
    });
    watch.start(5);
    QElapsedTimer took;
    took.start();
    fixAll(*window);
    QVERIFY2(waiting.contains(QRegularExpression(QStringLiteral("calls left: \\d+ this hour, 0 today"))), qPrintable(waiting));
    QVERIFY2(waiting.contains(QRegularExpression(QStringLiteral("Waiting for tomorrow's calls: 2[34] h \\d\\d min left"))),
             qPrintable(waiting));
    QVERIFY(took.elapsed() < 10000); // stopped at once, not after the day
    QCOMPARE(m_dialogs.texts(), QStringList());
    QCOMPARE(listedIds(*window), (QStringList{Editor, Comma, FullOfTags, LongCaption, Scheduled}));
    QCOMPARE(m_fixture->sim().log().size(), 4); // not one call beyond the day's
}

void TestCurrentWrite::fix_firstWriteShown_continueOrStop_orSettingOff_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("answer"); // 0: none asked
    QTest::addColumn<QStringList>("left");
    QTest::newRow("Continue") << "yes" << int(DialogServices::Ok) << QStringList{FullOfTags, LongCaption};
    QTest::newRow("Stop") << "yes" << int(DialogServices::Cancel)
                          << QStringList{Editor, Comma, FullOfTags, LongCaption, Scheduled};
    QTest::newRow("setting off") << "no" << 0 << QStringList{FullOfTags, LongCaption};
}

void TestCurrentWrite::fix_firstWriteShown_continueOrStop_orSettingOff()
{
    QFETCH(QString, setting);
    QFETCH(int, answer);
    QFETCH(QStringList, left);
    m_fixture->settings().SetValue(QStringLiteral("Show first write"), setting);
    std::unique_ptr<frmPostsList> window = openAndDownload();
    if (answer)
        m_dialogs.answer(DialogServices::Answer(answer));
    fixAll(*window);

    QCOMPARE(listedIds(*window), left);
    if (!answer) {
        QVERIFY(std::none_of(m_dialogs.shown.begin(), m_dialogs.shown.end(),
                             [](const ScriptedDialogs::Shown &shown) { return shown.buttons == DialogServices::ContinueStop; }));
        return;
    }
    const ScriptedDialogs::Shown first = m_dialogs.shown.first();
    QCOMPARE(first.buttons, DialogServices::ContinueStop);
    QVERIFY2(first.text.contains(QStringLiteral("Sunset at beach\" (post 30001)")), qPrintable(first.text));
    QVERIFY2(first.text.contains(QStringLiteral("Tags before: \"cat\", \"sea\"\r\nTags after: \"cat\", \"sea\", \"Sunset at beach\"")),
             qPrintable(first.text));
    QVERIFY2(first.text.contains(QRegularExpression(QStringLiteral("every other member of the post \\(\\d+\\) is as it was"))),
             qPrintable(first.text));
    QCOMPARE(simTags(m_fixture->sim(), Legacy), (QStringList{"cat", "sea", "Sunset at beach"}));

    // The blog's next run asks nothing.
    m_dialogs.clear();
    PostsWindowDriver::downloadAll(*window);
    fixAll(*window);
    QVERIFY(std::none_of(m_dialogs.shown.begin(), m_dialogs.shown.end(),
                         [](const ScriptedDialogs::Shown &shown) { return shown.buttons == DialogServices::ContinueStop; }));
    QCOMPARE(listedIds(*window), (QStringList{FullOfTags, LongCaption}));
}

void TestCurrentWrite::estimate_shownBeforeAndDuringTheRun()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    auto *estimate = window->findChild<QLabel *>(QStringLiteral("lblEstimate"));
    const QRegularExpression shape(QStringLiteral("^4 posts, about \\d+ calls: less than a minute; today's calls allow [\\d,]+ posts$"));
    QVERIFY2(shape.match(estimate->toolTip()).hasMatch(), qPrintable(estimate->toolTip()));
    QCOMPARE(estimate->text(), estimate->toolTip());

    auto *status = window->findChild<ucPostsFixer *>()->findChild<QLabel *>(QStringLiteral("lblStatus"));
    QStringList seen;
    connect(&m_fixture->sim(), &cursim::Server::requestLogged, this, [&] { seen << status->text(); });
    fixAll(*window);
    const QRegularExpression during(QStringLiteral("\r\n(\\d) posts, about \\d+ calls: "));
    QStringList counts;
    for (const QString &text : seen) {
        const QRegularExpressionMatch match = during.match(text);
        if (match.hasMatch() && !counts.contains(match.captured(1)))
            counts << match.captured(1);
    }
    QCOMPARE(counts, (QStringList{"4", "3", "2", "1"}));
}

void TestCurrentWrite::fix_rateLimitedMidRun_waitsAndGoesOn()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    cursim::Fault limited;
    limited.kind = cursim::Fault::RateLimited;
    limited.resetSeconds = 5;
    // The second post's write is answered 429 once.
    int edits = 0;
    connect(&m_fixture->sim(), &cursim::Server::requestLogged, this, [&](const cursim::Request &request) {
        if (request.method == QLatin1String("PUT") && ++edits == 1)
            m_fixture->sim().injectFault(cursim::Endpoint::Update, limited);
    });
    auto *status = window->findChild<ucPostsFixer *>()->findChild<QLabel *>(QStringLiteral("lblStatus"));
    QStringList waits;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (status->text().contains(QStringLiteral("Waiting")) && !waits.contains(status->text()))
            waits << status->text();
    });
    watch.start();
    fixAll(*window);
    QVERIFY2(!waits.isEmpty() && waits.first().contains(QStringLiteral("Waiting 5 s")), qPrintable(waits.join(u'|')));
    QCOMPARE(simTags(m_fixture->sim(), Editor), (QStringList{"x", "Made in the editor"}));
    QCOMPARE(listedIds(*window), (QStringList{FullOfTags, LongCaption}));
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Update).size(), 3); // the refused one repeated
}

void TestCurrentWrite::undo_putsTagsBackThroughTheSameRoutes()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    const QJsonObject editorBefore = readPost(Editor);
    fixAll(*window);
    m_dialogs.clear();
    m_fixture->sim().clearLog();
    whenModal<frmUndoRuns>([](frmUndoRuns *dialog) {
        auto *tree = dialog->findChild<QTreeWidget *>(QStringLiteral("tvRuns"));
        tree->setCurrentItem(tree->topLevelItem(0));
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("cmdUndo")), Qt::LeftButton);
    });
    QTest::keyClick(list(*window), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_dialogs.texts().size(), 1);
    QVERIFY2(m_dialogs.texts().first().startsWith(
                 QStringLiteral("Undo finished: 4 of the run's 4 posts were put back as they were before it.")),
             qPrintable(m_dialogs.texts().first()));
    QCOMPARE(simTags(m_fixture->sim(), Legacy), (QStringList{"cat", "sea"}));
    QCOMPARE(simTags(m_fixture->sim(), Editor), QStringList{"x"});
    QVERIFY(simTags(m_fixture->sim(), Comma).isEmpty());
    QCOMPARE(readPost(Editor), editorBefore);
    QCOMPARE(m_fixture->sim().post(Scheduled)->tags, QStringList());
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Edit).size(), 2);
    QCOMPARE(m_fixture->sim().log(cursim::Endpoint::Update).size(), 2);
}

void TestCurrentWrite::edit_opensTheCurrentEditor()
{
    std::unique_ptr<frmPostsList> window = openAndDownload();
    QUrl opened;
    PostActions::setUrlOpener([&opened](const QUrl &url) {
        opened = url;
        return true;
    });
    list(*window)->selectionModel()->select(window->posts().index(1, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    PostsWindowDriver::button(*window, "cmdEditPost")->click();
    QCOMPARE(opened, QUrl(QStringLiteral("https://www.tumblr.com/edit/cats/30002")));
}

QTEST_MAIN(TestCurrentWrite)
#include "tst_currentwrite.moc"

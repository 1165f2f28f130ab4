#include "TestFolders.h"

#include "client/login/EMailHistory.h"
#include "windows/login/EMailHistoryMenu.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

namespace {
const QByteArray Signature = "Velloria e-mail history 1\n";

QString historyPath()
{
    EMailHistory history;
    history.Init();
    return history.filePath();
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

QStringList loaded()
{
    EMailHistory history;
    history.Init();
    history.Load();
    return history.addresses();
}

// Child mode: one copy of the program adding one address and exiting.
int saveOneAndExit(const QString &address)
{
    EMailHistory history;
    history.Init();
    history.Load();
    history.AddEMail(address);
    return history.Save() ? 0 : 1;
}
}

class TestEMailHistory final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addEMail_keepsMostRecentFirstWithoutRepeats_data();
    void addEMail_keepsMostRecentFirstWithoutRepeats();
    void addEMail_keepsAtMostFiftyAddresses();
    void save_thenLoad_givesSameAddresses();
    void save_createsTheDataFolder();
    void load_damagedFile_keepsWhatCanBeRead_data();
    void load_damagedFile_keepsWhatCanBeRead();
    void save_afterDamagedFile_writesCleanFile();
    void save_unwritable_reportsReason();
    void save_twoObjects_keepBothAddresses();
    void save_severalCopiesAtOnce_leaveOneFileWithEveryAddress();
    void showHistory_chosenAddress_goesIntoTextBox();
    void showHistory_dismissed_leavesTextBox();
    void showHistory_emptyHistory_showsNothing();
};

void TestEMailHistory::init()
{
    const QString path = historyPath();
    QFile::remove(path);
    QDir(path).removeRecursively();
}

void TestEMailHistory::cleanup() { init(); }

void TestEMailHistory::addEMail_keepsMostRecentFirstWithoutRepeats_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("order") << QStringList{"a@x.com", "b@x.com", "c@x.com"}
                           << QStringList{"c@x.com", "b@x.com", "a@x.com"};
    QTest::newRow("repeat moves to front") << QStringList{"a@x.com", "b@x.com", "a@x.com"}
                                           << QStringList{"a@x.com", "b@x.com"};
    QTest::newRow("repeat in other case") << QStringList{"a@x.com", "b@x.com", "A@X.com"}
                                          << QStringList{"A@X.com", "b@x.com"};
    QTest::newRow("empty ignored") << QStringList{"a@x.com", "", "   "} << QStringList{"a@x.com"};
    QTest::newRow("blanks trimmed") << QStringList{"  a@x.com \t"} << QStringList{"a@x.com"};
    QTest::newRow("line break refused") << QStringList{"a@x.com", "b@x\ncom"} << QStringList{"a@x.com"};
}

void TestEMailHistory::addEMail_keepsMostRecentFirstWithoutRepeats()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, expected);
    EMailHistory history;
    history.Init();
    for (const QString &address : added)
        history.AddEMail(address);
    QCOMPARE(history.addresses(), expected);
}

void TestEMailHistory::addEMail_keepsAtMostFiftyAddresses()
{
    EMailHistory history;
    history.Init();
    for (int i = 0; i < 60; ++i)
        history.AddEMail(QStringLiteral("user%1@example.com").arg(i));
    QCOMPARE(history.addresses().size(), 50);
    QCOMPARE(history.addresses().first(), QStringLiteral("user59@example.com"));
    QCOMPARE(history.addresses().last(), QStringLiteral("user10@example.com"));
}

void TestEMailHistory::save_thenLoad_givesSameAddresses()
{
    EMailHistory history;
    history.Init();
    history.AddEMail(QStringLiteral("first@example.com"));
    history.AddEMail(QStringLiteral("вася@пример.рф"));
    history.AddEMail(QStringLiteral("tom&jerry@example.com"));
    QString error;
    QVERIFY2(history.Save(&error), qPrintable(error));
    QCOMPARE(QFileInfo(history.filePath()).fileName(), QStringLiteral("E-Mail History.DAT"));
    QCOMPARE(loaded(), history.addresses());
}

void TestEMailHistory::save_createsTheDataFolder()
{
    const QString folder = QFileInfo(historyPath()).absolutePath();
    QDir(folder).removeRecursively();
    EMailHistory history;
    history.Init();
    history.AddEMail(QStringLiteral("a@example.com"));
    QVERIFY(history.Save());
    QCOMPARE(loaded(), QStringList{QStringLiteral("a@example.com")});
}

void TestEMailHistory::load_damagedFile_keepsWhatCanBeRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    QByteArray garbage(4096, Qt::Uninitialized);
    for (auto &b : garbage)
        b = char(QRandomGenerator::global()->bounded(256));

    QByteArray huge = Signature;
    while (huge.size() < 5 * 1024 * 1024)
        huge += QByteArray("user") + QByteArray::number(huge.size()) + "@example.com\n";

    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("only signature") << Signature << QStringList();
    QTest::newRow("truncated last line") << Signature + "a@x.com\nb@x.com\nc@x." << QStringList{"a@x.com", "b@x.com"};
    QTest::newRow("other format") << QByteArray("a@x.com\nb@x.com\n") << QStringList();
    QTest::newRow("garbage") << garbage << QStringList();
    QTest::newRow("signature then garbage lines")
        << Signature + "a@x.com\n\x01\x02\xff\xfe\n\nb@x.com\n" << QStringList{"a@x.com", "b@x.com"};
    QTest::newRow("repeats in file") << Signature + "a@x.com\nA@x.com\n" << QStringList{"a@x.com"};
    QTest::newRow("CR LF lines") << Signature + "a@x.com\r\nb@x.com\r\n" << QStringList{"a@x.com", "b@x.com"};
    QStringList firstFifty;
    {
        int offset = Signature.size();
        for (int i = 0; i < 50; ++i) {
            const QByteArray line = QByteArray("user") + QByteArray::number(offset) + "@example.com";
            firstFifty << QString::fromLatin1(line);
            offset += line.size() + 1;
        }
    }
    QTest::newRow("huge") << huge << firstFifty;
}

void TestEMailHistory::load_damagedFile_keepsWhatCanBeRead()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    writeFile(historyPath(), content);
    QCOMPARE(loaded(), expected);
}

void TestEMailHistory::save_afterDamagedFile_writesCleanFile()
{
    // The literal holds NUL bytes: its length is counted, not taken from a terminator.
    static constexpr char damaged[] = "\xff\xfe garbage\x00\x01 more";
    writeFile(historyPath(), QByteArray(damaged, sizeof(damaged) - 1));
    EMailHistory history;
    history.Init();
    history.Load();
    QVERIFY(history.addresses().isEmpty());
    history.AddEMail(QStringLiteral("a@example.com"));
    QVERIFY(history.Save());
    QFile file(historyPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), Signature + "a@example.com\n");
}

void TestEMailHistory::save_unwritable_reportsReason()
{
    // A folder where the file should be: reading finds nothing, writing fails.
    QVERIFY(QDir().mkpath(historyPath()));
    EMailHistory history;
    history.Init();
    history.Load();
    QVERIFY(history.addresses().isEmpty());
    history.AddEMail(QStringLiteral("a@example.com"));
    QString error;
    QVERIFY(!history.Save(&error));
    QVERIFY2(error.contains(QStringLiteral("E-Mail History.DAT")), qPrintable(error));
}

void TestEMailHistory::save_twoObjects_keepBothAddresses()
{
    EMailHistory first;
    first.Init();
    first.Load();
    EMailHistory second;
    second.Init();
    second.Load();
    first.AddEMail(QStringLiteral("first@example.com"));
    second.AddEMail(QStringLiteral("second@example.com"));
    QVERIFY(first.Save());
    QVERIFY(second.Save());
    QCOMPARE(loaded(), (QStringList{"second@example.com", "first@example.com"}));
}

void TestEMailHistory::save_severalCopiesAtOnce_leaveOneFileWithEveryAddress()
{
    constexpr int Copies = 6;
    QList<QProcess *> copies;
    QStringList expected;
    for (int i = 0; i < Copies; ++i) {
        auto *copy = new QProcess(this);
        const QString address = QStringLiteral("copy%1@example.com").arg(i);
        expected << address;
        copy->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--save-one"), address});
        copies << copy;
    }
    for (QProcess *copy : std::as_const(copies)) {
        QVERIFY(copy->waitForFinished(60000));
        QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
        QCOMPARE(copy->exitCode(), 0);
        delete copy;
    }
    QStringList found = loaded();
    found.sort();
    QCOMPARE(found, expected);
    QVERIFY(!QFile::exists(historyPath() + QStringLiteral(".lock")));
}

void TestEMailHistory::showHistory_chosenAddress_goesIntoTextBox()
{
    EMailHistory history;
    history.Init();
    history.AddEMail(QStringLiteral("older@example.com"));
    history.AddEMail(QStringLiteral("tom&jerry@example.com"));

    QLineEdit box;
    box.setObjectName(QStringLiteral("txtEMail"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QSignalSpy changed(&box, &QLineEdit::textChanged);

    QStringList offered;
    QString menuName;
    QTimer::singleShot(0, this, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menuName = menu->objectName();
        for (const QAction *action : menu->actions())
            offered << action->text();
        // Down twice: the first entry, then the second.
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Down);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    ShowHistory(history, &box);

    QCOMPARE(menuName, QStringLiteral("mnuEMailHistory"));
    QCOMPARE(offered, (QStringList{"tom&&jerry@example.com", "older@example.com"}));
    QCOMPARE(box.text(), QStringLiteral("older@example.com"));
    QCOMPARE(changed.count(), 1);
}

void TestEMailHistory::showHistory_dismissed_leavesTextBox()
{
    EMailHistory history;
    history.Init();
    history.AddEMail(QStringLiteral("a@example.com"));
    QLineEdit box;
    box.setText(QStringLiteral("typed@example.com"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    bool shown = false;
    QTimer::singleShot(0, this, [&] {
        if (QWidget *menu = QApplication::activePopupWidget()) {
            shown = true;
            QTest::keyClick(menu, Qt::Key_Escape);
        }
    });
    ShowHistory(history, &box);
    QVERIFY(shown);
    QCOMPARE(box.text(), QStringLiteral("typed@example.com"));
}

void TestEMailHistory::showHistory_emptyHistory_showsNothing()
{
    EMailHistory history;
    history.Init();
    history.Load();
    QLineEdit box;
    box.show();
    // Returns at once: a menu would block here until closed.
    ShowHistory(history, &box);
    QVERIFY(!QApplication::activePopupWidget());
    QVERIFY(box.text().isEmpty());
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--save-one") == 0) {
        // A copy started by the test: HOME is inherited, so it writes the file the test reads.
        QStandardPaths::setTestModeEnabled(true);
        return saveOneAndExit(QString::fromUtf8(argv[2]));
    }
    TestFolders folders;
    if (!folders.isValid())
        qFatal("no temporary folder of our own");
    TestEMailHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_emailhistory.moc"

#include "TestFolders.h"

#include "app/AppConfig.h"
#include "login/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QScreen>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <memory>

// Two window classes, so their placements must be kept apart.
class frmFirstWindow final : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
};

class frmSecondWindow final : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
};

namespace {
QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    for (auto &b : bytes)
        b = char(generator.bounded(256));
    return bytes;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

std::unique_ptr<QTreeView> makeList()
{
    auto view = std::make_unique<QTreeView>();
    auto *model = new QStandardItemModel(0, 7, view.get());
    view->setModel(model);
    return view;
}
}

class TestSettingsStore final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void values_roundTrip_data();
    void values_roundTrip();
    void values_missing_readAsDefault();
    void placement_keptApartPerWindowClass();
    void placement_garbage_isIgnored_data();
    void placement_garbage_isIgnored();
    void placement_offScreen_isBroughtBackOnScreen();
    void listLayout_roundTrip_keepsWidthsAndOrder();
    void listLayout_garbage_isIgnored();
    void damagedFile_startsWithWhatCanBeRead_andWritesCleanFile_data();
    void damagedFile_startsWithWhatCanBeRead_andWritesCleanFile();
    void directoryInPlaceOfFile_readsDefaults_andFlushReportsFailure();
    void folderCannotBeCreated_flushReportsFailure();
    void earlierStoreFailedWithoutFlush_nextFlushReportsIt();
    void earlierStoreWroteWithoutFlush_nextFlushSucceeds();

private:
    QString settingsFile() const { return m_dir->filePath(QStringLiteral("Zelvat/Velloria.ini")); }
    TestFolders m_folders;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsStore::initTestCase()
{
    QVERIFY(m_folders.isValid());
}

void TestSettingsStore::init()
{
    // A new folder for each test: QSettings caches files by path.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path());
    QCOMPARE(QFileInfo(AppConfig::openSettings()->fileName()).absoluteFilePath(),
             QFileInfo(settingsFile()).absoluteFilePath());
}

void TestSettingsStore::cleanup()
{
    m_dir.reset();
}

void TestSettingsStore::values_roundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("e-mail") << QStringLiteral("E-Mail") << QStringLiteral("someone@example.com");
    QTest::newRow("password") << QStringLiteral("Password") << QStringLiteral("9D419E7F");
    QTest::newRow("groups with CR LF")
        << QStringLiteral("Groups")
        << QStringLiteral("My blog | myblog.example.com\r\nOther, \"quoted\" = one | other.example.com\r\n");
    QTest::newRow("last group with comma") << QStringLiteral("Last Group")
                                           << QStringLiteral("Cats, dogs; more | pets.example.com");
    QTest::newRow("non-latin text") << QStringLiteral("Last Group") << QStringLiteral("Блог | blog.example.com");
    QTest::newRow("leading blanks and semicolon") << QStringLiteral("E-Mail") << QStringLiteral("  a;b#c  ");
    QTest::newRow("empty") << QStringLiteral("E-Mail") << QString();
}

void TestSettingsStore::values_roundTrip()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    {
        SettingsStore store;
        store.SetValue(name, value);
        QString error;
        QVERIFY2(store.flush(&error), qPrintable(error));
    }
    QVERIFY(QFile::exists(settingsFile()));
    // Read back through a fresh file cache, as the next run would.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path() + QStringLiteral("/."));
    SettingsStore store;
    QCOMPARE(store.GetValue(name, QStringLiteral("default")), value);
}

void TestSettingsStore::values_missing_readAsDefault()
{
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QString());
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail"), QStringLiteral("x")), QStringLiteral("x"));
    QVERIFY(store.flush());
}

void TestSettingsStore::placement_keptApartPerWindowClass()
{
    {
        frmFirstWindow first;
        first.setGeometry(110, 120, 300, 200);
        frmSecondWindow second;
        second.setGeometry(50, 60, 400, 250);
        SettingsStore store;
        store.SaveFormPlacement(&first);
        store.SaveFormPlacement(&second);
        QVERIFY(store.flush());
    }
    SettingsStore store;
    frmFirstWindow first;
    first.setGeometry(0, 0, 10, 10);
    store.LoadFormPlacement(&first);
    frmSecondWindow second;
    second.setGeometry(0, 0, 10, 10);
    store.LoadFormPlacement(&second);
    QCOMPARE(first.geometry(), QRect(110, 120, 300, 200));
    QCOMPARE(second.geometry(), QRect(50, 60, 400, 250));

    QSettings file(settingsFile(), QSettings::IniFormat);
    QVERIFY(file.contains(QStringLiteral("frmFirstWindow/Window placement")));
    QVERIFY(file.contains(QStringLiteral("frmSecondWindow/Window placement")));
}

void TestSettingsStore::placement_garbage_isIgnored_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("not base64") << QStringLiteral("!!! not a placement !!!");
    QTest::newRow("base64 of random bytes") << QString::fromLatin1(randomBytes(64).toBase64());
    QTest::newRow("empty") << QString();
}

void TestSettingsStore::placement_garbage_isIgnored()
{
    QFETCH(QString, stored);
    {
        QSettings file(settingsFile(), QSettings::IniFormat);
        file.setValue(QStringLiteral("frmFirstWindow/Window placement"), stored);
    }
    SettingsStore store;
    frmFirstWindow window;
    window.setGeometry(70, 80, 320, 240);
    store.LoadFormPlacement(&window);
    QCOMPARE(window.geometry(), QRect(70, 80, 320, 240));
}

void TestSettingsStore::placement_offScreen_isBroughtBackOnScreen()
{
    {
        frmFirstWindow window;
        window.setGeometry(20000, 15000, 300, 200);
        SettingsStore store;
        store.SaveFormPlacement(&window);
        QVERIFY(store.flush());
    }
    SettingsStore store;
    frmFirstWindow window;
    store.LoadFormPlacement(&window);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(screen.intersects(window.frameGeometry()),
             qPrintable(QStringLiteral("window at %1,%2").arg(window.x()).arg(window.y())));
    QCOMPARE(window.size(), QSize(300, 200));
}

void TestSettingsStore::listLayout_roundTrip_keepsWidthsAndOrder()
{
    {
        auto list = makeList();
        list->header()->resizeSection(1, 123);
        list->header()->resizeSection(4, 77);
        list->header()->moveSection(0, 3);
        SettingsStore store;
        store.SaveListViewLayout(list->header(), QStringLiteral("Posts list"));
        QVERIFY(store.flush());
    }
    SettingsStore store;
    auto list = makeList();
    store.LoadListViewLayout(list->header(), QStringLiteral("Posts list"));
    QCOMPARE(list->header()->sectionSize(1), 123);
    QCOMPARE(list->header()->sectionSize(4), 77);
    QCOMPARE(list->header()->visualIndex(0), 3);
}

void TestSettingsStore::listLayout_garbage_isIgnored()
{
    {
        QSettings file(settingsFile(), QSettings::IniFormat);
        file.setValue(QStringLiteral("Posts list"), QString::fromLatin1(randomBytes(200).toBase64()));
    }
    auto list = makeList();
    list->header()->resizeSection(2, 99);
    SettingsStore store;
    store.LoadListViewLayout(list->header(), QStringLiteral("Posts list"));
    QCOMPARE(list->header()->sectionSize(2), 99);
    QCOMPARE(list->header()->count(), 7);
    QCOMPARE(list->header()->visualIndex(0), 0);
}

void TestSettingsStore::damagedFile_startsWithWhatCanBeRead_andWritesCleanFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("readableEMail");

    QTest::newRow("missing") << QByteArray() << false << QString();
    QTest::newRow("empty") << QByteArray() << true << QString();
    QTest::newRow("truncated")
        << QByteArray("[General]\nE-Mail=me@example.com\nGroups=A | a.example.com\\r\\nB | b.exa\n[frmGroupSel")
        << true << QStringLiteral("me@example.com");
    QTest::newRow("garbage bytes") << randomBytes(4096) << true << QString();
    QTest::newRow("garbage after good part")
        << QByteArray("[General]\nE-Mail=me@example.com\n") + randomBytes(2048) << true
        << QStringLiteral("me@example.com");
    QTest::newRow("huge random file") << randomBytes(20 * 1024 * 1024) << true << QString();
    QTest::newRow("other format") << QByteArray("{\"E-Mail\": \"json@example.com\"}\n") << true << QString();
}

void TestSettingsStore::damagedFile_startsWithWhatCanBeRead_andWritesCleanFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, readableEMail);
    if (exists)
        writeFile(settingsFile(), content);

    {
        SettingsStore store;
        QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), readableEMail);
        QCOMPARE(store.GetValue(QStringLiteral("Password")), QString());
        frmFirstWindow window;
        window.setGeometry(70, 80, 320, 240);
        store.LoadFormPlacement(&window);
        QCOMPARE(window.geometry(), QRect(70, 80, 320, 240));

        store.SetValue(QStringLiteral("Last Group"), QStringLiteral("B | b.example.com"));
        QString error;
        QVERIFY2(store.flush(&error), qPrintable(error));
    }

    // The file written is small and clean: every entry reads back as text.
    QVERIFY(QFileInfo(settingsFile()).size() < 4096);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path() + QStringLiteral("/."));
    auto settings = AppConfig::openSettings();
    QCOMPARE(settings->status(), QSettings::NoError);
    for (const QString &key : settings->allKeys()) {
        QVERIFY2(!key.contains(QChar::ReplacementCharacter), qPrintable(key));
        QVERIFY2(!settings->value(key).toString().contains(QChar::ReplacementCharacter), qPrintable(key));
    }
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("Last Group")), QStringLiteral("B | b.example.com"));
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), readableEMail);
}

void TestSettingsStore::directoryInPlaceOfFile_readsDefaults_andFlushReportsFailure()
{
    QVERIFY(QDir().mkpath(settingsFile()));
    SettingsStore store;
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QString());
    frmFirstWindow window;
    window.setGeometry(70, 80, 320, 240);
    store.LoadFormPlacement(&window);
    QCOMPARE(window.geometry(), QRect(70, 80, 320, 240));

    store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY2(error.contains(QStringLiteral("Velloria.ini")), qPrintable(error));
}

void TestSettingsStore::folderCannotBeCreated_flushReportsFailure()
{
    // A plain file where the settings folder should be: nothing can be written below it.
    writeFile(m_dir->filePath(QStringLiteral("Zelvat")), "not a folder");
    SettingsStore store;
    store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY(!error.isEmpty());
}

void TestSettingsStore::earlierStoreFailedWithoutFlush_nextFlushReportsIt()
{
    QVERIFY(QDir().mkpath(settingsFile()));
    {
        SettingsStore store;
        store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    }
    SettingsStore store;
    QString error;
    QVERIFY(!store.flush(&error));
    QVERIFY2(error.contains(QStringLiteral("Velloria.ini")), qPrintable(error));
    // Told once.
    QVERIFY(SettingsStore().flush());
}

void TestSettingsStore::earlierStoreWroteWithoutFlush_nextFlushSucceeds()
{
    {
        SettingsStore store;
        store.SetValue(QStringLiteral("E-Mail"), QStringLiteral("me@example.com"));
    }
    SettingsStore store;
    QString error;
    QVERIFY2(store.flush(&error), qPrintable(error));
    QCOMPARE(store.GetValue(QStringLiteral("E-Mail")), QStringLiteral("me@example.com"));
}

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"

#include "TestFolders.h"

#include "client/app/AppConfig.h"
#include "windows/app/FramePacer.h"
#include "windows/app/WindowSupport.h"
#include "client/login/SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
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

// Counts its paints and the keys it gets.
class PaintCounter final : public QWidget
{
public:
    using QWidget::QWidget;
    int paints = 0;
    int keys = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
    void keyPressEvent(QKeyEvent *) override { ++keys; }
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

std::unique_ptr<QTreeView> makeList()
{
    auto view = std::make_unique<QTreeView>();
    auto *model = new QStandardItemModel(0, 7, view.get());
    view->setModel(model);
    return view;
}
}

// Window placements and list layouts kept in the settings store.
class TestWindowPlacement final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }
    void init();
    void cleanup() { m_dir.reset(); }

    void framePacer_paintsOnceAFrame_inputAtOnce_lastPaintOnStop();

    void placement_keptApartPerWindowClass();
    void placement_garbage_isIgnored_data();
    void placement_garbage_isIgnored();
    void placement_offScreen_isBroughtBackOnScreen();
    void listLayout_roundTrip_keepsWidthsAndOrder();
    void listLayout_garbage_isIgnored();

private:
    QString settingsFile() const { return m_dir->filePath(QStringLiteral("Zelvat/Velloria.ini")); }
    TestFolders m_folders;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestWindowPlacement::init()
{
    // A new folder for each test: QSettings caches files by path.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir->path());
    QCOMPARE(QFileInfo(AppConfig::openSettings()->fileName()).absoluteFilePath(),
             QFileInfo(settingsFile()).absoluteFilePath());
}

void TestWindowPlacement::placement_keptApartPerWindowClass()
{
    {
        frmFirstWindow first;
        first.setGeometry(110, 120, 300, 200);
        frmSecondWindow second;
        second.setGeometry(50, 60, 400, 250);
        SettingsStore store;
        WindowPlacement::SaveFormPlacement(store, &first);
        WindowPlacement::SaveFormPlacement(store, &second);
        QVERIFY(store.flush());
    }
    SettingsStore store;
    frmFirstWindow first;
    first.setGeometry(0, 0, 10, 10);
    WindowPlacement::LoadFormPlacement(store, &first);
    frmSecondWindow second;
    second.setGeometry(0, 0, 10, 10);
    WindowPlacement::LoadFormPlacement(store, &second);
    QCOMPARE(first.geometry(), QRect(110, 120, 300, 200));
    QCOMPARE(second.geometry(), QRect(50, 60, 400, 250));

    QSettings file(settingsFile(), QSettings::IniFormat);
    QVERIFY(file.contains(QStringLiteral("frmFirstWindow/Window placement")));
    QVERIFY(file.contains(QStringLiteral("frmSecondWindow/Window placement")));
}

void TestWindowPlacement::placement_garbage_isIgnored_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("not base64") << QStringLiteral("!!! not a placement !!!");
    QTest::newRow("base64 of random bytes") << QString::fromLatin1(randomBytes(64).toBase64());
    QTest::newRow("empty") << QString();
}

void TestWindowPlacement::placement_garbage_isIgnored()
{
    QFETCH(QString, stored);
    {
        QSettings file(settingsFile(), QSettings::IniFormat);
        file.setValue(QStringLiteral("frmFirstWindow/Window placement"), stored);
    }
    SettingsStore store;
    frmFirstWindow window;
    window.setGeometry(70, 80, 320, 240);
    WindowPlacement::LoadFormPlacement(store, &window);
    QCOMPARE(window.geometry(), QRect(70, 80, 320, 240));
}

void TestWindowPlacement::placement_offScreen_isBroughtBackOnScreen()
{
    {
        frmFirstWindow window;
        window.setGeometry(20000, 15000, 300, 200);
        SettingsStore store;
        WindowPlacement::SaveFormPlacement(store, &window);
        QVERIFY(store.flush());
    }
    SettingsStore store;
    frmFirstWindow window;
    WindowPlacement::LoadFormPlacement(store, &window);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(screen.intersects(window.frameGeometry()),
             qPrintable(QStringLiteral("window at %1,%2").arg(window.x()).arg(window.y())));
    QCOMPARE(window.size(), QSize(300, 200));
}

void TestWindowPlacement::listLayout_roundTrip_keepsWidthsAndOrder()
{
    {
        auto list = makeList();
        list->header()->resizeSection(1, 123);
        list->header()->resizeSection(4, 77);
        list->header()->moveSection(0, 3);
        SettingsStore store;
        WindowPlacement::SaveListViewLayout(store, list->header(), QStringLiteral("Posts list"));
        QVERIFY(store.flush());
    }
    SettingsStore store;
    auto list = makeList();
    WindowPlacement::LoadListViewLayout(store, list->header(), QStringLiteral("Posts list"));
    QCOMPARE(list->header()->sectionSize(1), 123);
    QCOMPARE(list->header()->sectionSize(4), 77);
    QCOMPARE(list->header()->visualIndex(0), 3);
}

void TestWindowPlacement::listLayout_garbage_isIgnored()
{
    {
        QSettings file(settingsFile(), QSettings::IniFormat);
        file.setValue(QStringLiteral("Posts list"), QString::fromLatin1(randomBytes(200).toBase64()));
    }
    auto list = makeList();
    list->header()->resizeSection(2, 99);
    SettingsStore store;
    WindowPlacement::LoadListViewLayout(store, list->header(), QStringLiteral("Posts list"));
    QCOMPARE(list->header()->sectionSize(2), 99);
    QCOMPARE(list->header()->count(), 7);
    QCOMPARE(list->header()->visualIndex(0), 0);
}

void TestWindowPlacement::framePacer_paintsOnceAFrame_inputAtOnce_lastPaintOnStop()
{
    QWidget window;
    window.resize(200, 100);
    auto *counter = new PaintCounter(&window);
    counter->setGeometry(0, 0, 100, 50);
    counter->setFocusPolicy(Qt::StrongFocus);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    counter->setFocus();
    QCoreApplication::processEvents();

    FramePacer pacer(&window);
    pacer.start();
    const int before = counter->paints;
    QElapsedTimer timer;
    timer.start();
    int keysSeen = 0;
    for (int i = 0; i < 300; ++i) {
        counter->update();
        if (i % 50 == 0) {
            QKeyEvent *key = new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::postEvent(counter, key);
        }
        QCoreApplication::processEvents();
        keysSeen = counter->keys;
        QVERIFY2(keysSeen == i / 50 + 1, "a key waited for the next frame");
    }
    const qint64 elapsed = timer.elapsed();
    const int paced = counter->paints - before;
    QVERIFY2(paced <= elapsed / FramePacer::FrameMs + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paced).arg(elapsed)));

    // What the last frame held back is painted by the time pacing ends.
    const int beforeLast = counter->paints;
    counter->update();
    QCoreApplication::processEvents();
    pacer.stop();
    QCOMPARE(counter->paints, beforeLast + 1);
    const int unpaced = counter->paints;
    for (int i = 0; i < 5; ++i) {
        counter->update();
        QCoreApplication::processEvents();
    }
    QCOMPARE(counter->paints, unpaced + 5);
}

QTEST_MAIN(TestWindowPlacement)
#include "tst_windowsupport.moc"

#include "windows/app/WindowSupport.h"

#include "client/login/SettingsStore.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace {
QPointer<QWidget> g_mainWindow;

QString placementKey(const QWidget *window, const QString &name)
{
    return QString::fromLatin1(window->metaObject()->className()) + u'/' + name;
}

// A placement saved on a screen that is gone would leave the window out of reach.
void keepOnScreen(QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        if (screen->availableGeometry().intersects(frame)
            && screen->availableGeometry().contains(frame.topLeft() + QPoint(frame.width() / 2, 0)))
            return;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const int x = area.x() + qMax(0, (area.width() - frame.width()) / 2);
    const int y = area.y() + qMax(0, (area.height() - frame.height()) / 2);
    window->move(x, y);
}
}

namespace modSupport {

QWidget *GetThunderMainHandle() { return g_mainWindow.data(); }

void setThunderMainHandle(QWidget *window) { g_mainWindow = window; }

void SetWindowResIconAll(QWidget *window, const QString &resourceName)
{
    if (window)
        window->setWindowIcon(QIcon(QStringLiteral(":/icons/") + resourceName));
}

void CenterFormEx(QWidget *window)
{
    if (!window)
        return;
    QScreen *screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect frame = window->frameGeometry();
    window->move(area.x() + (area.width() - frame.width()) / 2,
                 area.y() + (area.height() - frame.height()) / 2);
}

void HighlightText(QWidget *control)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        edit->selectAll();
    } else if (auto *combo = qobject_cast<QComboBox *>(control)) {
        if (combo->lineEdit())
            combo->lineEdit()->selectAll();
    }
}

// The style already paints a window's background from its palette.
void PaintDesktop2(QWidget *) {}

bool IsKeyPressed(int virtualKey)
{
    const Qt::KeyboardModifiers modifiers = QGuiApplication::queryKeyboardModifiers();
    switch (virtualKey) {
    case 16:
        return modifiers.testFlag(Qt::ShiftModifier);
    case 17:
        return modifiers.testFlag(Qt::ControlModifier);
    case 18:
        return modifiers.testFlag(Qt::AltModifier);
    default:
        return false;
    }
}

}

namespace WindowPlacement {

void SaveFormPlacement(SettingsStore &store, QWidget *window, const QString &name)
{
    if (window)
        store.SetBytes(placementKey(window, name), window->saveGeometry());
}

void LoadFormPlacement(const SettingsStore &store, QWidget *window, const QString &name)
{
    if (!window)
        return;
    const QByteArray geometry = store.GetBytes(placementKey(window, name));
    if (geometry.isEmpty() || !window->restoreGeometry(geometry))
        return;
    keepOnScreen(window);
}

void SaveListViewLayout(SettingsStore &store, QHeaderView *header, const QString &name)
{
    if (header)
        store.SetBytes(name, header->saveState());
}

void LoadListViewLayout(const SettingsStore &store, QHeaderView *header, const QString &name)
{
    if (!header)
        return;
    const QByteArray state = store.GetBytes(name);
    if (!state.isEmpty())
        header->restoreState(state); // a layout that does not fit is refused and ignored
}
}

#pragma once
#include <QByteArray>
#include <QRect>
#include <QString>

class QHeaderView;
class QWidget;
class SettingsStore;

// The support operations that work on windows and controls.
namespace modSupport {

QWidget *GetThunderMainHandle(); // the program's main window (the login window), or nullptr
void setThunderMainHandle(QWidget *window);

void SetWindowResIconAll(QWidget *window, const QString &resourceName); // ":/icons/<name>"
void CenterFormEx(QWidget *window);       // centre on the window's screen
void HighlightText(QWidget *control);     // select all text of a line edit or editable combo
void PaintDesktop2(QWidget *window);      // background painting (the palette's window colour)
bool IsKeyPressed(int virtualKey);        // 16 Shift, 17 Ctrl: from the current keyboard modifiers
}

// The windows are laid out in twips, 15 to the pixel.
constexpr int twips(int value) { return value / 15; }
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// A window's placement and a list's column layout, kept in the settings store
// under the window's class name.
namespace WindowPlacement {
void SaveFormPlacement(SettingsStore &store, QWidget *window,
                       const QString &name = QStringLiteral("Window placement"));
void LoadFormPlacement(const SettingsStore &store, QWidget *window,
                       const QString &name = QStringLiteral("Window placement"));
void SaveListViewLayout(SettingsStore &store, QHeaderView *header, const QString &name);
void LoadListViewLayout(const SettingsStore &store, QHeaderView *header, const QString &name);
}

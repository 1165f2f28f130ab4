#pragma once

class QDBusConnection;
class QWidget;

// The link to the sibling toolbar program over the session bus. Optional:
// every failure, including no bus at all, is silent, and no call waits.
namespace modSkerrybar {
void ToolbarShow();
void ToolbarMarkForm(QWidget *form);
void ToolbarUnMarkForm(QWidget *form);

// For tests: use this connection instead of the session bus, and forget
// whether the link was made.
void setBusForTesting(const QDBusConnection &bus);
void resetForTesting();
}

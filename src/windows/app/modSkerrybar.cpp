#include "windows/app/modSkerrybar.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <optional>

namespace {
// The toolbar's automation object, by its ProgID, on the session bus: the
// ProgID is both the well-known bus name and the interface name, and the
// toolbar exports its one object at the root path.
constexpr auto ToolbarService = "Skerrybar.zlvToolbarProxy";
constexpr auto ToolbarPath = "/";
constexpr auto ToolbarInterface = "Skerrybar.zlvToolbarProxy";

enum class LinkState { NotCreated, Created, Failed };
LinkState g_state = LinkState::NotCreated;
std::optional<QDBusConnection> g_testBus;

QDBusConnection bus()
{
    return g_testBus ? *g_testBus : QDBusConnection::sessionBus();
}

// Fire and forget: no reply is asked for, so nothing ever waits on the
// toolbar, and a missing toolbar must not be started just for us.
void callToolbar(const char *member, const QVariantList &arguments = {})
{
    if (g_state != LinkState::Created)
        return;
    QDBusConnection connection = bus();
    if (!connection.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(ToolbarService),
                                                          QLatin1String(ToolbarPath),
                                                          QLatin1String(ToolbarInterface),
                                                          QLatin1String(member));
    message.setAutoStartService(false);
    message.setArguments(arguments);
    connection.send(message);
}

void markOrUnmark(const char *member, QWidget *form)
{
    if (!form || g_state != LinkState::Created)
        return;
    // The toolbar knows windows by a 32-bit handle.
    callToolbar(member, {QVariant::fromValue(qint32(form->winId()))});
}
}

namespace modSkerrybar {

void ToolbarShow()
{
    // Whether the toolbar runs is not asked: that would wait on the bus.
    // A call to a name nobody owns just comes back as an error no one reads.
    g_state = bus().isConnected() ? LinkState::Created : LinkState::Failed;
    callToolbar("ShowToolBar");
}

void ToolbarMarkForm(QWidget *form) { markOrUnmark("MarkForm", form); }

void ToolbarUnMarkForm(QWidget *form) { markOrUnmark("UnMarkForm", form); }

void setBusForTesting(const QDBusConnection &connection) { g_testBus = connection; }

void resetForTesting()
{
    g_state = LinkState::NotCreated;
    g_testBus.reset();
}
}

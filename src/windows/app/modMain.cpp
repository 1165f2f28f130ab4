#include "windows/app/modMain.h"

#include "client/app/AppConfig.h"
#include "client/login/BlogList.h"
#include "windows/app/WindowSupport.h"
#include "windows/app/modSkerrybar.h"
#include "client/app/modSupport.h"
#include "windows/login/frmGroupSelector.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QWidget>
#include <qdrawutil.h>


namespace {
modMain::PostsWindowFactory g_postsWindowFactory;
}

namespace modMain {

void InitApplication()
{
    AppConfig::setApplicationNames();
    // The windows are laid out for Tahoma; where it is missing, a condensed
    // sans keeps their texts inside the designed boxes.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans")});
}

void Main(SettingsStore &settings, ITumblrService &service)
{
    modSupport::RegisterAppPath();
    // Before the first window: each window tells the toolbar of itself as it loads.
    modSkerrybar::ToolbarShow();

    frmGroupSelector *login = frmGroupSelector::instance();
    if (!login) {
        login = new frmGroupSelector(settings, service);
        login->setAttribute(Qt::WA_DeleteOnClose);
    }
    // The login window is the program's main window: the one the icon goes on.
    modSupport::setThunderMainHandle(login);
    if (!modSupport::IsInIDE())
        modSupport::SetWindowResIconAll(modSupport::GetThunderMainHandle(), QStringLiteral("A_MAIN"));

    // No explicit exit anywhere: the program ends with its last window.
    QApplication::setQuitOnLastWindowClosed(true);
    login->show();
}

void setPostsWindowFactory(PostsWindowFactory factory) { g_postsWindowFactory = std::move(factory); }

QWidget *createPostsWindowStandIn(const Account &account)
{
    return g_postsWindowFactory ? g_postsWindowFactory(account) : nullptr;
}

QString ExtractGroupName(const QString &entry)
{
    return BlogList::groupName(entry);
}

void DrawPanelFrame(QWidget *panel, QPainter &painter)
{
    if (!panel)
        return;
    const QPalette &palette = panel->palette();
    const QRect outer = modSupport::NormalizeRect(panel->rect());
    qDrawWinPanel(&painter, outer, palette, false);

    const QRect inner(QPoint(outer.left() + 8, outer.top() + 8), QPoint(outer.right() - 8, outer.bottom() - 8));
    // A panel smaller than both edges gets no inner edge rather than an inverted one.
    if (inner.width() > 0 && inner.height() > 0)
        qDrawWinPanel(&painter, inner, palette, true);
}
}

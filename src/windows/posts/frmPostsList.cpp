#include "windows/posts/frmPostsList.h"

#include "windows/app/WindowSupport.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "windows/app/AboutBox.h"
#include "windows/app/DialogServices.h"
#include "windows/app/modSkerrybar.h"
#include "client/app/modSupport.h"
#include "windows/app/ucInfoToolBar.h"
#include "client/login/SettingKeys.h"
#include "client/login/SettingsStore.h"
#include "windows/posts/PostActions.h"
#include "windows/posts/PostsListView.h"
#include "client/runs/RunEstimate.h"
#include "client/runs/RunJournal.h"
#include "windows/posts/frmUndoRuns.h"
#include "windows/posts/ucPostsFixer.h"
#include "windows/posts/ucPostsLoader.h"
#include "client/service/ITumblrService.h"
#include "client/posts/PostsModel.h"
#include "client/posts/TagRules.h"

namespace {
const int ColumnWidths[PostsModel::ColumnCount] = {2500, 2715, 2760, 960, 3375, 1740, 5000};
}

frmPostsList::frmPostsList(SettingsStore &settings, ITumblrService &service, const Account &account,
                           QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_settings(settings), m_service(service), m_account(account), m_posts(new PostsModel(this)), lvPosts(new PostsListView(this)),
      cmdGetPosts(new QPushButton(QStringLiteral("Get posts"), this)),
      cmdFixPosts(new QPushButton(QStringLiteral("Fix posts"), this)), lblResult(new QLabel(this)),
      lblEstimate(new QLabel(this)),
      cmdOpenPost(new QPushButton(QStringLiteral("Open"), this)),
      cmdEditPost(new QPushButton(QStringLiteral("Edit"), this)),
      cmdRemoveSelected(new QPushButton(QStringLiteral("Remove"), this)), uplLoader(new ucPostsLoader(service, *this, this)),
      upfFixer(new ucPostsFixer(service, *this, this)), itbMainInfo(new ucInfoToolBar(account, this)),
      m_journalFolder(RunJournal::defaultFolder())
{
    setObjectName(QStringLiteral("frmPostsList"));
    setWindowTitle(QStringLiteral("Velloria :: Posts list"));
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    resize(twips(8355), twips(3735));

    lvPosts->setObjectName(QStringLiteral("lvPosts"));
    lvPosts->setGeometry(twips(120), twips(120), twips(8115), twips(2955));
    lvPosts->setModel(m_posts);
    cmdGetPosts->setObjectName(QStringLiteral("cmdGetPosts"));
    cmdGetPosts->setGeometry(twips(120), twips(3180), twips(1215), twips(435));
    cmdFixPosts->setObjectName(QStringLiteral("cmdFixPosts"));
    cmdFixPosts->setGeometry(twips(1440), twips(3180), twips(1215), twips(435));
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setGeometry(twips(2760), twips(3180), twips(375), twips(375));
    lblResult->setAlignment(Qt::AlignCenter);
    lblResult->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    lblResult->setAutoFillBackground(true);
    // Between the result square and "Open": the estimate, in full in its tool tip.
    lblEstimate->setObjectName(QStringLiteral("lblEstimate"));
    lblEstimate->setGeometry(twips(3210), twips(3180), twips(1815), twips(435));
    lblEstimate->setWordWrap(true);
    lblEstimate->setFont(QFont(QStringLiteral("Tahoma"), 7));
    cmdOpenPost->setObjectName(QStringLiteral("cmdOpenPost"));
    cmdOpenPost->setGeometry(twips(5100), twips(3180), twips(975), twips(435));
    cmdEditPost->setObjectName(QStringLiteral("cmdEditPost"));
    cmdEditPost->setGeometry(twips(6180), twips(3180), twips(975), twips(435));
    cmdRemoveSelected->setObjectName(QStringLiteral("cmdRemoveSelected"));
    cmdRemoveSelected->setGeometry(twips(7260), twips(3180), twips(975), twips(435));
    uplLoader->setObjectName(QStringLiteral("uplLoader"));
    uplLoader->move(twips(120), twips(2340));
    uplLoader->hide();
    upfFixer->setObjectName(QStringLiteral("upfFixer"));
    upfFixer->move(twips(1800), twips(2340));
    upfFixer->hide();
    itbMainInfo->setObjectName(QStringLiteral("itbMainInfo"));
    itbMainInfo->setGeometry(twips(2340), twips(900), twips(4035), twips(615));

    setTabOrder(lvPosts, cmdGetPosts);
    setTabOrder(cmdGetPosts, cmdFixPosts);
    setTabOrder(cmdFixPosts, cmdOpenPost);
    setTabOrder(cmdOpenPost, cmdEditPost);
    setTabOrder(cmdEditPost, cmdRemoveSelected);

    m_actions = std::make_unique<PostActions>(*this, *lvPosts->selectionModel(), service.capabilities().webHost);
    m_actions->setEditorAddress([this](const PostRow &post) { return m_service.editorAddress(m_account.groupName, post); });
    // The Tags cell's tool tip: what the post will be written with, or why it won't be.
    m_posts->setPreview([this](const PostRow &post) {
        const TagRules rules = m_service.capabilities().tagRules;
        const QString reason = TagRule::cantFixReason(post, rules);
        return reason.isEmpty() ? TagRule::fixedTagsText(post, rules) : reason;
    });

    connect(cmdGetPosts, &QPushButton::clicked, this, &frmPostsList::cmdGetPosts_Click);
    connect(cmdFixPosts, &QPushButton::clicked, this, &frmPostsList::cmdFixPosts_Click);
    connect(cmdOpenPost, &QPushButton::clicked, this, &frmPostsList::cmdOpenPost_Click);
    connect(cmdEditPost, &QPushButton::clicked, this, &frmPostsList::cmdEditPost_Click);
    connect(cmdRemoveSelected, &QPushButton::clicked, this, &frmPostsList::cmdRemoveSelected_Click);

    // Key preview: the window sees the keys before the focused control does.
    for (QWidget *control : {static_cast<QWidget *>(lvPosts), static_cast<QWidget *>(cmdGetPosts),
                             static_cast<QWidget *>(cmdFixPosts), static_cast<QWidget *>(cmdOpenPost),
                             static_cast<QWidget *>(cmdEditPost), static_cast<QWidget *>(cmdRemoveSelected)})
        control->installEventFilter(this);
    lvPosts->viewport()->installEventFilter(this);
    lblResult->installEventFilter(this);

    Form_Load();
}

frmPostsList::~frmPostsList() = default;

void frmPostsList::Form_Load()
{
    modSupport::CenterFormEx(this);
    if (!modSupport::IsInIDE())
        modSupport::SetWindowResIconAll(this, QStringLiteral("A_MAIN"));
    modSkerrybar::ToolbarMarkForm(this);
    itbMainInfo->InitToolBar(this);
    itbMainInfo->setListInfoLabel(QStringLiteral("Group:"));
    itbMainInfo->setListInfo(m_account.groupName);
    InitPostsList();
    LoadWindowPlacement();
    // Fixed single border: the size changes only through the placement and the bar.
    setFixedSize(size());
    DrawControls();
}

void frmPostsList::InitPostsList()
{
    lvPosts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvPosts->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvPosts->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvPosts->setTabKeyNavigation(false);
    lvPosts->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lvPosts->setRowHeight(lvPosts->fontMetrics().height() + 4);

    QHeaderView *columns = lvPosts->horizontalHeader();
    columns->setSectionsMovable(true);
    columns->setHighlightSections(false);
    columns->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    columns->setStretchLastSection(false);
    for (int column = 0; column < PostsModel::ColumnCount; ++column)
        columns->resizeSection(column, twips(ColumnWidths[column]));
}

void frmPostsList::LoadWindowPlacement()
{
    WindowPlacement::LoadFormPlacement(m_settings, this, SettingKeys::name(Setting::WindowPlacement));
    WindowPlacement::LoadListViewLayout(m_settings, lvPosts->horizontalHeader(), SettingKeys::name(Setting::PostsList));
}

void frmPostsList::SaveWindowPlacement()
{
    WindowPlacement::SaveFormPlacement(m_settings, this, SettingKeys::name(Setting::WindowPlacement));
    WindowPlacement::SaveListViewLayout(m_settings, lvPosts->horizontalHeader(), SettingKeys::name(Setting::PostsList));
    m_settings.flush();
}

bool frmPostsList::panelOnline() const
{
    return uplLoader->IsOnline() || upfFixer->IsOnline();
}

void frmPostsList::DrawControls()
{
    const int count = m_posts->rowCount();
    if (!panelOnline()) {
        const bool any = count > 0;
        cmdFixPosts->setEnabled(any);
        cmdOpenPost->setEnabled(any);
        cmdEditPost->setEnabled(any);
        cmdRemoveSelected->setEnabled(any);
        const QString estimate = any ? RunEstimate::of(*m_posts, m_service).text() : QString();
        lblEstimate->setText(estimate);
        lblEstimate->setToolTip(estimate);
    }
    setWindowTitle(QStringLiteral("Velloria :: Posts list :: ") + QString::number(count));
}

void frmPostsList::EnableControls(bool enabled)
{
    cmdGetPosts->setEnabled(enabled);
    cmdFixPosts->setEnabled(enabled);
    cmdEditPost->setEnabled(enabled);
    lvPosts->setEnabled(enabled);
    cmdRemoveSelected->setEnabled(enabled);
    cmdOpenPost->setEnabled(enabled);
}

void frmPostsList::selectAndShowRow(int row)
{
    if (row < 0 || row >= m_posts->rowCount())
        return;
    const QModelIndex index = m_posts->index(row, 0);
    lvPosts->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    lvPosts->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    lvPosts->scrollTo(index);
}

QWidget *frmPostsList::getPostsButton()
{
    return cmdGetPosts;
}

void frmPostsList::setResultColor(Color color)
{
    // Plain RGB here; the original values were written blue-green-red.
    QColor rgb;
    switch (color) {
    case Green: rgb = QColor(0x00, 0xFF, 0x00); break;
    case Red: rgb = QColor(0xFF, 0x00, 0x00); break;
    case Yellow: rgb = QColor(0xFF, 0xFF, 0x00); break;
    }
    QPalette palette = lblResult->palette();
    palette.setColor(QPalette::Window, rgb);
    lblResult->setPalette(palette);
}

QString frmPostsList::resultCaption() const
{
    return lblResult->text();
}

void frmPostsList::setResultCaption(const QString &caption)
{
    lblResult->setText(caption);
}

void frmPostsList::cmdGetPosts_Click()
{
    EnableControls(false);
    uplLoader->show();
    uplLoader->GetPosts(m_account);
    uplLoader->hide();
    EnableControls(true);
    DrawControls();
    if (m_posts->rowCount() > 0) {
        const QModelIndex first = m_posts->index(0, 0);
        lvPosts->selectionModel()->select(first, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        lvPosts->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        lvPosts->scrollTo(first);
    }
    lvPosts->setFocus();
}

void frmPostsList::cmdFixPosts_Click()
{
    if (m_posts->rowCount() == 0)
        return;
    EnableControls(false);
    upfFixer->show();
    upfFixer->setShowFirstWrite(SettingKeys::flag(m_settings, Setting::ShowFirstWrite, m_service.capabilities().interface));
    upfFixer->FixPosts(m_account);
    upfFixer->hide();
    EnableControls(true);
    DrawControls();
    lvPosts->setFocus();
}

void frmPostsList::setJournalFolder(const QString &folder)
{
    m_journalFolder = folder;
    upfFixer->setJournalFolder(folder);
}

void frmPostsList::UndoRun()
{
    const QString path = RunJournal::filePath(m_journalFolder, m_account.groupName);
    frmUndoRuns chooser(m_account.groupName, RunJournal::Read(path, m_account.groupName), this);
    if (chooser.exec() != QDialog::Accepted || !chooser.chosenRun())
        return;
    const JournalRun run = *chooser.chosenRun();
    EnableControls(false);
    upfFixer->show();
    upfFixer->UndoRun(m_account, run);
    upfFixer->hide();
    EnableControls(true);
    DrawControls();
    lvPosts->setFocus();
}

void frmPostsList::cmdOpenPost_Click()
{
    m_actions->OpenPost();
}

void frmPostsList::cmdEditPost_Click()
{
    m_actions->EditPost();
}

void frmPostsList::cmdRemoveSelected_Click()
{
    m_actions->RemoveSelectedPosts();
}

void frmPostsList::lblResult_Click()
{
    ++m_resultClicks;
    if (m_resultClicks == 3)
        dialogs().information(QStringLiteral("Ok. There is a secret in this prog. Open about box and ")
                              + QStringLiteral("drag icon to program title."));
    else
        dialogs().information(QStringLiteral("Don't click here! It's just indicate if any errors ")
                              + QStringLiteral("occured sending or receiving posts."));
}

void frmPostsList::lvPosts_MouseDown(const QPoint &position)
{
    const QModelIndex index = lvPosts->indexAt(position);
    ItemUnderMouse = index.isValid() ? index.row() : -1;
}

void frmPostsList::lvPosts_DblClick()
{
    if (ItemUnderMouse < 0)
        return;
    if (modSupport::IsKeyPressed(16))
        m_actions->EditPost();
    else
        m_actions->OpenPost();
}

bool frmPostsList::Form_KeyDown(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers shift =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const int key = event->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    // Nothing may change the rows while a panel works on them.
    const bool busy = panelOnline();

    if (key == Qt::Key_A && shift == Qt::ControlModifier) {
        if (!busy)
            m_actions->SelectAllPosts();
        return true;
    }
    if (key == Qt::Key_Delete && shift == Qt::NoModifier) {
        if (!busy)
            m_actions->RemoveSelectedPosts();
        return true;
    }
    if (enter && shift == Qt::NoModifier) {
        m_actions->OpenPost();
        return true;
    }
    if (enter && shift == Qt::ShiftModifier) {
        m_actions->EditPost();
        return true;
    }
    if (key == Qt::Key_F1 && shift == Qt::ShiftModifier) {
        ShowAbout(this);
        return true;
    }
    if (key == Qt::Key_Z && shift == Qt::ControlModifier) {
        if (!busy)
            UndoRun();
        return true;
    }
    if (key == Qt::Key_Escape && shift == Qt::NoModifier) {
        close();
        return true;
    }
    return false;
}

void frmPostsList::keyPressEvent(QKeyEvent *event)
{
    if (!Form_KeyDown(event))
        QWidget::keyPressEvent(event);
}

bool frmPostsList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvPosts->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            lvPosts_MouseDown(static_cast<QMouseEvent *>(event)->position().toPoint());
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // The second press of a double-click arrives as this event.
            lvPosts_MouseDown(static_cast<QMouseEvent *>(event)->position().toPoint());
            lvPosts_DblClick();
            return true;
        }
    } else if (watched == lblResult) {
        if (event->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
            && lblResult->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint()))
            lblResult_Click();
    } else if (event->type() == QEvent::KeyPress) {
        if (Form_KeyDown(static_cast<QKeyEvent *>(event)))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool frmPostsList::Form_QueryUnload()
{
    bool cancel = false;
    if (uplLoader->IsOnline()) {
        cancel = true;
        uplLoader->StopIt();
    }
    if (upfFixer->IsOnline()) {
        cancel = true;
        upfFixer->StopIt();
    }
    return cancel;
}

void frmPostsList::closeEvent(QCloseEvent *event)
{
    if (Form_QueryUnload()) {
        event->ignore();
        return;
    }
    event->accept();
    Form_Unload();
}

void frmPostsList::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    SaveWindowPlacement();
    modSkerrybar::ToolbarUnMarkForm(this);
    emit closed();
}

void frmPostsList::paintEvent(QPaintEvent *)
{
    modSupport::PaintDesktop2(this);
}

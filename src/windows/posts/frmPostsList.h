#pragma once
#include <QWidget>
#include <memory>

#include "windows/posts/IPostsList.h"
#include "client/service/Account.h"
#include "windows/posts/IResultIndicator.h"

class ITumblrService;
class SettingsStore;

class PostActions;
class PostsListView;
class PostsModel;
class QLabel;
class QPushButton;
class ucInfoToolBar;
class ucPostsFixer;
class ucPostsLoader;

// The working window for one blog: the downloaded photo posts still to be
// fixed, "Get posts", "Fix posts", the post actions and the result square.
class frmPostsList final : public QWidget, public IPostsList, public IResultIndicator
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmPostsList)

public:
    // The window for the account's blog; settings and service outlive it.
    frmPostsList(SettingsStore &settings, ITumblrService &service, const Account &account,
                 QWidget *parent = nullptr);
    ~frmPostsList() override;

    // IPostsList
    PostsModel &posts() override { return *m_posts; }
    IResultIndicator &resultIndicator() override { return *this; }
    void DrawControls() override;
    void selectAndShowRow(int row) override;
    QWidget *getPostsButton() override;
    QWidget *window() override { return this; }

    // IResultIndicator: lblResult
    void setResultColor(Color color) override;
    QString resultCaption() const override;
    void setResultCaption(const QString &caption) override;

    long resultClicks() const { return m_resultClicks; }
    // Where the blogs' journals are read and written (a test may point it elsewhere).
    void setJournalFolder(const QString &folder);

signals:
    // The window has been unloaded (placement saved); the login window comes back.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void Form_Load();
    bool Form_QueryUnload();
    void Form_Unload();
    bool Form_KeyDown(const QKeyEvent *event);

    void cmdGetPosts_Click();
    void cmdFixPosts_Click();
    void cmdOpenPost_Click();
    void cmdEditPost_Click();
    void cmdRemoveSelected_Click();
    void lblResult_Click();
    void UndoRun(); // Ctrl+Z: a journaled run chosen and put back
    void lvPosts_MouseDown(const QPoint &position);
    void lvPosts_DblClick();

    void EnableControls(bool enabled);
    void InitPostsList();
    void LoadWindowPlacement();
    void SaveWindowPlacement();
    bool panelOnline() const;

    SettingsStore &m_settings;
    ITumblrService &m_service;
    const Account m_account;
    PostsModel *m_posts;
    PostsListView *lvPosts;
    QPushButton *cmdGetPosts;
    QPushButton *cmdFixPosts;
    QLabel *lblResult;
    QLabel *lblEstimate; // what "Fix posts" will take
    QPushButton *cmdOpenPost;
    QPushButton *cmdEditPost;
    QPushButton *cmdRemoveSelected;
    ucPostsLoader *uplLoader;
    ucPostsFixer *upfFixer;
    ucInfoToolBar *itbMainInfo;
    std::unique_ptr<PostActions> m_actions;
    QString m_journalFolder;

    int ItemUnderMouse = -1; // row under the pointer at the last mouse press, -1 for none
    long m_resultClicks = 0;
    bool m_unloaded = false;
};

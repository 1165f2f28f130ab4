#pragma once
#include <QDialog>
#include <optional>

#include "client/runs/RunJournal.h"

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// Lists a blog's journaled runs, newest first, and lets the user pick the one
// to undo.
class frmUndoRuns final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmUndoRuns)

public:
    frmUndoRuns(const QString &blog, JournalContents contents, QWidget *parent = nullptr);
    ~frmUndoRuns() override;

    // The run chosen with "Undo"; none when cancelled.
    std::optional<JournalRun> chosenRun() const { return m_chosen; }

private:
    void refresh();
    void accept() override;

    JournalContents m_contents;
    QLabel *lblRuns;
    QTreeWidget *tvRuns;
    QLabel *lblProblem;
    QDialogButtonBox *m_buttons;
    QPushButton *cmdUndo;
    std::optional<JournalRun> m_chosen;
};

#include "windows/posts/frmUndoRuns.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
QString kindText(const JournalRun &run)
{
    return run.kind == QLatin1String(RunJournal::Undo) ? QStringLiteral("Undo") : QStringLiteral("Fix posts");
}
}

frmUndoRuns::frmUndoRuns(const QString &blog, JournalContents contents, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      m_contents(std::move(contents)), lblRuns(new QLabel(this)), tvRuns(new QTreeWidget(this)),
      lblProblem(new QLabel(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Cancel, this)),
      cmdUndo(m_buttons->addButton(QStringLiteral("Undo"), QDialogButtonBox::AcceptRole))
{
    setObjectName(QStringLiteral("frmUndoRuns"));
    setWindowTitle(QStringLiteral("Undo a run"));
    setFont(QFont(QStringLiteral("Tahoma"), 9));
    lblRuns->setObjectName(QStringLiteral("lblRuns"));
    lblRuns->setText(QStringLiteral("Runs on %1, newest first. Undo writes each post of the chosen run back as it "
                                    "was before it; posts changed since are left as they are.")
                         .arg(blog));
    lblRuns->setWordWrap(true);
    tvRuns->setObjectName(QStringLiteral("tvRuns"));
    tvRuns->setRootIsDecorated(false);
    tvRuns->setHeaderLabels({QStringLiteral("Started"), QStringLiteral("Run"), QStringLiteral("Posts written"),
                             QStringLiteral("Outcomes unknown")});
    tvRuns->header()->setStretchLastSection(false);
    tvRuns->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    lblProblem->setObjectName(QStringLiteral("lblProblem"));
    lblProblem->setWordWrap(true);
    cmdUndo->setObjectName(QStringLiteral("cmdUndo"));
    cmdUndo->setDefault(true);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblRuns);
    layout->addWidget(tvRuns, 1);
    layout->addWidget(lblProblem);
    layout->addWidget(m_buttons);
    resize(560, 320);

    for (const JournalRun &run : m_contents.runs) {
        auto *item = new QTreeWidgetItem(tvRuns);
        item->setText(0, run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        item->setText(1, kindText(run));
        item->setText(2, QString::number(run.written()));
        item->setText(3, QString::number(run.unknown()));
        for (int column : {2, 3})
            item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    if (tvRuns->topLevelItemCount() > 0)
        tvRuns->setCurrentItem(tvRuns->topLevelItem(0));
    tvRuns->setFocus();

    connect(m_buttons, &QDialogButtonBox::accepted, this, &frmUndoRuns::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tvRuns, &QTreeWidget::currentItemChanged, this, &frmUndoRuns::refresh);
    connect(tvRuns, &QTreeWidget::itemActivated, this, &frmUndoRuns::accept);
    refresh();
}

frmUndoRuns::~frmUndoRuns() = default;

void frmUndoRuns::refresh()
{
    const int row = tvRuns->currentItem() ? tvRuns->indexOfTopLevelItem(tvRuns->currentItem()) : -1;
    const bool any = row >= 0 && size_t(row) < m_contents.runs.size();
    // A run with nothing written or possibly written has nothing to put back.
    cmdUndo->setEnabled(any && m_contents.runs[size_t(row)].written() + m_contents.runs[size_t(row)].unknown() > 0);
    const QString problem = m_contents.problem();
    lblProblem->setText(problem);
    lblProblem->setVisible(!problem.isEmpty());
}

void frmUndoRuns::accept()
{
    const int row = tvRuns->currentItem() ? tvRuns->indexOfTopLevelItem(tvRuns->currentItem()) : -1;
    if (row < 0 || size_t(row) >= m_contents.runs.size() || !cmdUndo->isEnabled())
        return;
    m_chosen = m_contents.runs[size_t(row)];
    QDialog::accept();
}

// What appending a page of 50 rows and removing the first row cost in the
// posts list view at 1k, 100k and 300k rows, next to a plain table view on
// the same model for comparison.
// Run: QT_QPA_PLATFORM=offscreen ./bench/bench_listview
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QTableView>
#include <cstdio>

#include "windows/posts/PostsListView.h"
#include "client/posts/PostsModel.h"
#include "GeneratedRows.h"

namespace {
void selectRow(QAbstractItemView &view, int row)
{
    const QModelIndex index = view.model()->index(row, 0);
    view.selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view.selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    view.scrollTo(index);
}

// Microseconds per page of 50 appended; with `paint`, pending events
// (painting) run after each page. Best of three rounds.
double appendCost(QAbstractItemView &view, PostsModel &model, int base, bool paint)
{
    constexpr int Pages = 40;
    double best = 1e18;
    for (int round = 0; round < 3; ++round) {
        fillModel(model, base);
        QCoreApplication::processEvents();
        std::vector<std::vector<PostRow>> pages;
        for (int i = 0; i < Pages; ++i)
            pages.push_back(makeRows(50, base + i * 50));
        QElapsedTimer timer;
        timer.start();
        for (auto &page : pages) {
            model.append(std::move(page));
            if (paint) {
                view.viewport()->repaint();
                QCoreApplication::processEvents();
            }
        }
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0 / Pages);
    }
    return best;
}

// Microseconds per removal of the first row as the fixer does it: remove,
// then select and show the new first row.
double removeFirstCost(QAbstractItemView &view, PostsModel &model, int base, bool paint)
{
    constexpr int Removals = 200;
    double best = 1e18;
    for (int round = 0; round < 3; ++round) {
        fillModel(model, base);
        selectRow(view, 0);
        QCoreApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Removals; ++i) {
            model.removeAt(0);
            selectRow(view, 0);
            if (paint) {
                view.viewport()->repaint();
                QCoreApplication::processEvents();
            }
        }
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0 / Removals);
    }
    return best;
}

void setUp(QAbstractItemView &view, PostsModel &model)
{
    view.setModel(&model);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.resize(541, 197);
    view.show();
}
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    PostsModel listModel;
    PostsListView list;
    setUp(list, listModel);
    list.setRowHeight(list.fontMetrics().height() + 4);

    PostsModel tableModel;
    QTableView table;
    setUp(table, tableModel);
    table.verticalHeader()->hide();
    table.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height() + 4);

    std::printf("%-28s %8s %14s %14s\n", "", "rows", "PostsListView", "QTableView");
    for (bool paint : {false, true}) {
        const char *how = paint ? "painted" : "model+view";
        for (int base : {1000, 100000, 300000}) {
            const double listAppend = appendCost(list, listModel, base, paint);
            const double tableAppend = appendCost(table, tableModel, base, paint);
            std::printf("append 50, %-17s %8d %11.1f us %11.1f us\n", how, base, listAppend, tableAppend);
        }
        for (int base : {1000, 100000, 300000}) {
            const double listRemove = removeFirstCost(list, listModel, base, paint);
            const double tableRemove = removeFirstCost(table, tableModel, base, paint);
            std::printf("remove first, %-14s %8d %11.1f us %11.1f us\n", how, base, listRemove, tableRemove);
        }
    }
    return 0;
}

#pragma once
#include <QAbstractItemView>
#include <QPixmap>
#include <QStringList>
#include <vector>

class QHeaderView;

// A report-style list: one line a row, every row the same height, a header
// for the columns and nothing kept per row. Everything it does looks only at
// the rows on screen, so appending a page or removing the first row of a
// list of any length costs the same (a table view's row header walks every
// row on each removal).
class PostsListView final : public QAbstractItemView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PostsListView)

public:
    explicit PostsListView(QWidget *parent = nullptr);
    ~PostsListView() override;

    QHeaderView *horizontalHeader() const { return m_header; }

    int rowHeight() const;
    void setRowHeight(int height); // 0: from the font

    // Rows [first, last] on screen, partly shown ones included; last < first when none.
    int firstVisibleRow() const;
    int lastVisibleRow() const;
    int rowAt(int y) const; // viewport y, -1 outside the rows

    void setModel(QAbstractItemModel *model) override;
    QModelIndex indexAt(const QPoint &point) const override;
    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    int sizeHintForRow(int row) const override;
    int sizeHintForColumn(int column) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;

    void paintEvent(QPaintEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void changeEvent(QEvent *event) override;

    void reset() override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;

private:
    void rowsChanged();
    void resizeColumnToContents(int column);
    int rowCount() const;
    int rowsFitting() const; // whole rows the viewport shows, at least 1
    int firstLogicalColumn() const;

    QByteArray paintSignature(const QStyleOptionViewItem &base) const;
    QPixmap rowImage(int row, const QStyleOptionViewItem &base, bool focused);

    enum CellState { Selected = 1, Focused = 2, Disabled = 4 };
    struct CachedRow {
        QStringList texts;
        QByteArray states; // CellState bits, a byte a column
        bool alternate = false;
        QPixmap image;
        quint64 lastUsed = 0;
    };

    QHeaderView *m_header;
    int m_rowHeight = 0;
    std::vector<CachedRow> m_rowCache; // the rows last drawn, as images of the viewport's width
    QByteArray m_cacheSignature;
    quint64 m_paintGeneration = 0;
};

#pragma once
#include <QAbstractTableModel>
#include <deque>
#include <functional>
#include <vector>

#include "client/posts/PostRow.h"

// The one store of downloaded posts, shown by the posts window's list.
// Appending a page and removing the first row cost nothing proportional to
// the number of rows.
class PostsModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PostsModel)

public:
    enum Column { DATE, CAPTION, TAGS, FORMAT, SLUG, CT_URL, POST_URL, ColumnCount };

    explicit PostsModel(QObject *parent = nullptr);

    static QString columnKey(int column);    // "DATE", "CAPTION", ...
    static QString columnHeader(int column); // "Date", "Caption", ...

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    int count() const { return int(m_rows.size()); }
    const PostRow &at(int row) const { return m_rows[size_t(row)]; }
    QString text(int row, int column) const;

    // What the Tags cell's tool tip shows of a row (the designed fixed tags unless set).
    using Preview = std::function<QString(const PostRow &)>;
    void setPreview(Preview preview) { m_preview = std::move(preview); }

    void append(std::vector<PostRow> rows);
    void append(PostRow row);
    void removeAt(int row);
    void clear();

private:
    std::deque<PostRow> m_rows;
    Preview m_preview;
};

#include "client/posts/PostsModel.h"

#include "client/posts/TagRules.h"

namespace {
const char *const Keys[] = {"DATE", "CAPTION", "TAGS", "FORMAT", "SLUG", "CT_URL", "POST_URL"};
const char *const Headers[] = {"Date", "Caption", "Tags", "Format", "Slug", "Click through URL", "Post URL"};

}

PostsModel::PostsModel(QObject *parent) : QAbstractTableModel(parent) {}

QString PostsModel::columnKey(int column)
{
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(Keys[column]) : QString();
}

QString PostsModel::columnHeader(int column)
{
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(Headers[column]) : QString();
}

int PostsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int PostsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString PostsModel::text(int row, int column) const
{
    const PostRow &post = at(row);
    switch (column) {
    case DATE: return post.date;
    case CAPTION: return post.caption;
    case TAGS: return TagRule::TagsText(post.tags);
    case FORMAT: return post.format;
    case SLUG: return post.slug;
    case CT_URL: return post.clickThroughUrl;
    case POST_URL: return post.postUrl;
    default: return {};
    }
}

QVariant PostsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::ToolTipRole) {
        // The Tags cell previews the tags the post will be written with.
        if (index.column() == TAGS && !at(index.row()).caption.isEmpty())
            return m_preview ? m_preview(at(index.row())) : TagRule::fixedTagsText(at(index.row()), TagRules::designed());
        return text(index.row(), index.column());
    }
    return {};
}

QVariant PostsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return columnHeader(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void PostsModel::append(std::vector<PostRow> rows)
{
    if (rows.empty())
        return;
    const int first = count();
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (PostRow &row : rows)
        m_rows.push_back(std::move(row));
    endInsertRows();
}

void PostsModel::append(PostRow row)
{
    std::vector<PostRow> rows;
    rows.push_back(std::move(row));
    append(std::move(rows));
}

void PostsModel::removeAt(int row)
{
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    if (row == 0)
        m_rows.pop_front();
    else
        m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void PostsModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

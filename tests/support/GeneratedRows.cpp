#include "GeneratedRows.h"

#include <algorithm>

#include "client/posts/PostsModel.h"

std::vector<PostRow> makeRows(int count, int first)
{
    std::vector<PostRow> rows;
    rows.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        PostRow row;
        row.id = QString::number(first + i);
        row.date = QStringLiteral("2026-11-30 18:04:05 GMT");
        row.caption = QStringLiteral("Photo %1").arg(first + i);
        row.rawCaption = row.caption;
        row.tags = QStringList{QStringLiteral("tag %1").arg(first + i), QStringLiteral("shared")};
        row.format = QStringLiteral("html");
        row.slug = QStringLiteral("photo-%1").arg(first + i);
        row.postUrl = QStringLiteral("http://127.0.0.1/post/%1").arg(first + i);
        rows.push_back(std::move(row));
    }
    return rows;
}

void fillModel(PostsModel &model, int count)
{
    model.clear();
    for (int done = 0; done < count; done += 10000)
        model.append(makeRows(std::min(10000, count - done), done));
}

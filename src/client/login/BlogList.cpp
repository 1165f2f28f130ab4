#include "client/login/BlogList.h"

#include <QStringList>

#include "client/app/modSupport.h"

namespace BlogList {

QString groupName(const QString &entry)
{
    const qsizetype bar = entry.lastIndexOf(u'|');
    if (bar < 0)
        return entry;
    return modSupport::TrimEx(entry.mid(bar + 1));
}

std::vector<BlogEntry> parse(const QString &listText)
{
    std::vector<BlogEntry> blogs;
    for (const QString &piece : listText.split(QStringLiteral("\r\n"))) {
        const QString entry = modSupport::TrimEx(piece);
        if (entry.isEmpty())
            continue;
        const qsizetype bar = entry.lastIndexOf(u'|');
        blogs.push_back({bar < 0 ? QString() : modSupport::TrimEx(entry.left(bar)), groupName(entry)});
    }
    return blogs;
}

const BlogEntry *find(const std::vector<BlogEntry> &blogs, const QString &nameOrTitle)
{
    const QString wanted = modSupport::TrimEx(nameOrTitle);
    for (const BlogEntry &blog : blogs) {
        if (blog.name.compare(wanted, Qt::CaseInsensitive) == 0)
            return &blog;
    }
    for (const BlogEntry &blog : blogs) {
        if (!blog.title.isEmpty() && blog.title.compare(wanted, Qt::CaseInsensitive) == 0)
            return &blog;
    }
    return nullptr;
}
}

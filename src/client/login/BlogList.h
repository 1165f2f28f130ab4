#pragma once
#include <QString>
#include <vector>

// The account's blogs as the sign-in gives them and the settings keep them
// ("Groups"): "title | name" a line, CR LF between lines. The name (the
// blog's host on the designed interface) is what a run is started for.
struct BlogEntry {
    QString title;
    QString name;
};

namespace BlogList {

// The blog name in one entry: the trimmed text after the last "|".
QString groupName(const QString &entry);
std::vector<BlogEntry> parse(const QString &listText);
// The entry a name or title names, letter case ignored; none when no entry does.
const BlogEntry *find(const std::vector<BlogEntry> &blogs, const QString &nameOrTitle);
}

#pragma once
#include <QString>
#include <QStringList>

// One downloaded photo post, as listed and as written back.
struct PostRow {
    QString date;        // the post's date text (the row's own text)
    QString id;          // the post id: the key by which it is written back
    QString caption;     // display caption: first line of the plain text
    QString rawCaption;  // the caption exactly as received (HTML, all lines)
    QString tags;        // the tags joined into one text
    QString format;
    QString slug;
    QString clickThroughUrl;
    QString postUrl;
};

// The post's tags with its caption added as a quoted tag: what the post
// carries once it is fixed.
QString FixedTags(const PostRow &post);

// The tags a tags text names, as the service splits it: at commas, except
// inside a piece that opens with a double quote, which runs to the closing
// quote; pieces trimmed, empty ones dropped.
QStringList TagList(const QString &tagsText);

#pragma once
#include <QString>
#include <QStringList>

// One photo post, as listed and as written back.
struct PostRow {
    QString date;        // the post's date text (the row's own text)
    QString id;          // the post id: the key by which it is written back
    QString caption;     // display caption: first line of the plain text
    QString rawCaption;  // the caption exactly as received (HTML, all lines)
    QStringList tags;    // the post's tags, each as the service holds it
    QString format;
    QString slug;
    QString clickThroughUrl;
    QString postUrl;

    friend bool operator==(const PostRow &, const PostRow &) = default;
};

// The fields a write sends, but the tags, whose values differ between two
// states of a post, by name ("caption", "date", ...); empty when none does.
QStringList changedFields(const PostRow &before, const PostRow &now);

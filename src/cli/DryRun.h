#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

#include "client/posts/PostRow.h"
#include "client/posts/TagRules.h"

// What "fix" would do to a blog, as "list" shows it: every post it would
// write, with the tags it would get, and every photo post it leaves out,
// with the reason.
struct DryRun {
    struct Left {
        PostRow post;
        QString reason;
    };
    QString blog;
    TagRules rules;
    std::vector<PostRow> toFix; // newest first, as they are written
    std::vector<Left> leftOut;  // newest first
    int withoutId = 0;          // photo posts the service gave without an id

    // A table for people, the caption cut to fit a terminal.
    QString table() const;
    // {"blog", "toFix": [{"id","date","caption","tags","newTags"}], "leftOut": [{... "reason"}], "withoutId"}
    QByteArray json() const;
    // RFC 4180: a header line, then one line a post (toFix first), CR LF ends.
    QByteArray csv() const;

    // A CSV field, quoted when it holds a comma, a quote, a line end or
    // surrounding space.
    static QString csvField(const QString &text);
};

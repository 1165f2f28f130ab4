#pragma once
#include <QString>
#include <QStringList>

#include "client/posts/PostRow.h"

// What a service does with tags, which decides the tag a caption gives and
// which posts can take it. Each back end names its rules in its capabilities.
struct TagRules {
    // The service splits tags at commas, so the caption tag can't keep them;
    // it is then trimmed, and a caption that leaves no text can't be fixed.
    bool commasSplitTags = false;
    // Characters no XML document can hold are left out of the caption tag.
    bool xmlText = true;
    int maxTags = 0;      // 0: no limit
    int maxTagLength = 0; // 0: no limit

    static TagRules designed() { return {}; }
    static TagRules current() { return {true, false, 30, 140}; }
};

namespace TagRule {

// Upper case, trimmed, typographic quotes and the ellipsis folded, for comparing.
QString NormalizeText(const QString &text);
// True when tagText is the caption as a tag: compared normalized, with the
// characters no tag keeps removed from the caption.
bool CaptionIsTag(const QString &caption, const QString &tagText);

// The tag the post's display caption gives under these rules.
QString captionTag(const QString &caption, const TagRules &rules);
// True when one of the post's tags already is its caption.
bool carriesCaption(const PostRow &post, const TagRules &rules);
// A post to list: it has a caption and does not carry it as a tag yet.
bool needsFix(const PostRow &post, const TagRules &rules);
// Why "Get posts" does not list the post; empty when it lists it (needsFix).
QString leftOutReason(const PostRow &post, const TagRules &rules);
// Why the post can't be given its caption tag under these rules; empty when it can.
QString cantFixReason(const PostRow &post, const TagRules &rules);
// The post's tags with its caption tag added: what it is written with.
QStringList fixedTags(const PostRow &post, const TagRules &rules);
// A write that adds to the listed tags would drop any tag given on the
// service since the post was listed: true when that is so and the post must
// be left as it is. A write of the listed tags themselves (undo) is checked
// by its caller.
bool tagsChangedSinceListed(const QStringList &listed, const QStringList &wanted, const QStringList &now);
// The tags a fixed post is written with, as the list's tool tip shows them.
QString fixedTagsText(const PostRow &post, const TagRules &rules);

// The designed tags text: the tags joined with ", ", one holding a comma quoted.
QString TagsText(const QStringList &tags);
// The tags a tags text names, as the service splits it: at commas, except
// inside a piece that opens with a double quote, which runs to the closing
// quote; pieces trimmed, empty ones dropped.
QStringList TagList(const QString &tagsText);
// The designed tags text of a write: the post's own tags as listed, then each
// tag added after them in double quotes (which keep its commas). Tags that do
// not start with the post's own are joined as TagsText joins them.
QString WriteText(const QStringList &postTags, const QStringList &tags);
}

#include "client/posts/TagRules.h"

#include <algorithm>

#include "client/app/modCommon.h"
#include "client/app/modSupport.h"

namespace {
// What no XML document can hold: C0 controls but tab, lone surrogates, U+FFFE
// and U+FFFF. A tag with one of them would make every later page holding the
// post unreadable.
QString withoutNonXmlCharacters(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result += c;
            result += text.at(++i);
            continue;
        }
        if ((u < 0x20 && u != u'\t') || c.isSurrogate() || u == 0xFFFE || u == 0xFFFF)
            continue;
        result += c;
    }
    return result;
}
}

QStringList changedFields(const PostRow &before, const PostRow &now)
{
    QStringList changed;
    if (before.rawCaption != now.rawCaption)
        changed << QStringLiteral("caption");
    if (before.date != now.date)
        changed << QStringLiteral("date");
    if (before.format != now.format)
        changed << QStringLiteral("format");
    if (before.slug != now.slug)
        changed << QStringLiteral("slug");
    if (before.clickThroughUrl != now.clickThroughUrl)
        changed << QStringLiteral("click-through URL");
    return changed;
}

namespace TagRule {

QString NormalizeText(const QString &text)
{
    QString result = modSupport::TrimEx(text).toUpper();
    result.replace(QChar(0x00A0), QLatin1Char(' '));
    result.replace(QChar(0x2019), QLatin1Char('\''));
    result.remove(QChar(0x201C));
    result.remove(QChar(0x201D));
    result.replace(QChar(0x2026), QStringLiteral("..."));
    return result;
}

bool CaptionIsTag(const QString &caption, const QString &tagText)
{
    return NormalizeText(tagText) == modCommon::StripTagChars(NormalizeText(caption));
}

QString captionTag(const QString &caption, const TagRules &rules)
{
    QString tag = modCommon::StripTagChars(caption);
    if (rules.xmlText)
        tag = withoutNonXmlCharacters(tag);
    if (rules.commasSplitTags) {
        tag.remove(u',');
        tag = modSupport::TrimEx(tag);
    }
    return tag;
}

bool carriesCaption(const PostRow &post, const TagRules &rules)
{
    // As the designed rule reads it, or as these rules write it.
    const QString written = rules.commasSplitTags ? NormalizeText(captionTag(post.caption, rules)) : QString();
    return std::any_of(post.tags.begin(), post.tags.end(), [&](const QString &tag) {
        return CaptionIsTag(post.caption, tag) || (rules.commasSplitTags && NormalizeText(tag) == written);
    });
}

bool needsFix(const PostRow &post, const TagRules &rules)
{
    return !post.rawCaption.isEmpty() && !carriesCaption(post, rules);
}

QString leftOutReason(const PostRow &post, const TagRules &rules)
{
    if (post.rawCaption.isEmpty())
        return QStringLiteral("Not listed: it has no caption.");
    if (carriesCaption(post, rules))
        return QStringLiteral("Not listed: it carries its caption as a tag already.");
    return {};
}

QString cantFixReason(const PostRow &post, const TagRules &rules)
{
    const QString tag = captionTag(post.caption, rules);
    if (rules.commasSplitTags && tag.isEmpty())
        return QStringLiteral("Not written: its caption leaves no text for a tag.");
    if (rules.maxTags > 0 && post.tags.size() >= rules.maxTags)
        return QStringLiteral("Not written: the post already has %1 tags, the most the service allows.")
            .arg(rules.maxTags);
    if (rules.maxTagLength > 0 && tag.size() > rules.maxTagLength)
        return QStringLiteral("Not written: its caption tag would be longer than %1 characters, the most the "
                              "service allows.")
            .arg(rules.maxTagLength);
    return {};
}

bool tagsChangedSinceListed(const QStringList &listed, const QStringList &wanted, const QStringList &now)
{
    return wanted != listed && now != listed;
}

QStringList fixedTags(const PostRow &post, const TagRules &rules)
{
    return post.tags + QStringList{captionTag(post.caption, rules)};
}

QString fixedTagsText(const PostRow &post, const TagRules &rules)
{
    const QStringList tags = fixedTags(post, rules);
    return rules.commasSplitTags ? TagsText(tags) : WriteText(post.tags, tags);
}

QString TagsText(const QStringList &tags)
{
    QStringList pieces;
    for (const QString &tag : tags)
        pieces << (tag.contains(u',') ? QLatin1Char('"') + tag + QLatin1Char('"') : tag);
    return pieces.join(QStringLiteral(", "));
}

QStringList TagList(const QString &tagsText)
{
    QStringList tags;
    QString piece;
    bool quoted = false;   // the piece opened with a quote
    bool inQuotes = false; // and it has not closed yet
    const auto endPiece = [&] {
        const QString tag = piece.trimmed();
        if (!tag.isEmpty())
            tags << tag;
        piece.clear();
        quoted = inQuotes = false;
    };
    for (const QChar c : tagsText) {
        if (inQuotes) {
            if (c == QLatin1Char('"'))
                inQuotes = false;
            else
                piece += c;
        } else if (c == QLatin1Char(',')) {
            endPiece();
        } else if (c == QLatin1Char('"') && !quoted && piece.trimmed().isEmpty()) {
            piece.clear();
            quoted = inQuotes = true;
        } else {
            piece += c;
        }
    }
    endPiece();
    return tags;
}

QString WriteText(const QStringList &postTags, const QStringList &tags)
{
    if (tags.size() < postTags.size() || tags.mid(0, postTags.size()) != postTags)
        return TagsText(tags);
    QString text = TagsText(postTags);
    for (qsizetype i = postTags.size(); i < tags.size(); ++i) {
        if (!text.isEmpty())
            text += QStringLiteral(", ");
        text += QLatin1Char('"') + tags.at(i) + QLatin1Char('"');
    }
    return text;
}
}

#include "cli/DryRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>

namespace {
constexpr qsizetype CaptionWidth = 40;

// One line of the table; a caption is cut to the width.
QString cut(const QString &text, qsizetype width = -1)
{
    QString line = text;
    line.replace(u'\t', u' ').replace(u'\r', u' ').replace(u'\n', u' ');
    return width < 0 || line.size() <= width ? line : line.left(width - 1) + QChar(0x2026);
}

// Columns padded to their widest cell, two spaces apart; the last unpadded.
QString columns(const std::vector<QStringList> &rows)
{
    std::vector<qsizetype> widths;
    for (const QStringList &row : rows) {
        widths.resize(std::max(widths.size(), size_t(row.size())), 0);
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths[size_t(i)] + 2) : row.at(i);
        text += line + u'\n';
    }
    return text;
}

QJsonObject postObject(const PostRow &post)
{
    return {{QStringLiteral("id"), post.id},
            {QStringLiteral("date"), post.date},
            {QStringLiteral("caption"), post.caption},
            {QStringLiteral("tags"), QJsonArray::fromStringList(post.tags)}};
}
}

QString DryRun::table() const
{
    QString text = QStringLiteral("%1: %2 posts to fix, %3 left out\n").arg(blog).arg(toFix.size()).arg(leftOut.size());
    if (!toFix.empty()) {
        std::vector<QStringList> rows{{QStringLiteral("DATE"), QStringLiteral("ID"), QStringLiteral("CAPTION"),
                                       QStringLiteral("TAGS"), QStringLiteral("TAGS AFTER")}};
        for (const PostRow &post : toFix)
            rows.push_back({post.date, post.id, cut(post.caption, CaptionWidth), cut(TagRule::TagsText(post.tags)),
                            cut(TagRule::fixedTagsText(post, rules))});
        text += u'\n' + columns(rows);
    }
    if (!leftOut.empty()) {
        std::vector<QStringList> rows{{QStringLiteral("LEFT OUT"), QStringLiteral("ID"), QStringLiteral("CAPTION"),
                                       QStringLiteral("TAGS"), QStringLiteral("WHY")}};
        for (const Left &left : leftOut)
            rows.push_back({left.post.date, left.post.id, cut(left.post.caption, CaptionWidth),
                            cut(TagRule::TagsText(left.post.tags)), left.reason});
        text += u'\n' + columns(rows);
    }
    if (withoutId > 0)
        text += QStringLiteral("\n%1 photo posts came without an id and were left out.\n").arg(withoutId);
    return text;
}

QByteArray DryRun::json() const
{
    QJsonArray fix;
    for (const PostRow &post : toFix) {
        QJsonObject object = postObject(post);
        object.insert(QStringLiteral("newTags"), QJsonArray::fromStringList(TagRule::fixedTags(post, rules)));
        fix.append(object);
    }
    QJsonArray left;
    for (const Left &entry : leftOut) {
        QJsonObject object = postObject(entry.post);
        object.insert(QStringLiteral("reason"), entry.reason);
        left.append(object);
    }
    const QJsonObject root{{QStringLiteral("blog"), blog},
                           {QStringLiteral("toFix"), fix},
                           {QStringLiteral("leftOut"), left},
                           {QStringLiteral("withoutId"), withoutId}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QString DryRun::csvField(const QString &text)
{
    const bool quote = text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r')
                       || (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString doubled = text;
    doubled.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + doubled + u'"';
}

QByteArray DryRun::csv() const
{
    QString text;
    const auto line = [&text](const QStringList &fields) {
        QStringList quoted;
        for (const QString &field : fields)
            quoted << csvField(field);
        text += quoted.join(u',') + QStringLiteral("\r\n");
    };
    line({QStringLiteral("action"), QStringLiteral("id"), QStringLiteral("date"), QStringLiteral("caption"),
          QStringLiteral("tags"), QStringLiteral("tags after"), QStringLiteral("why")});
    for (const PostRow &post : toFix)
        line({QStringLiteral("fix"), post.id, post.date, post.caption, TagRule::TagsText(post.tags),
              TagRule::fixedTagsText(post, rules), QString()});
    for (const Left &left : leftOut)
        line({QStringLiteral("leave"), left.post.id, left.post.date, left.post.caption,
              TagRule::TagsText(left.post.tags), QString(), left.reason});
    return text.toUtf8();
}

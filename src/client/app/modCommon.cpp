#include "client/app/modCommon.h"

#include "client/app/modSupport.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>

namespace {
// A document that never loads anything: images, style sheets and any other
// src/href of a caption stay unread, whether a file path or a web address.
class InertTextDocument final : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
};

// Elements whose content is not text a reader sees; removed before parsing,
// also when the closing tag is missing.
QString removeHiddenElements(const QString &html)
{
    static const QRegularExpression hidden(
        QStringLiteral("<(script|style|iframe|object|embed|noscript|template|head|title)\\b[^>]*>"
                       "(?:.*?</\\1\\s*>|.*$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    // Void elements Qt's parser would treat as containers of the rest.
    static const QRegularExpression voidHead(QStringLiteral("<(link|meta|base)\\b[^>]*>"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (!html.contains(u'<'))
        return html;
    QString result = html;
    result.remove(hidden);
    result.remove(voidHead);
    return result;
}

// A "<" that cannot open a tag is text to a browser ("I <3 cats"); Qt's
// parser would swallow what follows, so it is escaped first.
QString escapeStrayLessThan(const QString &html)
{
    static const QRegularExpression stray(QStringLiteral("<(?![A-Za-z/!?])"));
    QString result = html;
    result.replace(stray, QStringLiteral("&lt;"));
    return result;
}

// Qt's HTML importer takes time growing with the square of the nesting depth.
// Past this many tags no caption is written by hand: keep only the line breaks.
constexpr qsizetype MaxTags = 1000;

QString flattenTags(const QString &html)
{
    static const QRegularExpression breaking(
        QStringLiteral("<\\s*/?\\s*(br|p|div|li|tr|h[1-6]|blockquote|ul|ol|dl|dt|dd|table|pre|hr|"
                       "section|article|header|footer|address|center)\\b[^>]*>"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression anyTag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression breakRun(QStringLiteral("\\x{2029}[\\s\\x{2029}]*"));
    QString text = html;
    text.replace(breaking, QString(QChar::ParagraphSeparator));
    text.remove(anyTag);
    text.replace(breakRun, QString(QChar::ParagraphSeparator));
    text = modSupport::TrimEx(text);
    if (text.startsWith(QChar::ParagraphSeparator))
        text.remove(0, 1);
    if (text.endsWith(QChar::ParagraphSeparator))
        text.chop(1);
    text.replace(QChar::ParagraphSeparator, QStringLiteral("<br>"));
    return text;
}

// A browser drops the collapsed blank at either end of a line; no-break
// spaces are kept.
QString trimCollapsedBlanks(const QString &block)
{
    QStringList lines = block.split(QChar::LineSeparator);
    for (QString &line : lines) {
        qsizetype begin = 0, end = line.size();
        while (begin < end && line.at(begin) == u' ')
            ++begin;
        while (end > begin && line.at(end - 1) == u' ')
            --end;
        line = line.mid(begin, end - begin);
    }
    return lines.join(QChar::LineSeparator);
}

// innerText: each non-empty block on its own line; an empty block (an empty
// paragraph, the edges of a table) gives no line, as in a browser.
QString documentText(const QTextDocument &document)
{
    QString text;
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QString line = block.text();
        line.remove(QChar::ObjectReplacementCharacter);
        line.remove(QChar(0xFDD0)); // frame start and end marks
        line.remove(QChar(0xFDD1));
        if (!block.blockFormat().nonBreakableLines())
            line = trimCollapsedBlanks(line);
        if (line.isEmpty())
            continue;
        if (!first)
            text += QStringLiteral("\r\n");
        first = false;
        text += line.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    }
    while (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    return text;
}

// Printable ASCII without markup or entities, with single blanks between
// words: what the HTML reading would give back unchanged. Most captions are
// like that, and building a document for each costs more than reading its page.
bool isPlainText(const QString &text)
{
    if (text.isEmpty() || text.front() == u' ' || text.back() == u' ')
        return false;
    QChar previous;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u > 0x7E || u == u'<' || u == u'&' || (u == u' ' && previous == u' '))
            return false;
        previous = c;
    }
    return true;
}
}

namespace modCommon {

QString StripTagChars(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'#':
        case u'"':
        case u'\\':
        case u'/':
        case u'|':
        case u'?':
            break;
        default:
            result.append(c);
        }
    }
    return result;
}

QString HTMLToText(const QString &html)
{
    // No window is needed, nor a display: the command line reads captions as the windows do.
    if (isPlainText(html))
        return html;

    QString source = escapeStrayLessThan(removeHiddenElements(html));
    if (source.count(u'<') > MaxTags)
        source = flattenTags(source);

    InertTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setHtml(source);
    return documentText(document);
}

qint32 SafeCLng(const QString &text)
{
    bool ok = false;
    const qint32 value = modSupport::TrimEx(text).toInt(&ok, 10);
    return ok ? value : 0;
}

QString ServerMessageText(const QByteArray &body)
{
    // One line, as the service writes its reasons; a longer body is no reason
    // to put in a message box.
    constexpr qsizetype MaxMessage = 1000;
    if (body.size() > MaxMessage || body.contains('\r') || body.contains('\n'))
        return {};
    return modSupport::UTF8ToUNICODE(body);
}
}

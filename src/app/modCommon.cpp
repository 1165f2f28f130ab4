#include "app/modCommon.h"

#include "app/DialogServices.h"
#include "app/modSupport.h"
#include "service/HTTPProxySettings.h"

#include <QGuiApplication>
#include <QRegularExpression>
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
    if (!html.contains(u'<'))
        return html;
    QString result = html;
    result.remove(hidden);
    return result;
}

// Qt's HTML importer does not mind deep nesting, but its cost grows with the
// element stack; past this many tags nobody writes a caption by hand.
constexpr qsizetype MaxTags = 20000;
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
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return html;

    QString source = removeHiddenElements(html);
    if (source.count(u'<') > MaxTags) {
        static const QRegularExpression anyTag(QStringLiteral("<[^>]*>"));
        source.replace(anyTag, QStringLiteral(" "));
    }

    InertTextDocument document;
    document.setUndoRedoEnabled(false);
    document.setHtml(source);
    QString text = document.toRawText();

    text.remove(QChar::ObjectReplacementCharacter);
    while (text.endsWith(QChar::ParagraphSeparator) || text.endsWith(QChar::LineSeparator))
        text.chop(1);
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return text;
}

qint32 SafeCLng(const QString &text)
{
    bool ok = false;
    const qint32 value = modSupport::TrimEx(text).toInt(&ok, 10);
    return ok ? value : 0;
}

QString ServerMessageText(const QByteArray &body)
{
    if (body.contains('\r') || body.contains('\n'))
        return {};
    return modSupport::UTF8ToUNICODE(body);
}

void ShowProxyDialog(QWidget *parent)
{
    HTTPProxySettings settings;
    settings.LoadSettings(QStringLiteral("HTTP Proxy"));
    settings.ShowDialog(parent); // Cancel leaves the loaded values, saved back unchanged
    if (!settings.SaveSettings(QStringLiteral("HTTP Proxy")))
        dialogs().critical(QStringLiteral("Can't save the proxy settings."));
}
}

#pragma once
#include <QByteArray>
#include <QString>

// Text routines shared by the service client and the posts list.
namespace modCommon {

// Removes every "#", double quote, "\", "/", "|" and "?"; nothing else.
QString StripTagChars(const QString &text);
// Plain text of an HTML fragment, as a browser's innerText gives it: markup
// removed, entities decoded, CR LF where the HTML breaks lines. No script runs
// and nothing is loaded from a file or the network.
QString HTMLToText(const QString &html);
// A decimal 32-bit number; 0 for anything else.
qint32 SafeCLng(const QString &text);
// A one-line server answer decoded from UTF-8; empty when it has a CR or LF.
QString ServerMessageText(const QByteArray &body);
}

#include "TestBrowser.h"

#include <QNetworkReply>
#include <QRegularExpression>
#include <QUrlQuery>

namespace {
QString unescapeHtml(QString text)
{
    text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
    text.replace(QStringLiteral("&#39;"), QStringLiteral("'"));
    text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
    text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    return text;
}

QString attribute(const QString &tag, const QString &name)
{
    const QRegularExpression pattern(QStringLiteral("\\b%1\\s*=\\s*\"([^\"]*)\"").arg(name));
    const QRegularExpressionMatch match = pattern.match(tag);
    return match.hasMatch() ? unescapeHtml(match.captured(1)) : QString();
}
}

TestBrowser::TestBrowser(Choice choice) : m_choice(choice) {}

std::function<bool(const QUrl &)> TestBrowser::opener()
{
    return [this](const QUrl &url) {
        ++visits;
        authorizationUrl = url;
        finished = false;
        // As a browser does: the program goes on waiting meanwhile.
        QMetaObject::invokeMethod(this, [this, url] { visit(url); }, Qt::QueuedConnection);
        return true;
    };
}

void TestBrowser::visit(const QUrl &url)
{
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        reply->deleteLater();
        pageStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray page = reply->readAll();
        if (pageStatus != 200) {
            problem = QStringLiteral("the authorization page answered %1").arg(pageStatus);
            finished = true;
            return;
        }
        if (m_choice == StayAway) {
            finished = true;
            return;
        }
        submit(url, page);
    });
}

void TestBrowser::submit(const QUrl &pageUrl, const QByteArray &page)
{
    const QString html = QString::fromUtf8(page);
    const QRegularExpression formPattern(QStringLiteral("<form\\b([^>]*)>(.*?)</form>"),
                                         QRegularExpression::DotMatchesEverythingOption
                                             | QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch form = formPattern.match(html);
    if (!form.hasMatch()) {
        problem = QStringLiteral("the authorization page has no form");
        finished = true;
        return;
    }
    // Hidden fields as they stand, then the button pressed.
    QUrlQuery fields;
    const QRegularExpression inputPattern(QStringLiteral("<input\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
    for (auto it = inputPattern.globalMatch(form.captured(2)); it.hasNext();) {
        const QString tag = it.next().captured(0);
        if (attribute(tag, QStringLiteral("type")).compare(QLatin1String("hidden"), Qt::CaseInsensitive) == 0)
            fields.addQueryItem(attribute(tag, QStringLiteral("name")), attribute(tag, QStringLiteral("value")));
    }
    const QString wanted = m_choice == Allow ? QStringLiteral("allow") : QStringLiteral("deny");
    const QRegularExpression buttonPattern(QStringLiteral("<button\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
    bool pressed = false;
    for (auto it = buttonPattern.globalMatch(form.captured(2)); it.hasNext();) {
        const QString tag = it.next().captured(0);
        if (attribute(tag, QStringLiteral("value")) == wanted) {
            fields.addQueryItem(attribute(tag, QStringLiteral("name")), wanted);
            pressed = true;
        }
    }
    if (!pressed) {
        problem = QStringLiteral("the authorization page has no button ") + wanted;
        finished = true;
        return;
    }
    QNetworkRequest request(pageUrl.resolved(QUrl(attribute(form.captured(1), QStringLiteral("action")))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = m_network.post(request, fields.toString(QUrl::FullyEncoded).toUtf8());
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QByteArray location = reply->rawHeader("Location");
        if (location.isEmpty()) {
            problem = QStringLiteral("no redirect after the form");
            finished = true;
            return;
        }
        follow(reply->url().resolved(QUrl::fromEncoded(location)));
    });
}

void TestBrowser::follow(QUrl location)
{
    if (tamper)
        location = tamper(location);
    redirect = location;
    QNetworkReply *reply = m_network.get(QNetworkRequest(location));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        callbackStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        callbackPage = reply->readAll();
        finished = true;
    });
}

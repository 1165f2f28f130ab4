#pragma once
#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>
#include <functional>

// Plays the user's browser on the service's authorization page: opens the
// page, presses Allow or Deny in its form, and follows the service's redirect
// back to the program, all over HTTP while the program waits.
class TestBrowser final : public QObject
{
    Q_OBJECT

public:
    enum Choice { Allow, Deny, StayAway }; // StayAway: the page is opened and left alone

    explicit TestBrowser(Choice choice = Allow);

    // For CurrentTumblrService::setBrowserOpener: starts the visit, returns at once.
    std::function<bool(const QUrl &)> opener();

    // Changes the address the service redirects to before it is followed (a
    // forged or damaged answer).
    std::function<QUrl(const QUrl &)> tamper;

    int visits = 0;            // authorization pages opened
    QUrl authorizationUrl;     // the last one
    int pageStatus = 0;
    QUrl redirect;             // where the service sent the browser
    int callbackStatus = 0;    // the program's answer to the redirect
    QByteArray callbackPage;
    bool finished = false;     // the visit went all the way (or failed on the way)
    QString problem;           // why it stopped early

private:
    void visit(const QUrl &url);
    void submit(const QUrl &pageUrl, const QByteArray &page);
    void follow(QUrl location);

    Choice m_choice;
    QNetworkAccessManager m_network;
};

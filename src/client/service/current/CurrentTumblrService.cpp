#include "client/service/current/CurrentTumblrService.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QEventLoop>
#include <QJsonDocument>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>

#include "client/login/SecretStore.h"
#include "client/login/SettingsStore.h"
#include "client/net/BackOff.h"
#include "client/net/HTTPProxySettings.h"
#include "client/net/HTTPRequest.h"
#include "client/app/modCommon.h"
#include "client/app/modSupport.h"
#include "client/login/SettingKeys.h"
#include "client/posts/PostDate.h"
#include "client/service/current/LoopbackReceiver.h"

namespace {
const QString IncorrectResponse = QStringLiteral("Incorrect response received from server.");
const QString ApplicationKeyName = QStringLiteral("application key");
const QString TokenPath = QStringLiteral("/v2/oauth2/token");
const QString SignInEnded = QStringLiteral("The sign-in has ended: sign in again with \"Get\" in the login window.");

QString tokensKey(const QString &account) { return QStringLiteral("tokens of ") + account.trimmed().toLower(); }

QString withScheme(const QString &host)
{
    const QString trimmed = host.trimmed();
    if (trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return trimmed;
    // Plain HTTP only to this machine (a simulator); the tokens go over TLS elsewhere.
    const HostTarget target = HostTarget::parse(trimmed);
    return (target.tls ? QStringLiteral("https://") : QStringLiteral("http://")) + trimmed;
}

// 128 bits from the system's generator, base64url without padding: the
// sign-in's state and the PKCE verifier.
QString randomToken(int bytes)
{
    QByteArray random(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return QString::fromLatin1(random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The flow sets a User-Agent of its own on the code exchange: the service
// wants one that never varies, so every request of the flow gets the program's.
class ConstantAgentManager final : public QNetworkAccessManager
{
protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *data) override
    {
        QNetworkRequest withAgent(request);
        withAgent.setRawHeader("User-Agent", HTTPRequest::AgentName().toUtf8());
        return QNetworkAccessManager::createRequest(operation, withAgent, data);
    }
};

}

CurrentTumblrService::CurrentTumblrService(const SettingsStore &settings, SecretStore &secrets,
                                           const QString &serviceHost)
    : m_settings(settings), m_secrets(secrets)
{
    if (serviceHost.trimmed().isEmpty()) {
        m_apiHost = QString::fromLatin1(DefaultApiHost);
        m_authorizationHost = QString::fromLatin1(DefaultAuthorizationHost);
    } else {
        m_apiHost = m_authorizationHost = withScheme(serviceHost);
    }
    m_redirectPort = quint16(SettingKeys::number(settings, Setting::RedirectPort, ServiceInterface::Current));
    m_clock.start();
    m_openBrowser = [](const QUrl &url) { return QDesktopServices::openUrl(url); };
}

QString CurrentTumblrService::webHost() const
{
    if (!m_webHost.isEmpty())
        return m_webHost;
    return SettingKeys::trimmed(m_settings, Setting::WebHost, ServiceInterface::Current);
}

int CurrentTumblrService::writesPerMinute() const
{
    if (m_writesPerMinute >= 0)
        return m_writesPerMinute;
    return SettingKeys::number(m_settings, Setting::WritesPerMinute, ServiceInterface::Current);
}

QString CurrentTumblrService::redirectUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/callback").arg(m_redirectPort);
}

std::optional<CurrentTumblrService::AppKey> CurrentTumblrService::appKey() const
{
    if (!m_appKey) {
        const std::optional<QByteArray> stored = m_secrets.read(ApplicationKeyName);
        if (!stored)
            return std::nullopt;
        const QJsonObject object = QJsonDocument::fromJson(*stored).object();
        AppKey key{object.value(QLatin1String("client_id")).toString(),
                   object.value(QLatin1String("client_secret")).toString()};
        if (key.clientId.isEmpty() || key.secret.isEmpty())
            return std::nullopt;
        m_appKey = key;
    }
    return m_appKey;
}

bool CurrentTumblrService::needsApplicationKey() const { return !appKey(); }

bool CurrentTumblrService::setApplicationKey(const QString &clientId, const QString &secret, QString *error)
{
    const AppKey key{clientId.trimmed(), secret.trimmed()};
    if (key.clientId.isEmpty() || key.secret.isEmpty()) {
        if (error)
            *error = QStringLiteral("Both the consumer key and the secret are needed.");
        return false;
    }
    const QJsonObject object{{QStringLiteral("client_id"), key.clientId}, {QStringLiteral("client_secret"), key.secret}};
    if (!m_secrets.write(ApplicationKeyName, QJsonDocument(object).toJson(QJsonDocument::Compact), error))
        return false;
    m_appKey = key;
    return true;
}

CurrentTumblrService::Tokens CurrentTumblrService::tokens(const QString &account)
{
    const QString key = tokensKey(account);
    if (!m_tokens.contains(key)) {
        Tokens tokens;
        if (const std::optional<QByteArray> stored = m_secrets.read(key)) {
            const QJsonObject object = QJsonDocument::fromJson(*stored).object();
            tokens.access = object.value(QLatin1String("access_token")).toString();
            tokens.refresh = object.value(QLatin1String("refresh_token")).toString();
            tokens.expiresAt = QDateTime::fromString(object.value(QLatin1String("expires_at")).toString(), Qt::ISODate);
        }
        m_tokens.insert(key, tokens);
    }
    return m_tokens.value(key);
}

bool CurrentTumblrService::keepTokens(const QString &account, const Tokens &tokens, QString *error)
{
    const QString key = tokensKey(account);
    m_tokens.insert(key, tokens);
    const QJsonObject object{{QStringLiteral("access_token"), tokens.access},
                             {QStringLiteral("refresh_token"), tokens.refresh},
                             {QStringLiteral("expires_at"), tokens.expiresAt.toUTC().toString(Qt::ISODate)}};
    return m_secrets.write(key, QJsonDocument(object).toJson(QJsonDocument::Compact), error);
}

ServiceResult CurrentTumblrService::refresh(const QString &account, IHTTPRequestCallback *callback)
{
    const Tokens held = tokens(account);
    const std::optional<AppKey> key = appKey();
    if (held.refresh.isEmpty() || !key)
        return ServiceResult::failure(ServiceResult::Refused, {}, SignInEnded);

    HTTPRequestData data;
    data.host = m_apiHost;
    data.path = TokenPath;
    data.agent = HTTPRequest::AgentName();
    data.callback = callback;
    data.fields.AddField(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    data.fields.AddField(QStringLiteral("refresh_token"), held.refresh);
    data.fields.AddField(QStringLiteral("client_id"), key->clientId);
    data.fields.AddField(QStringLiteral("client_secret"), key->secret);
    HTTPRequest request;
    request.setProxy(HTTPProxySettings::Loaded(m_settings));
    int repeats = 0;
    bool stopped = false;
    const HTTPResult answer = BackOff::Send(request, data, callback, repeats, stopped);
    ServiceResult mapped = ServiceResult::fromAnswer(answer, stopped, {200}, JsonReader::RefusalText);
    if (mapped.outcome == ServiceResult::Refused) {
        mapped.serverMessage = SignInEnded + QStringLiteral(" (") + mapped.serverMessage + u')';
        return mapped;
    }
    if (!mapped.accepted())
        return mapped;
    const QJsonObject object = QJsonDocument::fromJson(answer.body).object();
    Tokens renewed;
    renewed.access = object.value(QLatin1String("access_token")).toString();
    // The old refresh token stops working: keep the new one at once.
    renewed.refresh = object.value(QLatin1String("refresh_token")).toString(held.refresh);
    const int lifetime = object.value(QLatin1String("expires_in")).toInt(2520);
    renewed.expiresAt = QDateTime::currentDateTimeUtc().addSecs(lifetime);
    if (renewed.access.isEmpty())
        return ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse);
    QString error;
    if (!keepTokens(account, renewed, &error))
        return ServiceResult::failure(ServiceResult::Failed, QStringLiteral("Can't keep the new sign-in: ") + error);
    return {};
}

ServiceResult CurrentTumblrService::authorizeInBrowser(const QString &account, IHTTPRequestCallback *callback)
{
    const std::optional<AppKey> key = appKey();
    if (!key)
        return ServiceResult::failure(ServiceResult::Refused, {}, QStringLiteral("No application key was entered."));

    LoopbackReceiver receiver(m_redirectPort, redirectUrl());
    if (!receiver.isListening())
        return ServiceResult::failure(ServiceResult::Failed,
                       QStringLiteral("Can't wait for the browser's answer on 127.0.0.1:%1: the port is taken "
                                      "(is another copy signing in?).")
                           .arg(m_redirectPort));

    ConstantAgentManager network;
    network.setProxy(HTTPProxySettings::Loaded(m_settings).toNetworkProxy());
    // The code exchange carries the client secret and the code: it goes nowhere else.
    network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QOAuth2AuthorizationCodeFlow flow(&network);
    // Qt's own state is short and from a clock-seeded generator.
    const QString state = randomToken(16);
    flow.setState(state);
    receiver.setExpectedState(state);
    // PKCE (RFC 7636, S256): a code caught on its way back is of no use
    // without the verifier, which never leaves this process. A server that
    // does not know the parameters ignores them (RFC 6749 section 3.1).
    const QString verifier = randomToken(32);
    const QString challenge = QString::fromLatin1(
        QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    flow.setModifyParametersFunction([verifier, challenge](QAbstractOAuth::Stage stage,
                                                           QMultiMap<QString, QVariant> *parameters) {
        if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
            parameters->replace(QStringLiteral("code_challenge"), challenge);
            parameters->replace(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
        } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
            parameters->replace(QStringLiteral("code_verifier"), verifier);
        }
    });
    flow.setAuthorizationUrl(QUrl(m_authorizationHost + QStringLiteral("/oauth2/authorize")));
    flow.setAccessTokenUrl(QUrl(m_apiHost + TokenPath));
    flow.setClientIdentifier(key->clientId);
    flow.setClientIdentifierSharedKey(key->secret);
    flow.setScope(QStringLiteral("basic write offline_access"));
    flow.setUserAgent(HTTPRequest::AgentName());

    QEventLoop loop;
    ServiceResult outcome;
    bool done = false;
    const auto finish = [&](const ServiceResult &result) {
        if (done)
            return;
        done = true;
        outcome = result;
        loop.quit();
    };
    QString sentState;

    // Only the answer with this sign-in's state comes here (the receiver
    // ignores any other), its values decoded. Checked before the flow sees
    // it: the flow drops a bad one without a word.
    QObject::connect(&receiver, &QAbstractOAuthReplyHandler::callbackReceived, &loop, [&](const QVariantMap &values) {
        const QString error = values.value(QStringLiteral("error")).toString();
        const QString state = values.value(QStringLiteral("state")).toString();
        if (error == QLatin1String("access_denied"))
            finish(ServiceResult::failure(ServiceResult::Refused, {}, QStringLiteral("The authorization was denied in the browser.")));
        else if (!error.isEmpty())
            finish(ServiceResult::failure(ServiceResult::Refused, {},
                           QStringLiteral("The browser came back with the error ") + error + u' '
                               + values.value(QStringLiteral("error_description")).toString()));
        else if (state.isEmpty() || state != sentState)
            finish(ServiceResult::failure(ServiceResult::Refused, {},
                           QStringLiteral("The browser came back with an answer this sign-in did not ask for "
                                          "(its state does not match); nothing was accepted.")));
        else if (values.value(QStringLiteral("code")).toString().isEmpty())
            finish(ServiceResult::failure(ServiceResult::Refused, {},
                           QStringLiteral("The browser came back without an authorization code.")));
    });
    flow.setReplyHandler(&receiver);
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, &loop, [&](const QUrl &url) {
        sentState = QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
        if (!m_openBrowser(url))
            finish(ServiceResult::failure(ServiceResult::Failed, QStringLiteral("Can't open the browser at ") + url.toString()));
    });
    QObject::connect(&flow, &QAbstractOAuth::granted, &loop, [&] { finish({}); });
    QObject::connect(&flow, &QAbstractOAuth2::error, &loop,
                     [&](const QString &error, const QString &description, const QUrl &) {
                         finish(ServiceResult::failure(ServiceResult::Refused, {}, error + u' ' + description));
                     });
    // The flow also drops a refused or tokenless token answer without a word:
    // once it has seen the answer and not granted, say what came.
    const QUrl tokenUrl = flow.accessTokenUrl();
    QObject::connect(&network, &QNetworkAccessManager::finished, &loop, [&](QNetworkReply *reply) {
        if (reply->url().path() != tokenUrl.path())
            return;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->peek(reply->bytesAvailable());
        const QString reason = reply->error() != QNetworkReply::NoError && status == 0 ? reply->errorString()
                                                                                        : QString();
        QTimer::singleShot(0, &loop, [&, status, body, reason] {
            if (done || flow.status() == QAbstractOAuth::Status::Granted)
                return;
            if (!reason.isEmpty())
                finish(ServiceResult::failure(ServiceResult::Failed, reason));
            else if (status != 200)
                finish(ServiceResult::failure(ServiceResult::Refused, QStringLiteral("HTTP %1").arg(status),
                               JsonReader::RefusalText(body)));
            else
                finish(ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse));
        });
    });

    // The user may stop the wait; the browser may never come back.
    QElapsedTimer waited;
    waited.start();
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        bool cancel = false;
        if (callback) {
            bool removeBlock = false;
            callback->BlockReceived({}, removeBlock, 0, -1, cancel);
        }
        if (cancel)
            finish(ServiceResult::failure(ServiceResult::Stopped, QStringLiteral("The sign-in in the browser was stopped.")));
        else if (waited.elapsed() > qint64(m_browserWaitSeconds) * 1000)
            finish(ServiceResult::failure(ServiceResult::Failed,
                           QStringLiteral("The browser did not come back within %1 minutes.")
                               .arg(m_browserWaitSeconds / 60)));
    });
    poll.start();
    flow.grant();
    if (!done)
        loop.exec();
    poll.stop();
    if (!outcome.accepted())
        return outcome;

    Tokens received;
    received.access = flow.token();
    received.refresh = flow.refreshToken();
    received.expiresAt = flow.expirationAt().isValid() ? flow.expirationAt().toUTC()
                                                       : QDateTime::currentDateTimeUtc().addSecs(2520);
    QString error;
    if (!keepTokens(account, received, &error))
        return ServiceResult::failure(ServiceResult::Failed, QStringLiteral("Can't keep the sign-in: ") + error);
    return {};
}

CurrentTumblrService::ApiAnswer CurrentTumblrService::call(const QString &account, const QString &pathAndQuery,
                                                           IHTTPRequestCallback *callback)
{
    Call request;
    request.pathAndQuery = pathAndQuery;
    return call(account, request, callback);
}

CurrentTumblrService::ApiAnswer CurrentTumblrService::call(const QString &account, const Call &call,
                                                           IHTTPRequestCallback *callback)
{
    ApiAnswer result;
    const auto fail = [&result](const ServiceResult &why) {
        static_cast<ServiceResult &>(result) = why;
        return result;
    };
    Tokens held = tokens(account);
    bool refreshed = false;
    // An access token about to run out is renewed first.
    if (held.access.isEmpty() || !held.expiresAt.isValid()
        || held.expiresAt <= QDateTime::currentDateTimeUtc().addSecs(30)) {
        const ServiceResult renewed = refresh(account, callback);
        if (!renewed.accepted())
            return fail(renewed);
        refreshed = true;
        held = tokens(account);
    }

    HTTPRequest request;
    request.setProxy(HTTPProxySettings::Loaded(m_settings));
    for (;;) {
        // No call the service's windows have no room for.
        const ServiceResult room = ensureBudget(1, callback);
        if (!room.accepted())
            return fail(room);
        HTTPRequestData data;
        data.host = m_apiHost;
        data.method = call.method;
        data.path = call.pathAndQuery;
        data.fields = call.form;
        data.agent = HTTPRequest::AgentName();
        data.callback = callback;
        data.extraHeaders = "Authorization: Bearer " + held.access.toUtf8() + "\r\n";
        if (!call.json.isEmpty()) {
            data.body = call.json;
            data.extraHeaders += "Content-Type: application/json\r\n";
        }
        int repeats = call.replay ? 0 : BackOff::MaxRepeats;
        bool stopped = false;
        const HTTPResult answer = BackOff::Send(request, data, callback, repeats, stopped);
        noteLimits(answer);
        result.http = answer;
        if (answer.status == 401 && !refreshed && !stopped) {
            // Expired or revoked: renew once and ask again.
            const ServiceResult renewed = refresh(account, callback);
            if (!renewed.accepted())
                return fail(renewed);
            refreshed = true;
            held = tokens(account);
            continue;
        }
        const ServiceResult mapped = ServiceResult::fromAnswer(answer, stopped, {200, 201}, JsonReader::RefusalText);
        if (!mapped.accepted())
            return fail(mapped);
        static_cast<ServiceResult &>(result) = mapped;
        std::optional<JsonReader::Envelope> envelope = JsonReader::ParseEnvelope(answer.body);
        if (!envelope)
            return fail(ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse));
        result.envelope = std::move(*envelope);
        result.body = answer.body;
        result.outcome = ServiceResult::Accepted;
        return result;
    }
}

void CurrentTumblrService::noteLimits(const HTTPResult &answer)
{
    const auto remaining = [&answer](const QByteArray &name) -> std::optional<int> {
        for (const auto &[header, value] : answer.headers) {
            bool ok = false;
            const int left = value.trimmed().toInt(&ok);
            if (header.compare(name, Qt::CaseInsensitive) == 0 && ok)
                return left;
        }
        return std::nullopt;
    };
    if (const std::optional<int> hour = remaining("X-Ratelimit-Perhour-Remaining"))
        m_hourLeft = hour;
    if (const std::optional<int> day = remaining("X-Ratelimit-Perday-Remaining"))
        m_dayLeft = day;
    if (const std::optional<int> limit = remaining("X-Ratelimit-Perhour-Limit"))
        m_hourLimit = limit;
    if (const std::optional<int> limit = remaining("X-Ratelimit-Perday-Limit"))
        m_dayLimit = limit;
    if (const std::optional<int> reset = remaining("X-Ratelimit-Perhour-Reset"); reset && *reset >= 0)
        m_hourResetAtMs = nowMs() + qint64(*reset) * 1000;
    if (const std::optional<int> reset = remaining("X-Ratelimit-Perday-Reset"); reset && *reset >= 0)
        m_dayResetAtMs = nowMs() + qint64(*reset) * 1000;
}

CallBudget CurrentTumblrService::budget() const
{
    const auto secondsTo = [this](const std::optional<qint64> &at) -> std::optional<int> {
        if (!at)
            return std::nullopt;
        return int(std::max<qint64>(0, (*at - nowMs() + 999) / 1000));
    };
    return {m_hourLeft, m_dayLeft, m_hourLimit, m_dayLimit, secondsTo(m_hourResetAtMs), secondsTo(m_dayResetAtMs)};
}

ServiceResult CurrentTumblrService::ensureBudget(int calls, IHTTPRequestCallback *callback)
{
    for (;;) {
        const bool day = m_dayLeft && *m_dayLeft < calls;
        const bool hour = m_hourLeft && *m_hourLeft < calls;
        if (!day && !hour)
            return {};
        const std::optional<qint64> resetAt = day ? m_dayResetAtMs : m_hourResetAtMs;
        if (!resetAt)
            return ServiceResult::failure(ServiceResult::Refused, {},
                                          QStringLiteral("The service allows no more calls %1, and did not say when it will again.")
                                              .arg(day ? QStringLiteral("today") : QStringLiteral("this hour")));
        // Waited out to the second the service named, then learnt afresh from the next answer.
        const int seconds = int(std::max<qint64>(1, (*resetAt - nowMs() + 999) / 1000));
        if (!BackOff::WaitForBudget(seconds, day, callback))
            return ServiceResult::failure(ServiceResult::Stopped, QStringLiteral("Stopped."));
        (day ? m_dayLeft : m_hourLeft).reset();
        (day ? m_dayResetAtMs : m_hourResetAtMs).reset();
    }
}

bool CurrentTumblrService::verifiesWrites() const
{
    if (m_verify)
        return *m_verify;
    return SettingKeys::flag(m_settings, Setting::VerifyWrites, ServiceInterface::Current);
}

ServiceCapabilities CurrentTumblrService::capabilities() const
{
    ServiceCapabilities capabilities;
    capabilities.interface = ServiceInterface::Current;
    capabilities.usesPassword = false;
    capabilities.usesApplicationKey = true;
    capabilities.verifiesWrites = verifiesWrites();
    capabilities.postsPerRead = PostsPerRequest;
    capabilities.callsPerWrite = CallsPerWrite;
    capabilities.writesPerMinute = writesPerMinute();
    capabilities.webHost = webHost();
    if (HostTarget::parse(m_apiHost).inClear())
        capabilities.inClearHost = m_apiHost;
    capabilities.tagRules = TagRules::current();
    return capabilities;
}

QString CurrentTumblrService::editorAddress(const QString &blog, const PostRow &post) const
{
    QString host = webHost();
    if (!host.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !host.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        host = (host.startsWith(QLatin1String("127.")) || host.startsWith(QLatin1String("localhost"))
                    ? QStringLiteral("http://")
                    : QStringLiteral("https://"))
               + host;
    return host + QStringLiteral("/edit/") + QString::fromLatin1(QUrl::toPercentEncoding(blog)) + u'/'
           + QString::fromLatin1(QUrl::toPercentEncoding(post.id));
}

QString CurrentTumblrService::blogPath(const QString &blog)
{
    return QStringLiteral("/v2/blog/") + QString::fromLatin1(QUrl::toPercentEncoding(blog));
}

SignInResult CurrentTumblrService::signIn(const QString &email, const QString &password,
                                          IHTTPRequestCallback *callback)
{
    Q_UNUSED(password) // the browser signs in
    SignInResult result;
    const auto asResult = [&result](const ServiceResult &why) {
        static_cast<ServiceResult &>(result) = why;
        return result;
    };

    // A saved sign-in first; the browser when there is none or it was refused.
    bool browserUsed = false;
    if (tokens(email).refresh.isEmpty()) {
        const ServiceResult authorized = authorizeInBrowser(email, callback);
        if (!authorized.accepted())
            return asResult(authorized);
        browserUsed = true;
    }
    ApiAnswer info = call(email, QStringLiteral("/v2/user/info"), callback);
    if (info.outcome == ServiceResult::Refused && !browserUsed && (info.status == 0 || info.status == 400 || info.status == 401)) {
        const ServiceResult authorized = authorizeInBrowser(email, callback);
        if (!authorized.accepted())
            return asResult(authorized);
        info = call(email, QStringLiteral("/v2/user/info"), callback);
    }
    if (!info.accepted())
        return asResult(info);
    const std::optional<QString> list = JsonReader::BlogList(info.envelope.response);
    if (!list)
        return asResult(ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse));
    result.outcome = ServiceResult::Accepted;
    if (!list->isEmpty())
        result.blogList = *list;
    return result;
}

CurrentTumblrService::ApiAnswer CurrentTumblrService::readPhotoPosts(const PageRequest &request,
                                                                     IHTTPRequestCallback *callback)
{
    const qint64 limit = qBound(qint64(1), qint64(request.count), qint64(PostsPerRequest));
    ApiAnswer answer =
        call(request.account.email,
             blogPath(request.account.groupName)
                 + QStringLiteral("/posts/photo?npf=true&limit=%1&offset=%2").arg(limit).arg(request.start),
             callback);
    // A refused read is one to retry, as on the designed interface.
    if (answer.outcome == ServiceResult::Refused)
        answer.outcome = ServiceResult::Failed;
    return answer;
}

PageResult CurrentTumblrService::readPage(const PageRequest &request, IHTTPRequestCallback *callback)
{
    const ApiAnswer answer = readPhotoPosts(request, callback);
    PageResult result;
    static_cast<ServiceResult &>(result) = answer;
    result.retry = request;
    if (!answer.accepted())
        return result;
    std::optional<JsonReader::PostsAnswer> posts = JsonReader::ReadPostsAnswer(answer.envelope.response);
    if (!posts) {
        result.outcome = ServiceResult::BadAnswer;
        result.errorText = IncorrectResponse;
        return result;
    }
    notePosts(answer.envelope.response.toObject().value(QLatin1String("posts")), Npf);
    result.posts = std::move(posts->posts);
    result.received = posts->received;
    result.withoutId = posts->withoutId;
    if (posts->received > 0 && posts->nextOffset)
        result.next = long(*posts->nextOffset);
    return result;
}

namespace {
// The post of a one-post answer, as parsed: the response itself, or the first of its posts.
QJsonObject postObject(const JsonReader::Envelope &envelope)
{
    const QJsonObject response = envelope.response.toObject();
    const QJsonValue posts = response.value(QLatin1String("posts"));
    return posts.isArray() ? posts.toArray().first().toObject() : response;
}

// The same post's bytes as they came, for sending it back.
QByteArray postText(const QByteArray &body)
{
    const std::optional<JsonReader::Span> response = JsonReader::MemberValue(body, QStringLiteral("response"));
    if (!response)
        return {};
    const QByteArray text = body.mid(response->begin, response->end - response->begin);
    // Wrapped as the posts route wraps posts: the first one, its bytes as they came.
    if (const std::optional<JsonReader::Span> posts = JsonReader::MemberValue(text, QStringLiteral("posts"))) {
        const QByteArray list = text.mid(posts->begin, posts->end - posts->begin);
        const std::optional<JsonReader::Span> first = JsonReader::FirstElement(list);
        return first ? list.mid(first->begin, first->end - first->begin) : QByteArray();
    }
    return text;
}

// The members whose values differ between two states of a post, tags and
// what the service changes by itself aside; `compared` counts the others.
QStringList changedMembers(const QJsonObject &before, const QJsonObject &after, int *compared = nullptr)
{
    const QStringList &skipped = CurrentTumblrService::UncomparedMembers();
    QStringList changed;
    int same = 0;
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (it.key() == QLatin1String("tags") || skipped.contains(it.key()))
            continue;
        if (after.value(it.key()) != it.value())
            changed << it.key();
        else
            ++same;
    }
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (it.key() != QLatin1String("tags") && !skipped.contains(it.key()) && !before.contains(it.key()))
            changed << it.key();
    }
    if (compared)
        *compared = same;
    return changed;
}
}

const QStringList &CurrentTumblrService::UncomparedMembers()
{
    // note_count: others' likes and reblogs change it at any time.
    static const QStringList members{QStringLiteral("note_count")};
    return members;
}

void CurrentTumblrService::notePosts(const QJsonValue &posts, Form form)
{
    const qint64 now = nowMs();
    for (const QJsonValue &entry : posts.toArray()) {
        const QJsonObject post = entry.toObject();
        const QString id = post.value(QLatin1String("id_string")).toString();
        if (id.isEmpty())
            continue;
        m_states[form].insert(id, PostState{post, {}, now});
        noteListed(id, post);
    }
}

void CurrentTumblrService::noteListed(const QString &postId, const QJsonObject &post)
{
    Listed seen;
    seen.blocks = post.value(QLatin1String("is_blocks_post_format")).toBool();
    if (post.value(QLatin1String("timestamp")).isDouble())
        seen.timestamp = qint64(post.value(QLatin1String("timestamp")).toDouble());
    const auto it = m_listed.constFind(postId);
    if (it != m_listed.constEnd() && it->blocks == seen.blocks && it->timestamp == seen.timestamp)
        return;
    m_listed.insert(postId, seen);
    m_timeline.reset();
}

const CurrentTumblrService::Timeline &CurrentTumblrService::timeline() const
{
    if (!m_timeline) {
        std::vector<std::pair<qint64, bool>> posts;
        posts.reserve(size_t(m_listed.size()));
        for (const Listed &listed : m_listed) {
            if (listed.timestamp)
                posts.emplace_back(*listed.timestamp, listed.blocks);
        }
        std::sort(posts.begin(), posts.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        Timeline built;
        int legacy = 0;
        for (const auto &[time, blocks] : posts) {
            built.times.push_back(time);
            built.legacyBefore.push_back(legacy);
            legacy += blocks ? 0 : 1;
            built.blocks += blocks ? 1 : 0;
        }
        built.legacyBefore.push_back(legacy);
        m_timeline = std::move(built);
    }
    return *m_timeline;
}

int CurrentTumblrService::postsBetween(Form form, qint64 newest, qint64 oldest) const
{
    const Timeline &line = timeline();
    const auto from = std::lower_bound(line.times.begin(), line.times.end(), newest, std::greater<>());
    const auto to = std::upper_bound(line.times.begin(), line.times.end(), oldest, std::greater<>());
    const qsizetype first = from - line.times.begin(), last = to - line.times.begin();
    if (last <= first)
        return 0;
    // The list read without npf holds the legacy posts alone.
    return form == Npf ? int(last - first) : line.legacyBefore[size_t(last)] - line.legacyBefore[size_t(first)];
}

CurrentTumblrService::ApiAnswer CurrentTumblrService::readWindow(const Account &account, Form form, qint64 timestamp,
                                                                 IHTTPRequestCallback *callback)
{
    // The post and the ones older than it, 20 at once: posts sharing its
    // time included, those newer left out, however many were added since.
    ApiAnswer answer = call(account.email,
                            blogPath(account.groupName)
                                + QStringLiteral("/posts/photo?%1limit=%2&before=%3")
                                      .arg(form == Npf ? QStringLiteral("npf=true&") : QString())
                                      .arg(PostsPerRequest)
                                      .arg(timestamp + 1),
                            callback);
    if (answer.accepted()) {
        const QJsonValue posts = answer.envelope.response.toObject().value(QLatin1String("posts"));
        if (!posts.isArray())
            return ApiAnswer{ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse), {}, {}, answer.http};
        notePosts(posts, form);
    }
    return answer;
}

CurrentTumblrService::ApiAnswer CurrentTumblrService::readOne(const Account &account, const QString &postId, Form form,
                                                              IHTTPRequestCallback *callback)
{
    ApiAnswer answer = call(account.email,
                            blogPath(account.groupName) + QStringLiteral("/posts/")
                                + QString::fromLatin1(QUrl::toPercentEncoding(postId))
                                + (form == Npf ? QStringLiteral("?post_format=npf") : QStringLiteral("?post_format=legacy")),
                            callback);
    if (answer.accepted()) {
        const QJsonObject post = postObject(answer.envelope);
        if (post.isEmpty() || !JsonReader::ReadPost(post))
            return ApiAnswer{ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse), {}, {}, answer.http};
        m_states[form].insert(postId, PostState{post, postText(answer.body), nowMs()});
        noteListed(postId, post);
    }
    return answer;
}

std::optional<CurrentTumblrService::PostState> CurrentTumblrService::freshState(const QString &postId, Form form,
                                                                                 qint64 since) const
{
    const auto it = m_states[form].constFind(postId);
    if (it == m_states[form].constEnd() || nowMs() - it->readAtMs > FreshMs || it->readAtMs < since)
        return std::nullopt;
    return *it;
}

std::optional<qint64> CurrentTumblrService::timestampOf(const PostRow &post) const
{
    const auto it = m_listed.constFind(post.id);
    if (it != m_listed.constEnd() && it->timestamp)
        return it->timestamp;
    const QDateTime date = PostDate::parse(post.date);
    return date.isValid() ? std::optional<qint64>(date.toSecsSinceEpoch()) : std::nullopt;
}

bool CurrentTumblrService::due(Form form, const PostRow *next) const
{
    const Pending *first = nullptr;
    int count = 0;
    for (const Pending &pending : m_pending) {
        if (pending.form != form)
            continue;
        ++count;
        if (!first)
            first = &pending;
    }
    if (!first)
        return false;
    // The first write of a run is read back at once; later ones share reads.
    if (!m_firstChecked || count >= PostsPerRequest - 1 || nowMs() - first->writtenAtMs >= CheckWithinMs)
        return true;
    if (!next)
        return false;
    const std::optional<qint64> newest = timestampOf(first->post);
    const std::optional<qint64> oldest = timestampOf(*next);
    return !newest || !oldest || postsBetween(form, *newest, *oldest) > PostsPerRequest;
}

ServiceResult CurrentTumblrService::beginRun(const Account &account, IHTTPRequestCallback *callback)
{
    m_pending.clear();
    m_states[Legacy].clear();
    m_states[Npf].clear();
    m_firstChecked = false;
    // The budget, from the headers of the account's limits.
    ApiAnswer limits = call(account.email, QStringLiteral("/v2/user/limits"), callback);
    if (limits.outcome == ServiceResult::Stopped)
        return limits;
    return {}; // a budget not learnt here is learnt from the next answer
}

double CurrentTumblrService::callsToWrite(const PostRow &post) const
{
    const auto it = m_listed.constFind(post.id);
    const bool blocks = it != m_listed.constEnd() && it->blocks;
    if (!verifiesWrites())
        return blocks ? 2.0 : 1.0 + 1.0 / PostsPerRequest;
    // The write, its share of the reads of the list and, for a post of the
    // new editor, the read of its own bytes.
    const Timeline &line = timeline();
    const double share = line.times.empty() ? 1.0 : double(line.blocks) / double(line.times.size());
    return blocks ? 2.0 + 1.0 / std::max(1.0, PostsPerRequest * share - 1) : 1.0 + 2.0 / PostsPerRequest;
}

PostResult CurrentTumblrService::readPost(const Account &account, const PostRow &post, IHTTPRequestCallback *callback)
{
    PostResult result;
    const auto asRow = [&result](const QJsonObject &object) {
        result.post = JsonReader::ReadPost(object);
        if (!result.post) {
            result.outcome = ServiceResult::BadAnswer;
            result.errorText = IncorrectResponse;
        }
        return result;
    };
    // As the list shows it, in the new post format; read with its neighbours.
    if (const std::optional<PostState> state = freshState(post.id, Npf))
        return asRow(state->post);
    const qint64 before = nowMs();
    if (const std::optional<qint64> timestamp = timestampOf(post)) {
        const ApiAnswer window = readWindow(account, Npf, *timestamp, callback);
        if (window.outcome == ServiceResult::Stopped)
            return PostResult{window, std::nullopt};
        if (const std::optional<PostState> state = freshState(post.id, Npf, before))
            return asRow(state->post);
    }
    const ApiAnswer answer = readOne(account, post.id, Npf, callback);
    static_cast<ServiceResult &>(result) = answer;
    if (answer.outcome == ServiceResult::Refused && answer.status == 404) {
        result.outcome = ServiceResult::Accepted; // no such post: none to give
        return result;
    }
    if (!answer.accepted())
        return result;
    return asRow(m_states[Npf].value(post.id).post);
}

WriteResult CurrentTumblrService::checkPending(const Account &account, Form form, const PostRow *alsoFor,
                                               IHTTPRequestCallback *callback)
{
    std::vector<Pending> checked;
    std::vector<Pending> kept;
    for (Pending &pending : m_pending)
        (pending.form == form ? checked : kept).push_back(std::move(pending));
    m_pending = std::move(kept);
    const PostRow *first = checked.empty() ? alsoFor : &checked.front().post;
    if (!first)
        return {};

    const auto unread = [&](const Pending &pending, const ServiceResult &why) {
        WriteResult failed = why;
        failed.outcome = why.outcome == ServiceResult::Stopped ? ServiceResult::Stopped : ServiceResult::BadAnswer;
        failed.errorText = QStringLiteral("Post %1 was written, but it could not be read back to check it: %2")
                               .arg(pending.post.id, why.errorText + u' ' + why.serverMessage);
        failed.earlierPostId = pending.post.id;
        // What was not read back stays due.
        m_pending.insert(m_pending.begin(), checked.begin(), checked.end());
        return failed;
    };

    const qint64 readFrom = nowMs();
    if (const std::optional<qint64> timestamp = timestampOf(*first)) {
        const ApiAnswer window = readWindow(account, form, *timestamp, callback);
        if (!window.accepted() && !checked.empty())
            return unread(checked.front(), window);
        if (!window.accepted())
            return window;
    }

    WriteResult result;
    QStringList problems;
    for (size_t i = 0; i < checked.size(); ++i) {
        const Pending &pending = checked[i];
        std::optional<PostState> state = freshState(pending.post.id, form, readFrom);
        if (!state) {
            // Not among its neighbours (posts sharing a time move between reads): read alone.
            const ApiAnswer alone = readOne(account, pending.post.id, form, callback);
            if (!alone.accepted()) {
                checked.erase(checked.begin(), checked.begin() + qsizetype(i));
                return unread(pending, alone);
            }
            state = m_states[form].value(pending.post.id);
        }
        // The tags must be the ones sent, everything else as it was.
        WriteCheck check;
        check.post = pending.post;
        check.tagsBefore = JsonReader::Tags(pending.basis);
        check.tagsAfter = JsonReader::Tags(state->post);
        check.changed = changedMembers(pending.basis, state->post, &check.membersCompared);
        QStringList differences;
        if (check.tagsAfter != pending.tags)
            differences << QStringLiteral("tags are \"%1\" instead of \"%2\"")
                               .arg(check.tagsAfter.join(QStringLiteral(", ")), pending.tags.join(QStringLiteral(", ")));
        if (!check.changed.isEmpty())
            differences << QStringLiteral("changed: ") + check.changed.join(QStringLiteral(", "));
        if (!m_firstChecked) {
            m_firstChecked = true;
            result.firstCheck = check;
        }
        if (!differences.isEmpty()) {
            if (result.earlierPostId.isEmpty())
                result.earlierPostId = pending.post.id;
            problems << QStringLiteral("Post %1 (%2 \"%3\") was written, but reading it back shows a difference: %4.")
                            .arg(pending.post.id, pending.post.date, pending.post.caption,
                                 differences.join(QStringLiteral("; ")));
        }
    }
    if (!problems.isEmpty()) {
        result.outcome = ServiceResult::BadAnswer;
        result.errorText = problems.join(QStringLiteral("\r\n")) + QStringLiteral(" The run stops here.");
    }
    return result;
}

WriteResult CurrentTumblrService::settleWrites(const Account &account, IHTTPRequestCallback *callback)
{
    for (const Form form : {Legacy, Npf}) {
        const WriteResult checked = checkPending(account, form, nullptr, callback);
        if (!checked.accepted())
            return checked;
    }
    return {};
}

WriteResult CurrentTumblrService::writePost(const Account &account, const PostRow &post, const QStringList &tags,
                                            IHTTPRequestCallback *callback)
{
    const QStringList &wanted = tags;
    const bool verify = verifiesWrites();
    if (!m_listed.contains(post.id)) {
        // Not listed by this run: its form decides the route, so ask.
        const ApiAnswer probe = readOne(account, post.id, Npf, callback);
        if (probe.outcome == ServiceResult::Refused && probe.status == 404)
            return ServiceResult::failure(ServiceResult::Refused, probe.errorText,
                                          QStringLiteral("The post is no longer on the blog."));
        if (!probe.accepted())
            return probe;
    }
    const Form form = m_listed.value(post.id).blocks ? Npf : Legacy;
    int repeats = 0;
    for (;;) {
        // Room for this post's calls before its state is read: a wait for
        // the budget never comes between the read and the write.
        const ServiceResult room = ensureBudget(form == Npf ? 3 : 2, callback);
        if (!room.accepted())
            return room;
        // Writes whose read-back is due are checked first; a difference
        // stops the run before this post is sent.
        if (verify && due(form, &post)) {
            const WriteResult checked = checkPending(account, form, &post, callback);
            if (!checked.accepted())
                return checked;
        }

        // The state this write rests on, in the post's own form, fresh.
        std::optional<PostState> state = form == Legacy ? freshState(post.id, Legacy) : std::nullopt;
        if (!state && form == Legacy) {
            const WriteResult checked = checkPending(account, Legacy, &post, callback);
            if (!checked.accepted())
                return checked;
            state = freshState(post.id, Legacy);
        }
        if (!state) {
            const ApiAnswer alone = readOne(account, post.id, form, callback);
            if (alone.outcome == ServiceResult::Refused && alone.status == 404)
                return ServiceResult::failure(ServiceResult::Refused, alone.errorText,
                                              QStringLiteral("The post is no longer on the blog."));
            if (alone.outcome == ServiceResult::Refused && alone.status == 400 && form == Legacy) {
                return ServiceResult::refusal(
                    QStringLiteral("The post was made over in the new editor since it was listed; it was not written. "
                                   "\"Get posts\" lists it as it is now."));
            }
            if (!alone.accepted())
                return alone;
            state = m_states[form].value(post.id);
        }

        const QStringList tagsBefore = JsonReader::Tags(state->post);
        if (tagsBefore == wanted && tagsBefore != post.tags) {
            // Written already (the answer to an earlier attempt never came): nothing to send.
            WriteResult done;
            done.answerLine = QStringLiteral("(the post already had these tags: not written again)");
            return done;
        }
        if (TagRule::tagsChangedSinceListed(post.tags, wanted, tagsBefore)) {
            return ServiceResult::refusal(
                QStringLiteral("The post's tags changed since it was listed (now \"%1\"); it was not written. "
                               "\"Get posts\" lists it as it is now.")
                    .arg(tagsBefore.join(QStringLiteral(", "))));
        }
        // The write's own room, so that no wait comes between the check of its age and the write.
        if (const ServiceResult room = ensureBudget(1, callback); !room.accepted())
            return room;
        if (nowMs() - state->readAtMs > FreshMs) {
            m_states[form].remove(post.id); // grew old on the way (a token renewed slowly): read again
            continue;
        }

        Call write;
        write.replay = false; // after a wait, the post is read again first
        const QString id = QString::fromLatin1(QUrl::toPercentEncoding(post.id));
        if (form == Npf) {
            // Made in the new editor: the whole post goes back as received, tags alone changed.
            const QByteArray tagsJson =
                QJsonDocument(QJsonArray{wanted.join(u',')}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
            std::optional<QByteArray> body = JsonReader::ReplaceMember(state->text, QStringLiteral("tags"), tagsJson);
            if (!body) {
                // A post that came without tags gets the member, first.
                QByteArray added = state->text;
                const qsizetype open = added.indexOf('{');
                if (open < 0)
                    return ServiceResult::failure(ServiceResult::BadAnswer, IncorrectResponse);
                added.insert(open + 1, "\"tags\":" + tagsJson + ',');
                body = added;
            }
            write.method = QStringLiteral("PUT");
            write.pathAndQuery = blogPath(account.groupName) + QStringLiteral("/posts/") + id;
            write.json = *body;
        } else {
            // A legacy post: its id, its type (else the route makes it a text post) and the tags.
            write.method = QStringLiteral("POST");
            write.pathAndQuery = blogPath(account.groupName) + QStringLiteral("/post/edit");
            write.form.AddField(QStringLiteral("id"), post.id);
            write.form.AddField(QStringLiteral("type"), QStringLiteral("photo"));
            write.form.AddField(QStringLiteral("tags"), wanted.join(u','));
        }
        const Pending pending{post, wanted, state->post, form, 0};
        const ApiAnswer written = call(account.email, write, callback);
        if (BackOff::AsksToWait(written.http) && repeats < BackOff::MaxRepeats) {
            // Waited out, then the post is read again: an edit made on the web
            // meanwhile is not written over.
            if (!BackOff::Wait(BackOff::WaitSeconds(written.http, repeats), callback))
                return ServiceResult::failure(ServiceResult::Stopped, QStringLiteral("Stopped."));
            ++repeats;
            m_states[form].remove(post.id);
            continue;
        }
        if (!written.accepted())
            return written;
        // Its states before the write are no basis for anything any more.
        m_states[Legacy].remove(post.id);
        m_states[Npf].remove(post.id);
        WriteResult result = written;
        result.written = true;
        if (!verify)
            return result;
        m_pending.push_back(pending);
        m_pending.back().writtenAtMs = nowMs();
        if (!due(form, nullptr))
            return result;
        WriteResult checked = checkPending(account, form, nullptr, callback);
        if (checked.earlierPostId == post.id)
            checked.earlierPostId.clear(); // this very write was found changed: its own failure
        checked.written = true;
        checked.status = written.status;
        checked.answerLine = written.answerLine;
        return checked;
    }
}

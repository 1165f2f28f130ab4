#pragma once
#include <QByteArray>
#include <QString>

#include "client/service/ITumblrService.h"

class HTTPProxySettings;

// Signing in on the designed interface: /api/authenticate, and the blog list
// read from its answer.
namespace SignInRequest {

SignInResult Authenticate(const QString &serviceHost, const HTTPProxySettings &proxy, const QString &email,
                          const QString &password, IHTTPRequestCallback *callback);

// The blog list of an answer ("title | host" a line, CR LF between lines), or
// nothing when the answer holds invalid data.
std::optional<QString> ReadGroups(const QByteArray &answer);
}

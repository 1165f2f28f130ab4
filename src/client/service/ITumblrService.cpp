#include "client/service/ITumblrService.h"

bool ITumblrService::setApplicationKey(const QString &, const QString &, QString *) { return false; }

QString ITumblrService::editorAddress(const QString &, const PostRow &) const { return {}; }

ServiceResult ITumblrService::beginRun(const Account &, IHTTPRequestCallback *) { return {}; }

WriteResult ITumblrService::settleWrites(const Account &, IHTTPRequestCallback *) { return {}; }

double ITumblrService::callsToWrite(const PostRow &) const { return capabilities().callsPerWrite; }

#include "client/service/ITumblrService.h"

bool ITumblrService::setApplicationKey(const QString &, const QString &, QString *) { return false; }

QString ITumblrService::editorAddress(const QString &, const PostRow &) const { return {}; }

#pragma once
#include "client/service/Account.h"
#include "client/service/ITumblrService.h"

// A blog, an account and, where the sign-in takes one, a password: what any
// run needs before it sends anything.
inline bool accountComplete(const Account &account, const ServiceCapabilities &capabilities)
{
    return !account.groupName.isEmpty() && !account.email.isEmpty()
           && (!capabilities.usesPassword || !account.password.isEmpty());
}

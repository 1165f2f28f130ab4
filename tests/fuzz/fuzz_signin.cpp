// The sign-in answer: the blog list read from it.
#include "FuzzTarget.h"

#include "client/service/designed/SignInRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    (void)SignInRequest::ReadGroups(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}

// A caption's HTML turned into its text.
#include "FuzzTarget.h"

#include "client/app/modCommon.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    (void)modCommon::HTMLToText(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}

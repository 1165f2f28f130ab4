// A blog's journal as found on the disk: the runs read from it.
#include "FuzzTarget.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "client/runs/RunJournal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ensureApplication();
    static const QString path = QDir::temp().filePath(QStringLiteral("fuzz-journal-%1.jsonl").arg(QCoreApplication::applicationPid()));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const JournalContents contents = RunJournal::Read(path);
    (void)contents.problem();
    for (const JournalRun &run : contents.runs)
        (void)(run.written() + run.unknown());
    return 0;
}

#include "client/runs/RunJournal.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>
#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "client/app/PrivatePaths.h"
#include "client/posts/PostDate.h"
#include "client/posts/TagRules.h"

namespace {
QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject postObject(const PostRow &post)
{
    return {{QStringLiteral("id"), post.id},
            {QStringLiteral("date"), post.date},
            {QStringLiteral("caption"), post.caption},
            {QStringLiteral("rawCaption"), post.rawCaption},
            {QStringLiteral("tags"), QJsonArray::fromStringList(post.tags)},
            {QStringLiteral("format"), post.format},
            {QStringLiteral("slug"), post.slug},
            {QStringLiteral("clickThroughUrl"), post.clickThroughUrl},
            {QStringLiteral("postUrl"), post.postUrl}};
}

// Tags as a list; journals of earlier versions hold the designed tags text.
QStringList tagList(const QJsonValue &value)
{
    if (!value.isArray())
        return TagRule::TagList(value.toString());
    QStringList tags;
    for (const QJsonValue &tag : value.toArray())
        tags << tag.toString();
    return tags;
}

PostRow postRow(const QJsonObject &object)
{
    const auto text = [&object](const char *name) { return object.value(QLatin1String(name)).toString(); };
    PostRow post;
    post.id = text("id");
    post.date = text("date");
    post.caption = text("caption");
    post.rawCaption = text("rawCaption");
    post.tags = tagList(object.value(QLatin1String("tags")));
    post.format = text("format");
    post.slug = text("slug");
    post.clickThroughUrl = text("clickThroughUrl");
    post.postUrl = text("postUrl");
    return post;
}

// An intent put on the disk ahead of its write that was never sent: the run
// ended first.
constexpr auto NotSentOutcome = "not sent";

QString outcomeName(ServiceResult::Outcome outcome)
{
    switch (outcome) {
    case ServiceResult::Accepted: return QStringLiteral("accepted");
    case ServiceResult::Refused: return QStringLiteral("refused");
    case ServiceResult::Failed: return QStringLiteral("failed");
    case ServiceResult::Stopped: return QStringLiteral("stopped");
    case ServiceResult::BadAnswer:
    case ServiceResult::Unreadable: return QStringLiteral("bad answer");
    }
    return {};
}

JournalRun::Post::State stateOf(const QString &outcome)
{
    if (outcome == QLatin1String("accepted"))
        return JournalRun::Post::Written;
    if (outcome == QLatin1String("refused") || outcome == QLatin1String(NotSentOutcome))
        return JournalRun::Post::NotWritten;
    // A failed or stopped exchange may still have reached the service.
    return JournalRun::Post::Unknown;
}

bool g_diskSync = true;

bool syncToDisk(int handle)
{
    // The data and the file's size: all a reader needs after a crash.
    return handle >= 0 && (!g_diskSync || ::fdatasync(handle) == 0);
}

// A new file's name is only safe on the disk once its folder is.
void syncFolder(const QString &folder)
{
    const int handle = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) {
        ::fsync(handle);
        ::close(handle);
    }
}

// Every field a write record's post must have: undo writes each of them back.
const char *const PostFields[] = {"id", "date", "caption", "rawCaption", "format", "slug", "clickThroughUrl", "postUrl"};

bool completePost(const QJsonObject &post)
{
    for (const char *name : PostFields) {
        if (!post.value(QLatin1String(name)).isString())
            return false;
    }
    const QJsonValue tags = post.value(QLatin1String("tags"));
    return tags.isString() || tags.isArray();
}

// Reads the records into runs, by run id, in the order first seen.
class RunCollector
{
public:
    enum Verdict { Taken, Unknown, Refused };

    explicit RunCollector(const QString &blog) : m_blog(blog.trimmed().toLower()) {}

    Verdict add(const QJsonObject &record)
    {
        const QString type = record.value(QLatin1String("record")).toString();
        const QString runId = record.value(QLatin1String("run")).toString();
        if (runId.isEmpty())
            return Unknown;
        if (type == QLatin1String("write")) {
            const QJsonObject post = record.value(QLatin1String("post")).toObject();
            if (post.value(QLatin1String("id")).toString().isEmpty())
                return Unknown;
            // A damaged or made-up record would have undo write empty fields,
            // or another blog's post: it is left out, and said so.
            const QJsonValue tagsSent = record.value(QLatin1String("tagsSent"));
            if (!completePost(post) || !(tagsSent.isString() || tagsSent.isArray())
                || (!m_blog.isEmpty() && record.value(QLatin1String("blog")).toString().trimmed().toLower() != m_blog))
                return Refused;
            JournalRun &run = runOf(runId, record);
            JournalRun::Post &entry = postOf(run, post.value(QLatin1String("id")).toString());
            entry.before = postRow(post);
            entry.tagsSent = tagList(record.value(QLatin1String("tagsSent")));
            entry.state = JournalRun::Post::Unknown;
            return Taken;
        }
        if (type == QLatin1String("outcome")) {
            const auto run = m_runIndex.constFind(runId);
            const QString postId = record.value(QLatin1String("id")).toString();
            if (run == m_runIndex.cend())
                return Unknown;
            const auto post = m_postIndex[*run].constFind(postId);
            if (post == m_postIndex[*run].cend())
                return Unknown;
            m_runs[size_t(*run)].posts[size_t(*post)].state =
                stateOf(record.value(QLatin1String("outcome")).toString());
            return Taken;
        }
        if (type == QLatin1String("end")) {
            // A run whose writes were all refused (another blog's) has no entry: nothing to end.
            const auto run = m_runIndex.constFind(runId);
            if (run != m_runIndex.cend())
                m_runs[size_t(*run)].ended = record.value(QLatin1String("outcome")).toString();
            return Taken;
        }
        return Unknown;
    }

    std::vector<JournalRun> newestFirst()
    {
        std::vector<JournalRun> runs = std::move(m_runs);
        std::reverse(runs.begin(), runs.end());
        std::stable_sort(runs.begin(), runs.end(),
                         [](const JournalRun &a, const JournalRun &b) { return a.started > b.started; });
        return runs;
    }

private:
    JournalRun &runOf(const QString &runId, const QJsonObject &record)
    {
        const auto found = m_runIndex.constFind(runId);
        if (found != m_runIndex.cend())
            return m_runs[size_t(*found)];
        JournalRun run;
        run.id = runId;
        run.kind = record.value(QLatin1String("kind")).toString();
        run.started = QDateTime::fromString(record.value(QLatin1String("started")).toString(), Qt::ISODateWithMs);
        run.undoes = record.value(QLatin1String("undoes")).toString();
        m_runIndex.insert(runId, qsizetype(m_runs.size()));
        m_postIndex.push_back({});
        m_runs.push_back(std::move(run));
        return m_runs.back();
    }

    JournalRun::Post &postOf(JournalRun &run, const QString &postId)
    {
        QHash<QString, qsizetype> &index = m_postIndex[size_t(m_runIndex.value(run.id))];
        const auto found = index.constFind(postId);
        if (found != index.cend())
            return run.posts[size_t(*found)];
        index.insert(postId, qsizetype(run.posts.size()));
        run.posts.emplace_back();
        return run.posts.back();
    }

    QString m_blog;
    std::vector<JournalRun> m_runs;
    QHash<QString, qsizetype> m_runIndex;
    std::vector<QHash<QString, qsizetype>> m_postIndex; // per run: post id to its place
};
}

int JournalRun::written() const
{
    return int(std::count_if(posts.begin(), posts.end(), [](const Post &post) { return post.state == Post::Written; }));
}

int JournalRun::unknown() const
{
    return int(std::count_if(posts.begin(), posts.end(), [](const Post &post) { return post.state == Post::Unknown; }));
}

QDateTime JournalRun::newestPost() const
{
    QDateTime newest;
    for (const Post &post : posts) {
        const QDateTime time = PostDate::parse(post.before.date);
        if (time.isValid() && (!newest.isValid() || time > newest))
            newest = time;
    }
    return newest;
}

QString JournalContents::problem() const
{
    switch (status) {
    case Missing:
        return QStringLiteral("No run of this blog has been journaled yet.");
    case Unreadable:
        return QStringLiteral("The journal can't be read: ") + error;
    case Read:
        break;
    }
    if (lines == 0 && !cutOff)
        return QStringLiteral("The journal is empty.");
    if (lines > 0 && badLines == lines)
        return QStringLiteral("The journal is not one this program wrote: none of its %1 lines could be read.").arg(lines);
    QStringList parts;
    if (badLines > 0)
        parts << QStringLiteral("%1 of its %2 lines could not be read and were passed over").arg(badLines).arg(lines);
    if (refusedLines > 0)
        parts << QStringLiteral("%1 write records of its %2 lines were refused, lacking a field or naming another "
                                "blog; their posts are left as they are")
                     .arg(refusedLines)
                     .arg(lines);
    if (cutOff)
        parts << QStringLiteral("its last line is cut off (the program was stopped while writing it) and was passed over");
    return parts.isEmpty() ? QString() : QStringLiteral("The journal was read in part: ") + parts.join(QStringLiteral("; ")) + QLatin1Char('.');
}

QString RunJournal::defaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)).filePath(QStringLiteral("journal"));
}

QString RunJournal::filePath(const QString &folder, const QString &blog)
{
    // The blog's host, with what a file name can't hold ("127.0.0.1:8766") replaced.
    QString name;
    for (const QChar c : blog.trimmed().toLower()) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                           || c == QLatin1Char('.') || c == QLatin1Char('-');
        name += plain ? c : QLatin1Char('_');
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return QDir(folder).filePath(name + QStringLiteral(".jsonl"));
}

JournalContents RunJournal::Read(const QString &path, const QString &blog)
{
    JournalContents contents;
    QFile file(path);
    if (!file.exists()) {
        contents.status = JournalContents::Missing;
        return contents;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        contents.status = JournalContents::Unreadable;
        contents.error = file.errorString();
        return contents;
    }
    RunCollector collector(blog);
    qsizetype at = 0;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        contents.status = JournalContents::Unreadable;
        contents.error = file.errorString();
        return contents;
    }
    while (at < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0) {
            // A half-written last line: read up to it, and keep it.
            contents.cutOff = true;
            break;
        }
        const QByteArray line = bytes.sliced(at, end - at).trimmed();
        at = end + 1;
        if (line.isEmpty())
            continue;
        ++contents.lines;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            ++contents.badLines;
            continue;
        }
        switch (collector.add(document.object())) {
        case RunCollector::Taken:
            break;
        case RunCollector::Unknown:
            ++contents.badLines;
            break;
        case RunCollector::Refused:
            ++contents.refusedLines;
            break;
        }
    }
    contents.runs = collector.newestFirst();
    return contents;
}

void RunJournal::setDiskSyncForMeasuring(bool sync) { g_diskSync = sync; }

RunJournal::RunJournal(const QString &path, const QString &blog) : m_file(path), m_blog(blog) {}

RunJournal::~RunJournal()
{
    if (m_unsynced)
        syncToDisk(m_file.handle());
}

bool RunJournal::Begin(const QString &kind, const QString &undoes, QString &why)
{
    const QFileInfo info(m_file.fileName());
    if (!PrivatePaths::makeFolder(info.absolutePath())) {
        why = QStringLiteral("the folder %1 can't be made.").arg(QDir::toNativeSeparators(info.absolutePath()));
        return false;
    }
    const bool created = !info.exists();
    if (created && !m_file.isOpen()) {
        // Made 0600, never for a moment more open than that.
        const int handle = ::open(QFile::encodeName(m_file.fileName()).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, PrivatePaths::FileMode);
        if (handle >= 0)
            ::close(handle);
    }
    if (!m_file.isOpen() && !m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        why = m_file.errorString() + QLatin1Char('.');
        return false;
    }
    // The user's alone: a new file before its first byte, an older one narrowed.
    if (!PrivatePaths::narrowFile(m_file.handle())) {
        why = QStringLiteral("its permissions can't be set.");
        return false;
    }
    if (created)
        syncFolder(info.absolutePath());
    // After a half-written last line the next record starts on a line of its own.
    if (m_file.size() > 0) {
        char last = 0;
        if (!m_file.seek(m_file.size() - 1) || !m_file.getChar(&last)) {
            why = m_file.errorString() + QLatin1Char('.');
            return false;
        }
        if (last != '\n' && !append(QByteArray(), why))
            return false;
    }
    m_runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
    m_kind = kind;
    m_undoes = undoes;
    m_started = QDateTime::currentDateTimeUtc();
    m_wrote = false;
    return true;
}

bool RunJournal::RecordWrite(const PostRow &post, const QStringList &tagsSent, QString &why)
{
    return RecordWrites({{post, tagsSent}}, why);
}

bool RunJournal::RecordWrites(const std::vector<Intent> &writes, QString &why)
{
    QByteArray lines;
    const QString now = timeText(QDateTime::currentDateTimeUtc());
    for (const Intent &write : writes) {
        QJsonObject record{{QStringLiteral("record"), QStringLiteral("write")},
                           {QStringLiteral("run"), m_runId},
                           {QStringLiteral("kind"), m_kind},
                           {QStringLiteral("started"), timeText(m_started)},
                           {QStringLiteral("blog"), m_blog},
                           {QStringLiteral("time"), now},
                           {QStringLiteral("post"), postObject(write.post)},
                           {QStringLiteral("tagsSent"), QJsonArray::fromStringList(write.tagsSent)}};
        if (!m_undoes.isEmpty())
            record.insert(QStringLiteral("undoes"), m_undoes);
        if (!lines.isEmpty())
            lines += '\n';
        lines += QJsonDocument(record).toJson(QJsonDocument::Compact);
    }
    // One wait for the disk, for the outcomes before and every intent here.
    if (!append(lines, why))
        return false;
    m_wrote = m_wrote || !writes.empty();
    return true;
}

bool RunJournal::RecordNotSent(const QStringList &postIds, QString &why)
{
    QByteArray lines;
    const QString now = timeText(QDateTime::currentDateTimeUtc());
    for (const QString &id : postIds) {
        const QJsonObject record{{QStringLiteral("record"), QStringLiteral("outcome")},
                                 {QStringLiteral("run"), m_runId},
                                 {QStringLiteral("id"), id},
                                 {QStringLiteral("time"), now},
                                 {QStringLiteral("outcome"), QLatin1String(NotSentOutcome)}};
        if (!lines.isEmpty())
            lines += '\n';
        lines += QJsonDocument(record).toJson(QJsonDocument::Compact);
    }
    return lines.isEmpty() || append(lines, why);
}

bool RunJournal::RecordOutcome(const QString &postId, const ServiceResult &result, QString &why)
{
    QJsonObject record{{QStringLiteral("record"), QStringLiteral("outcome")},
                       {QStringLiteral("run"), m_runId},
                       {QStringLiteral("id"), postId},
                       {QStringLiteral("time"), timeText(QDateTime::currentDateTimeUtc())},
                       {QStringLiteral("outcome"), outcomeName(result.outcome)}};
    if (result.status != 0)
        record.insert(QStringLiteral("status"), result.status);
    if (result.status != 0 || !result.answerLine.isEmpty())
        record.insert(QStringLiteral("answer"), result.answerLine);
    if (!result.accepted() && !result.errorText.isEmpty())
        record.insert(QStringLiteral("failure"), result.errorText);
    // Handed to the system at once, so a killed program loses nothing; on the
    // disk with the next intents (or when the run ends).
    return append(QJsonDocument(record).toJson(QJsonDocument::Compact), why, false);
}

bool RunJournal::RecordEnd(const QString &outcome, QString &why)
{
    if (!m_wrote || !m_file.isOpen())
        return true;
    const QJsonObject record{{QStringLiteral("record"), QStringLiteral("end")},
                             {QStringLiteral("run"), m_runId},
                             {QStringLiteral("time"), timeText(QDateTime::currentDateTimeUtc())},
                             {QStringLiteral("outcome"), outcome}};
    return append(QJsonDocument(record).toJson(QJsonDocument::Compact), why);
}

bool RunJournal::append(const QByteArray &line, QString &why, bool sync)
{
    if (!m_file.isOpen()) {
        why = QStringLiteral("the journal is not open.");
        return false;
    }
    const QByteArray bytes = line + '\n';
    if (m_file.write(bytes) != bytes.size() || !m_file.flush()) {
        why = m_file.errorString() + QLatin1Char('.');
        return false;
    }
    m_unsynced = !sync;
    if (sync && !syncToDisk(m_file.handle())) {
        why = qt_error_string(errno) + QLatin1Char('.');
        return false;
    }
    return true;
}

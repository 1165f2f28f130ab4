#include "client/posts/PostDate.h"

#include <QTimeZone>

namespace PostDate {

QDateTime parse(const QString &text)
{
    QString plain = text.trimmed();
    for (const QLatin1String zone : {QLatin1String(" GMT"), QLatin1String(" UTC")}) {
        if (plain.endsWith(zone, Qt::CaseInsensitive))
            plain.chop(zone.size());
    }
    // Day and time apart, in UTC: read as local time a date could fall in a DST gap.
    const QDate day = QDate::fromString(plain.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime clock = QTime::fromString(plain.mid(11), QStringLiteral("HH:mm:ss"));
    if (day.isValid() && clock.isValid() && plain.size() == 19 && plain.at(10) == u' ')
        return QDateTime(day, clock, QTimeZone::utc());
    QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    if (!time.isValid())
        time = QDateTime::fromString(text.trimmed(), Qt::RFC2822Date);
    return time.isValid() ? time.toUTC() : QDateTime();
}
}

#pragma once
#include <QDateTime>
#include <QString>

// A post's date text as a time, for telling which of two posts is newer.
namespace PostDate {

// "2026-11-30 18:04:05 GMT" (both interfaces give it so), also without the
// zone (then UTC), in ISO 8601 or as an e-mail date; invalid when it is none.
QDateTime parse(const QString &text);
}

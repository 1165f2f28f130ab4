#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The simulator's own parser of application/x-www-form-urlencoded bodies.
namespace sim::form {

// '+' is a blank, %XX a byte; a broken escape is kept as it is. Values stay
// raw bytes so the log shows exactly what came over the wire.
QByteArray decode(const QByteArray &encoded);
// Fields in the order received; a piece without '=' is a field with an empty value.
QList<QPair<QString, QByteArray>> parse(const QByteArray &body);

}

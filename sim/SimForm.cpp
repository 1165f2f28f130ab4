#include "SimForm.h"

namespace sim::form {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}

QByteArray decode(const QByteArray &encoded)
{
    QByteArray out;
    out.reserve(encoded.size());
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char c = encoded.at(i);
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < encoded.size() && hexValue(encoded.at(i + 1)) >= 0
                   && hexValue(encoded.at(i + 2)) >= 0) {
            out += char(hexValue(encoded.at(i + 1)) * 16 + hexValue(encoded.at(i + 2)));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

QList<QPair<QString, QByteArray>> parse(const QByteArray &body)
{
    QList<QPair<QString, QByteArray>> fields;
    if (body.isEmpty())
        return fields;
    for (const QByteArray &piece : body.split('&')) {
        if (piece.isEmpty())
            continue;
        const qsizetype eq = piece.indexOf('=');
        const QByteArray name = eq < 0 ? piece : piece.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : piece.mid(eq + 1);
        fields.append({QString::fromUtf8(decode(name)), decode(value)});
    }
    return fields;
}

}

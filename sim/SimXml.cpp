#include "SimXml.h"

namespace sim::xml {

namespace {

bool allowedInXml(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

QString escape(const QString &value, bool inAttribute)
{
    QString out;
    out.reserve(value.size() + value.size() / 8);
    const qsizetype n = value.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = value.at(i);
        char32_t c = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < n && value.at(i + 1).isLowSurrogate()) {
            out += ch;
            out += value.at(++i);
            continue;
        }
        if (ch.isSurrogate() || !allowedInXml(c))
            continue; // a lone surrogate or a control character has no XML form at all
        switch (c) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '\r': out += QLatin1String("&#13;"); break;
        case '"':
            out += inAttribute ? QLatin1String("&quot;") : QLatin1String("\"");
            break;
        case '\t':
            out += inAttribute ? QLatin1String("&#9;") : QLatin1String("\t");
            break;
        case '\n':
            out += inAttribute ? QLatin1String("&#10;") : QLatin1String("\n");
            break;
        default: out += ch; break;
        }
    }
    return out;
}

}

QString text(const QString &value)
{
    return escape(value, false);
}

QString attribute(const QString &value)
{
    return escape(value, true);
}

}

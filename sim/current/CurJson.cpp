#include "CurJson.h"

namespace cursim {

namespace {

const Json nullJson;

// Nesting deeper than this is refused rather than risking the stack.
constexpr int maxDepth = 256;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The length of a JSON number at the start of `s`, or 0 when there is none.
qsizetype numberLength(const char *s, qsizetype n)
{
    qsizetype i = 0;
    if (i < n && s[i] == '-')
        ++i;
    if (i >= n || !isDigit(s[i]))
        return 0;
    if (s[i] == '0') {
        ++i;
    } else {
        while (i < n && isDigit(s[i]))
            ++i;
    }
    if (i < n && s[i] == '.') {
        ++i;
        if (i >= n || !isDigit(s[i]))
            return 0;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (i >= n || !isDigit(s[i]))
            return 0;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    return i;
}

void appendUtf8(QByteArray &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void writeString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    out += '"';
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text.at(i).unicode();
        char32_t cp = u;
        if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(u, text.at(i + 1).unicode());
            ++i;
        } else if (QChar::isSurrogate(u)) {
            cp = 0xFFFD; // not representable in UTF-8
        }
        switch (cp) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        default: break;
        }
        if (cp < 0x20 || cp == 0x7F) {
            out += "\\u00";
            out += hex[(cp >> 4) & 0xF];
            out += hex[cp & 0xF];
            continue;
        }
        appendUtf8(out, cp);
    }
    out += '"';
}

class Parser
{
public:
    explicit Parser(const QByteArray &text) : m_s(text.constData()), m_n(text.size()) {}

    std::optional<Json> run(QString *error)
    {
        skipBlanks();
        std::optional<Json> value = parseValue(0);
        if (value) {
            skipBlanks();
            if (m_i < m_n) {
                fail("unexpected text after the value");
                value.reset();
            }
        }
        if (!value && error)
            *error = QStringLiteral("offset %1: %2").arg(m_errorAt).arg(m_error);
        return value;
    }

private:
    std::nullopt_t fail(const char *reason)
    {
        if (m_error.isEmpty()) {
            m_error = QString::fromLatin1(reason);
            m_errorAt = m_i;
        }
        return std::nullopt;
    }

    void skipBlanks()
    {
        while (m_i < m_n && (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\n' || m_s[m_i] == '\r'))
            ++m_i;
    }

    bool take(const char *word)
    {
        const qsizetype len = qsizetype(qstrlen(word));
        if (m_n - m_i < len || qstrncmp(m_s + m_i, word, size_t(len)) != 0)
            return false;
        m_i += len;
        return true;
    }

    std::optional<Json> parseValue(int depth)
    {
        if (m_i >= m_n)
            return fail("a value is missing");
        switch (m_s[m_i]) {
        case '{': return parseObject(depth + 1);
        case '[': return parseArray(depth + 1);
        case '"': {
            std::optional<QString> s = parseString();
            if (!s)
                return std::nullopt;
            return Json(*s);
        }
        case 't': if (take("true")) return Json(true); break;
        case 'f': if (take("false")) return Json(false); break;
        case 'n': if (take("null")) return Json(); break;
        default: {
            const qsizetype len = numberLength(m_s + m_i, m_n - m_i);
            if (len == 0)
                break;
            // A digit right after the number is a leading zero ("01").
            if (m_i + len < m_n && isDigit(m_s[m_i + len]))
                return fail("a number with a leading zero");
            Json number = Json::number(QString::fromLatin1(m_s + m_i, len));
            m_i += len;
            return number;
        }
        }
        return fail("not a JSON value");
    }

    std::optional<Json> parseArray(int depth)
    {
        if (depth > maxDepth)
            return fail("nested too deeply");
        ++m_i; // '['
        Json array = Json::array();
        skipBlanks();
        if (m_i < m_n && m_s[m_i] == ']') {
            ++m_i;
            return array;
        }
        for (;;) {
            skipBlanks();
            std::optional<Json> item = parseValue(depth);
            if (!item)
                return std::nullopt;
            array.append(std::move(*item));
            skipBlanks();
            if (m_i >= m_n)
                return fail("an array is not closed");
            if (m_s[m_i] == ']') {
                ++m_i;
                return array;
            }
            if (m_s[m_i] != ',')
                return fail("',' or ']' expected");
            ++m_i;
        }
    }

    std::optional<Json> parseObject(int depth)
    {
        if (depth > maxDepth)
            return fail("nested too deeply");
        ++m_i; // '{'
        Json object = Json::object();
        skipBlanks();
        if (m_i < m_n && m_s[m_i] == '}') {
            ++m_i;
            return object;
        }
        for (;;) {
            skipBlanks();
            if (m_i >= m_n || m_s[m_i] != '"')
                return fail("a member name expected");
            const qsizetype keyAt = m_i;
            std::optional<QString> key = parseString();
            if (!key)
                return std::nullopt;
            if (object.contains(*key)) {
                m_i = keyAt;
                return fail("a member name repeated");
            }
            skipBlanks();
            if (m_i >= m_n || m_s[m_i] != ':')
                return fail("':' expected");
            ++m_i;
            skipBlanks();
            std::optional<Json> value = parseValue(depth);
            if (!value)
                return std::nullopt;
            object.insert(*key, std::move(*value));
            skipBlanks();
            if (m_i >= m_n)
                return fail("an object is not closed");
            if (m_s[m_i] == '}') {
                ++m_i;
                return object;
            }
            if (m_s[m_i] != ',')
                return fail("',' or '}' expected");
            ++m_i;
        }
    }

    std::optional<char32_t> hex4()
    {
        if (m_n - m_i < 4)
            return fail("a \\u escape is cut short");
        char32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_s[m_i + k];
            v <<= 4;
            if (isDigit(c))
                v |= char32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= char32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= char32_t(c - 'A' + 10);
            else
                return fail("a \\u escape needs four hex digits");
        }
        m_i += 4;
        return v;
    }

    // One UTF-8 sequence at m_i; refuses overlong forms, surrogates and
    // anything past U+10FFFF.
    std::optional<char32_t> utf8()
    {
        const auto b0 = uchar(m_s[m_i]);
        int len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            len = 2; cp = b0 & 0x1F; min = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            len = 3; cp = b0 & 0x0F; min = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            len = 4; cp = b0 & 0x07; min = 0x10000;
        } else {
            return fail("invalid UTF-8");
        }
        if (m_n - m_i < len)
            return fail("invalid UTF-8");
        for (int k = 1; k < len; ++k) {
            const auto b = uchar(m_s[m_i + k]);
            if ((b & 0xC0) != 0x80)
                return fail("invalid UTF-8");
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return fail("invalid UTF-8");
        m_i += len;
        return cp;
    }

    std::optional<QString> parseString()
    {
        ++m_i; // '"'
        QString out;
        for (;;) {
            if (m_i >= m_n)
                return fail("a string is not closed");
            const auto c = uchar(m_s[m_i]);
            if (c == '"') {
                ++m_i;
                return out;
            }
            if (c < 0x20)
                return fail("a control character inside a string");
            if (c >= 0x80) {
                const std::optional<char32_t> cp = utf8();
                if (!cp)
                    return std::nullopt;
                out += QString::fromUcs4(&*cp, 1);
                continue;
            }
            if (c != '\\') {
                out += QChar(c);
                ++m_i;
                continue;
            }
            ++m_i;
            if (m_i >= m_n)
                return fail("a string is not closed");
            const char e = m_s[m_i++];
            switch (e) {
            case '"': out += QLatin1Char('"'); break;
            case '\\': out += QLatin1Char('\\'); break;
            case '/': out += QLatin1Char('/'); break;
            case 'b': out += QLatin1Char('\b'); break;
            case 'f': out += QLatin1Char('\f'); break;
            case 'n': out += QLatin1Char('\n'); break;
            case 'r': out += QLatin1Char('\r'); break;
            case 't': out += QLatin1Char('\t'); break;
            case 'u': {
                const std::optional<char32_t> first = hex4();
                if (!first)
                    return std::nullopt;
                char32_t cp = *first;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return fail("a lone low surrogate");
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (!take("\\u"))
                        return fail("a high surrogate without its low half");
                    const std::optional<char32_t> second = hex4();
                    if (!second)
                        return std::nullopt;
                    if (*second < 0xDC00 || *second > 0xDFFF)
                        return fail("a high surrogate without its low half");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (*second - 0xDC00);
                }
                out += QString::fromUcs4(&cp, 1);
                break;
            }
            default:
                --m_i;
                return fail("an unknown escape");
            }
        }
    }

    const char *m_s;
    qsizetype m_n;
    qsizetype m_i = 0;
    QString m_error;
    qsizetype m_errorAt = 0;
};

}

Json::Json(bool value) : m_type(Type::Bool), m_bool(value) {}
Json::Json(int value) : m_type(Type::Number), m_text(QString::number(value)) {}
Json::Json(qint64 value) : m_type(Type::Number), m_text(QString::number(value)) {}
Json::Json(const QString &value) : m_type(Type::String), m_text(value) {}
Json::Json(const char *utf8) : m_type(Type::String), m_text(QString::fromUtf8(utf8)) {}

Json Json::number(const QString &literal)
{
    const QByteArray latin = literal.toLatin1();
    if (literal.isEmpty() || QString::fromLatin1(latin) != literal
        || numberLength(latin.constData(), latin.size()) != latin.size())
        return {};
    Json j;
    j.m_type = Type::Number;
    j.m_text = literal;
    return j;
}

Json Json::array()
{
    Json j;
    j.m_type = Type::Array;
    return j;
}

Json Json::object()
{
    Json j;
    j.m_type = Type::Object;
    return j;
}

std::optional<qint64> Json::toInteger() const
{
    if (m_type != Type::Number)
        return std::nullopt;
    bool ok = false;
    const qint64 v = m_text.toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

const Json &Json::at(qsizetype i) const
{
    if (m_type != Type::Array || i < 0 || i >= size())
        return nullJson;
    return m_items[size_t(i)];
}

const Json &Json::value(const QString &key) const
{
    if (m_type != Type::Object)
        return nullJson;
    const qsizetype i = m_keys.indexOf(key);
    return i < 0 ? nullJson : m_items[size_t(i)];
}

Json &Json::append(Json item)
{
    if (m_type == Type::Array)
        m_items.push_back(std::move(item));
    return *this;
}

Json &Json::insert(const QString &key, Json item)
{
    if (m_type != Type::Object)
        return *this;
    const qsizetype i = m_keys.indexOf(key);
    if (i >= 0) {
        m_items[size_t(i)] = std::move(item);
    } else {
        m_keys.append(key);
        m_items.push_back(std::move(item));
    }
    return *this;
}

void Json::remove(const QString &key)
{
    const qsizetype i = m_type == Type::Object ? m_keys.indexOf(key) : -1;
    if (i < 0)
        return;
    m_keys.removeAt(i);
    m_items.erase(m_items.begin() + i);
}

QByteArray Json::write() const
{
    QByteArray out;
    writeTo(out);
    return out;
}

void Json::writeTo(QByteArray &out) const
{
    switch (m_type) {
    case Type::Null: out += "null"; break;
    case Type::Bool: out += m_bool ? "true" : "false"; break;
    case Type::Number: out += m_text.toLatin1(); break;
    case Type::String: writeString(out, m_text); break;
    case Type::Array:
        out += '[';
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (i)
                out += ',';
            m_items[i].writeTo(out);
        }
        out += ']';
        break;
    case Type::Object:
        out += '{';
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (i)
                out += ',';
            writeString(out, m_keys.at(qsizetype(i)));
            out += ':';
            m_items[i].writeTo(out);
        }
        out += '}';
        break;
    }
}

std::optional<Json> Json::parse(const QByteArray &text, QString *error)
{
    return Parser(text).run(error);
}

bool Json::operator==(const Json &other) const
{
    return m_type == other.m_type && m_bool == other.m_bool && m_text == other.m_text && m_keys == other.m_keys
        && m_items == other.m_items;
}

QByteArray jsonQuote(const QString &text)
{
    QByteArray out;
    writeString(out, text);
    return out;
}

}

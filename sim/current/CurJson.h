#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The simulator's own JSON: written and read here rather than with Qt's JSON
// classes, so that a fault in those cannot hide on both sides of a test.
namespace cursim {

class Json
{
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Json() = default; // null
    Json(bool value);
    Json(int value);
    Json(qint64 value);
    Json(const QString &value);
    Json(const char *utf8);

    // A number written exactly as `literal` (JSON number syntax, checked):
    // ids beyond 2^53 keep every digit. An invalid literal gives null.
    static Json number(const QString &literal);
    static Json array();
    static Json object();

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool isBool() const { return m_type == Type::Bool; }
    bool isNumber() const { return m_type == Type::Number; }
    bool isString() const { return m_type == Type::String; }
    bool isArray() const { return m_type == Type::Array; }
    bool isObject() const { return m_type == Type::Object; }

    bool toBool() const { return m_type == Type::Bool && m_bool; }
    QString toString() const { return m_type == Type::String ? m_text : QString(); }
    QString numberText() const { return m_type == Type::Number ? m_text : QString(); }
    // A number without fraction or exponent that fits.
    std::optional<qint64> toInteger() const;

    // Arrays and objects: the number of items or members, in order.
    qsizetype size() const { return qsizetype(m_items.size()); }
    const Json &at(qsizetype i) const; // null when out of range
    const QStringList &keys() const { return m_keys; } // objects, in order
    bool contains(const QString &key) const { return m_keys.contains(key); }
    const Json &value(const QString &key) const; // null when missing
    const Json &operator[](const QString &key) const { return value(key); }

    // Building. append() on arrays; insert() on objects replaces a member in
    // its place, or adds it at the end; remove() drops it.
    Json &append(Json item);
    Json &insert(const QString &key, Json item);
    void remove(const QString &key);

    // Compact, no blanks. `"` `\` and control characters escaped (\uXXXX but
    // for \n \r \t \b \f); everything else as UTF-8; lone surrogates as U+FFFD.
    QByteArray write() const;

    // RFC 8259 strictly: one value, UTF-8 only, no trailing commas, comments,
    // leading zeros, lone surrogates, control characters in strings, or
    // duplicate keys; nothing but blanks after the value. On failure: nullopt
    // and, if asked, the byte offset and reason.
    static std::optional<Json> parse(const QByteArray &text, QString *error = nullptr);

    bool operator==(const Json &other) const;

private:
    void writeTo(QByteArray &out) const;

    Type m_type = Type::Null;
    bool m_bool = false;
    QString m_text;           // string value, or a number's literal
    QStringList m_keys;       // objects: member names, parallel to m_items
    std::vector<Json> m_items; // array items or object values
};

// A string as a JSON string literal, quotes included.
QByteArray jsonQuote(const QString &text);

}

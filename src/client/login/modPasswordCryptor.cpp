#include "client/login/modPasswordCryptor.h"

#include "client/app/modSupport.h"

#include <QList>
#include <QStringDecoder>
#include <optional>

namespace {
int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}
}

namespace modPasswordCryptor {

bool CanScramble(const QString &password)
{
    for (const QChar c : password) {
        if (c.unicode() > 0xFF)
            return false;
    }
    return true;
}

namespace {
// Each code in reverse order: 255 minus the code in two hexadecimal digits,
// then two random ones.
QString scrambleCodes(const QList<int> &codes)
{
    QString result;
    result.reserve(codes.size() * 4);
    for (qsizetype i = codes.size() - 1; i >= 0; --i) {
        result += modSupport::Hex1(255 - codes.at(i));
        result += modSupport::Hex1(modSupport::GetRnd(0, 255));
    }
    return result;
}

// The codes back, or nothing when the text is not a scrambled one.
std::optional<QList<int>> unscrambleCodes(QStringView scrambled)
{
    if (scrambled.size() % 4 != 0)
        return std::nullopt;
    QList<int> codes;
    codes.reserve(scrambled.size() / 4);
    for (qsizetype p = 0; p < scrambled.size(); p += 4) {
        const int high = hexDigit(scrambled.at(p));
        const int low = hexDigit(scrambled.at(p + 1));
        if (high < 0 || low < 0)
            return std::nullopt;
        // The last two digits of each group are random filler.
        codes.prepend(255 - (high * 16 + low));
    }
    return codes;
}
}

QString ScramblePassword(const QString &password)
{
    QList<int> codes;
    if (CanScramble(password)) {
        // One byte per character: the form every earlier version reads.
        for (const QChar c : password)
            codes.append(c.unicode());
        return scrambleCodes(codes);
    }
    // Beyond Latin-1 the UTF-8 bytes are scrambled instead, behind a mark
    // that makes the text unreadable (so: no password) to earlier versions.
    for (const char byte : password.toUtf8())
        codes.append(static_cast<unsigned char>(byte));
    return QLatin1String(Utf8Mark) + scrambleCodes(codes);
}

QString UnscramblePassword(const QString &scrambled)
{
    const bool utf8 = scrambled.startsWith(QLatin1String(Utf8Mark));
    const std::optional<QList<int>> codes =
        unscrambleCodes(utf8 ? QStringView(scrambled).mid(qsizetype(qstrlen(Utf8Mark))) : QStringView(scrambled));
    if (!codes)
        return {};
    if (utf8) {
        QByteArray bytes;
        for (const int code : *codes)
            bytes += char(code);
        auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(bytes);
        return decoder.hasError() ? QString() : text;
    }
    QString result;
    result.reserve(codes->size());
    for (const int code : *codes)
        result += QChar(char16_t(code));
    return result;
}
}

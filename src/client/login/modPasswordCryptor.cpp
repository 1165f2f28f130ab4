#include "login/modPasswordCryptor.h"

#include "app/modSupport.h"

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

QString ScramblePassword(const QString &password)
{
    // The single-byte code is Latin-1; anything beyond it would not come back.
    if (!CanScramble(password))
        return {};
    QString result;
    result.reserve(password.size() * 4);
    for (qsizetype i = password.size() - 1; i >= 0; --i) {
        const int code = password.at(i).unicode();
        result += modSupport::Hex1(255 - code);
        result += modSupport::Hex1(modSupport::GetRnd(0, 255));
    }
    return result;
}

QString UnscramblePassword(const QString &scrambled)
{
    if (scrambled.size() % 4 != 0)
        return {};
    QString result;
    result.reserve(scrambled.size() / 4);
    for (qsizetype p = 0; p < scrambled.size(); p += 4) {
        const int high = hexDigit(scrambled.at(p));
        const int low = hexDigit(scrambled.at(p + 1));
        if (high < 0 || low < 0)
            return {};
        // The last two digits of each group are random filler.
        result.prepend(QChar(char16_t(255 - (high * 16 + low))));
    }
    return result;
}
}

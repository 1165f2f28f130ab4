#pragma once
#include <QString>

// The stored password's scrambled form: per character, from the last to the
// first, two hexadecimal digits of 255 minus its Latin-1 code and two random ones.
namespace modPasswordCryptor {
QString ScramblePassword(const QString &password); // empty for a password outside Latin-1
QString UnscramblePassword(const QString &scrambled); // empty when unreadable
bool CanScramble(const QString &password); // every character within Latin-1
}

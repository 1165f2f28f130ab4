#pragma once
#include <QString>

// The stored password's scrambled form: per character, from the last to the
// first, two hexadecimal digits of 255 minus its Latin-1 code and two random ones.
namespace modPasswordCryptor {
// Within Latin-1: one scrambled group per character. Beyond it: Utf8Mark and
// one group per byte of the UTF-8 text. Every password has a stored form.
inline constexpr char Utf8Mark[] = "UTF-8:";
QString ScramblePassword(const QString &password);
QString UnscramblePassword(const QString &scrambled); // empty when unreadable
bool CanScramble(const QString &password); // every character within Latin-1
}

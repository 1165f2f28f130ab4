#pragma once
#include <QByteArray>
#include <QRect>
#include <QString>

// Small support operations shared by every part of the program (the ones
// that work on windows are in the windows layer's WindowSupport.h).
namespace modSupport {

void RegisterAppPath();
bool IsInIDE();       // always false: there is no development environment to detect
bool IsMyComputer();  // always false: temporary page files are always removed
QRect NormalizeRect(const QRect &rect);   // left <= right, top <= bottom
QString GetTempFileName2(const QString &folder, const QString &prefix); // a new, empty, unique file
QString TrimEx(const QString &text);   // blanks, tabs, CR, LF, no-break spaces at both ends
QString TrimCRLF(const QString &text); // CR and LF at both ends
QString CutLeft(const QString &text, int n);
QString CutRight(const QString &text, int n);
QString GetLineOnly(const QString &text); // up to the first CR or LF
QString UTF8ToUNICODE(const QByteArray &utf8);
QByteArray UNICODEToUTF8(const QString &text);
QString Hex1(int byteValue);          // two upper-case hexadecimal digits
int GetRnd(int low, int high);        // inclusive
QString FormatVersion(int major, int minor, int revision); // "1.00.0036"
QString FormatByteSizeEx(double bytes);  // "512 bytes", "1.5 KB", "2.25 MB"
QString GetErrorNumber(long number);     // "0x........" style error number
}

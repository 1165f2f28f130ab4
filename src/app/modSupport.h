#pragma once
#include <QByteArray>
#include <QRect>
#include <QString>

class QWidget;

// Small support operations shared by every part of the program.
namespace modSupport {

void RegisterAppPath();
bool IsInIDE();       // always false: there is no development environment to detect
bool IsMyComputer();  // always false: temporary page files are always removed
QWidget *GetThunderMainHandle(); // the program's main window (the login window), or nullptr
void setThunderMainHandle(QWidget *window);

void SetWindowResIconAll(QWidget *window, const QString &resourceName); // ":/icons/<name>"
void CenterFormEx(QWidget *window);       // centre on the window's screen
void HighlightText(QWidget *control);     // select all text of a line edit or editable combo
void PaintDesktop2(QWidget *window);      // background painting (the palette's window colour)
QRect NormalizeRect(const QRect &rect);   // left <= right, top <= bottom
bool IsKeyPressed(int virtualKey);        // 16 Shift, 17 Ctrl: from the current keyboard modifiers

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

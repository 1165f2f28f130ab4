#include "client/app/modSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTemporaryFile>

namespace {
bool isWhite(QChar c) { return c.isSpace(); }
bool isCrOrLf(QChar c) { return c == u'\r' || c == u'\n'; }

template<typename Pred>
QString trimBy(const QString &text, Pred pred)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && pred(text.at(begin)))
        ++begin;
    while (end > begin && pred(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}
}

namespace modSupport {

void RegisterAppPath() {}

bool IsInIDE() { return false; }

bool IsMyComputer() { return false; }

QRect NormalizeRect(const QRect &rect)
{
    // Work on the edges, not on QRect::normalized(), which also shifts by one.
    int left = rect.left(), right = rect.right(), top = rect.top(), bottom = rect.bottom();
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QString GetTempFileName2(const QString &folder, const QString &prefix)
{
    const QString dir = folder.isEmpty() ? QDir::tempPath() : folder;
    QTemporaryFile file(QDir(dir).filePath(prefix + QStringLiteral("XXXXXX.tmp")));
    file.setAutoRemove(false);
    if (!file.open())
        return {};
    return file.fileName();
}

QString TrimEx(const QString &text) { return trimBy(text, isWhite); }

QString TrimCRLF(const QString &text) { return trimBy(text, isCrOrLf); }

QString CutLeft(const QString &text, int n)
{
    if (n <= 0)
        return text;
    return n >= text.size() ? QString() : text.mid(n);
}

QString CutRight(const QString &text, int n)
{
    if (n <= 0)
        return text;
    return n >= text.size() ? QString() : text.left(text.size() - n);
}

QString GetLineOnly(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isCrOrLf(text.at(i)))
            return text.left(i);
    }
    return text;
}

QString UTF8ToUNICODE(const QByteArray &utf8)
{
    // Invalid sequences become U+FFFD rather than failing the whole text.
    return QString::fromUtf8(utf8);
}

QByteArray UNICODEToUTF8(const QString &text) { return text.toUtf8(); }

QString Hex1(int byteValue)
{
    return QStringLiteral("%1").arg(byteValue & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

int GetRnd(int low, int high)
{
    if (high < low)
        std::swap(low, high);
    return int(QRandomGenerator::global()->bounded(qint64(low), qint64(high) + 1));
}

QString FormatVersion(int major, int minor, int revision)
{
    return QStringLiteral("%1.%2.%3")
        .arg(major)
        .arg(minor, 2, 10, QLatin1Char('0'))
        .arg(revision, 4, 10, QLatin1Char('0'));
}

QString FormatByteSizeEx(double bytes)
{
    // Progress lines: whole bytes below 1 KB, two decimals above, C locale.
    if (bytes < 0)
        bytes = 0;
    if (bytes < 1024.0)
        return QStringLiteral("%1 bytes").arg(qint64(bytes));
    static const char *const units[] = {"KB", "MB", "GB", "TB"};
    double value = bytes / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', 2).arg(QLatin1String(units[unit]));
}

QString GetErrorNumber(long number)
{
    // Hexadecimal like a COM status code, so negative numbers read naturally.
    return QStringLiteral("0x") + QStringLiteral("%1").arg(quint32(number), 8, 16, QLatin1Char('0')).toUpper();
}
}

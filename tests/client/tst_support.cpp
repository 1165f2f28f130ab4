#include "TestFolders.h"

#include "client/app/modSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

using namespace modSupport;

class TestSupport final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }

    void trimEx_removesWhiteSpaceAtBothEnds_data();
    void trimEx_removesWhiteSpaceAtBothEnds();
    void trimCRLF_removesOnlyLineBreaksAtBothEnds_data();
    void trimCRLF_removesOnlyLineBreaksAtBothEnds();
    void cutLeftAndRight_removeCharacters_data();
    void cutLeftAndRight_removeCharacters();
    void getLineOnly_givesTextUpToFirstBreak_data();
    void getLineOnly_givesTextUpToFirstBreak();
    void utf8_roundTripKeepsEveryCharacter_data();
    void utf8_roundTripKeepsEveryCharacter();
    void utf8ToUnicode_invalidBytesBecomeReplacementCharacter();
    void hex1_givesTwoUpperCaseDigits_data();
    void hex1_givesTwoUpperCaseDigits();
    void formatVersion_padsMinorAndRevision_data();
    void formatVersion_padsMinorAndRevision();
    void formatByteSizeEx_givesShortSizeText_data();
    void formatByteSizeEx_givesShortSizeText();
    void getErrorNumber_isHexadecimal();
    void getTempFileName2_createsNewEmptyFilesWithPrefix();
    void getRnd_staysWithinBounds();
    void normalizeRect_ordersEdges();
    void isInIDEAndIsMyComputer_areFalse();

private:
    TestFolders m_folders;
};

void TestSupport::trimEx_removesWhiteSpaceAtBothEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only blanks") << QStringLiteral(" \t\r\n ") << QString();
    QTest::newRow("blanks around") << QStringLiteral("  cat  ") << QStringLiteral("cat");
    QTest::newRow("tabs and breaks") << QStringLiteral("\t\r\ncat dog\r\n\t") << QStringLiteral("cat dog");
    QTest::newRow("no-break spaces") << QStringLiteral("\u00A0cat\u00A0") << QStringLiteral("cat");
    QTest::newRow("inner white space kept") << QStringLiteral(" a \t b ") << QStringLiteral("a \t b");
    QTest::newRow("cyrillic") << QStringLiteral(" Зэнора ") << QStringLiteral("Зэнора");
}

void TestSupport::trimEx_removesWhiteSpaceAtBothEnds()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TrimEx(text), expected);
}

void TestSupport::trimCRLF_removesOnlyLineBreaksAtBothEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("breaks around") << QStringLiteral("\r\n\r\ncat\n\r") << QStringLiteral("cat");
    QTest::newRow("blanks kept") << QStringLiteral("\r\n cat \r\n") << QStringLiteral(" cat ");
    QTest::newRow("inner breaks kept") << QStringLiteral("a\r\nb") << QStringLiteral("a\r\nb");
    QTest::newRow("only breaks") << QStringLiteral("\r\n\n") << QString();
}

void TestSupport::trimCRLF_removesOnlyLineBreaksAtBothEnds()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TrimCRLF(text), expected);
}

void TestSupport::cutLeftAndRight_removeCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::newRow("none") << QStringLiteral("abcdef") << 0 << QStringLiteral("abcdef") << QStringLiteral("abcdef");
    QTest::newRow("two") << QStringLiteral("abcdef") << 2 << QStringLiteral("cdef") << QStringLiteral("abcd");
    QTest::newRow("all") << QStringLiteral("abc") << 3 << QString() << QString();
    QTest::newRow("more than length") << QStringLiteral("abc") << 10 << QString() << QString();
    QTest::newRow("negative") << QStringLiteral("abc") << -1 << QStringLiteral("abc") << QStringLiteral("abc");
    QTest::newRow("empty") << QString() << 2 << QString() << QString();
    QTest::newRow("separator") << QStringLiteral("cat, dog, ") << 2 << QStringLiteral("t, dog, ")
                               << QStringLiteral("cat, dog");
}

void TestSupport::cutLeftAndRight_removeCharacters()
{
    QFETCH(QString, text);
    QFETCH(int, n);
    QFETCH(QString, left);
    QFETCH(QString, right);
    QCOMPARE(CutLeft(text, n), left);
    QCOMPARE(CutRight(text, n), right);
}

void TestSupport::getLineOnly_givesTextUpToFirstBreak_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one line") << QStringLiteral("cat dog") << QStringLiteral("cat dog");
    QTest::newRow("crlf") << QStringLiteral("first\r\nsecond") << QStringLiteral("first");
    QTest::newRow("lf") << QStringLiteral("first\nsecond") << QStringLiteral("first");
    QTest::newRow("cr") << QStringLiteral("first\rsecond") << QStringLiteral("first");
    QTest::newRow("leading break") << QStringLiteral("\r\nsecond") << QString();
    QTest::newRow("blanks kept") << QStringLiteral("  a  \nb") << QStringLiteral("  a  ");
}

void TestSupport::getLineOnly_givesTextUpToFirstBreak()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(GetLineOnly(text), expected);
}

void TestSupport::utf8_roundTripKeepsEveryCharacter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("utf8");
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ascii") << QStringLiteral("demo@example.com") << QByteArray("demo@example.com");
    QTest::newRow("accents") << QStringLiteral("pässwörd") << QByteArray("p\xC3\xA4ssw\xC3\xB6rd");
    QTest::newRow("cyrillic") << QStringLiteral("Зэнора") << QByteArray("\xD0\x97\xD1\x8D\xD0\xBD\xD0\xBE\xD1\x80\xD0\xB0");
    QTest::newRow("emoji") << QStringLiteral("cat \U0001F431") << QByteArray("cat \xF0\x9F\x90\xB1");
    QTest::newRow("no-break space") << QStringLiteral("a\u00A0b") << QByteArray("a\xC2\xA0" "b");
}

void TestSupport::utf8_roundTripKeepsEveryCharacter()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, utf8);
    QCOMPARE(UNICODEToUTF8(text), utf8);
    QCOMPARE(UTF8ToUNICODE(utf8), text);
    QCOMPARE(UTF8ToUNICODE(UNICODEToUTF8(text)), text);
}

void TestSupport::utf8ToUnicode_invalidBytesBecomeReplacementCharacter()
{
    const QString text = UTF8ToUNICODE(QByteArray("ok\xFF\xC3"));
    QVERIFY(text.startsWith(QStringLiteral("ok")));
    QVERIFY(text.contains(QChar::ReplacementCharacter));
}

void TestSupport::hex1_givesTwoUpperCaseDigits_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0") << 0 << QStringLiteral("00");
    QTest::newRow("9") << 9 << QStringLiteral("09");
    QTest::newRow("10") << 10 << QStringLiteral("0A");
    QTest::newRow("171") << 171 << QStringLiteral("AB");
    QTest::newRow("255") << 255 << QStringLiteral("FF");
}

void TestSupport::hex1_givesTwoUpperCaseDigits()
{
    QFETCH(int, value);
    QFETCH(QString, expected);
    QCOMPARE(Hex1(value), expected);
}

void TestSupport::formatVersion_padsMinorAndRevision_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("expected");
    QTest::newRow("program") << 1 << 0 << 36 << QStringLiteral("1.00.0036");
    QTest::newRow("zeros") << 0 << 0 << 0 << QStringLiteral("0.00.0000");
    QTest::newRow("wide") << 12 << 34 << 5678 << QStringLiteral("12.34.5678");
}

void TestSupport::formatVersion_padsMinorAndRevision()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, expected);
    QCOMPARE(FormatVersion(major, minor, revision), expected);
}

void TestSupport::formatByteSizeEx_givesShortSizeText_data()
{
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0 bytes");
    QTest::newRow("512") << 512.0 << QStringLiteral("512 bytes");
    QTest::newRow("1023") << 1023.0 << QStringLiteral("1023 bytes");
    QTest::newRow("1 KB") << 1024.0 << QStringLiteral("1.00 KB");
    QTest::newRow("1.5 KB") << 1536.0 << QStringLiteral("1.50 KB");
    QTest::newRow("2.25 MB") << 2.25 * 1024 * 1024 << QStringLiteral("2.25 MB");
    QTest::newRow("3 GB") << 3.0 * 1024 * 1024 * 1024 << QStringLiteral("3.00 GB");
}

void TestSupport::formatByteSizeEx_givesShortSizeText()
{
    QFETCH(double, bytes);
    QFETCH(QString, expected);
    QCOMPARE(FormatByteSizeEx(bytes), expected);
}

void TestSupport::getErrorNumber_isHexadecimal()
{
    QCOMPARE(GetErrorNumber(2), QStringLiteral("0x00000002"));
    QCOMPARE(GetErrorNumber(-1072896659), QStringLiteral("0xC00CE56D"));
}

void TestSupport::getTempFileName2_createsNewEmptyFilesWithPrefix()
{
    const QString first = GetTempFileName2(QString(), QStringLiteral("XML"));
    const QString second = GetTempFileName2(QString(), QStringLiteral("XML"));
    QVERIFY(!first.isEmpty());
    QVERIFY(first != second);
    for (const QString &path : {first, second}) {
        const QFileInfo info(path);
        QVERIFY(info.exists());
        QCOMPARE(info.size(), 0);
        QVERIFY(info.fileName().startsWith(QStringLiteral("XML")));
        QCOMPARE(QDir(info.absolutePath()).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
        QVERIFY(QFile::remove(path));
    }
}

void TestSupport::getRnd_staysWithinBounds()
{
    bool sawLow = false, sawHigh = false;
    for (int i = 0; i < 2000; ++i) {
        const int value = GetRnd(0, 3);
        QVERIFY(value >= 0 && value <= 3);
        sawLow |= value == 0;
        sawHigh |= value == 3;
    }
    QVERIFY(sawLow && sawHigh);
}

void TestSupport::normalizeRect_ordersEdges()
{
    const QRect rect = NormalizeRect(QRect(QPoint(10, 20), QPoint(2, 4)));
    QCOMPARE(rect.left(), 2);
    QCOMPARE(rect.right(), 10);
    QCOMPARE(rect.top(), 4);
    QCOMPARE(rect.bottom(), 20);
    const QRect ordered(QPoint(1, 2), QPoint(30, 40));
    QCOMPARE(NormalizeRect(ordered), ordered);
}

void TestSupport::isInIDEAndIsMyComputer_areFalse()
{
    QVERIFY(!IsInIDE());
    QVERIFY(!IsMyComputer());
}

QTEST_MAIN(TestSupport)
#include "tst_support.moc"

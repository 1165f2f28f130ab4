#include "TestFolders.h"

#include "client/login/modPasswordCryptor.h"

#include <QRegularExpression>
#include <QTest>

using namespace modPasswordCryptor;

class TestPasswordCryptor final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_folders.isValid()); }

    void unscramble_storedText_givesPassword_data();
    void unscramble_storedText_givesPassword();
    void scramble_password_givesGroupsInReverseWithRandomDigits_data();
    void scramble_password_givesGroupsInReverseWithRandomDigits();
    void roundTrip_everyLatin1Character_comesBack();
    void roundTrip_sameText_differsBetweenSaves();
    void scramble_beyondLatin1_storedAsMarkedUtf8_comesBack_data();
    void scramble_beyondLatin1_storedAsMarkedUtf8_comesBack();
    void unscramble_markedButDamaged_givesNothing_data();
    void unscramble_markedButDamaged_givesNothing();

private:
    TestFolders m_folders;
};

void TestPasswordCryptor::unscramble_storedText_givesPassword_data()
{
    QTest::addColumn<QString>("scrambled");
    QTest::addColumn<QString>("password");

    QTest::newRow("empty") << QString() << QString();
    // 255 - 'a' (97) = 158 = 9E
    QTest::newRow("one character") << QStringLiteral("9E00") << QStringLiteral("a");
    QTest::newRow("lower-case hex digits") << QStringLiteral("9e3f") << QStringLiteral("a");
    // "ab": the group of 'b' (255 - 98 = 9D) comes first
    QTest::newRow("two characters, second's group first") << QStringLiteral("9D419E7F") << QStringLiteral("ab");
    QTest::newRow("5 digits") << QStringLiteral("9E001") << QString();
    QTest::newRow("3 digits") << QStringLiteral("9E0") << QString();
    QTest::newRow("non-hexadecimal pair") << QStringLiteral("9G00") << QString();
    QTest::newRow("non-hexadecimal pair in second group") << QStringLiteral("9D41 E7F") << QString();
    QTest::newRow("sign in pair") << QStringLiteral("+E00") << QString();
    QTest::newRow("random digits not read") << QStringLiteral("9EZZ") << QStringLiteral("a");
    QTest::newRow("random digits blank") << QStringLiteral("9D  9E!?") << QStringLiteral("ab");
    QTest::newRow("code 255") << QStringLiteral("00AB") << QStringLiteral("\u00FF");
    QTest::newRow("code 0") << QStringLiteral("FF12") << QString(QChar(u'\0'));
}

void TestPasswordCryptor::unscramble_storedText_givesPassword()
{
    QFETCH(QString, scrambled);
    QFETCH(QString, password);
    QCOMPARE(UnscramblePassword(scrambled), password);
}

void TestPasswordCryptor::scramble_password_givesGroupsInReverseWithRandomDigits_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("codeDigits"); // the first two digits of each group, in order

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one character") << QStringLiteral("a") << QStringLiteral("9E");
    QTest::newRow("two characters") << QStringLiteral("ab") << QStringLiteral("9D9E");
    QTest::newRow("latin-1 accent") << QStringLiteral("\u00E9x") << QStringLiteral("8716");
}

void TestPasswordCryptor::scramble_password_givesGroupsInReverseWithRandomDigits()
{
    QFETCH(QString, password);
    QFETCH(QString, codeDigits);
    const QString scrambled = ScramblePassword(password);
    QCOMPARE(scrambled.size(), password.size() * 4);
    static const QRegularExpression upperHex(QStringLiteral("^[0-9A-F]*$"));
    QVERIFY2(upperHex.match(scrambled).hasMatch(), qPrintable(scrambled));
    QString codes;
    for (qsizetype p = 0; p < scrambled.size(); p += 4)
        codes += scrambled.mid(p, 2);
    QCOMPARE(codes, codeDigits);
}

void TestPasswordCryptor::roundTrip_everyLatin1Character_comesBack()
{
    for (int code = 0; code <= 255; ++code) {
        const QString password = QStringLiteral("x") + QChar(char16_t(code)) + QStringLiteral("y");
        QVERIFY(CanScramble(password));
        QCOMPARE(UnscramblePassword(ScramblePassword(password)), password);
    }
    QString all;
    for (int code = 0; code <= 255; ++code)
        all += QChar(char16_t(code));
    QCOMPARE(UnscramblePassword(ScramblePassword(all)), all);
}

void TestPasswordCryptor::roundTrip_sameText_differsBetweenSaves()
{
    // 32 random bytes make equal texts practically impossible.
    const QString password(32, u'p');
    QVERIFY(ScramblePassword(password) != ScramblePassword(password));
}

void TestPasswordCryptor::scramble_beyondLatin1_storedAsMarkedUtf8_comesBack_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("Cyrillic") << QStringLiteral("пароль");
    QTest::newRow("Latin-1 and beyond") << QStringLiteral("pa\u00E9\u0436ss");
    QTest::newRow("euro sign only") << QStringLiteral("\u20AC");
    QTest::newRow("emoji") << QStringLiteral("cat \U0001F408");
}

void TestPasswordCryptor::scramble_beyondLatin1_storedAsMarkedUtf8_comesBack()
{
    QFETCH(QString, password);
    QVERIFY(!CanScramble(password));
    const QString stored = ScramblePassword(password);
    QVERIFY(stored.startsWith(QLatin1String(Utf8Mark)));
    QCOMPARE(stored.size(), qsizetype(qstrlen(Utf8Mark)) + password.toUtf8().size() * 4);
    QCOMPARE(UnscramblePassword(stored), password);
    // An earlier version reads no password from it, rather than a wrong one.
    QVERIFY(stored.size() % 4 != 0);
}

void TestPasswordCryptor::unscramble_markedButDamaged_givesNothing_data()
{
    QTest::addColumn<QString>("stored");
    QTest::newRow("mark only") << QString::fromLatin1(Utf8Mark);
    QTest::newRow("3 digits after the mark") << QString::fromLatin1(Utf8Mark) + QStringLiteral("9E0");
    QTest::newRow("not UTF-8 behind the mark") << QString::fromLatin1(Utf8Mark) + ScramblePassword(QStringLiteral("\u00FF"));
}

void TestPasswordCryptor::unscramble_markedButDamaged_givesNothing()
{
    QFETCH(QString, stored);
    QCOMPARE(UnscramblePassword(stored), QString());
}

QTEST_GUILESS_MAIN(TestPasswordCryptor)
#include "tst_passwordcryptor.moc"

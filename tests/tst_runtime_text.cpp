#include <QTest>

#include "platform/code_page.h"
#include "platform/drive_paths.h"
#include "platform/runtime_text.h"

class TestRuntimeText : public QObject {
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void numberText_data();
    void numberText();
    void printZones_data();
    void printZones();
    void roundHalfEven_data();
    void roundHalfEven();
    void leftAndMidFrom_data();
    void leftAndMidFrom();
    void splitRecordLines_data();
    void splitRecordLines();
    void codePageRoundTripsEveryByte();
    void codePageRefusesWhatItCannotHold_data();
    void codePageRefusesWhatItCannotHold();
    void drivePaths_data();
    void drivePaths();
};

void TestRuntimeText::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << "5" << 5.0;
    QTest::newRow("leading zeros") << "005" << 5.0;
    QTest::newRow("blanks first") << "   12" << 12.0;
    QTest::newRow("sign") << "-3" << -3.0;
    QTest::newRow("decimal") << "2.5x" << 2.5;
    QTest::newRow("point first") << ".5" << 0.5;
    QTest::newRow("stops at letter") << "12ab" << 12.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("huge") << QString(400, u'9') << 0.0;
}

void TestRuntimeText::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(runtimetext::leadingNumber(text), value);
}

void TestRuntimeText::numberText_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("question number") << 50012.0 << " 50012 ";
    QTest::newRow("zero") << 0.0 << " 0 ";
    QTest::newRow("negative") << -4.0 << "-4 ";
    QTest::newRow("fraction") << 0.5 << " .5 ";
    QTest::newRow("with fraction") << 150000.25 << " 150000.25 ";
}

void TestRuntimeText::numberText()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(runtimetext::numberText(value), text);
}

void TestRuntimeText::printZones_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("line");
    QTest::newRow("time line") << QStringList{QString(36, u' '), QString(), "10:15:30"}
                               << QString(56, u' ') + "10:15:30";
    QTest::newRow("date and time") << QStringList{QString(36, u' '), "12-08-2026", "10:15:30"}
                                   << QString(42, u' ') + "12-08-2026    10:15:30";
    QTest::newRow("question number") << QStringList{"`questionNumber", " 50000 "}
                                     << "`questionNumber" + QString(13, u' ') + " 50000 ";
    QTest::newRow("item on a zone start moves on")
        << QStringList{QString(14, u'x'), "y"} << QString(14, u'x') + QString(14, u' ') + "y";
    QTest::newRow("closing rule") << QStringList{QString(49, u'.'), QString()} << QString(49, u'.') + QString(7, u' ');
    QTest::newRow("single item") << QStringList{"abc"} << "abc";
}

void TestRuntimeText::printZones()
{
    QFETCH(QStringList, items);
    QFETCH(QString, line);
    QCOMPARE(runtimetext::printZones(items), line);
}

void TestRuntimeText::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<long long>("rounded");
    QTest::newRow("half down to even") << 66.5 << 66LL;
    QTest::newRow("half up to even") << 67.5 << 68LL;
    QTest::newRow("below half") << 116.49 << 116LL;
    QTest::newRow("above half") << 254.51 << 255LL;
    QTest::newRow("negative half") << -2.5 << -2LL;
}

void TestRuntimeText::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(long long, rounded);
    QCOMPARE(runtimetext::roundHalfEven(value), rounded);
}

void TestRuntimeText::splitRecordLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("crlf") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("lone cr") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("lone lf stays") << "a\nb\r\n" << QStringList{"a\nb"};
    QTest::newRow("no end") << "a\r\nrule   " << QStringList{"a", "rule   "};
    QTest::newRow("empty lines") << "\r\n\r\nx" << QStringList{"", "", "x"};
    QTest::newRow("empty") << "" << QStringList{};
}

void TestRuntimeText::splitRecordLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(runtimetext::splitRecordLines(text), lines);
}

void TestRuntimeText::leftAndMidFrom_data()
{
    // The counts as the walk uses them: a count past either end takes what is there.
    QTest::addColumn<qsizetype>("n");
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("midFrom");
    QTest::newRow("below zero") << qsizetype(-1) << ""
                                << "abc";
    QTest::newRow("zero") << qsizetype(0) << ""
                          << "abc";
    QTest::newRow("one") << qsizetype(1) << "a"
                         << "abc";
    QTest::newRow("two") << qsizetype(2) << "ab"
                         << "bc";
    QTest::newRow("the whole") << qsizetype(3) << "abc"
                               << "c";
    QTest::newRow("past the end") << qsizetype(5) << "abc"
                                  << "";
}

void TestRuntimeText::leftAndMidFrom()
{
    QFETCH(qsizetype, n);
    QFETCH(QString, left);
    QFETCH(QString, midFrom);
    QCOMPARE(runtimetext::left(QStringLiteral("abc"), n), left);
    QCOMPARE(runtimetext::midFrom(QStringLiteral("abc"), n), midFrom);
}

void TestRuntimeText::codePageRoundTripsEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = codepage::decode(all);
    QCOMPARE(text.size(), 256);
    QVERIFY(codepage::unmappable(text).isEmpty());
    QCOMPARE(codepage::encode(text), all);
    // The row that differs from Latin-1, as a Windows-1252 chart shows it; the five unassigned
    // bytes stand for themselves.
    QCOMPARE(text.mid(0x80, 32), QString::fromUtf8("€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ"));
    QCOMPARE(text.left(0x80) + text.mid(0xA0), QString::fromLatin1(all.left(0x80) + all.mid(0xA0)));
    QCOMPARE(QSet<QChar>(text.begin(), text.end()).size(), 256);
}

void TestRuntimeText::codePageRefusesWhatItCannotHold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("refused");
    QTest::newRow("all fit") << QString::fromUtf8("café “quoted” €5 ÿ") << "";
    QTest::newRow("greek delta") << QString::fromUtf8("`dv = Δv") << QString::fromUtf8("Δ");
    QTest::newRow("emoji whole") << QString::fromUtf8("ok 😀 and 😀") << QString::fromUtf8("😀");
    QTest::newRow("right-to-left") << QString::fromUtf8("שלום") << QString::fromUtf8("שלום");
    QTest::newRow("latin-1 control kept") << QString(QChar(0x81)) << "";
}

void TestRuntimeText::codePageRefusesWhatItCannotHold()
{
    QFETCH(QString, text);
    QFETCH(QString, refused);
    QCOMPARE(codepage::unmappable(text), refused);
}

void TestRuntimeText::drivePaths_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QString>("local");
    QTest::newRow("home master") << "c:\\tulmarox\\masterFile.txt"
                                 << "/root/c/tulmarox/masterFile.txt";
    QTest::newRow("capital drive") << "I:\\bkp_000416\\My Documents\\lb1\\send_0416.txt"
                                   << "/root/i/bkp_000416/My Documents/lb1/send_0416.txt";
    QTest::newRow("no drive") << "\\a\\b"
                              << "/root/a/b";
}

void TestRuntimeText::drivePaths()
{
    QFETCH(QString, windowsPath);
    QFETCH(QString, local);
    QCOMPARE(DrivePaths(QStringLiteral("/root")).local(windowsPath), local);
#ifdef Q_OS_WIN
    QCOMPARE(DrivePaths(DrivePaths::defaultRoot()).local(windowsPath), windowsPath);
#endif
}

QTEST_GUILESS_MAIN(TestRuntimeText)
#include "tst_runtime_text.moc"

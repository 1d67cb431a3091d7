#include <QClipboard>
#include <QTest>
#include <QTextBlock>

#include "platform/code_page.h"
#include "storage/record_files.h"
#include "support/tutor_fixture.h"
#include "widgets/text_box.h"

namespace {

constexpr int kPiece = TextBox::kLongestPiece;

// A line of words, far longer than one piece.
QString longLine(int length, const QString& word = QStringLiteral("slope "))
{
    QString line;
    while (line.size() < length)
        line += word;
    return line.left(length);
}

QString crLf(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

QStringList readAllLines(const QByteArray& bytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lines.txt"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    file.close();
    Channels channels;
    if (channels.open(1, path, Channels::Mode::Input))
        return {QStringLiteral("<cannot open>")};
    QStringList lines;
    while (!channels.atEnd(1))
        lines << codepage::decode(channels.readLine(1));
    return lines;
}

// The document position of a text offset in a text whose second line is three pieces
// (blocks 1 to 3): the two soft breaks between them are not in the text. At a break,
// `afterBreak` picks the start of the next piece rather than the end of the one before.
int documentPosition(const TextBox& box, int offset, bool afterBreak)
{
    int position = offset;
    for (int number : {2, 3}) {
        const QTextBlock b = box.document()->findBlockByNumber(number);
        const int breakAt = b.position() - 1 - (number - 2);
        if (breakAt < offset || (breakAt == offset && afterBreak))
            ++position;
    }
    return position;
}

} // namespace

class TestLargeTexts : public QObject {
    Q_OBJECT
private slots:
    void channelLines_data();
    void channelLines();
    void longLinesReadBackExactly_data();
    void longLinesReadBackExactly();
    void editsBesideSoftBreaks_data();
    void editsBesideSoftBreaks();
    void copyLeavesSoftBreaksOut();
    void largeNotesFileShownWhole();
};

void TestLargeTexts::channelLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lone cr") << QByteArray("a\rb") << QStringList{"a", "b"};
    QTest::newRow("lone lf stays in its line") << QByteArray("a\nb\r\nc") << QStringList{"a\nb", "c"};
    QTest::newRow("cr cr lf") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("cr at the very end") << QByteArray("abc\r") << QStringList{"abc"};
    QTest::newRow("every byte value") << QByteArray("\0\x80\xff\x0b", 4) + "\r\n"
                                      << QStringList{QString(QChar(0)) + codepage::charOf(0x80) +
                                                     codepage::charOf(0xff) + QChar(0x0b)};
    // Line ends just inside, on and just past each step of the look ahead.
    for (const int length : {255, 256, 257, 1279, 1280, 5119, 5120, 16383, 16384, 16385, 40000}) {
        const QByteArray line(length, 'x');
        QTest::addRow("line of %d then crlf", length) << line + "\r\nz" << QStringList{QString(line), "z"};
        QTest::addRow("line of %d then lone cr", length) << line + "\rz\r" << QStringList{QString(line), "z"};
    }
    QTest::newRow("cr lf astride a look ahead") << QByteArray(255, 'a') + "\r\n" + QByteArray(1279, 'b') + "\r\nc"
                                                << QStringList{QString(255, u'a'), QString(1279, u'b'), "c"};
}

void TestLargeTexts::channelLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(readAllLines(bytes), lines);
}

void TestLargeTexts::longLinesReadBackExactly_data()
{
    QTest::addColumn<QString>("text");
    const QString words = longLine(5 * kPiece + 123);
    QTest::newRow("words") << words;
    QTest::newRow("no blanks") << QString(3 * kPiece + 7, u'x');
    QTest::newRow("exactly one piece") << QString(kPiece, u'y');
    QTest::newRow("one past a piece") << QString(kPiece + 1, u'y');
    QTest::newRow("surrogate pairs") << QString::fromUtf8("😀").repeated(kPiece + 3);
    QTest::newRow("combining marks") << QString::fromUtf8("e\u0301").repeated(kPiece + 5);
    QTest::newRow("no-break spaces") << longLine(2 * kPiece + 9, QString::fromUtf8("a\u00a0b "));
    QTest::newRow("between short lines") << "short\r\n" + words + "\r\n\r\n" + words.left(kPiece * 2) + "\r\nend";
    QTest::newRow("lone cr and lf") << words + "\r" + words + "\nx";
    QTest::newRow("line end last") << words + "\r\n";
}

void TestLargeTexts::longLinesReadBackExactly()
{
    QFETCH(QString, text);
    TextBox box;
    box.setText(text);
    QCOMPARE(box.text(), crLf(text));
    // No piece is laid out longer than the longest piece, and none begins inside a character.
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next()) {
        QVERIFY2(b.length() - 1 <= kPiece, qPrintable(QString::number(b.length())));
        QVERIFY(b.text().isEmpty() || (!b.text()[0].isLowSurrogate() && !b.text()[0].isMark()));
    }
    // Set again from what it reads back, it reads back the same.
    box.setText(box.text());
    QCOMPARE(box.text(), crLf(text));
}

void TestLargeTexts::editsBesideSoftBreaks_data()
{
    // The text is a short line, a long line of three pieces and another short line; the
    // edit is made at an offset from the end of the long line's first piece.
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("fromCut");
    QTest::addColumn<bool>("afterBreak");
    QTest::addColumn<int>("selectTo"); // from the cut; fromCut for no selection
    QTest::newRow("Enter inside the next piece") << "enter" << 10 << true << 10;
    QTest::newRow("Enter at the start of a piece") << "enter" << 0 << true << 0;
    QTest::newRow("Enter at the end of a piece") << "enter" << 0 << false << 0;
    QTest::newRow("typing at the start of a piece") << "type" << 0 << true << 0;
    QTest::newRow("Backspace at the start of a piece") << "backspace" << 0 << true << 0;
    QTest::newRow("Delete at the end of a piece") << "delete" << 0 << false << 0;
    QTest::newRow("selection across a break typed over") << "type" << -5 << false << 5;
    QTest::newRow("selection across a break, Enter") << "enter" << -5 << false << 5;
    QTest::newRow("selection across a break deleted") << "backspace" << -5 << false << 5;
    QTest::newRow("selection up to the start of a piece deleted") << "backspace" << -5 << false << 0;
    QTest::newRow("selection across two breaks deleted") << "delete" << -5 << false << kPiece;
    QTest::newRow("lines pasted into a piece") << "paste" << 7 << true << 7;
    QTest::newRow("real line end after the pieces removed") << "join" << 0 << false << 0;
}

void TestLargeTexts::editsBesideSoftBreaks()
{
    QFETCH(QString, edit);
    QFETCH(int, fromCut);
    QFETCH(bool, afterBreak);
    QFETCH(int, selectTo);
    const QString line = longLine(3 * kPiece - 100);
    const QString first = QStringLiteral("first line\n");
    QString expected = first + line + QStringLiteral("\nnext line");
    TextBox box;
    box.setText(expected);
    QCOMPARE(box.document()->blockCount(), 5);
    const int cut = box.document()->findBlockByNumber(2).position() - 1; // where the first soft break lies

    QTextCursor cursor(box.document());
    const int at = cut + fromCut;
    if (edit == QLatin1String("join")) {
        cursor.setPosition(box.document()->lastBlock().position());
        box.setTextCursor(cursor);
        QTest::keyClick(&box, Qt::Key_Backspace);
        expected.remove(first.size() + line.size(), 1);
        QCOMPARE(box.text(), crLf(expected));
        return;
    }
    cursor.setPosition(documentPosition(box, at, afterBreak));
    if (selectTo != fromCut)
        cursor.setPosition(documentPosition(box, cut + selectTo, true), QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    const int length = selectTo - fromCut;
    if (edit == QLatin1String("enter")) {
        QTest::keyClick(&box, Qt::Key_Return);
        expected.replace(at, length, QStringLiteral("\n"));
    } else if (edit == QLatin1String("type")) {
        QTest::keyClick(&box, 'Q');
        expected.replace(at, length, QStringLiteral("Q"));
    } else if (edit == QLatin1String("backspace")) {
        QTest::keyClick(&box, Qt::Key_Backspace);
        expected.remove(length != 0 ? at : at - 1, std::max(length, 1));
    } else if (edit == QLatin1String("delete")) {
        QTest::keyClick(&box, Qt::Key_Delete);
        expected.remove(at, std::max(length, 1));
    } else if (edit == QLatin1String("paste")) {
        box.insertPlainText(QStringLiteral("one\ntwo"));
        expected.insert(at, QStringLiteral("one\ntwo"));
    }
    QCOMPARE(box.text(), crLf(expected));
    // A further edit far from the first leaves it as it is.
    QTextCursor end(box.document());
    end.movePosition(QTextCursor::End);
    box.setTextCursor(end);
    QTest::keyClick(&box, '.');
    QCOMPARE(box.text(), crLf(expected + u'.'));
}

void TestLargeTexts::copyLeavesSoftBreaksOut()
{
    const QString line = longLine(2 * kPiece + 50);
    TextBox box;
    box.setText(QStringLiteral("first\r\n") + line);
    box.selectAll();
    box.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("first\n") + line);
}

void TestLargeTexts::largeNotesFileShownWhole()
{
    Tutor tutor;
    MainWindow& w = tutor.startHome(QStringLiteral("5"));
    // Records as Save as Notes leaves them, ending on the closing rule without a line end.
    QByteArray notes;
    for (int i = 0; notes.size() < 300 * 1024; ++i)
        notes += "......!!!!!!!!...................................\r\nNOTES -------> note " + QByteArray::number(i) +
                 " \xe9\xff\r\n.................................................       ";
    {
        QFile f(tutor.homePath(QStringLiteral("notes_.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(notes);
    }
    QString joined = codepage::decode(notes);
    joined.remove(QStringLiteral("\r\n"));
    ui(w).txt_question->setText(QStringLiteral("shown"));
    QTest::mouseClick(ui(w).cmd_display_note_file, Qt::LeftButton);
    QCOMPARE(w.session().currentText(), joined);
    QCOMPARE(ui(w).txt_question->text(), QStringLiteral("shown\r\n\r\n") + joined);
    // The next step reads the box back and adds to it.
    QTest::mouseClick(ui(w).cmdNextQuestion, Qt::LeftButton);
    QCOMPARE(ui(w).txt_question->text(),
             QStringLiteral("shown\r\n\r\n") + joined + QStringLiteral("\r\n\r\n") + w.session().currentLine());
}

QTEST_MAIN(TestLargeTexts)
#include "tst_large_texts.moc"

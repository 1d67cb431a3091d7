#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTest>

#include "support/test_files.h"

// The records as the files must hold them, written out line by line from the layouts, so
// that a test compares whole files byte for byte.
namespace expected {

inline const QString kOpen = QStringLiteral("......!!!!!!!!...................................");
inline const QString kClose = QStringLiteral(".................................................");
inline const QString kTimeLine = QString(56, u' ') + QStringLiteral("10:15:30");
inline const QString kDateTimeLine = QString(42, u' ') + QStringLiteral("12-08-2026    10:15:30");

inline QString lines(const QStringList& list)
{
    return list.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

inline QString questionMaster(const QString& number, const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, "", "", "`questionNumber" + QString(13, u' ') + number, line, kOpen,
                  "RESPONSE -->  ", answer, kClose});
}

inline QString questionSend(const QString& line, const QString& answer)
{
    return lines({kOpen, kTimeLine, line, kOpen, "RESPONSE -->  ", answer, kClose});
}

inline QString notesRecord(const QString& line, const QString& note, bool master)
{
    const QString body = lines({kOpen, kTimeLine, kDateTimeLine, line, kOpen, "NOTES -------> " + note});
    return body + kClose + (master ? QStringLiteral("\r\n") : QString(7, u' '));
}

inline QByteArray header(const QByteArray& file)
{
    qsizetype at = 0;
    for (int i = 0; i < 5; ++i)
        at = file.indexOf("\r\n", at) + 2;
    return file.left(at);
}

// The whole-session tests walk set 5 with an answer, a note and an "OK" on the first three
// lines shown; these are the three files they must leave, after the session header.
inline const QString kSetFiveAnswer = QStringLiteral("v = 12 m / 4 s = 3 m/s\r\nso 3 m/s.");
inline const QString kSetFiveNote = QStringLiteral("I forgot the units at first.");

struct RecordFiles {
    QByteArray master;
    QByteArray send;
    QByteArray notes;
};

inline RecordFiles setFiveSession(const QByteArray& header, const QStringList& shown)
{
    return {header + recordBytes(questionMaster(" 50000 ", shown[0], kSetFiveAnswer) +
                                 notesRecord(shown[1], kSetFiveNote, true) + questionMaster(" 50000 ", shown[2], "OK")),
            header + recordBytes(questionSend(shown[0], kSetFiveAnswer) + notesRecord(shown[1], kSetFiveNote, false) +
                                 questionSend(shown[2], "OK")),
            recordBytes(notesRecord(shown[1], kSetFiveNote, false))};
}

// What a whole set-5 session left in the three files, compared whole: the same session header in
// the master and send files, then the records of the lines `shown`.
inline void compareSetFiveSession(const RecordFiles& got, const QStringList& shown)
{
    QCOMPARE(header(got.master), header(got.send));
    QVERIFY(header(got.master)
                .endsWith(recordBytes(QStringLiteral(
                    "assignment #005\r\n005.  `class notes 5\r\nPhysics I Class Notes\r\n12-08-2026\r\n"))));
    const RecordFiles want = setFiveSession(header(got.master), shown);
    QCOMPARE(got.master, want.master);
    QCOMPARE(got.send, want.send);
    QCOMPARE(got.notes, want.notes);
}

// The whole-session scenario both drivers run, the controller's and the window's: set 5 with
// an answer, a note and an "OK" on the first three lines shown, walked to its end.
template <typename Driver> void walkSetFive(Driver& tutor)
{
    tutor.startHome(QStringLiteral("5"));
    QStringList shown;
    auto next = [&] {
        if (tutor.next())
            shown << tutor.session().currentLine();
    };
    next();
    tutor.enterResponse(kSetFiveAnswer);
    next();
    tutor.saveAsNotes(kSetFiveNote);
    next();
    tutor.clock.set(QDateTime(QDate(2026, 12, 8), QTime(10, 15, 30)));
    tutor.enterResponse(QStringLiteral("OK"));
    next();
    next();
    next();
    QVERIFY(tutor.session().hasEnded());
    QCOMPARE(shown.size(), 4);
    QCOMPARE(tutor.ends, 1);
    compareSetFiveSession({tutor.homeBytes(QStringLiteral("masterFile.txt")),
                           tutor.homeBytes(QStringLiteral("send_1208.txt")),
                           tutor.homeBytes(QStringLiteral("notes_.txt"))},
                          shown);
}

} // namespace expected

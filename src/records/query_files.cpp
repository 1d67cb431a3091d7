#include "platform/code_page.h"
#include "platform/runtime_text.h"
#include "records/record_book.h"
#include "session/session.h"

std::optional<Failure> RecordBook::codeFile()
{
    const QString& folder = session_.dataFolder();
    const QString queryFile = folder + QStringLiteral("\\query.txt");
    const QString answerFile = folder + QStringLiteral("\\queri.txt");
    channels_.closeAll();
    auto fail = [this](const QString& message) {
        channels_.closeAll();
        return std::optional<Failure>(Failure{message});
    };

    if (const auto failure = channels_.open(1, drives_.local(queryFile), Channels::Mode::Input))
        return fail(QStringLiteral("%1 could not be read: %2").arg(queryFile, failure->reason));
    if (channels_.atEnd(1))
        return fail(QStringLiteral("%1 is empty: there is nothing to code").arg(queryFile));
    // The code number is the length of the first line, and it stays the session's from here on.
    session_.setSessionCodeNbr(int(codepage::decode(channels_.readLine(1)).size()));
    channels_.closeAll();

    if (const auto failure = channels_.open(1, drives_.local(queryFile), Channels::Mode::Input))
        return fail(QStringLiteral("%1 could not be read: %2").arg(queryFile, failure->reason));
    if (const auto failure = channels_.open(2, drives_.local(answerFile), Channels::Mode::Output))
        return fail(QStringLiteral("%1 could not be written: %2").arg(answerFile, failure->reason));
    while (!channels_.atEnd(1)) {
        const QString line = codepage::decode(channels_.readLine(1));
        const QString head = runtimetext::left(line, 6).toLower();
        QString out;
        if (head == QLatin1String("assign"))
            out = line;
        else if (head == QLatin1String("query "))
            out = QStringLiteral("query") + code(runtimetext::midFrom(line, 8), session_.sessionCodeNbr());
        else
            out = code(line, session_.sessionCodeNbr());
        if (const auto failure = channels_.write(2, codepage::encode(out + runtimetext::kCrLf)))
            return fail(QStringLiteral("%1 could not be written: %2").arg(answerFile, failure->reason));
    }
    channels_.closeAll();
    return std::nullopt;
}

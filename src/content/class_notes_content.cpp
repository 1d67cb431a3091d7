#include "content/class_notes_content.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

ClassNotesContent parseClassNotes(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {{},
                QStringLiteral("it is not valid JSON (%1 at character %2)")
                    .arg(parseError.errorString())
                    .arg(parseError.offset + 1)};
    if (!document.isArray())
        return {{}, QStringLiteral("it does not hold a JSON array of lines")};

    const QJsonArray array = document.array();
    QStringList lines;
    lines.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (!array.at(i).isString())
            return {{}, QStringLiteral("line %1 is not a text in quotes").arg(i + 1)};
        lines << array.at(i).toString();
    }
    return {lines, {}};
}

ClassNotesContent readClassNotes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("it cannot be opened (%1)").arg(file.errorString())};
    return parseClassNotes(file.readAll());
}

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The class-notes content is a JSON array of strings, one per line of the line table, in
// table order. JSON keeps trailing blanks, CR LF pairs and non-ASCII characters intact.
struct ClassNotesContent {
    QStringList lines;
    QString error; // why the content cannot be used; empty when it can
};

ClassNotesContent parseClassNotes(const QByteArray& json);

// Reads a file or a resource (":/content/...") and parses it.
ClassNotesContent readClassNotes(const QString& path);

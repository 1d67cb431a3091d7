#pragma once

#include <QString>

#include <vector>

// The session's transcript, newest first. Each step and record goes in front of what is
// there, so the pieces are kept oldest first and joined only when the whole text is asked
// for: adding costs the piece, not the session so far.
class Transcript {
public:
    void prepend(QString piece);
    QString text() const;
    qsizetype entries() const { return qsizetype(pieces_.size()); }

private:
    std::vector<QString> pieces_;
    qsizetype size_ = 0;
};

#include "transcript.h"

void Transcript::prepend(QString piece)
{
    if (piece.isEmpty())
        return;
    size_ += piece.size();
    pieces_.push_back(std::move(piece));
}

QString Transcript::text() const
{
    QString joined;
    joined.reserve(size_);
    for (auto piece = pieces_.rbegin(); piece != pieces_.rend(); ++piece)
        joined += *piece;
    return joined;
}

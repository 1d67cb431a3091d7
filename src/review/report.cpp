#include "report.h"

namespace review {

bool Report::flush(bool force)
{
    constexpr qsizetype kFlushAt = qsizetype(1) << 20;
    if (buffer_.size() < kFlushAt && !force)
        return !failed_;
    if (!failed_ && !buffer_.isEmpty())
        failed_ = out_->write(buffer_) != buffer_.size();
    handed_ += buffer_.size();
    buffer_.truncate(0); // keeps its room for the next megabyte
    return !failed_;
}

bool Report::divert(QIODevice& out)
{
    flush(true);
    out_ = &out;
    handed_ = 0;
    return !failed_;
}

} // namespace review

#include "app/batch_progress.h"

#include <algorithm>
#include <numeric>
#include <utility>

ProgressFigures::ProgressFigures(std::vector<std::int64_t> sizes)
    : sizes_(std::move(sizes)),
      totalBytes_(std::accumulate(sizes_.begin(), sizes_.end(), std::int64_t{0})) {}

void ProgressFigures::FileDone(int index, std::int64_t rows) {
    rows_ += rows;
    ++doneFiles_;
    if (index >= 0 && static_cast<std::size_t>(index) < sizes_.size()) {
        doneBytes_ += sizes_[index];
    }
}

QString ProgressFigures::Text(const QString& fileCountText, std::int64_t elapsedMs) const {
    QString text = QStringLiteral("%1, %2 rows stored, %3 elapsed")
                       .arg(fileCountText)
                       .arg(rows_)
                       .arg(FormatDuration(elapsedMs));
    // By bytes when there are any, by files otherwise.
    const bool byBytes = totalBytes_ > 0;
    const double done = byBytes ? double(doneBytes_) : double(doneFiles_);
    const double total = byBytes ? double(totalBytes_) : double(sizes_.size());
    if (done > 0 && done <= total) {
        const auto left = static_cast<std::int64_t>(double(elapsedMs) * (total - done) / done);
        text += QStringLiteral(", about %1 left").arg(FormatDuration(left));
    }
    return text;
}

QString FormatDuration(std::int64_t ms) {
    const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
    const QLatin1Char zero('0');
    if (seconds < 3600) {
        return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, zero);
    }
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, zero)
        .arg(seconds % 60, 2, 10, zero);
}

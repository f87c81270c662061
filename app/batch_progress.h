#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// The figures of the batch tool's progress line: how far the run is, how many rows the files
// done so far stored, the time elapsed, and an estimate of the time left. The estimate assumes
// that the bytes still to read take as long as those read: it is made from the sizes of the
// files done (from their count when every file is empty) and appears once a file is done.
class ProgressFigures {
  public:
    // `sizes`: the size in bytes of each file of the run, in run order.
    explicit ProgressFigures(std::vector<std::int64_t> sizes);

    // File `index` is done; it stored `rows` rows.
    void FileDone(int index, std::int64_t rows);

    // `fileCountText` ("Processing 3 of 10 files") followed by the figures at `elapsedMs`
    // milliseconds after the start, for example
    // "Processing 3 of 10 files, 1234 rows stored, 0:05 elapsed, about 0:12 left".
    QString Text(const QString& fileCountText, std::int64_t elapsedMs) const;

    std::int64_t rows() const { return rows_; }

  private:
    std::vector<std::int64_t> sizes_;
    std::int64_t totalBytes_ = 0;
    std::int64_t doneBytes_ = 0;
    int doneFiles_ = 0;
    std::int64_t rows_ = 0;
};

// `ms` as M:SS, or H:MM:SS from an hour on; seconds rounded down.
QString FormatDuration(std::int64_t ms);

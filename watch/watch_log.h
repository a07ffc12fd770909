#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/regular_file.h"
#include "watch/watch_poller.h"

namespace fc {

// "2026-03-01T14:05:09.123": ISO 8601, local time, to the millisecond.
std::string IsoLocalTime(std::chrono::system_clock::time_point time);

// One CSV cell: quoted when it holds a comma, a quote or a blank at an end.
std::string CsvCell(const std::string& text);
// "time", then each row's name (or address).
std::string CsvHeader(const std::vector<std::string>& titles);
// The time, then each row's value; a failed reading is an empty cell.
std::string CsvLine(std::chrono::system_clock::time_point time,
                    const std::vector<PolledRow>& rows, const std::vector<RowReading>& readings);

// The watch's CSV log: the header when opened, a line per poll, each line
// on disk as soon as it is written.
class WatchLog {
  public:
    WatchLog() = default;
    ~WatchLog();
    WatchLog(const WatchLog&) = delete;
    WatchLog& operator=(const WatchLog&) = delete;

    // Creates the file, or replaces one of the user's own (see CreateOwnFile);
    // false with `error` when it cannot be written.
    bool Open(const std::string& path, const std::vector<std::string>& titles, std::string& error);
    bool Append(std::chrono::system_clock::time_point time, const std::vector<PolledRow>& rows,
                const std::vector<RowReading>& readings);
    // False when the file, or a line before, was not written in full.
    bool Close();
    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Path() const { return file_.Path(); }
    // Why a line or the close failed.
    const std::string& Failure() const { return file_.Failure(); }

  private:
    bool WriteLine(const std::string& line);

    OwnFile file_;
};

}  // namespace fc

#include "watch/watch_log.h"

#include <ctime>

#include "modbus/frame_trace.h"

namespace fc {

std::string IsoLocalTime(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[16];
    std::strftime(date, sizeof date, "%Y-%m-%dT", &local);
    return date + TraceTime(time);
}

std::string CsvCell(const std::string& text) {
    const bool quoted = text.find_first_of(",\"") != std::string::npos ||
                        (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quoted)
        return text;
    std::string cell = "\"";
    for (const char c : text)
        cell += c == '"' ? std::string("\"\"") : std::string(1, c);
    return cell + "\"";
}

std::string CsvHeader(const std::vector<std::string>& titles) {
    std::string line = "time";
    for (const std::string& title : titles)
        line += "," + CsvCell(title);
    return line;
}

std::string CsvLine(std::chrono::system_clock::time_point time,
                    const std::vector<PolledRow>& rows, const std::vector<RowReading>& readings) {
    std::string line = IsoLocalTime(time);
    for (size_t i = 0; i < rows.size() && i < readings.size(); ++i)
        line += "," + ReadingText(rows[i], readings[i]);
    return line;
}

WatchLog::~WatchLog() {
    Close();
}

bool WatchLog::Open(const std::string& path, const std::vector<std::string>& titles,
                    std::string& error) {
    Close();
    if (!file_.Create(path, error))
        return false;
    if (!WriteLine(CsvHeader(titles))) {
        error = file_.Failure();
        Close();
        return false;
    }
    return true;
}

bool WatchLog::Append(std::chrono::system_clock::time_point time,
                      const std::vector<PolledRow>& rows, const std::vector<RowReading>& readings) {
    return WriteLine(CsvLine(time, rows, readings));
}

bool WatchLog::WriteLine(const std::string& line) {
    return file_.Write(line + "\n");
}

bool WatchLog::Close() {
    return file_.Close();
}

}  // namespace fc

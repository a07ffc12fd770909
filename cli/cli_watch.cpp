// fcloader-cli watch: the rows of a watch list, polled until --times or Ctrl-C.

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "cli/cli_session.h"
#include "cli/fleet_display.h"
#include "platform/profile.h"
#include "platform/stop_request.h"
#include "watch/watch_log.h"
#include "watch/watch_poller.h"

namespace fc {

namespace {

std::string Padded(std::string text, size_t width, bool right) {
    if (text.size() >= width)
        return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

// The table a terminal shows, redrawn in place after every poll.
std::vector<std::string> TableLines(const std::vector<WatchRow>& rows, const WatchPoller& poller,
                                    const std::vector<RowStatistics>& statistics,
                                    const std::string& heading) {
    size_t name_width = 4;
    for (const WatchRow& row : rows)
        name_width = std::max(name_width, RowTitle(row).size());
    constexpr size_t kNumber = 14;
    const auto line = [&](const std::string& name, const std::string& address,
                          const std::string& type, const std::vector<std::string>& numbers) {
        std::string text = Padded(name, name_width, false) + Padded(address, 9, true) + "  " +
                           Padded(type, 10, false);
        for (const std::string& number : numbers)
            text += " " + Padded(number, kNumber - 1, true);
        return text;
    };
    std::vector<std::string> lines{heading, line("name", "address", "type",
                                                 {"value", "minimum", "maximum", "mean", "failed"})};
    for (size_t i = 0; i < rows.size(); ++i) {
        const PolledRow& polled = poller.Rows()[i];
        const RowStatistics& stats = statistics[i];
        const RowReading& reading = poller.Readings()[i];
        const auto seen = [&](double value) {
            return stats.Good > 0 ? ShownText(polled, {true, value}) : std::string();
        };
        lines.push_back(line(RowTitle(rows[i]), std::to_string(rows[i].Address),
                             WatchTypeWord(rows[i].Type),
                             {reading.Ok ? ShownText(polled, reading) : "failed",
                              seen(stats.Minimum), seen(stats.Maximum),
                              stats.Good > 0 ? MeanText(polled, stats.Mean()) : "",
                              std::to_string(stats.Failed)}));
    }
    return lines;
}

std::string PlainLine(const std::string& stamp, const WatchPoller& poller, bool ok,
                      const std::vector<std::string>& messages) {
    std::string text = stamp;
    for (size_t i = 0; i < poller.Rows().size(); ++i) {
        const std::string value = ReadingText(poller.Rows()[i], poller.Readings()[i]);
        text += " " + (value.empty() ? std::string("-") : value);
    }
    if (!ok)
        text += " failed" + (messages.empty() ? "" : ": " + messages.back());
    return text;
}

std::string JsonLine(const std::string& stamp, const WatchPoller& poller, bool ok,
                     const std::vector<std::string>& messages) {
    std::string values = "[";
    for (size_t i = 0; i < poller.Rows().size(); ++i) {
        const PolledRow& row = poller.Rows()[i];
        const std::string value = ReadingText(row, poller.Readings()[i]);
        // Hex and bits are texts; the rest are JSON numbers.
        const bool text = row.Type != RegisterType::Float &&
                          (row.Form.Show == WatchShow::Hex || row.Form.Show == WatchShow::Bits);
        values += (i > 0 ? "," : "") + (value.empty() ? std::string("null")
                                        : text         ? JsonObject::Quote(value)
                                                       : value);
    }
    JsonObject line;
    line.Add("time", stamp);
    line.Add("outcome", ok ? "success" : "failed");
    line.AddRaw("values", values + "]");
    line.Add("messages", messages);
    return line.Text();
}

}  // namespace

int CliSession::WatchCommand() {
    std::string error;
    const auto rows = ReadWatchFile(options_.arguments[0], error);
    if (!rows) {
        std::fprintf(stderr, "fcloader-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    RegisterTypeRanges ranges;
    LoadRegisterTypeRanges(ranges, profile_);
    std::vector<PolledRow> polled;
    std::vector<std::string> titles;
    for (const WatchRow& row : *rows) {
        polled.push_back(ResolveRow(row, ranges, options_.float_low_word_first));
        titles.push_back(RowTitleWithUnit(row));
    }
    WatchLog log;
    if (!options_.csv.empty() && !log.Open(options_.csv, titles, error)) {
        SayCannotWrite(options_.csv, error);
        return kExitUsage;
    }
    WatchPoller poller(std::move(polled));
    poller.KeepLinkOpen();
    std::vector<RowStatistics> statistics(rows->size());
    const bool terminal = !options_.json && isatty(STDOUT_FILENO);
    if (terminal)
        ui_.KeepMessagesQuiet();
    InPlaceLines table;
    long long polls = 0;
    const int status = RepeatPolls(*options_.interval_seconds, [&] {
        const size_t seen = ui_.Messages().size();
        const auto time = std::chrono::system_clock::now();
        const bool ok = poller.Poll(master_);
        if (!ok && master_.StoppedByRequest())
            return false;
        const std::vector<std::string> messages(ui_.Messages().begin() + seen,
                                                ui_.Messages().end());
        for (size_t i = 0; i < statistics.size(); ++i)
            statistics[i].Add(poller.Readings()[i], time);
        if (log.IsOpen() && !log.Append(time, poller.Rows(), poller.Readings())) {
            TellOutputFailure(options_.csv, log.Failure());
            log.Close();
        }
        const std::string stamp = IsoLocalTime(time);
        if (terminal) {
            std::string heading = stamp + "  poll " + std::to_string(++polls) + ", " +
                                  std::to_string(poller.Transactions()) + " block reads";
            // The first text says most: "Exception 2: ..." before the box's.
            if (!ok && !messages.empty())
                heading += ", failed: " + messages.front();
            table.Draw(stdout, TableLines(*rows, poller, statistics, heading));
        } else {
            std::printf("%s\n", (options_.json ? JsonLine(stamp, poller, ok, messages)
                                               : PlainLine(stamp, poller, ok, messages))
                                    .c_str());
        }
        std::fflush(stdout);
        return ok;
    });
    poller.Release(master_);
    if (log.IsOpen() && !log.Close()) {
        TellOutputFailure(options_.csv, log.Failure());
        return kExitUnitFailed;
    }
    return status;
}

}  // namespace fc

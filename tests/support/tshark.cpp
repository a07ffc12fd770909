#include "tests/support/tshark.h"

#include <cstdio>
#include <sstream>

namespace fc::test {

namespace {
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
}  // namespace

std::vector<std::vector<std::string>> TsharkFields(const std::string& capture,
                                                   const std::vector<std::string>& options,
                                                   const std::string& filter,
                                                   const std::vector<std::string>& fields) {
    std::string command = "tshark -n -r " + Quoted(capture);
    for (const std::string& option : options)
        command += " " + Quoted(option);
    if (!filter.empty())
        command += " -Y " + Quoted(filter);
    command += " -T fields";
    for (const std::string& field : fields)
        command += " -e " + Quoted(field);
    command += " 2>/dev/null";
    std::vector<std::vector<std::string>> rows;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return rows;
    std::string output;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    pclose(pipe);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> row;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            row.push_back(cell);
        row.resize(fields.size());
        rows.push_back(row);
    }
    return rows;
}

}  // namespace fc::test

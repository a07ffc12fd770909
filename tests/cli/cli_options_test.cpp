#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/json_writer.h"
#include "modbus/comm_settings.h"

namespace fc {
namespace {

std::optional<CliOptions> Parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string ignored;
    return ParseCommandLine(args, error ? *error : ignored);
}

TEST(CliOptions, CommandsOptionsAndOverrides) {
    const auto options = Parse({"--baud", "38400", "read", "7000", "--parity=even", "--mode",
                                "ascii", "--unit", "7", "--timeout", "1", "--retry", "0", "--type",
                                "float", "--float-size", "2", "--float-order", "lohi"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->command, "read");
    EXPECT_EQ(options->arguments, std::vector<std::string>{"7000"});
    EXPECT_EQ(options->type, "float");
    EXPECT_EQ(options->float_registers, 2);
    EXPECT_TRUE(options->float_low_word_first);

    CommSettings settings;
    settings.UseIP = true;
    ApplyOverrides(options->overrides, settings);
    EXPECT_EQ(settings.BaudRate, 5);
    EXPECT_EQ(settings.Parity, 2);
    EXPECT_EQ(settings.ModbusType, kModbusAscii);
    EXPECT_EQ(settings.UnitId, 7);
    EXPECT_EQ(settings.Timeout, 1);
    EXPECT_EQ(settings.Retry, 0);
    EXPECT_TRUE(settings.UseIP);  // no serial option given: the saved transport stays
}

TEST(CliOptions, TcpTargetsAndEncapsulation) {
    auto options = Parse({"--tcp", "unit-7.plant:1502", "--encapsulated", "test"});
    ASSERT_TRUE(options);
    CommSettings settings;
    ApplyOverrides(options->overrides, settings);
    EXPECT_TRUE(settings.UseIP);
    EXPECT_EQ(settings.IPAddress, "unit-7.plant");
    EXPECT_EQ(settings.IPPort, 1502);
    EXPECT_NE(settings.IPProtocol, 0);

    options = Parse({"--tcp", "10.0.0.5", "test"});
    ASSERT_TRUE(options);
    ApplyOverrides(options->overrides, settings);
    EXPECT_EQ(settings.IPPort, 502);
    EXPECT_EQ(settings.IPProtocol, 0);

    options = Parse({"--port", "3", "test"});
    ASSERT_TRUE(options);
    ApplyOverrides(options->overrides, settings);
    EXPECT_FALSE(settings.UseIP);
    EXPECT_EQ(settings.ComPort, 3);
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"read"},
        {"write", "100"},
        {"read", "100", "extra"},
        {"--baud", "9601", "test"},
        {"--baud", "fast", "test"},
        {"--parity", "mark", "test"},
        {"--data-bits", "9", "test"},
        {"--unit", "256", "test"},
        {"--unit", "-1", "test"},
        {"--timeout", "1001", "test"},
        {"--retry", "99999999999999999999", "test"},
        {"--tcp", ":502", "test"},
        {"--tcp", "host:70000", "test"},
        {"--type", "double", "read", "1"},
        {"--float-size", "3", "read", "1"},
        {"--yes=1", "test"},
        {"--bogus", "test"},
        {"test", "--port"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(CliOptions, HelpNeedsNoCommandAndListsEveryCommand) {
    const auto options = Parse({"--help"});
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->help);
    const std::string usage = UsageText();
    for (const char* command :
         {"test", "detect", "download IMAGE", "read ADDR", "write ADDR VALUE", "read-block",
          "write-block", "clock", "report PORT FILE", "Exit status: 0 success, 1"}) {
        EXPECT_NE(usage.find(command), std::string::npos) << command;
    }
}

TEST(JsonObject, EscapesAndNumbers) {
    JsonObject json;
    json.Add("text", "a \"quoted\"\nline\\\x01");
    json.Add("n", 42);
    json.Add("x", 1.5);
    json.Add("ok", true);
    json.Add("list", std::vector<std::string>{"a", "b"});
    EXPECT_EQ(json.Text(),
              R"({"text":"a \"quoted\"\nline\\\u0001","n":42,"x":1.5,"ok":true,"list":["a","b"]})");
}

// Well-formed UTF-8 passes as it is; every byte that starts no well-formed
// sequence reads as U+FFFD, so any JSON parser takes the text.
TEST(JsonObject, InvalidUtf8BecomesReplacementCharacters) {
    const struct {
        std::string text;
        std::string quoted;
    } cases[] = {
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
         "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"image-\xe9.img", R"("image-\ufffd.img")"},            // Latin-1
        {"\x80\xbf", R"("\ufffd\ufffd")"},                      // stray continuations
        {"\xc0\xaf", R"("\ufffd\ufffd")"},                      // overlong "/"
        {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},            // surrogate
        {"\xf4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // beyond U+10FFFF
        {"end \xe2\x82", R"("end \ufffd\ufffd")"},              // cut short
        {"\xe2\x82\"", R"("\ufffd\ufffd\"")"},                  // cut by a quote
    };
    for (const auto& c : cases)
        EXPECT_EQ(JsonObject::Quote(c.text), c.quoted) << c.text;
}

}  // namespace
}  // namespace fc

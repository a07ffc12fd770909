#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "connection/port_report.h"
#include "platform/messages.h"
#include "tests/peers/serial_bench.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

std::string Contents(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// COM 3 is the slave of a pty whose line the test set beforehand, as another
// program would have left it.
class PortReportRun : public ::testing::Test, public test::SerialBench {
  protected:
    void SetUp() override {
        termios line{};
        ASSERT_EQ(::tcgetattr(pty.slave, &line), 0);
        cfmakeraw(&line);
        cfsetispeed(&line, B4800);
        cfsetospeed(&line, B4800);
        line.c_cflag |= CSTOPB;  // a pty keeps 8 data bits whatever it is asked
        line.c_iflag |= IXON;
        line.c_cc[VSTART] = 0x11;
        line.c_cc[VSTOP] = 0x93;
        line.c_cc[VMIN] = 0;
        line.c_cc[VTIME] = 0;
        ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &line), 0);
    }

    PortReportHooks Hooks() {
        return {[this]() -> std::optional<std::string> {
                    ++asked;
                    return chosen;
                },
                [this](const std::string& path) { opened.push_back(path); }};
    }

    test::TempDir dir;
    std::optional<std::string> chosen = dir.File("port reports/Config.txt");
    int asked = 0;
    std::vector<std::string> opened;
};

TEST_F(PortReportRun, WritesTheDriversStateOfTheNamedPortAndOpensIt) {
    ASSERT_EQ(::mkdir(dir.File("port reports").c_str(), 0700), 0);
    GenerateFullPortReport(master, 3, Hooks());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(master.IsOpen());
    ASSERT_EQ(opened, std::vector<std::string>{*chosen});

    const std::string text = Contents(*chosen);
    for (const char* line : {
             "----------------------------\n      SERIAL PORT REPORT\n"
             "----------------------------\n\n CONTROL SETTINGS\n\n"
             " Port                       :     3  (Serial Port Number)\n"
             " BaudRate                   :  4800  (Speed at which the communication device "
             "operates)\n"
             " ByteSize                   :     8  (Number of bits in Tx and Rx bytes)\n",
             " StopBits                   :     2  (Number of stop bits to be used)\n"
             " fOutX                      :     1  (If XON/XOFF flow control is used during Tx)\n",
             " XonChar                    :    17  (Value of the XON character)\n"
             " XoffChar                   :  -109  (Value of the XOFF char for both Tx and Rx)\n",
             " EvtChar                    :     0  (Value of the char used to signal an event)\n\n"
             " TIME SETTINGS\n\n"
             " ReadIntervalTimeout        :    -1  (mS) Maximum time to elapse between the "
             "arrival of two chars.\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 39);

    // Reading changed nothing on the line.
    termios after{};
    ASSERT_EQ(::tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), speed_t(B4800));
    EXPECT_EQ(after.c_cc[VSTOP], 0x93);
}

TEST_F(PortReportRun, CancellingTheSaveDialogWritesNothing) {
    chosen.reset();
    GenerateFullPortReport(master, 3, Hooks());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(master.IsOpen());
}

TEST_F(PortReportRun, APortThatDoesNotOpenGetsAWarningNotStaleZeros) {
    const int holder = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    GenerateFullPortReport(master, 3, Hooks());
    ::close(holder);
    GenerateFullPortReport(master, 0, Hooks());
    // Only the device the number names: no second name is tried.
    ModbusMaster fallback{settings, links, ui, [this](int) {
                              return std::vector<std::string>{"/nonexistent/fc-tty", pty.path};
                          }};
    GenerateFullPortReport(fallback, 3, Hooks());

    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(ui.messages.size(), 3u);
    const std::string reasons[] = {PortFailureReason({pty.path, EBUSY}),
                                   PortFailureReason({"", ENODEV}),
                                   PortFailureReason({"/nonexistent/fc-tty", ENOENT})};
    for (size_t i = 0; i < ui.messages.size(); ++i) {
        EXPECT_EQ(ui.messages[i].text,
                  WithReason(connection_messages::kUnableToReadPort, reasons[i]));
        EXPECT_EQ(ui.messages[i].icon, MessageIcon::Warning);
    }
}

// A FIFO with no reader would hold the run for good; it is no report file.
TEST_F(PortReportRun, AFileThatCannotBeCreatedGetsAMessage) {
    const std::string fifo = dir.File("fifo.txt");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("no such folder/Config.txt"), std::strerror(ENOENT)},
        {fifo, platform_messages::kIsFifo}};
    for (const auto& [path, reason] : cases) {
        chosen = path;
        ui.messages.clear();
        GenerateFullPortReport(master, 3, Hooks());
        EXPECT_TRUE(opened.empty());
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, std::string(connection_messages::kUnableToCreateReport) +
                                           "\n" + path + "\n" + reason);
    }
}

TEST_F(PortReportRun, AnExistingFileIsReplaced) {
    chosen = dir.File("Config.txt");
    std::ofstream(*chosen) << std::string(5000, '~');
    GenerateFullPortReport(master, 3, Hooks());
    EXPECT_EQ(Contents(*chosen).find('~'), std::string::npos);
}

TEST(OpenInEditor, DesktopFirstThenTheUsersEditorWithThePathAsOneArgument) {
    const std::string path = "/tmp/a folder with  blanks/" + std::string(300, 'r') + " Config.txt";
    std::vector<std::vector<std::string>> launched;
    bool desktop_answers = true;
    std::vector<std::string> offered;
    const ReportOpeners openers{[&](const std::string& p) {
                                    offered.push_back(p);
                                    return desktop_answers;
                                },
                                [&](const std::vector<std::string>& argv) {
                                    launched.push_back(argv);
                                    return true;
                                }};
    const ScopedEnv visual("VISUAL", "fc-editor  --wait");
    const ScopedEnv editor("EDITOR", "other-editor");
    OpenInEditor(path, openers);
    EXPECT_EQ(offered, std::vector<std::string>{path});
    EXPECT_TRUE(launched.empty());

    desktop_answers = false;
    OpenInEditor(path, openers);
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0], (std::vector<std::string>{"fc-editor", "--wait", path}));

    const ScopedEnv no_visual("VISUAL", nullptr);
    OpenInEditor(path, openers);
    EXPECT_EQ(launched.back(), (std::vector<std::string>{"other-editor", path}));

    const ScopedEnv no_editor("EDITOR", "");
    EXPECT_FALSE(OpenInEditor(path, openers));
    EXPECT_EQ(launched.size(), 2u);  // nobody to start
}

// A report nothing could open is still the user's to find: the box names it.
TEST(OpenReportOrSayWhere, NamesTheFileWhenNothingOpensIt) {
    const std::string path = "/tmp/reports/Config.txt";
    const struct {
        bool desktop;
        const char* visual;
        bool launches, told;
    } cases[] = {{true, nullptr, false, false},
                 {false, "fc-editor", true, false},
                 {false, "fc-missing-editor", false, true},
                 {false, nullptr, false, true}};
    const ScopedEnv no_editor("EDITOR", nullptr);
    for (const auto& c : cases) {
        const ScopedEnv visual("VISUAL", c.visual);
        ScriptedUserInterface ui;
        OpenReportOrSayWhere(ui, path,
                             {[&](const std::string&) { return c.desktop; },
                              [&](const std::vector<std::string>&) { return c.launches; }});
        ASSERT_EQ(ui.messages.size(), c.told ? 1u : 0u) << c.visual;
        if (c.told) {
            EXPECT_EQ(ui.messages[0].text,
                      std::string(connection_messages::kReportNotOpened) + "\n" + path);
        }
    }
}

// A real program started without a shell: the path arrives as one argument.
TEST(OpenInEditor, StartsTheEditorWithoutAShell) {
    test::TempDir dir;
    const std::string script = dir.File("editor");
    const std::string seen = dir.File("seen");
    std::ofstream(script) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" << seen
                          << ".tmp\" && mv \"" << seen << ".tmp\" \"" << seen << "\"\n";
    ASSERT_EQ(::chmod(script.c_str(), 0700), 0);
    const ScopedEnv visual("VISUAL", script.c_str());
    const std::string path = dir.File("my reports; rm -rf x/$HOME Config.txt");
    OpenInEditor(path, ReportOpeners{});
    for (int i = 0; i < 500 && !Exists(seen); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Contents(seen), "1|" + path);
}

}  // namespace
}  // namespace fc

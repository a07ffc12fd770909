#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "sim/simulator.h"

// mbpoll (libmodbus) is a Modbus master nobody here wrote: if it reads and
// writes the simulator, the simulator speaks the Modbus everyone else speaks.
namespace fc::sim::test {
namespace {

constexpr const char* kMbpoll = "/usr/bin/mbpoll";

struct MbpollRun {
    int status = -1;
    std::string output;
};

MbpollRun RunMbpoll(const std::string& arguments) {
    MbpollRun run;
    const std::string command = std::string(kMbpoll) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        run.output += buffer;
    run.status = pclose(pipe);
    return run;
}

class MbpollPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(kMbpoll, X_OK) != 0)
            GTEST_SKIP() << "mbpoll is not installed";
        SimulatorOptions options;
        options.pty = true;
        options.tcp_port = 0;
        options.registers = {{100, 1234}, {101, 65535}, {7000, 0x3F800000}};
        sim_ = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }
    std::string Rtu(const std::string& arguments) {
        return "-m rtu -b 9600 -P none -1 -0 -o 1 " + arguments + " " + sim_->PtyPath();
    }
    std::string Tcp(const std::string& arguments) {
        return "-m tcp -p " + std::to_string(sim_->ModbusTcpPort()) + " -1 -0 -o 1 " + arguments +
               " 127.0.0.1";
    }
    std::unique_ptr<Simulator> sim_;
};

TEST_F(MbpollPeer, ReadsAndWritesOverRtuOnThePty) {
    const MbpollRun read = RunMbpoll(Rtu("-r 100 -c 2"));
    EXPECT_EQ(read.status, 0) << read.output;
    EXPECT_NE(read.output.find("[100]: \t1234"), std::string::npos) << read.output;
    EXPECT_NE(read.output.find("[101]: \t65535"), std::string::npos) << read.output;
    const MbpollRun write = RunMbpoll(Rtu("-r 200") + " 11 65534");
    EXPECT_EQ(write.status, 0) << write.output;
    EXPECT_EQ(sim_->Register(200), 11u);
    EXPECT_EQ(sim_->Register(201), 0xFFFEu);
}

TEST_F(MbpollPeer, ReadsAndWritesOverModbusTcp) {
    const MbpollRun write = RunMbpoll(Tcp("-r 300") + " 7 8 9");
    EXPECT_EQ(write.status, 0) << write.output;
    const MbpollRun read = RunMbpoll(Tcp("-r 300 -c 3"));
    EXPECT_EQ(read.status, 0) << read.output;
    EXPECT_NE(read.output.find("[302]: \t9"), std::string::npos) << read.output;
}

TEST_F(MbpollPeer, WindowRegistersCarryFourBytes) {
    // mbpoll expects two bytes per register, so it refuses the reply; its
    // trace shows the four bytes of the float 1.0 the unit sent.
    const MbpollRun read = RunMbpoll("-v " + Tcp("-r 7000 -c 1"));
    EXPECT_NE(read.output.find("<01><03><04><3F><80><00><00>"), std::string::npos) << read.output;
}

}  // namespace
}  // namespace fc::sim::test

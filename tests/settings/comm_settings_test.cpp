#include <gtest/gtest.h>

#include <fstream>

#include "modbus/comm_settings.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace fc {
namespace {

namespace k = settings_keys;

class CommSettingsTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::string path_ = dir_.File("fcloader.conf");
    Profile Open() { return Profile::AtPath(path_); }

    // Start-up as the program does it: load, then write everything back.
    CommSettings StartUp() {
        Profile profile = Open();
        CommSettings settings;
        LoadSettings(settings, profile);
        WriteBackSettings(settings, profile);
        profile.Sync();
        return settings;
    }
};

TEST_F(CommSettingsTest, RecordStartsWithItsInitialValues) {
    CommSettings s;
    EXPECT_EQ(s.UnitId, 1);
    EXPECT_EQ(s.BaudRate, 3);
    EXPECT_EQ(s.IPAddress, "");
    EXPECT_EQ(s.IPPort, 0);
    EXPECT_FALSE(s.UseIP);
}

TEST_F(CommSettingsTest, FirstRunWithEmptyProfileGivesDefaultsAndWritesAllThirteenKeys) {
    const CommSettings s = StartUp();
    EXPECT_EQ(s.ModbusType, kModbusRtu);
    EXPECT_EQ(s.ComPort, 1);
    EXPECT_EQ(s.BaudRate, 3);
    EXPECT_EQ(BaudFromIndex(s.BaudRate), 9600);
    EXPECT_EQ(s.Parity, 0);
    EXPECT_EQ(s.DataBits, 8);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_EQ(s.UnitId, 1);
    EXPECT_EQ(s.Timeout, 2);
    EXPECT_EQ(s.Retry, 3);
    EXPECT_FALSE(s.UseIP);
    EXPECT_EQ(s.IPAddress, "10.1.1.1");
    EXPECT_EQ(s.IPPort, 502);
    EXPECT_EQ(s.IPProtocol, 0);

    const Profile profile = Open();
    for (const char* key : {k::kUnitId, k::kModbusType, k::kComPort, k::kBaudRate, k::kParity,
                            k::kDataBits, k::kStopBits, k::kTimeout, k::kRetry, k::kUseIP,
                            k::kIPAddress, k::kIPPort, k::kIPProtocol}) {
        EXPECT_TRUE(profile.Contains(k::kSection, key)) << key;
    }
    EXPECT_EQ(profile.GetString(k::kSection, k::kIPAddress, ""), "10.1.1.1");
    EXPECT_EQ(profile.GetInt(k::kSection, k::kIPPort, 0), 502);
}

TEST_F(CommSettingsTest, StoredValuesAreKeptAsTheyAreAndNarrowedToTheirField) {
    {
        Profile profile = Open();
        profile.WriteInt(k::kSection, k::kBaudRate, 9);
        profile.WriteInt(k::kSection, k::kUseIP, 5);
        profile.WriteInt(k::kSection, k::kComPort, 70000);  // 16-bit field: clamped, not wrapped
        profile.WriteInt(k::kSection, k::kIPPort, 70000);   // unsigned 16-bit
        profile.WriteInt(k::kSection, k::kUnitId, 70000);   // one byte on the wire
        profile.WriteInt(k::kSection, k::kTimeout, -1);
        profile.WriteString(k::kSection, k::kRetry, "many");  // not a number: the default
    }
    const CommSettings s = StartUp();
    EXPECT_EQ(s.BaudRate, 9);
    EXPECT_EQ(BaudFromIndex(s.BaudRate), 9600);
    EXPECT_TRUE(s.UseIP);
    EXPECT_EQ(s.ComPort, 32767);
    EXPECT_EQ(s.IPPort, 65535);
    EXPECT_EQ(s.UnitId, 255);
    EXPECT_EQ(s.Timeout, -1);
    EXPECT_EQ(s.Retry, 3);

    const Profile profile = Open();
    EXPECT_EQ(profile.GetInt(k::kSection, k::kUseIP, -1), 1);  // written back as 1
    EXPECT_EQ(profile.GetInt(k::kSection, k::kBaudRate, -1), 9);
}

TEST_F(CommSettingsTest, SaveAndRestartRoundTrip) {
    CommSettings s = StartUp();
    s.IPPort = 65000;
    s.UseIP = true;
    s.IPAddress = "unit-7.plant.example";
    s.ModbusType = kModbusAscii;
    s.Parity = 2;
    s.DataBits = 7;
    s.UnitId = 247;
    {
        Profile profile = Open();
        SaveSettings(s, profile);
    }
    const CommSettings again = StartUp();
    EXPECT_EQ(again.IPPort, 65000);
    EXPECT_TRUE(again.UseIP);
    EXPECT_EQ(again.IPAddress, "unit-7.plant.example");
    EXPECT_EQ(again.ModbusType, kModbusAscii);
    EXPECT_EQ(again.Parity, 2);
    EXPECT_EQ(again.DataBits, 7);
    EXPECT_EQ(again.UnitId, 247);
}

// QSettings reads an unquoted comma as a list, which came back empty and was
// written back blank at the next start. The text survives two starts now.
TEST_F(CommSettingsTest, AHandEditedValueWithACommaKeepsItsText) {
    for (const char* text : {"10.1.1.1, 10.1.1.2", "a,b,,c"}) {
        std::ofstream(path_) << "[Ports]\nIPAddress=x\n[Settings]\nIPAddress = " << text << " \n";
        EXPECT_EQ(StartUp().IPAddress, text);
        EXPECT_EQ(StartUp().IPAddress, text);
    }
}

TEST(BaudTable, EveryIndexAndNothingElse) {
    const int expected[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(BaudFromIndex(i), expected[i]);
    for (int i : {-1, 8, 9, 1000})
        EXPECT_EQ(BaudFromIndex(i), 9600);
}

TEST(ProfileStore, PerUserStoreLivesUnderTheCompanyKeyAndTitle) {
    Profile profile("fcloader");
    EXPECT_NE(profile.FilePath().find("/Quenta/fcloader.conf"), std::string::npos)
        << profile.FilePath();
}

}  // namespace
}  // namespace fc

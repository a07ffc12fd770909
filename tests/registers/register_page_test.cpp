#include <gtest/gtest.h>

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <chrono>
#include <clocale>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>

#include "modbus/messages.h"
#include "platform/field_text.h"
#include "registers/auto_type_dialog.h"
#include "registers/register_messages.h"
#include "registers/register_page.h"
#include "sim/simulator.h"
#include "tests/gui/gui_test_support.h"
#include "ui/main_dialog_template.h"

// The register pages of the real window, offscreen, against the simulated
// unit on a pseudo-terminal as COM 1.
namespace fc::test {
namespace {

class RegisterPageTest : public ::testing::Test, protected TestWindow {
  protected:
    // COM n is the simulated unit's pseudo-terminal.
    RegisterPageTest()
        : TestWindow([this](int) { return std::vector<std::string>{sim_->PtyPath()}; }) {
        sim::SimulatorOptions options;
        options.pty = true;
        sim_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        started_ = sim_->Start(&error);
        // Two seconds: a reply must never miss a time-out that runs to the
        // next whole second only (a box nobody answers would hang the test).
        // Tests of failures set 0 just before.
        settings_.Timeout = 2;
        settings_.Retry = 0;
    }

    void SetUp() override {
        ASSERT_TRUE(started_);
        dialog_.show();
        dialog_.activateWindow();
        QApplication::setActiveWindow(&dialog_);
    }

    template <typename Widget>
    Widget* C(int id) {
        return dialog_.ControlAs<Widget>(id);
    }
    void Type(int id, const char* text) { C<QLineEdit>(id)->setText(QString::fromUtf8(text)); }
    QString Shown(int id) {
        if (auto* edit = C<QLineEdit>(id))
            return edit->text();
        return C<QLabel>(id)->text();
    }
    void Press(int id) { C<QPushButton>(id)->click(); }
    void Check(int id) { C<QRadioButton>(id)->setChecked(true); }
    QTimer* WindowTimer(const char* name) { return dialog_.findChild<QTimer*>(name); }
    AutoTypeDialog* AutoType() { return dialog_.findChild<AutoTypeDialog*>(); }

    void Fault(const std::string& text) {
        std::string error;
        ASSERT_TRUE(sim_->AddFault(text, &error)) << error;
    }
    std::vector<sim::RequestInfo> Taken(int function) const {
        std::vector<sim::RequestInfo> taken;
        for (const sim::LoggedRequest& request : sim_->Requests())
            if (request.info.function == function)
                taken.push_back(request.info);
        return taken;
    }

    std::unique_ptr<sim::Simulator> sim_;
    bool started_ = false;
};

// Keeps the next message box open for a while, noting what the unit was
// asked meanwhile, then answers it.
struct HeldBox {
    bool seen = false;
    QString text;
    size_t requests_when_shown = 0;
    std::vector<sim::LoggedRequest> requests_when_answered;
};

std::shared_ptr<HeldBox> HoldNextMessageBox(sim::Simulator& sim, std::chrono::milliseconds hold,
                                            const std::function<void()>& before_answer) {
    auto held = std::make_shared<HeldBox>();
    auto* timer = new QTimer(QCoreApplication::instance());
    auto since = std::make_shared<std::chrono::steady_clock::time_point>();
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=, &sim] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            if (!held->seen) {
                held->seen = true;
                held->text = box->text();
                held->requests_when_shown = sim.Requests().size();
                *since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - *since >= hold) {
                held->requests_when_answered = sim.Requests();
                timer->stop();
                timer->deleteLater();
                before_answer();
                box->button(QMessageBox::Ok)->click();
            }
            return;
        }
        if (!held->seen && ++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
    return held;
}

TEST_F(RegisterPageTest, ReadShowsTheValueOfTheTypeTheButtonsChoose) {
    sim_->SetRegister(7000, std::bit_cast<uint32_t>(12.25f));
    sim_->SetRegister(100, 0xFFFF);
    sim_->SetRegister(4210, 0x0001);
    sim_->SetRegister(4211, 0xE240);
    ASSERT_TRUE(C<QRadioButton>(ids::kRadioAuto)->isChecked());

    Type(ids::kAddress, "7000");
    Press(ids::kRead);
    EXPECT_EQ(Shown(ids::kData), "12.250000");
    EXPECT_TRUE(Shown(ids::kTransmitMessage).startsWith(" 01 03 1B 58 00 01"));
    EXPECT_TRUE(Shown(ids::kReceiveMessage).startsWith(" 01 03 04 41 44 00 00"));
    Type(ids::kAddress, "4210");
    Press(ids::kRead);
    EXPECT_EQ(Shown(ids::kData), "123456");
    Type(ids::kAddress, " 100,7 ");
    Press(ids::kRead);
    EXPECT_EQ(Shown(ids::kData), "65535");
    Check(ids::kRadio32Bit);
    Press(ids::kRead);
    EXPECT_EQ(Taken(3).back().count, 2);
    EXPECT_FALSE(master_.IsOpen());
}

TEST_F(RegisterPageTest, AFailedReadKeepsDataAndRefreshesBothTrafficFields) {
    Type(ids::kAddress, "100");
    Press(ids::kRead);
    ASSERT_EQ(Shown(ids::kData), "0");
    Type(ids::kData, "keep me");
    settings_.Timeout = 0;
    Fault("no-reply");
    Type(ids::kAddress, "101");
    const auto box = AnswerNextMessageBox(QMessageBox::Cancel);
    Press(ids::kRead);
    EXPECT_TRUE(box->seen);
    EXPECT_EQ(box->text, modbus_messages::kUnableToConnect);
    EXPECT_EQ(Shown(ids::kData), "keep me");
    EXPECT_TRUE(Shown(ids::kTransmitMessage).startsWith(" 01 03 00 65 00 01"));
    EXPECT_EQ(Shown(ids::kReceiveMessage), "");
}

TEST_F(RegisterPageTest, WriteAndBlockButtons) {
    Check(ids::kRadio16Bit);
    Type(ids::kAddress, "100");
    Type(ids::kData, "3.9");
    Press(ids::kWrite);
    EXPECT_EQ(sim_->Register(100), 3u);

    Type(ids::kRegisterCount, "3");
    Press(ids::kWriteMultiple);
    EXPECT_EQ(Shown(ids::kTransmitMessage).left(39), " 01 10 00 64 00 03 06 01 01 01 01 01 01");
    Type(ids::kAddress, "7000");
    Press(ids::kWriteMultiple);
    EXPECT_EQ(Shown(ids::kTransmitMessage), " 01 10 1B 58 00 03 0C");
    EXPECT_EQ(sim_->Register(7002), 0x01010101u);

    Type(ids::kRegisterCount, "2");
    Press(ids::kReadMultiple);
    EXPECT_TRUE(Shown(ids::kReceiveMessage).startsWith(" 01 03 08 01 01 01 01 01 01 01 01"));
    // A count that is no number is refused by name and sends nothing; a
    // count the window cannot hold sends nothing either, and the fields show
    // the driver's texts as they stand, which the connection's own probe has
    // left.
    Type(ids::kRegisterCount, "x");
    const auto refused = AnswerNextMessageBox();
    Press(ids::kReadMultiple);
    EXPECT_EQ(refused->text, "Please enter a number.\nRegister count holds \"x\".");
    Type(ids::kRegisterCount, "0");
    Press(ids::kReadMultiple);
    EXPECT_EQ(Shown(ids::kReceiveMessage).toStdString(), master_.RxText);
    EXPECT_EQ(Shown(ids::kTransmitMessage).toStdString(), master_.TxText);
    EXPECT_EQ(Taken(3).size(), 1u);
}

TEST_F(RegisterPageTest, FloatingPointButtonsChooseTheWordOrderAtTheNextPress) {
    Check(ids::kRadioFloat);
    Check(ids::kRadio2Byte);
    Check(ids::kRadioLoHi);
    Type(ids::kAddress, "500");
    Type(ids::kData, "1234.5");
    Press(ids::kWrite);
    EXPECT_EQ(sim_->Register(500), 0x5000u);
    EXPECT_EQ(sim_->Register(501), 0x449Au);
    Type(ids::kData, "");
    Press(ids::kRead);
    EXPECT_EQ(Shown(ids::kData), "1234.500000");
    EXPECT_EQ(Taken(3).back().count, 2);

    Check(ids::kRadio4Byte);
    Check(ids::kRadioHiLo);
    Type(ids::kAddress, "7000");
    Press(ids::kWrite);
    EXPECT_EQ(sim_->Register(7000), 0x449A5000u);
    EXPECT_EQ(Taken(16).back().count, 1);
}

// The texts as users know them, each fitting its box in the dialog font.
void ExpectAutoTypeTexts(AutoTypeDialog* box) {
    namespace m = register_messages;
    namespace ids = auto_type_ids;
    EXPECT_EQ(box->windowTitle(), m::kAutoTypeCaption);
    const std::pair<int, const char*> texts[] = {{ids::kPrompt, m::kAutoTypePrompt},
                                                 {ids::kGroup16Bit, m::kGroup16Bit},
                                                 {ids::kGroup32Bit, m::kGroup32Bit},
                                                 {ids::kGroupFloat, m::kGroupFloat},
                                                 {ids::kFirstLabel, m::kFrom},
                                                 {ids::kFirstLabel + 5, m::kTo},
                                                 {ids::kOk, m::kOk},
                                                 {ids::kCancel, m::kCancel}};
    for (const auto& [id, text] : texts) {
        QWidget* control = box->Control(id);
        ASSERT_NE(control, nullptr) << id;
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(control))
            shown = label->text();
        else if (auto* group = qobject_cast<QGroupBox*>(control))
            shown = group->title();
        else
            shown = qobject_cast<QAbstractButton*>(control)->text();
        EXPECT_EQ(shown, text);
        EXPECT_LE(control->fontMetrics().horizontalAdvance(shown), control->width()) << text;
    }
}

TEST_F(RegisterPageTest, AutoTypeDialogShowsTheDefaultsAndCancelWritesNothing) {
    ASSERT_NE(AutoType(), nullptr);
    std::vector<QString> shown;
    WhenModalOpens<AutoTypeDialog>([&](AutoTypeDialog* box) {
        ExpectAutoTypeTexts(box);
        QDir().mkpath(QStringLiteral(FC_SCREENSHOT_DIR));
        box->grab().save(QStringLiteral(FC_SCREENSHOT_DIR "/auto_type.png"));
        for (int bound = 0; bound < RegisterTypeRanges::kCount; ++bound)
            shown.push_back(
                qobject_cast<QLineEdit*>(box->Control(auto_type_ids::EditOf(bound)))->text());
        qobject_cast<QLineEdit*>(box->Control(auto_type_ids::EditOf(0)))->setText("55");
        qobject_cast<QPushButton*>(box->Control(auto_type_ids::kCancel))->click();
    });
    Press(ids::kAutoSettings);
    EXPECT_EQ(shown, (std::vector<QString>{"0", "3130", "3131", "15000", "7000", "7999"}));
    EXPECT_EQ(AutoType()->Ranges().Int16Lo, 0);
    EXPECT_FALSE(profile_.Contains(autotype_keys::kSection, autotype_keys::k16BitLo));
}

TEST_F(RegisterPageTest, AutoTypeOkTakesBoundsInOrderUpToTheFirstBadOne) {
    const auto edit = [](AutoTypeDialog* box, int bound) {
        return qobject_cast<QLineEdit*>(box->Control(auto_type_ids::EditOf(bound)));
    };
    std::shared_ptr<SeenBox> prompt;
    bool still_open = false;
    WhenModalOpens<AutoTypeDialog>([&](AutoTypeDialog* box) {
        edit(box, 0)->setText(" 10 ");
        edit(box, 1)->setText("-7");
        edit(box, 2)->setText("30");
        edit(box, 3)->setText("");
        edit(box, 4)->setText("12abc");
        prompt = AnswerNextMessageBox();
        qobject_cast<QPushButton*>(box->Control(auto_type_ids::kOk))->click();
        still_open = box->isVisible();
        qobject_cast<QPushButton*>(box->Control(auto_type_ids::kCancel))->click();
    });
    Press(ids::kAutoSettings);
    ASSERT_TRUE(prompt && prompt->seen);
    EXPECT_TRUE(prompt->text.startsWith(field_messages::kEnterInteger));
    EXPECT_TRUE(still_open);
    const RegisterTypeRanges& ranges = AutoType()->Ranges();
    EXPECT_EQ(ranges.Int16Lo, 10);
    EXPECT_EQ(ranges.Int16Hi, -7);
    EXPECT_EQ(ranges.Int32Lo, 30);
    EXPECT_EQ(ranges.Int32Hi, 15000);
    EXPECT_EQ(ranges.FloatLo, 7000);
    EXPECT_FALSE(profile_.Contains(autotype_keys::kSection, autotype_keys::k16BitLo));

    // The bounds taken apply at once: 5 lies in no 16-bit range any more.
    EXPECT_EQ(dialog_.findChild<AutoTypeDialog*>()->Ranges().Int16Hi, -7);

    // OK with every edit valid writes all six, changed or not.
    WhenModalOpens<AutoTypeDialog>([&](AutoTypeDialog* box) {
        EXPECT_EQ(edit(box, 1)->text(), "-7");
        edit(box, 3)->setText("20000");
        edit(box, 4)->setText("9000");
        edit(box, 5)->setText("8000");
        qobject_cast<QPushButton*>(box->Control(auto_type_ids::kOk))->click();
    });
    Press(ids::kAutoSettings);
    const std::pair<const char*, int> expected[] = {
        {autotype_keys::k16BitLo, 10},   {autotype_keys::k16BitHi, -7},
        {autotype_keys::k32BitLo, 30},   {autotype_keys::k32BitHi, 20000},
        {autotype_keys::kFloatLo, 9000}, {autotype_keys::kFloatHi, 8000}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(profile_.GetInt(autotype_keys::kSection, key, 12345), value) << key;

    // An empty float range: 8500 is 32-bit now, and so is 5.
    sim_->SetRegister(8500, 0);
    Type(ids::kAddress, "8500");
    Press(ids::kRead);
    EXPECT_EQ(Taken(3).back().count, 2);
}

TEST_F(RegisterPageTest, RangesComeFromTheProfileWhenTheWindowOpens) {
    profile_.WriteInt(autotype_keys::kSection, autotype_keys::kFloatLo, 100);
    profile_.WriteInt(autotype_keys::kSection, autotype_keys::kFloatHi, 200);
    profile_.WriteInt(autotype_keys::kSection, autotype_keys::k16BitHi, -1);
    MainDialog second{master_, profile_};
    const RegisterTypeRanges& ranges = second.findChild<AutoTypeDialog*>()->Ranges();
    EXPECT_EQ(ranges.FloatLo, 100);
    EXPECT_EQ(ranges.FloatHi, 200);
    EXPECT_EQ(ranges.Int32Hi, 15000);
    EXPECT_EQ(TypeForAddress(ranges, 150), RegisterType::Float);
}

std::string TodayAsTheUnitKeepsIt() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return FormatDate(tm.tm_mday * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_year % 100);
}

TEST_F(RegisterPageTest, ClockShowsTheUnitsTimeAndMovesItBeforeTheDay) {
    Type(ids::kUpdateEvery, "0");
    Check(ids::kRadioDay);
    Press(ids::kClockStart);
    QTimer* timer = WindowTimer(kClockTimerName);
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), kShortestTimerPeriodMs);
    EXPECT_FALSE(C<QPushButton>(ids::kClockStart)->isEnabled());
    EXPECT_TRUE(C<QPushButton>(ids::kClockStop)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Taken(16).empty(); }, 5000));
    Press(ids::kClockStop);
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(C<QPushButton>(ids::kClockStart)->isEnabled());
    EXPECT_FALSE(C<QPushButton>(ids::kClockStop)->isEnabled());

    const auto write = Taken(16).front();
    EXPECT_EQ(write.address, 4203);
    EXPECT_EQ(write.values, (std::vector<uint32_t>{235958 >> 16, 235958 & 0xFFFF}));
    EXPECT_EQ(Shown(ids::kDateDisplay).toStdString(), TodayAsTheUnitKeepsIt());
    // The unit's time of day, which the write then moved on.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d$"))
                    .match(Shown(ids::kTimeDisplay))
                    .hasMatch())
        << Shown(ids::kTimeDisplay).toStdString();
}

TEST_F(RegisterPageTest, AFailedClockReadStopsTheUpdates) {
    settings_.Timeout = 0;
    Fault("no-reply,every=1,fn=3");
    Type(ids::kUpdateEvery, "0");
    const auto box = AnswerNextMessageBox(QMessageBox::Cancel);
    Press(ids::kClockStart);
    QTimer* timer = WindowTimer(kClockTimerName);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return C<QPushButton>(ids::kClockStart)->isEnabled(); }, 5000));
    EXPECT_TRUE(box->seen);
    EXPECT_EQ(box->text, modbus_messages::kUnableToConnect);
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(C<QPushButton>(ids::kClockStop)->isEnabled());
    EXPECT_EQ(Shown(ids::kTimeDisplay), "00:00:00");
    EXPECT_TRUE(Taken(16).empty());
}

TEST_F(RegisterPageTest, StartWithAnUpdatePeriodOutOfRangePromptsAndStartsAnyway) {
    Type(ids::kUpdateEvery, "200000");
    const auto box = AnswerNextMessageBox();
    Press(ids::kClockStart);
    EXPECT_TRUE(box->text.toStdString().starts_with(IntegerRangePrompt(0, 130000)));
    EXPECT_TRUE(WindowTimer(kClockTimerName)->isActive());
    EXPECT_EQ(WindowTimer(kClockTimerName)->interval(), 200000 * 1000);
    Press(ids::kClockStop);
}

TEST_F(RegisterPageTest, WriteLoopStepsDataBetweenTheLimits) {
    Check(ids::kRadio16Bit);
    Type(ids::kAddress, "100");
    Type(ids::kData, "-5");
    Type(ids::kDataIncrement, "1");
    Type(ids::kHiLimit, "10");
    Type(ids::kLowLimit, "0");
    Type(ids::kLoopInterval, "0");
    Press(ids::kStartLoop);
    EXPECT_FALSE(C<QPushButton>(ids::kStartLoop)->isEnabled());
    EXPECT_TRUE(C<QPushButton>(ids::kStopLoop)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Taken(16).size() >= 2; }, 5000));
    Press(ids::kStopLoop);
    EXPECT_FALSE(WindowTimer(kLoopTimerName)->isActive());
    EXPECT_TRUE(C<QPushButton>(ids::kStartLoop)->isEnabled());
    EXPECT_FALSE(C<QPushButton>(ids::kStopLoop)->isEnabled());
    const auto writes = Taken(16);
    EXPECT_EQ(writes[0].values, std::vector<uint32_t>{10});
    EXPECT_EQ(writes[1].values, std::vector<uint32_t>{0});
    EXPECT_TRUE(Shown(ids::kTransmitMessage).startsWith(" 01 10 00 64 00 01 02"));
}

// Under a German locale Read showed "1,500000" and 12.5 wrote 12.0, and
// "12,5" wrote 12.0 without a word. A decimal comma is the point; a text that
// is not wholly a number, or beyond a float's range, is refused with the
// number prompt naming "Data", and nothing is written: no text puts NaN or
// infinity into a float register.
TEST_F(RegisterPageTest, DataIsReadAndShownInTheCLocaleAndNeverAsNaNOrInfinity) {
    const std::string kept = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "scripts/setup generates it";
    Check(ids::kRadioFloat);
    Type(ids::kAddress, "7000");
    const std::pair<const char*, std::optional<float>> cases[] = {
        {"12.5", 12.5f},         {"12,5", 12.5f},         {"-0,25", -0.25f},
        {"-1.5e2", -150.0f},     {"nan", std::nullopt},   {"infinity", std::nullopt},
        {"0x1p3", std::nullopt}, {"1e39", std::nullopt},  {"-1e400", std::nullopt},
        {"12,5x", std::nullopt}, {"1,2,5", std::nullopt}, {"1.234,5", std::nullopt}};
    const uint32_t untouched = std::bit_cast<uint32_t>(2.5f);
    for (const auto& [data, written] : cases) {
        sim_->SetRegister(7000, untouched);
        Type(ids::kData, data);
        const auto box = written ? nullptr : AnswerNextMessageBox();
        Press(ids::kWrite);
        EXPECT_EQ(sim_->Register(7000), written ? std::bit_cast<uint32_t>(*written) : untouched)
            << data;
        if (box) {
            EXPECT_EQ(box->text.toStdString(),
                      std::string(field_messages::kEnterNumber) + "\nData holds \"" + data + "\".");
        }
    }
    Press(ids::kRead);
    EXPECT_EQ(Shown(ids::kData), "2.500000");
    std::setlocale(LC_ALL, kept.c_str());
}

// A coarse timer fired up to 5 % early: with "1 Day" the clock update read
// the unit before midnight had passed, and the date never moved on.
TEST_F(RegisterPageTest, TheClockNeverTicksBeforeItsPeriod) {
    Type(ids::kUpdateEvery, "1");
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> first;
    QObject::connect(WindowTimer(kClockTimerName), &QTimer::timeout, [&first] {
        if (!first)
            first = Clock::now();
    });
    const Clock::time_point start = Clock::now();
    Press(ids::kClockStart);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.has_value(); }, 5000));
    Press(ids::kClockStop);
    EXPECT_GE(*first - start, std::chrono::milliseconds(1000));
}

// Both timers run at their shortest period. A loop tick stops in its
// validation prompt ("Hi Limit" holds no number), which stays up a while: no
// tick of either timer may talk to the unit meanwhile. Once the prompt is
// answered the loop has stopped without writing, and the clock goes on.
TEST_F(RegisterPageTest, NoTickRunsWhileAnotherOperationsBoxIsOpen) {
    Check(ids::kRadio16Bit);
    Type(ids::kAddress, "100");
    Type(ids::kData, "1");
    Type(ids::kDataIncrement, "1");
    Type(ids::kLoopInterval, "0");
    Type(ids::kUpdateEvery, "0");
    Press(ids::kClockStart);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Taken(16).empty(); }, 5000));
    Press(ids::kStartLoop);  // takes the fields before Hi Limit goes wrong
    Type(ids::kHiLimit, "high");
    const auto held = HoldNextMessageBox(*sim_, std::chrono::milliseconds(300), [] {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !held->requests_when_answered.empty(); }, 5000));
    const size_t writes_when_answered = Taken(16).size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Taken(16).size() > writes_when_answered; }, 5000));
    EXPECT_TRUE(C<QPushButton>(ids::kStartLoop)->isEnabled());
    Press(ids::kClockStop);
    EXPECT_EQ(held->text, "Please enter a number.\nHi Limit holds \"high\".");
    EXPECT_EQ(held->requests_when_answered.size(), held->requests_when_shown);
    for (const sim::LoggedRequest& request : held->requests_when_answered)
        EXPECT_NE(request.info.address, 100) << "the loop wrote before its prompt was answered";
    for (const auto& write : Taken(16))
        EXPECT_NE(write.address, 100) << "the loop wrote after its field was refused";
}

}  // namespace
}  // namespace fc::test

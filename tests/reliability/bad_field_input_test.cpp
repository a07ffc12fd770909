#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "connection/comm_settings_dialog.h"
#include "connection/messages.h"
#include "modbus/messages.h"
#include "platform/field_text.h"
#include "registers/auto_type_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/reliability/box_answerer.h"
#include "ui/main_dialog_template.h"

// Whatever a technician may type into the edits of the window and its two
// dialogs: the field exchange answers with its prompt or takes the value,
// and the register buttons run on such texts against no unit at all.
namespace fc::test {
namespace {

enum class FieldKind { Integer, IntegerInRange, Float, Double, Text };

struct FieldCase {
    const char* name;
    int id;
    FieldKind kind;
    int lower = 0;
    int upper = 0;
};

// A window under test: its edits by id and its exchange (SaveFields or OK).
struct WindowUnderTest {
    std::function<QLineEdit*(int id)> edit;
    std::function<bool()> save;
};

const char* const kBadTexts[] = {
    "",      "+",     "-",  "   ", "12345678901234567890123456789012345678901234567890",
    "12abc", "1e999", "Ω٣", "-5",  " 7 ",
    "1,2,3"};

// What each kind of field makes of each text: the prompt it shows, or ""
// when it takes the value.
std::string ExpectedPrompt(const FieldCase& field, const std::string& text) {
    const bool small_integer = text == "-5" || text == " 7 ";
    const bool fits_a_double = small_integer || text.size() == 50;
    switch (field.kind) {
        case FieldKind::Integer:
            return small_integer ? "" : field_messages::kEnterInteger;
        case FieldKind::IntegerInRange: {
            if (!small_integer)
                return field_messages::kEnterInteger;
            const int value = text == "-5" ? -5 : 7;
            return value >= field.lower && value <= field.upper
                       ? ""
                       : IntegerRangePrompt(field.lower, field.upper);
        }
        case FieldKind::Float:  // 10^49 is beyond a float
            return small_integer ? "" : field_messages::kEnterNumber;
        case FieldKind::Double:
            return fits_a_double ? "" : field_messages::kEnterNumber;
        case FieldKind::Text:
            return "";
    }
    return "?";
}

class BadFieldInputTest : public MainDialogTest {
  protected:
    void SetUp() override {
        settings_.Timeout = 0;
        settings_.Retry = 0;
        MainDialogTest::SetUp();
    }

    // Each text into each field alone, the others left valid; then the
    // field's own text again.
    void FeedEveryText(const WindowUnderTest& window, const std::vector<FieldCase>& fields) {
        for (const FieldCase& field : fields) {
            QLineEdit* edit = window.edit(field.id);
            ASSERT_NE(edit, nullptr) << field.name;
            const QString valid = edit->text();
            for (const char* text : kBadTexts) {
                edit->setText(QString::fromUtf8(text));
                answerer_.Take();
                const bool saved = window.save();
                std::vector<std::string> boxes = answerer_.Take();
                for (std::string& box : boxes)  // the prompt, without the field's name
                    box = box.substr(0, box.find('\n'));
                const std::string expected = ExpectedPrompt(field, text);
                const std::string where = std::string(field.name) + " <" + text + ">";
                EXPECT_EQ(saved, expected.empty()) << where;
                if (expected.empty())
                    EXPECT_TRUE(boxes.empty()) << where << ": " << boxes.front();
                else
                    EXPECT_EQ(boxes, std::vector<std::string>{expected}) << where;
                edit->setText(valid);
            }
        }
    }

    BoxAnswerer answerer_;
};

TEST_F(BadFieldInputTest, EveryEditPromptsOrTakesTheValue) {
    FeedEveryText({[this](int id) { return dialog_.ControlAs<QLineEdit>(id); },
                   [this] { return dialog_.SaveFields(); }},
                  {{"Address", ids::kAddress, FieldKind::Integer},
                   {"Update every", ids::kUpdateEvery, FieldKind::IntegerInRange, 0, 130000},
                   {"Clock Register", ids::kClockRegister, FieldKind::Integer},
                   {"Date Register", ids::kDateRegister, FieldKind::Integer},
                   {"Interval", ids::kLoopInterval, FieldKind::Integer},
                   {"Data Increment", ids::kDataIncrement, FieldKind::Float},
                   {"Hi Limit", ids::kHiLimit, FieldKind::Double},
                   {"Low Limit", ids::kLowLimit, FieldKind::Double}});

    CommSettingsDialog comm(master_, profile_, FieldsFromSettings(settings_), &dialog_);
    comm.show();
    answerer_.Take();
    FeedEveryText({[&](int id) { return comm.ControlAs<QLineEdit>(id); },
                   [&] {
                       comm.setResult(QDialog::Rejected);
                       comm.OnOK();
                       return comm.result() == QDialog::Accepted;
                   }},
                  {{"Port", comm_ids::kPort, FieldKind::Integer},
                   {"Unit ID", comm_ids::kUnitId, FieldKind::Integer},
                   {"Time Out", comm_ids::kTimeout, FieldKind::IntegerInRange, 0, kTimeoutMax},
                   {"Retry", comm_ids::kRetry, FieldKind::IntegerInRange, 0, kRetryMax},
                   {"IP Port", comm_ids::kIPPort, FieldKind::IntegerInRange, 0, kIPPortMax},
                   {"IP Address", comm_ids::kIPAddress, FieldKind::Text}});

    AutoTypeDialog auto_type(profile_, &dialog_);
    auto_type.show();
    // Shown without its own Open, so the edits start blank: valid bounds first.
    for (int bound = 0; bound < RegisterTypeRanges::kCount; ++bound)
        qobject_cast<QLineEdit*>(auto_type.Control(auto_type_ids::EditOf(bound)))
            ->setText(QString::number(bound * 1000));
    std::vector<FieldCase> bounds;
    for (int bound = 0; bound < RegisterTypeRanges::kCount; ++bound)
        bounds.push_back({"Auto Type bound", auto_type_ids::EditOf(bound), FieldKind::Integer});
    FeedEveryText({[&](int id) { return qobject_cast<QLineEdit*>(auto_type.Control(id)); },
                   [&] {
                       auto_type.setResult(QDialog::Rejected);
                       qobject_cast<QPushButton*>(auto_type.Control(auto_type_ids::kOk))->click();
                       return auto_type.result() == QDialog::Accepted;
                   }},
                  bounds);
}

// The register buttons take Address, Data and count as typed (a 50-digit
// count, a negative one...) and must end in one of the tool's boxes or none, with
// the window ready for the next press.
TEST_F(BadFieldInputTest, RegisterButtonsRunOnAnyTextAgainstNoUnit) {
    const std::set<std::string> known = {
        modbus_messages::kUnableToConnect, connection_messages::kUnableToOpenCommPort,
        connection_messages::kUnableToUseCommPort, connection_messages::kUnableToStablishConnection,
        // a text that is no number, or a float beyond a single's range
        field_messages::kEnterNumber};
    // A box may add the system's reason, or the field's name, after its own text.
    const auto knownBox = [&](const std::string& box) {
        return std::any_of(known.begin(), known.end(), [&](const std::string& text) {
            return box == text || box.starts_with(text + "\n");
        });
    };
    const int fields[] = {ids::kAddress, ids::kData, ids::kRegisterCount};
    const int buttons[] = {ids::kRead, ids::kWrite, ids::kReadMultiple, ids::kWriteMultiple};
    const int types[] = {ids::kRadioAuto, ids::kRadio16Bit, ids::kRadio32Bit, ids::kRadioFloat};
    const auto edit = [this](int id) { return dialog_.ControlAs<QLineEdit>(id); };
    for (const int type : types) {
        dialog_.ControlAs<QRadioButton>(type)->setChecked(true);
        for (const int field : fields) {
            for (const char* text : {"", "+", "-", "   ", "99999999999999999999", "-5",
                                     "-99999999999999999999", "12abc", "1e999", "Ω٣"}) {
                edit(ids::kAddress)->setText("100");
                edit(ids::kData)->setText("1");
                edit(ids::kRegisterCount)->setText("2");
                edit(field)->setText(QString::fromUtf8(text));
                for (const int button : buttons) {
                    dialog_.ControlAs<QPushButton>(button)->click();
                    EXPECT_FALSE(dialog_.OperationRunning());
                    for (const std::string& box : answerer_.Take())
                        EXPECT_TRUE(knownBox(box)) << box << " after button " << button
                                                        << " with <" << text << "> in " << field;
                }
            }
        }
    }
}

}  // namespace
}  // namespace fc::test

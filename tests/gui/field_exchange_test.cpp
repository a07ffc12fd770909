#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "platform/field_text.h"
#include "tests/gui/gui_test_support.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

class FieldExchangeTest : public MainDialogTest {
  protected:
    void Type(int id, const char* text) { C<QLineEdit>(id)->setText(QString::fromUtf8(text)); }
    void PressEnterIn(int id) {
        dialog_.Control(id)->setFocus();
        QTest::keyClick(dialog_.Control(id), Qt::Key_Return);
    }
    // The failing control takes the focus although its page is hidden: the
    // page stays, and the control has the keyboard as soon as its page shows.
    void ExpectFocusedOnItsPage(int id, int page) {
        auto* tabs = C<QTabWidget>(ids::kTabControl);
        EXPECT_NE(tabs->currentIndex(), page);
        EXPECT_FALSE(Shown(id));
        tabs->setCurrentIndex(page);
        EXPECT_EQ(QApplication::focusWidget(), dialog_.Control(id));
        tabs->setCurrentIndex(0);
    }
};

TEST_F(FieldExchangeTest, ValueTypedOnHiddenPageIsReadByTheExchange) {
    ASSERT_EQ(C<QTabWidget>(ids::kTabControl)->currentIndex(), 0);
    Type(ids::kAddress, " \t-17  ");
    Type(ids::kDataIncrement, "2.5");
    Type(ids::kHiLimit, "1e3");
    Type(ids::kUpdateEvery, "130000");
    EXPECT_FALSE(Shown(ids::kAddress));
    ASSERT_TRUE(dialog_.SaveFields());
    EXPECT_EQ(dialog_.Fields().Address, -17);
    EXPECT_FLOAT_EQ(dialog_.Fields().DataIncrement, 2.5f);
    EXPECT_DOUBLE_EQ(dialog_.Fields().HiLimit, 1000.0);
    EXPECT_EQ(dialog_.Fields().UpdatePeriod, 130000);
    // Switching pages keeps the text.
    C<QTabWidget>(ids::kTabControl)->setCurrentIndex(1);
    C<QTabWidget>(ids::kTabControl)->setCurrentIndex(0);
    EXPECT_EQ(C<QLineEdit>(ids::kAddress)->text(), " \t-17  ");
}

TEST_F(FieldExchangeTest, LoadWritesFieldsWithTheirPrecision) {
    dialog_.Fields().DataIncrement = 1.0f / 3.0f;
    dialog_.Fields().HiLimit = 2.0 / 3.0;
    dialog_.Fields().LowLimit = -1.5e20;
    dialog_.Fields().ClockRegister = -4;
    dialog_.Fields().IncreaseBy = 1;
    dialog_.LoadFields();
    EXPECT_EQ(C<QLineEdit>(ids::kDataIncrement)->text(), "0.333333");
    EXPECT_EQ(C<QLineEdit>(ids::kHiLimit)->text(), "0.666666666666667");
    EXPECT_EQ(C<QLineEdit>(ids::kLowLimit)->text(), "-1.5e+20");
    EXPECT_EQ(C<QLineEdit>(ids::kClockRegister)->text(), "-4");
    EXPECT_TRUE(C<QRadioButton>(ids::kRadioMinute)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(ids::kRadioHour)->isChecked());
}

TEST_F(FieldExchangeTest, EnterClosesWhenEveryFieldIsValid) {
    C<QTabWidget>(ids::kTabControl)->setCurrentIndex(1);
    Type(ids::kAddress, "300");
    PressEnterIn(ids::kAddress);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Accepted);
    EXPECT_EQ(dialog_.Fields().Address, 300);
}

TEST_F(FieldExchangeTest, EnterWithUpdatePeriodOutOfRangeShowsRangePromptAndStaysOpen) {
    C<QTabWidget>(ids::kTabControl)->setCurrentIndex(1);
    Type(ids::kUpdateEvery, "200000");
    auto box = AnswerNextMessageBox();
    PressEnterIn(ids::kAddress);
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->text,
              "Please enter an integer between 0 and 130000.\n"
              "Update every holds \"200000\".");
    EXPECT_EQ(box->caption, "fcloader");
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
    EXPECT_TRUE(dialog_.isVisible());
    ExpectFocusedOnItsPage(ids::kUpdateEvery, 2);
}

TEST_F(FieldExchangeTest, ExchangeStopsAtTheFirstBadFieldInExchangeOrder) {
    Type(ids::kAddress, "12");
    Type(ids::kClockRegister, "7");
    Type(ids::kLoopInterval, "4.5");   // integer field: refused
    Type(ids::kDataIncrement, "abc");  // later in the order: not reached
    auto box = AnswerNextMessageBox();
    EXPECT_FALSE(dialog_.SaveFields());
    EXPECT_EQ(box->text, "Please enter an integer.\nInterval (seconds) holds \"4.5\".");
    ExpectFocusedOnItsPage(ids::kLoopInterval, 2);
    // The fields before the failing one are already taken.
    EXPECT_EQ(dialog_.Fields().Address, 12);
    EXPECT_EQ(dialog_.Fields().ClockRegister, 7);

    Type(ids::kLoopInterval, "+4");
    box = AnswerNextMessageBox();
    EXPECT_FALSE(dialog_.SaveFields());
    EXPECT_EQ(box->text, "Please enter a number.\nData Increment holds \"abc\".");
    ExpectFocusedOnItsPage(ids::kDataIncrement, 2);
    EXPECT_EQ(dialog_.Fields().LoopInterval, 4);
}

TEST_F(FieldExchangeTest, NumberFieldsRefuseWhatIsNotANumber) {
    for (const char* bad : {"", "1,5,0", "1.234,5", "12,5abc", "nan", "1e999", "0x10"}) {
        Type(ids::kHiLimit, bad);
        auto box = AnswerNextMessageBox();
        EXPECT_FALSE(dialog_.SaveFields()) << bad;
        EXPECT_EQ(box->text, QString("Please enter a number.\nHi Limit holds \"%1\".").arg(bad));
    }
    Type(ids::kHiLimit, "1");
    Type(ids::kDataIncrement, "1e39");  // beyond a float
    auto box = AnswerNextMessageBox();
    EXPECT_FALSE(dialog_.SaveFields());
    EXPECT_TRUE(box->text.startsWith("Please enter a number.\nData Increment holds"));
}

TEST_F(FieldExchangeTest, EnterOnAPushButtonClicksItInsteadOfClosing) {
    bool clicked = false;
    dialog_.SetCommandHandler(ids::kTestCommunication, [&] { clicked = true; });
    dialog_.Control(ids::kTestCommunication)->setFocus();
    QTest::keyClick(dialog_.Control(ids::kTestCommunication), Qt::Key_Return);
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(dialog_.isVisible());
}

TEST_F(FieldExchangeTest, EscapeClosesWithoutExchange) {
    Type(ids::kUpdateEvery, "not a number");
    dialog_.Control(ids::kTestCommunication)->setFocus();
    QTest::keyClick(dialog_.Control(ids::kTestCommunication), Qt::Key_Escape);
    EXPECT_FALSE(dialog_.isVisible());
    EXPECT_EQ(dialog_.result(), QDialog::Rejected);
    EXPECT_EQ(dialog_.Fields().UpdatePeriod, 10);
}

}  // namespace
}  // namespace fc::test

#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "app/about_dialog.h"
#include "platform/package_version.h"
#include "tests/gui/gui_test_support.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

using UserInterfaceTest = MainDialogTest;

TEST_F(UserInterfaceTest, MessageBoxesCarryTextCaptionIconAndButtons) {
    UserInterface& ui = dialog_.Ui();
    auto box = AnswerNextMessageBox(QMessageBox::Yes);
    EXPECT_EQ(ui.ShowMessage(
                  {"Proceed ?\nReally", "Confirm", MessageButtons::YesNo, MessageIcon::Warning}),
              MessageAnswer::Yes);
    EXPECT_EQ(box->text, "Proceed ?\nReally");
    EXPECT_EQ(box->caption, "Confirm");
    EXPECT_EQ(box->icon, QMessageBox::Warning);
    EXPECT_EQ(box->buttons, QMessageBox::Yes | QMessageBox::No);

    box = AnswerNextMessageBox(QMessageBox::Cancel);
    EXPECT_EQ(ui.ShowMessage({"Unable to connect to Device!", "", MessageButtons::RetryCancel,
                              MessageIcon::Stop}),
              MessageAnswer::Cancel);
    EXPECT_EQ(box->caption, "fcloader");
    EXPECT_EQ(box->icon, QMessageBox::Critical);
    EXPECT_EQ(box->buttons, QMessageBox::Retry | QMessageBox::Cancel);

    box = AnswerNextMessageBox(QMessageBox::Retry);
    EXPECT_EQ(ui.ShowMessage({"again", "", MessageButtons::RetryCancel, MessageIcon::None}),
              MessageAnswer::Retry);
    EXPECT_EQ(box->icon, QMessageBox::NoIcon);

    box = AnswerNextMessageBox(QMessageBox::Ok);
    EXPECT_EQ(
        ui.ShowMessage({"Found", "Device Found!", MessageButtons::Ok, MessageIcon::Information}),
        MessageAnswer::Ok);
    EXPECT_EQ(box->icon, QMessageBox::Information);
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
}

// Enter, as a hurried user presses it, answers a warning's Yes/No box with
// No (the download's "Confirm"), and other boxes with their first button.
TEST_F(UserInterfaceTest, EnterTakesTheSafeAnswer) {
    const struct {
        MessageButtons buttons;
        MessageIcon icon;
        MessageAnswer on_enter;
    } cases[] = {
        {MessageButtons::YesNo, MessageIcon::Warning, MessageAnswer::No},
        {MessageButtons::RetryCancel, MessageIcon::Stop, MessageAnswer::Retry},
        {MessageButtons::Ok, MessageIcon::Warning, MessageAnswer::Ok},
    };
    for (const auto& c : cases) {
        WhenModalOpens<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
        EXPECT_EQ(dialog_.Ui().ShowMessage({"Proceed ?", "Confirm", c.buttons, c.icon}),
                  c.on_enter);
    }
}

TEST_F(UserInterfaceTest, WaitCursorNestsAndGivesWayToMessageBoxes) {
    UserInterface& ui = dialog_.Ui();
    {
        WaitCursor outer(ui);
        WaitCursor inner(ui);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        auto during_box = std::make_shared<Qt::CursorShape>(Qt::WaitCursor);
        WhenModalOpens<QMessageBox>(
            [during_box](QMessageBox*) { *during_box = QApplication::overrideCursor()->shape(); });
        AnswerNextMessageBox();
        ui.ShowMessage({"x", "", MessageButtons::Ok, MessageIcon::None});
        EXPECT_EQ(*during_box, Qt::ArrowCursor);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(UserInterfaceTest, StatusAndProgressGoToTheirControls) {
    UserInterface& ui = dialog_.Ui();
    ui.SetStatusText("Erasing flash");
    EXPECT_EQ(C<QLabel>(ids::kStatusLine)->text(), "Erasing flash");
    ui.SetProgressRange(0, 64);
    ui.SetProgressPosition(12);
    EXPECT_EQ(C<QProgressBar>(ids::kProgressBar)->maximum(), 64);
    EXPECT_EQ(C<QProgressBar>(ids::kProgressBar)->value(), 12);
    ui.SetProgressText(ids::kElapsedTime, "01:05");
    ui.SetProgressText(ids::kBytesSent, "12 of 64 KBytes (18%)");
    EXPECT_EQ(C<QLabel>(ids::kElapsedTime)->text(), "01:05");
    EXPECT_EQ(C<QLabel>(ids::kBytesSent)->text(), "12 of 64 KBytes (18%)");
    // An id that is not a text of the window is ignored.
    ui.SetProgressText(ids::kStartDownload, "x");
    ui.SetProgressText(4242, "x");
    EXPECT_EQ(C<QPushButton>(ids::kStartDownload)->text(), "Start &Download");
}

// A timer of the window, due at once. (QTimer::singleShot(0) is no timer
// in Qt 6 but a queued call, a posted event like the repaints the pump must
// deliver.)
// The timer's tick is deferred to the end of the operation, and the busy
// cursor lasts until then.
TEST_F(UserInterfaceTest, PaintPumpRunsNoTimerAndShowsBusyUntilIdle) {
    bool fired = false;
    QTimer due(&dialog_);
    due.setSingleShot(true);
    QObject::connect(&due, &QTimer::timeout, [&] { fired = true; });
    due.start(0);
    dialog_.Ui().PumpPaintMessages();
    EXPECT_FALSE(fired);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::qWait(20);
    EXPECT_TRUE(fired);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

void ExpectAboutBox(AboutDialog* about) {
    EXPECT_EQ(about->windowTitle(), "About Tarnel");
    auto* version = qobject_cast<QLabel*>(about->Control(about_ids::kVersion));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "Tarnel Version 3.0");
    auto* package = qobject_cast<QLabel*>(about->Control(about_ids::kPackageVersion));
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(package->text(), QStringLiteral("fcloader ") + kPackageVersion);
    auto* icon = qobject_cast<QLabel*>(about->Control(about_ids::kIcon));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull());
    auto* ok = qobject_cast<QPushButton*>(about->Control(about_ids::kOk));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_EQ(about->size(), DialogUnits(about->font()).ToPixels(101, 95));
    about->grab().save(QStringLiteral(FC_SCREENSHOT_DIR "/about.png"));
    ok->click();
}

TEST_F(UserInterfaceTest, AboutBoxOpensFromTheWindowAndClosesWithOk) {
    bool opened = false;
    WhenModalOpens<AboutDialog>([&](AboutDialog* about) {
        opened = true;
        ExpectAboutBox(about);
    });
    dialog_.OnAbout();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(dialog_.isVisible());
}

TEST_F(UserInterfaceTest, F1OpensTheAboutBox) {
    bool opened = false;
    WhenModalOpens<AboutDialog>([&](AboutDialog* about) {
        opened = true;
        about->accept();
    });
    QTest::keyClick(&dialog_, Qt::Key_F1);
    EXPECT_TRUE(opened);
}

TEST_F(UserInterfaceTest, ContextMenuOffersTheAboutBox) {
    auto entry = std::make_shared<QString>();
    auto* timer = new QTimer(&dialog_);
    QObject::connect(timer, &QTimer::timeout, [entry, timer] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || menu->actions().isEmpty())
            return;
        timer->stop();
        *entry = menu->actions().front()->text();
        WhenModalOpens<AboutDialog>([](AboutDialog* about) { about->accept(); });
        menu->actions().front()->trigger();
        menu->close();
    });
    timer->start(10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            dialog_.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog_, &event);
    EXPECT_EQ(*entry, "&About Tarnel...");
}

}  // namespace
}  // namespace fc::test

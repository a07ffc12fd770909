#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <algorithm>

#include "app/loader_app.h"
#include "app/main_dialog.h"
#include "platform/application_title.h"
#include "tests/gui/gui_test_support.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

QString ProfilePath() {
    return QString::fromUtf8(std::getenv("XDG_CONFIG_HOME")) + "/Quenta/" +
           QString::fromStdString(ApplicationTitle()) + ".conf";
}

TEST(LoaderAppTest, StartUpWritesTheSettingsBackAndRunsTheWindowUntilItCloses) {
    QFile::remove(ProfilePath());
    bool window_ran = false;
    WhenModalOpens<MainDialog>([&](MainDialog* dialog) {
        window_ran = true;
        EXPECT_EQ(dialog->windowTitle(), "Brisel, Inc. - Downloader V.2");
        EXPECT_EQ(dialog->ControlAs<QTabWidget>(ids::kTabControl)->currentIndex(), 0);
        // The settings are on disk while the window is up.
        EXPECT_TRUE(QFile::exists(ProfilePath()));
        dialog->reject();
    });
    LoaderApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(window_ran);
    const Profile profile(ApplicationTitle());
    for (const char* key : {"UnitId", "ComPort", "BaudRate", "Timeout", "IPProtocol"})
        EXPECT_TRUE(profile.Contains("Settings", key)) << key;
    EXPECT_EQ(app.Link.LinkOpen, 0);
}

TEST(LoaderAppTest, SocketStartUpFailureEndsBeforeAnyWindow) {
    auto box = std::make_shared<SeenBox>();
    auto window_seen = std::make_shared<bool>(true);
    WhenModalOpens<QMessageBox>([box, window_seen](QMessageBox* message) {
        box->seen = true;
        box->text = message->text();
        box->caption = message->windowTitle();
        box->buttons = message->standardButtons();
        const auto windows = QApplication::topLevelWidgets();
        *window_seen = std::any_of(windows.begin(), windows.end(), [](QWidget* widget) {
            return qobject_cast<MainDialog*>(widget) != nullptr;
        });
        message->button(QMessageBox::Ok)->click();
    });
    LoaderApp app([] { return false; });
    EXPECT_FALSE(app.InitInstance());
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->text, "Socket Initialization Failed");
    EXPECT_EQ(box->caption, QString::fromStdString(ApplicationTitle()));
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
    EXPECT_FALSE(*window_seen);
}

}  // namespace
}  // namespace fc::test

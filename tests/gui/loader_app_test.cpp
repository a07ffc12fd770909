#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTabWidget>

#include "app/loader_app.h"
#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "platform/application_title.h"
#include "tests/gui/gui_test_support.h"

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
    auto box = AnswerNextMessageBox();
    bool window_seen = false;
    WhenModalOpens<MainDialog>([&](MainDialog* dialog) {
        window_seen = true;
        dialog->reject();
    });
    LoaderApp app([] { return false; });
    EXPECT_FALSE(app.InitInstance());
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->text, "Socket Initialization Failed");
    EXPECT_EQ(box->caption, QString::fromStdString(ApplicationTitle()));
    EXPECT_EQ(box->buttons, QMessageBox::Ok);
    QCoreApplication::processEvents();
    EXPECT_FALSE(window_seen);
}

}  // namespace
}  // namespace fc::test

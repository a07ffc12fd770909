#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <optional>
#include <string>

#include "app/loader_app.h"
#include "platform/application_title.h"
#include "platform/command_line.h"
#include "platform/package_version.h"

namespace {

std::string HelpText() {
    constexpr size_t kOptionColumn = 20;
    return "Usage: fcloader [OPTIONS]\n" +
           fc::WrappedText(
               "Opens the service tool window for flow computers that speak "
               "Modbus: check the link or find the unit's serial settings, download "
               "a firmware image, read and write the unit's registers. The settings "
               "live in ~/.config/Quenta/fcloader.conf; fcloader-cli uses the same "
               "settings from a script.") +
           "\nOptions:\n" +
           fc::HelpRow(fc::OptionHead("--help", ""), "show this text and exit", kOptionColumn) +
           fc::HelpRow(fc::OptionHead("--version", ""), "show the version and exit",
                       kOptionColumn) +
           "\n" +
           fc::WrappedText(
               "Qt's own options (-platform, -style, ...) are taken as well. The "
               "About box (right-click menu, F1) shows the version too.");
}

// --help and --version are answered before Qt starts, so they need no display
// and open no window. Empty when the window is to run.
std::optional<int> AnswerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = fc::LongOptionName(argv[i]);
        if (option == "--help") {
            std::printf("%s", HelpText().c_str());
            return 0;
        }
        if (option == "--version") {
            std::printf("%s\n", fc::VersionLine("fcloader").c_str());
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = AnswerInformationOptions(argc, argv))
        return *status;
    QApplication application(argc, argv);
    // The title is the name the executable was installed under.
    fc::SetApplicationTitle(fc::ApplicationTitleFromPath(
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString()));
    QApplication::setApplicationName(QString::fromStdString(fc::ApplicationTitle()));
    QApplication::setApplicationVersion(QString::fromUtf8(fc::kPackageVersion));
    QApplication::setDesktopFileName(QStringLiteral("fcloader"));
    fc::LoaderApp app;
    app.InitInstance();
    return 0;
}

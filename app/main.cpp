#include <QApplication>
#include <QFileInfo>

#include "app/loader_app.h"
#include "platform/application_title.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // The title is the name the executable was installed under.
    fc::SetApplicationTitle(fc::ApplicationTitleFromPath(
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString()));
    QApplication::setApplicationName(QString::fromStdString(fc::ApplicationTitle()));
    QApplication::setDesktopFileName(QStringLiteral("fcloader"));
    fc::LoaderApp app;
    app.InitInstance();
    return 0;
}

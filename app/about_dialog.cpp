#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_messages.h"
#include "platform/command_line.h"

namespace fc {

namespace {

// clang-format off
constexpr ControlSpec kAboutControls[] = {
    {about_ids::kIcon, ControlKind::Icon, nullptr, 40, 10, 21, 20},
    {about_ids::kVersion, ControlKind::Label, app_messages::kAboutVersion, 5, 40, 91, 8, kAlignCentre},
    {about_ids::kPackageVersion, ControlKind::Label, nullptr, 5, 51, 91, 8, kAlignCentre},
    {about_ids::kOk, ControlKind::PushButton, app_messages::kOk, 25, 66, 50, 16, kDefaultButton},
};
// clang-format on

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(app_messages::kAboutCaption));
    const DialogUnits units = DialogUnits::ForDialogFont();
    setFont(DialogUnits::DialogFont());
    setFixedSize(units.ToPixels(kAboutDialogWidth, kAboutDialogHeight));
    controls_ = BuildControls(this, kAboutControls, units);
    // The About box's own line names the tool family; this one names what is
    // installed, from the same number as --version.
    qobject_cast<QLabel*>(Control(about_ids::kPackageVersion))
        ->setText(QString::fromStdString(VersionLine("fcloader")));
    connect(qobject_cast<QPushButton*>(Control(about_ids::kOk)), &QPushButton::clicked, this,
            &QDialog::accept);
}

QWidget* AboutDialog::Control(int id) const {
    return FindControl(controls_, id);
}

}  // namespace fc

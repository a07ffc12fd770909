#pragma once

#include <QDialog>

#include "ui/control_table.h"

namespace fc {

namespace about_ids {
inline constexpr int kOk = 1;
inline constexpr int kIcon = 1200;
inline constexpr int kVersion = 1201;
inline constexpr int kPackageVersion = 1202;
}  // namespace about_ids

inline constexpr int kAboutDialogWidth = 101;
inline constexpr int kAboutDialogHeight = 95;

// The About box: the icon, the version lines and OK; nothing else happens in it.
class AboutDialog : public QDialog {
    Q_OBJECT

  public:
    explicit AboutDialog(QWidget* parent = nullptr);

    QWidget* Control(int id) const;

  private:
    ControlMap controls_;
};

}  // namespace fc

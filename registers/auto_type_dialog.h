#pragma once

#include <QDialog>

#include "registers/register_types.h"
#include "ui/control_table.h"
#include "ui/field_exchange.h"
#include "ui/qt_user_interface.h"

namespace fc {

class Profile;

namespace auto_type_ids {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kPrompt = 1300;
inline constexpr int kGroup16Bit = 1301;
inline constexpr int kGroup32Bit = 1302;
inline constexpr int kGroupFloat = 1303;
// The "From" and "To" labels, group by group.
inline constexpr int kFirstLabel = 1304;
// The six edits, in the order of the bounds (RegisterTypeRanges::Bound).
inline constexpr int kFirstEdit = 1310;
inline constexpr int EditOf(int bound) {
    return kFirstEdit + bound;
}
}  // namespace auto_type_ids

inline constexpr int kAutoTypeDialogWidth = 200;
inline constexpr int kAutoTypeDialogHeight = 146;

// Edits the three address ranges of the Auto rule. The main window keeps one
// for its whole life and reopens it; the ranges it holds are the ones the
// register page asks. OK takes the edits in order, each bound as soon as it
// parses, and stops with the integer prompt at the first that does not:
// bounds taken before it stay taken, also if the user then cancels. Only a
// complete OK writes the profile, all six entries.
class AutoTypeDialog : public QDialog {
    Q_OBJECT

  public:
    // The bounds are all 0 until Load.
    AutoTypeDialog(Profile& profile, QWidget* parent = nullptr);

    // The bounds from section "AutoType", each missing one at its default;
    // writes nothing.
    void Load();
    // Shows the bounds and runs the dialog modally.
    int Open();

    const RegisterTypeRanges& Ranges() const { return ranges_; }
    QWidget* Control(int id) const;

  private:
    void OnOK();

    Profile& profile_;
    RegisterTypeRanges ranges_;
    ControlMap controls_;
    QtUserInterface ui_;
    FieldExchange exchange_;
};

}  // namespace fc

#pragma once

#include <QWidget>
#include <map>
#include <span>

#include "ui/dialog_units.h"

namespace fc {

// A dialog is described as data: one row per control, in creation order,
// built by BuildControls; the keyboard focus goes in reading order.
enum class ControlKind {
    PushButton,
    Label,
    Edit,
    RadioButton,
    GroupBox,
    ProgressBar,
    TabControl,
    Icon,
    ComboBox,  // a drop-down list; its owner fills the items
    CheckBox
};

// Style and initial state of a row.
enum ControlFlag : unsigned {
    kNoFlags = 0,
    kAlignRight = 1u << 0,
    kAlignCentre = 1u << 1,
    kReadOnly = 1u << 2,
    kDisabled = 1u << 3,
    kHidden = 1u << 4,
    kDefaultButton = 1u << 5,
    // A drop-down list of long names (device paths) whose ends both matter:
    // the middle gives way, closed and open.
    kElideMiddle = 1u << 6,
};

// The tab page a control belongs to; kEveryPage for controls that stay.
enum class Page { kEveryPage = -1, kFileDownloader = 0, kModbusDriver = 1, kAdvanced = 2 };

struct ControlSpec {
    int id;
    ControlKind kind;
    const char* text;         // nullptr: no text
    int x, y, width, height;  // dialog units
    unsigned flags = kNoFlags;
    Page page = Page::kEveryPage;
};

using ControlMap = std::map<int, QWidget*>;

// The control with the given id; nullptr for an unknown id.
inline QWidget* FindControl(const ControlMap& controls, int id) {
    const auto found = controls.find(id);
    return found == controls.end() ? nullptr : found->second;
}

// "control<id>": the object name BuildControls gives a control.
inline QString ControlObjectName(int id) {
    return QStringLiteral("control%1").arg(id);
}

// Makes the widgets of the rows as children of parent, places them by the
// units' conversion and gives each its object name "control<id>". Frames (tab
// controls and group boxes) are stacked below everything else so they never
// take the clicks meant for the controls they surround.
ControlMap BuildControls(QWidget* parent, std::span<const ControlSpec> rows,
                         const DialogUnits& units);

// The exclusive radio groups of a dialog: checking one button of a group
// unchecks the others of that group only.
void GroupRadioButtons(QWidget* parent, const ControlMap& controls,
                       std::span<const std::span<const int>> groups);

}  // namespace fc

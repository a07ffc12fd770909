#include "registers/auto_type_dialog.h"

#include <QLineEdit>
#include <QPushButton>

#include "platform/profile.h"
#include "registers/register_messages.h"

namespace fc {

namespace {

namespace ids = auto_type_ids;
namespace m = register_messages;
using K = ControlKind;

// Three groups stacked, "From" and "To" side by side in each, the buttons
// centred below; creation order is the focus order, edit by edit.
// clang-format off
constexpr ControlSpec kAutoTypeControls[] = {
    {ids::kPrompt, K::Label, m::kAutoTypePrompt, 10, 8, 180, 8},
    {ids::kGroup16Bit, K::GroupBox, m::kGroup16Bit, 10, 22, 180, 30},
    {ids::kFirstLabel + 0, K::Label, m::kFrom, 20, 36, 22, 8},
    {ids::EditOf(0), K::Edit, nullptr, 44, 34, 50, 12, kAlignRight},
    {ids::kFirstLabel + 1, K::Label, m::kTo, 106, 36, 14, 8},
    {ids::EditOf(1), K::Edit, nullptr, 122, 34, 50, 12, kAlignRight},
    {ids::kGroup32Bit, K::GroupBox, m::kGroup32Bit, 10, 56, 180, 30},
    {ids::kFirstLabel + 2, K::Label, m::kFrom, 20, 70, 22, 8},
    {ids::EditOf(2), K::Edit, nullptr, 44, 68, 50, 12, kAlignRight},
    {ids::kFirstLabel + 3, K::Label, m::kTo, 106, 70, 14, 8},
    {ids::EditOf(3), K::Edit, nullptr, 122, 68, 50, 12, kAlignRight},
    {ids::kGroupFloat, K::GroupBox, m::kGroupFloat, 10, 90, 180, 30},
    {ids::kFirstLabel + 4, K::Label, m::kFrom, 20, 104, 22, 8},
    {ids::EditOf(4), K::Edit, nullptr, 44, 102, 50, 12, kAlignRight},
    {ids::kFirstLabel + 5, K::Label, m::kTo, 106, 104, 14, 8},
    {ids::EditOf(5), K::Edit, nullptr, 122, 102, 50, 12, kAlignRight},
    {ids::kOk, K::PushButton, m::kOk, 44, 126, 50, 14, kDefaultButton},
    {ids::kCancel, K::PushButton, m::kCancel, 106, 126, 50, 14},
};
// clang-format on

}  // namespace

AutoTypeDialog::AutoTypeDialog(Profile& profile, QWidget* parent)
    : QDialog(parent),
      profile_(profile),
      ui_(this, [this](int id) { return Control(id); }),
      exchange_(ui_) {
    setWindowTitle(QString::fromUtf8(m::kAutoTypeCaption));
    const DialogUnits units = DialogUnits::ForDialogFont();
    setFont(DialogUnits::DialogFont());
    setFixedSize(units.ToPixels(kAutoTypeDialogWidth, kAutoTypeDialogHeight));
    controls_ = BuildControls(this, kAutoTypeControls, units);
    for (int bound = 0; bound < RegisterTypeRanges::kCount; ++bound)
        exchange_.Integer(qobject_cast<QLineEdit*>(Control(ids::EditOf(bound))),
                          &ranges_.Bound(bound));
    connect(qobject_cast<QPushButton*>(Control(ids::kOk)), &QPushButton::clicked, this,
            &AutoTypeDialog::OnOK);
    connect(qobject_cast<QPushButton*>(Control(ids::kCancel)), &QPushButton::clicked, this,
            &QDialog::reject);
}

void AutoTypeDialog::Load() {
    LoadRegisterTypeRanges(ranges_, profile_);
}

int AutoTypeDialog::Open() {
    exchange_.Load();
    return exec();
}

QWidget* AutoTypeDialog::Control(int id) const {
    return FindControl(controls_, id);
}

void AutoTypeDialog::OnOK() {
    if (!exchange_.Save())
        return;
    SaveRegisterTypeRanges(ranges_, profile_);
    // The ranges apply from now on either way; a failed save is told, and
    // the dialog closes as after any OK.
    SyncAndReport(profile_, ui_);
    accept();
}

}  // namespace fc

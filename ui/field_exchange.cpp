#include "ui/field_exchange.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include "platform/field_text.h"
#include "platform/user_interface.h"

namespace fc {

namespace {

std::string TextOf(const QLineEdit* edit) {
    return edit->text().toStdString();
}

void SetText(QLineEdit* edit, const std::string& text) {
    edit->setText(QString::fromStdString(text));
}

// Reads one numeric field: stores the parsed value, or returns the prompt.
template <typename Value, typename Parse>
std::function<std::string()> Reader(QLineEdit* edit, Value* member, Parse parse,
                                    const char* prompt) {
    return [=]() -> std::string {
        const auto value = parse(TextOf(edit));
        if (!value)
            return prompt;
        *member = *value;
        return {};
    };
}

// The label on the field's left, on the same line: the nearest static text
// of the same dialog whose height overlaps the field's.
QLabel* LabelBeside(const QWidget& control) {
    const QWidget* dialog = control.parentWidget();
    if (!dialog)
        return nullptr;
    const QRect field = control.geometry();
    QLabel* nearest = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        const QRect text = label->geometry();
        const bool beside = text.right() < field.left() && text.top() <= field.bottom() &&
                            text.bottom() >= field.top();
        if (beside && (!nearest || text.right() > nearest->geometry().right()))
            nearest = label;
    }
    return nearest;
}

// A field without a label of its own carries its name as its accessible
// name.
std::string NamedPrompt(const QWidget& control, const std::string& prompt) {
    const QLabel* label = LabelBeside(control);
    const auto* edit = qobject_cast<const QLineEdit*>(&control);
    QString name = label ? label->text() : control.accessibleName();
    if (name.isEmpty() || !edit)
        return prompt;
    name = name.remove('&').trimmed();
    if (name.endsWith(':'))
        name.chop(1);
    return prompt + "\n" +
           QString::fromUtf8(field_messages::kFieldHolds).arg(name, edit->text()).toStdString();
}

}  // namespace

void RefuseField(UserInterface& ui, QWidget& control, const std::string& prompt) {
    ui.ShowMessage({NamedPrompt(control, prompt), "", MessageButtons::Ok, MessageIcon::Warning});
    QWidget* window = control.window();
    // Qt gives a control on a hidden page the keyboard only once its page is
    // shown, and only if the window is active when it is asked and no other
    // control gives up the focus in between (as one on the page being left
    // would). So the window is made active (a box has just closed and the
    // window manager may not have handed it back yet) and the focus taken
    // from wherever it is.
    if (!window->isActiveWindow()) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
    }
    if (control.isHidden())
        if (QWidget* focused = window->focusWidget())
            focused->clearFocus();
    control.setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(&control))
        edit->selectAll();
}

void FieldExchange::Bind(QWidget* control, std::function<void()> load,
                         std::function<std::string()> save) {
    bindings_.push_back({control, std::move(load), std::move(save)});
}

void FieldExchange::Integer(QLineEdit* edit, int* member) {
    Bind(
        edit, [=] { SetText(edit, FormatIntegerField(*member)); },
        Reader(edit, member, ParseIntegerField, field_messages::kEnterInteger));
}

void FieldExchange::IntegerInRange(QLineEdit* edit, int* member, int lower, int upper) {
    Bind(
        edit, [=] { SetText(edit, FormatIntegerField(*member)); },
        [=]() -> std::string {
            const auto value = ParseIntegerField(TextOf(edit));
            if (!value)
                return field_messages::kEnterInteger;
            // The value is taken before the range check: the check only
            // refuses to go on, as the prompt says.
            *member = *value;
            if (*value < lower || *value > upper)
                return IntegerRangePrompt(lower, upper);
            return {};
        });
}

void FieldExchange::Float(QLineEdit* edit, float* member) {
    Bind(
        edit, [=] { SetText(edit, FormatFloatField(*member)); },
        Reader(edit, member, ParseFloatField, field_messages::kEnterNumber));
}

void FieldExchange::Double(QLineEdit* edit, double* member) {
    Bind(
        edit, [=] { SetText(edit, FormatDoubleField(*member)); },
        Reader(edit, member, ParseNumberField, field_messages::kEnterNumber));
}

void FieldExchange::Text(QLineEdit* edit, std::string* member) {
    Bind(
        edit, [=] { SetText(edit, *member); },
        [=]() -> std::string {
            *member = TextOf(edit);
            return {};
        });
}

void FieldExchange::RadioIndex(std::vector<QAbstractButton*> group, int* member) {
    Bind(
        group.front(),
        [=] {
            // An exclusive group refuses to uncheck its last checked button,
            // which an index of none (-1) asks for.
            QButtonGroup* exclusive = group.front()->group();
            if (exclusive)
                exclusive->setExclusive(false);
            for (size_t i = 0; i < group.size(); ++i)
                group[i]->setChecked(static_cast<int>(i) == *member);
            if (exclusive)
                exclusive->setExclusive(true);
        },
        [=]() -> std::string {
            *member = -1;
            for (size_t i = 0; i < group.size(); ++i)
                if (group[i]->isChecked())
                    *member = static_cast<int>(i);
            return {};
        });
}

void FieldExchange::Check(QAbstractButton* box, bool* member) {
    Bind(
        box, [=] { box->setChecked(*member); },
        [=]() -> std::string {
            *member = box->isChecked();
            return {};
        });
}

void FieldExchange::ListPosition(QComboBox* list, int* member) {
    Bind(
        list, [=] { list->setCurrentIndex(*member); },
        [=]() -> std::string {
            *member = list->currentIndex();
            return {};
        });
}

void FieldExchange::Load() const {
    for (const Binding& binding : bindings_)
        binding.load();
}

bool FieldExchange::Save() const {
    for (const Binding& binding : bindings_) {
        const std::string prompt = binding.save();
        if (!prompt.empty()) {
            RefuseField(ui_, *binding.control, prompt);
            return false;
        }
    }
    return true;
}

}  // namespace fc

#pragma once

#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

namespace fc {

class UserInterface;

// Refuses what a field holds: shows `prompt`, with a line below naming the
// field (by the label beside it) and its text, then gives the field the
// focus, also when its page is hidden. The exchange below and the pages that
// read their fields themselves refuse through this one path.
void RefuseField(UserInterface& ui, QWidget& control, const std::string& prompt);

// Binds a dialog's value members to its controls, in exchange order. Load
// writes every member into its control; Save reads the controls back in the
// same order, storing each value as soon as it parses, and stops at the first
// control that does not parse: its prompt is shown, the control takes the
// focus (also when its page is hidden) and Save returns false. Members
// stored before the failing field keep their new values.
class FieldExchange {
  public:
    explicit FieldExchange(UserInterface& ui) : ui_(ui) {}

    void Integer(QLineEdit* edit, int* member);
    void IntegerInRange(QLineEdit* edit, int* member, int lower, int upper);
    void Float(QLineEdit* edit, float* member);
    void Double(QLineEdit* edit, double* member);
    void Text(QLineEdit* edit, std::string* member);
    // The index of the checked button of a radio group, -1 when none is.
    void RadioIndex(std::vector<QAbstractButton*> group, int* member);
    void Check(QAbstractButton* box, bool* member);
    // The selected position of a drop-down list, -1 when none is.
    void ListPosition(QComboBox* list, int* member);

    void Load() const;
    bool Save() const;

  private:
    struct Binding {
        QWidget* control;
        std::function<void()> load;
        // Returns the prompt when the control's text does not parse.
        std::function<std::string()> save;
    };
    void Bind(QWidget* control, std::function<void()> load, std::function<std::string()> save);

    UserInterface& ui_;
    std::vector<Binding> bindings_;
};

}  // namespace fc

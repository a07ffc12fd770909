#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QTabWidget>
#include <algorithm>
#include <vector>

#include "ui/application_icon.h"
#include "ui/control_table.h"

namespace fc {

namespace {

QString TextOf(const ControlSpec& row) {
    return row.text ? QString::fromUtf8(row.text) : QString();
}

Qt::Alignment HorizontalAlignment(const ControlSpec& row) {
    if (row.flags & kAlignRight)
        return Qt::AlignRight;
    if (row.flags & kAlignCentre)
        return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

QWidget* MakeLabel(const ControlSpec& row, QWidget* parent) {
    auto* label = new QLabel(TextOf(row), parent);
    // Static text sits at the top of its box, as the layouts expect.
    label->setAlignment(HorizontalAlignment(row) | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QWidget* MakeEdit(const ControlSpec& row, QWidget* parent) {
    auto* edit = new QLineEdit(TextOf(row), parent);
    edit->setAlignment(HorizontalAlignment(row) | Qt::AlignVCenter);
    edit->setReadOnly(row.flags & kReadOnly);
    return edit;
}

QWidget* MakePushButton(const ControlSpec& row, QWidget* parent) {
    auto* button = new QPushButton(TextOf(row), parent);
    button->setDefault(row.flags & kDefaultButton);
    return button;
}

QWidget* MakeRadioButton(const ControlSpec& row, QWidget* parent) {
    auto* radio = new QRadioButton(TextOf(row), parent);
    // Groups come from GroupRadioButtons, not from sharing a parent.
    radio->setAutoExclusive(false);
    return radio;
}

QWidget* MakeProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QWidget* MakeIcon(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(ApplicationIcon().pixmap(kApplicationIconSize));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A group box whose top line runs through the middle of its title, as the
// layouts were drawn for. Styles that set the whole title above the line
// (Fusion) push the line down across the controls near a box's top ("Auto
// Settings...", "Start Loop"); this box draws the same everywhere.
class TitleLineGroupBox : public QGroupBox {
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QRect label = TitleRect();
        const QRect frame = rect().adjusted(0, label.isNull() ? 0 : label.center().y(), -1, -1);
        QRegion around_title(rect());
        around_title -= label;
        painter.setClipRegion(around_title);
        // An etched line: dark, with light beside it.
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.adjusted(1, 1, 0, 0));
        painter.setClipping(false);
        style()->drawItemText(&painter, label, Qt::AlignCenter | Qt::TextShowMnemonic, palette(),
                              isEnabled(), title(), QPalette::WindowText);
    }

  private:
    // Where the title sits, a little in from the left; null without one.
    QRect TitleRect() const {
        if (title().isEmpty())
            return {};
        constexpr int kIndent = 6;
        constexpr int kGap = 2;
        const QFontMetrics metrics = fontMetrics();
        return {kIndent, 0, metrics.horizontalAdvance(title()) + 2 * kGap, metrics.height()};
    }
};

// QComboBox cuts a long current text off at its right end; this one drops
// the middle instead, so /dev/serial/by-id/usb-FTDI_..._A12345-if00-port0
// keeps the adapter's serial number in view.
class MiddleElidingComboBox : public QComboBox {
  public:
    using QComboBox::QComboBox;

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, this);
        option.currentText =
            fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, field.width() - 2);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

QWidget* MakeComboBox(const ControlSpec& row, QWidget* parent) {
    if (!(row.flags & kElideMiddle))
        return new QComboBox(parent);
    auto* list = new MiddleElidingComboBox(parent);
    list->view()->setTextElideMode(Qt::ElideMiddle);
    return list;
}

QWidget* MakeControl(const ControlSpec& row, QWidget* parent) {
    switch (row.kind) {
        case ControlKind::PushButton:
            return MakePushButton(row, parent);
        case ControlKind::Label:
            return MakeLabel(row, parent);
        case ControlKind::Edit:
            return MakeEdit(row, parent);
        case ControlKind::RadioButton:
            return MakeRadioButton(row, parent);
        case ControlKind::GroupBox:
            return new TitleLineGroupBox(TextOf(row), parent);
        case ControlKind::ProgressBar:
            return MakeProgressBar(parent);
        case ControlKind::TabControl:
            return new QTabWidget(parent);
        case ControlKind::Icon:
            return MakeIcon(parent);
        case ControlKind::ComboBox:
            return MakeComboBox(row, parent);
        case ControlKind::CheckBox:
            return new QCheckBox(TextOf(row), parent);
    }
    return nullptr;
}

bool IsFrame(ControlKind kind) {
    return kind == ControlKind::GroupBox || kind == ControlKind::TabControl;
}

// Orders rows [first, last) of one page as a person reads them: line by
// line from the top, and left to right along a line. A control starting
// above the middle of its line's first control shares that line (a button a
// little taller than the edit beside it), wherever the table lists it.
template <typename Iterator>
void SortInReadingOrder(Iterator first, Iterator last) {
    std::stable_sort(first, last,
                     [](const ControlSpec* a, const ControlSpec* b) { return a->y < b->y; });
    while (first != last) {
        const int middle = (*first)->y + (*first)->height / 2;
        const auto end = std::find_if(
            first, last, [middle](const ControlSpec* row) { return row->y >= middle; });
        std::stable_sort(first, end,
                         [](const ControlSpec* a, const ControlSpec* b) { return a->x < b->x; });
        first = end;
    }
}

// Tab goes through the frames (the tab control) first, then each page in
// reading order.
void SetReadingTabOrder(std::span<const ControlSpec> rows, const ControlMap& controls) {
    std::vector<const ControlSpec*> order;
    for (const ControlSpec& row : rows)
        if (controls.at(row.id)->focusPolicy() != Qt::NoFocus)
            order.push_back(&row);
    const auto frames_then_pages = [](const ControlSpec* row) {
        return IsFrame(row->kind) ? -2 : static_cast<int>(row->page);
    };
    std::stable_sort(order.begin(), order.end(), [&](const ControlSpec* a, const ControlSpec* b) {
        return frames_then_pages(a) < frames_then_pages(b);
    });
    for (auto page = order.begin(); page != order.end();) {
        const auto end = std::find_if(page, order.end(), [&](const ControlSpec* row) {
            return frames_then_pages(row) != frames_then_pages(*page);
        });
        SortInReadingOrder(page, end);
        page = end;
    }
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(controls.at(order[i - 1]->id), controls.at(order[i]->id));
}

}  // namespace

ControlMap BuildControls(QWidget* parent, std::span<const ControlSpec> rows,
                         const DialogUnits& units) {
    ControlMap controls;
    std::vector<QWidget*> frames;
    for (const ControlSpec& row : rows) {
        QWidget* widget = MakeControl(row, parent);
        widget->setObjectName(ControlObjectName(row.id));
        widget->setGeometry(units.ToPixels(row.x, row.y, row.width, row.height));
        widget->setEnabled(!(row.flags & kDisabled));
        // Hidden explicitly, so a parent's show() leaves it hidden.
        widget->setVisible(!(row.flags & kHidden));
        controls[row.id] = widget;
        if (IsFrame(row.kind))
            frames.push_back(widget);
    }
    // Lowering in reverse leaves the frames in their own order, under the rest.
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame)
        (*frame)->lower();
    SetReadingTabOrder(rows, controls);
    return controls;
}

void GroupRadioButtons(QWidget* parent, const ControlMap& controls,
                       std::span<const std::span<const int>> groups) {
    for (const std::span<const int> ids : groups) {
        auto* group = new QButtonGroup(parent);
        group->setExclusive(true);
        for (const int id : ids)
            group->addButton(qobject_cast<QRadioButton*>(controls.at(id)), id);
    }
}

}  // namespace fc

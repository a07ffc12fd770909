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
#include <cstring>
#include <map>
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

// A gap wider than a label keeps from its field: what parts two columns.
constexpr int kColumnGutter = 10;

bool Overlaps(int a_from, int a_to, int b_from, int b_to) {
    return a_from < b_to && b_from < a_to;
}

// The first place after `from` along one axis where no row of `rows`
// straddles, and a gap of at least `gap` opens; 0 when there is none.
// `lowest` looks from the far end instead.
template <typename Start, typename Extent>
int FindCut(const std::vector<const ControlSpec*>& rows, Start start, Extent extent, int gap,
            bool lowest) {
    std::vector<std::pair<int, int>> spans;
    for (const ControlSpec* row : rows)
        spans.emplace_back(start(*row), start(*row) + extent(*row));
    std::sort(spans.begin(), spans.end());
    std::vector<int> cuts;
    int reach = spans.front().second;
    for (const auto& [from, to] : spans) {
        if (from - reach >= gap)
            cuts.push_back(from);
        reach = std::max(reach, to);
    }
    if (cuts.empty())
        return 0;
    return lowest ? cuts.back() : cuts.front();
}

// Orders the rows of one page or dialog as a person reads them: columns
// left to right where a gutter parts them from top to bottom (a dialog's
// button column at the right comes after the fields), otherwise bands from
// the top, the lowest band parted off first so that the rest may still
// fall into columns; within a band without either, line by line. A frame
// that holds all the rest of its part does not stand in the way.
void ReadingOrder(std::vector<const ControlSpec*> rows, std::vector<const ControlSpec*>& out) {
    if (rows.size() <= 1) {
        out.insert(out.end(), rows.begin(), rows.end());
        return;
    }
    const auto x = [](const ControlSpec& r) { return r.x; };
    const auto w = [](const ControlSpec& r) { return r.width; };
    const auto y = [](const ControlSpec& r) { return r.y; };
    const auto h = [](const ControlSpec& r) { return r.height; };
    const auto holds_all = [&](const ControlSpec* frame) {
        return IsFrame(frame->kind) && std::all_of(rows.begin(), rows.end(), [&](auto* r) {
                   return r == frame || (r->x >= frame->x && r->x + r->width <= frame->x + frame->width &&
                                         r->y + r->height / 2 >= frame->y &&
                                         r->y + r->height / 2 <= frame->y + frame->height);
               });
    };
    const auto frame = std::find_if(rows.begin(), rows.end(), holds_all);
    if (frame != rows.end()) {
        out.push_back(*frame);
        rows.erase(frame);
        ReadingOrder(std::move(rows), out);
        return;
    }
    const auto split = [&](int cut, auto start) {
        std::vector<const ControlSpec*> before, after;
        for (const ControlSpec* row : rows)
            (start(*row) < cut ? before : after).push_back(row);
        ReadingOrder(std::move(before), out);
        ReadingOrder(std::move(after), out);
    };
    if (const int column = FindCut(rows, x, w, kColumnGutter, false))
        return split(column, x);
    if (const int band = FindCut(rows, y, h, 1, true))
        return split(band, y);
    // One line: a control starting above the middle of the first shares it.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ControlSpec* a, const ControlSpec* b) { return a->y < b->y; });
    for (auto first = rows.begin(); first != rows.end();) {
        const int middle = (*first)->y + (*first)->height / 2;
        const auto end = std::find_if(
            first, rows.end(), [middle](const ControlSpec* row) { return row->y >= middle; });
        std::stable_sort(first, end,
                         [](const ControlSpec* a, const ControlSpec* b) { return a->x < b->x; });
        first = end;
    }
    out.insert(out.end(), rows.begin(), rows.end());
}

bool TakesFocus(const ControlSpec& row, const ControlMap& controls) {
    return controls.at(row.id)->focusPolicy() != Qt::NoFocus;
}

// Tab goes through what every page shares (the tab control) first, then
// each page in reading order. Every row of a page shapes its columns
// and bands, the labels and group boxes too: they are what the eye reads.
void SetReadingTabOrder(std::span<const ControlSpec> rows, const ControlMap& controls) {
    std::vector<const ControlSpec*> order;
    std::map<Page, std::vector<const ControlSpec*>> pages;
    for (const ControlSpec& row : rows)
        pages[row.page].push_back(&row);
    for (auto& [page, page_rows] : pages)
        ReadingOrder(std::move(page_rows), order);
    std::erase_if(order, [&](const ControlSpec* row) { return !TakesFocus(*row, controls); });
    for (size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(controls.at(order[i - 1]->id), controls.at(order[i]->id));
}

// A label with a mnemonic hands the focus to the control it names: the
// nearest one to its right on its line, else the nearest below it.
void SetBuddies(std::span<const ControlSpec> rows, const ControlMap& controls) {
    for (const ControlSpec& label : rows) {
        if (label.kind != ControlKind::Label || !label.text || !std::strchr(label.text, '&'))
            continue;
        const ControlSpec* buddy = nullptr;
        const auto distance = [&](const ControlSpec& row) {
            const bool beside = Overlaps(row.y, row.y + row.height, label.y, label.y + label.height) &&
                                row.x >= label.x + label.width;
            const bool below = Overlaps(row.x, row.x + row.width, label.x, label.x + label.width) &&
                               row.y >= label.y + label.height;
            if (beside)
                return row.x - label.x;
            return below ? 100000 + row.y - label.y : -1;
        };
        int nearest = 0;
        for (const ControlSpec& row : rows) {
            if (row.page != label.page || IsFrame(row.kind) || !TakesFocus(row, controls))
                continue;
            const int d = distance(row);
            if (d >= 0 && (!buddy || d < nearest)) {
                buddy = &row;
                nearest = d;
            }
        }
        if (buddy)
            qobject_cast<QLabel*>(controls.at(label.id))->setBuddy(controls.at(buddy->id));
    }
}

// Tab enters a group of radio buttons at its checked button (the first when
// none is), and leaves it with the next Tab; the arrow keys move within it.
void KeepTabStopOnChecked(QButtonGroup& group) {
    const auto update = [&group] {
        const QList<QAbstractButton*> buttons = group.buttons();
        QAbstractButton* stop = group.checkedButton() ? group.checkedButton() : buttons.value(0);
        for (QAbstractButton* button : buttons)
            button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
    };
    QObject::connect(&group, &QButtonGroup::buttonToggled, &group, update);
    update();
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
    SetBuddies(rows, controls);
    return controls;
}

void GroupRadioButtons(QWidget* parent, const ControlMap& controls,
                       std::span<const std::span<const int>> groups) {
    for (const std::span<const int> ids : groups) {
        auto* group = new QButtonGroup(parent);
        group->setExclusive(true);
        for (const int id : ids)
            group->addButton(qobject_cast<QRadioButton*>(controls.at(id)), id);
        KeepTabStopOnChecked(*group);
    }
}

}  // namespace fc

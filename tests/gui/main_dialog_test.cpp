#include <gtest/gtest.h>

#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <algorithm>
#include <set>
#include <vector>

#include "app/app_messages.h"
#include "tests/gui/gui_test_support.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

// The pages as the window must have them, in the order the switch walks them;
// kept apart from the table so a row lost or moved there shows up here.
const std::vector<int> kFileDownloaderIds = {1000, 1001, 1002, 1003, 1014, 1018, 1047,
                                             1048, 1049, 1050, 1051, 1052, 1053, 1042,
                                             1043, 1044, 1045, 1004, 1046, 1019};
const std::vector<int> kModbusDriverIds = {1035, 1012, 1037, 1021, 1022, 1011, 1024,
                                           1023, 1040, 1041, 1026, 1027, 1086, 1085,
                                           1013, 1015, 1091, 1089, 1087};
const std::vector<int> kAdvancedIds = {1077, 1073, 1069, 1074, 1075, 1070, 1071, 1072, 1076,
                                       1078, 1079, 1080, 1082, 1083, 1084, 1081, 1103, 1104,
                                       1099, 1105, 1097, 1106, 1107, 1102, 1108, 1101, 1109,
                                       1098, 1100, 1110, 1111, 1112, 1061, 1062, 1063, 1064};

std::vector<int> TableIdsOf(Page page) {
    std::vector<int> ids;
    for (const ControlSpec& row : MainDialogControls())
        if (row.page == page)
            ids.push_back(row.id);
    return ids;
}

QString TextShown(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return {};
}

bool IsOfKind(QWidget* widget, ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
            return qobject_cast<QPushButton*>(widget);
        case ControlKind::Label:
            return qobject_cast<QLabel*>(widget);
        case ControlKind::Edit:
            return qobject_cast<QLineEdit*>(widget);
        case ControlKind::RadioButton:
            return qobject_cast<QRadioButton*>(widget);
        case ControlKind::GroupBox:
            return qobject_cast<QGroupBox*>(widget);
        case ControlKind::ProgressBar:
            return qobject_cast<QProgressBar*>(widget);
        case ControlKind::TabControl:
            return qobject_cast<QTabWidget*>(widget);
        case ControlKind::Icon:
            return qobject_cast<QLabel*>(widget);
        case ControlKind::ComboBox:
        case ControlKind::CheckBox:
            return false;  // the main window has none
    }
    return false;
}

TEST_F(MainDialogTest, PagesHoldExactlyTheirControlsInWalkOrder) {
    EXPECT_EQ(TableIdsOf(Page::kFileDownloader), kFileDownloaderIds);
    EXPECT_EQ(TableIdsOf(Page::kModbusDriver), kModbusDriverIds);
    EXPECT_EQ(TableIdsOf(Page::kAdvanced), kAdvancedIds);
    EXPECT_EQ(TableIdsOf(Page::kEveryPage), (std::vector<int>{1034, 1039}));
    std::set<int> unique;
    for (const ControlSpec& row : MainDialogControls())
        EXPECT_TRUE(unique.insert(row.id).second) << "id twice: " << row.id;
    // The layout's 76, and the download's Stop.
    EXPECT_EQ(unique.size(), 77u);
}

TEST_F(MainDialogTest, EveryControlHasItsKindTextAndGeometry) {
    const DialogUnits units(dialog_.font());
    for (const ControlSpec& row : MainDialogControls()) {
        SCOPED_TRACE(row.id);
        QWidget* widget = dialog_.Control(row.id);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(IsOfKind(widget, row.kind));
        EXPECT_EQ(widget->geometry(), units.ToPixels(row.x, row.y, row.width, row.height));
        if (row.text) {
            EXPECT_EQ(TextShown(widget).toStdString(), row.text);
        }
    }
    // A few rows written out in full, as the layout gives them.
    EXPECT_EQ(C<QPushButton>(1001)->text(), "&Test Communication with FC");
    EXPECT_EQ(dialog_.Control(1001)->geometry(), units.ToPixels(17, 38, 141, 16));
    EXPECT_EQ(C<QGroupBox>(1103)->title(), "Writting Loop");
    EXPECT_EQ(dialog_.Control(1103)->geometry(), units.ToPixels(16, 116, 250, 62));
    EXPECT_EQ(C<QPushButton>(1021)->text(), "&Read");
    EXPECT_EQ(dialog_.Control(1087)->geometry(), units.ToPixels(148, 157, 87, 19));
    EXPECT_EQ(C<QLabel>(1106)->text(), "(Add this value to data every time)");
    EXPECT_EQ(dialog_.Control(1064)->geometry(), units.ToPixels(161, 97, 40, 10));
    EXPECT_EQ(dialog_.Control(1034)->geometry(), units.ToPixels(2, 2, 277, 192));
    EXPECT_EQ(dialog_.Control(1039)->geometry(), units.ToPixels(8, 18, 265, 170));
    EXPECT_TRUE(C<QGroupBox>(1039)->title().isEmpty());
}

TEST_F(MainDialogTest, ControlStylesFollowTheTable) {
    for (const int id : {1022, 1024, 1069, 1072, 1076, 1099, 1097, 1102, 1101})
        EXPECT_TRUE(C<QLineEdit>(id)->alignment() & Qt::AlignRight) << id;
    for (const int id : {1026, 1027, 1086})
        EXPECT_TRUE(C<QLineEdit>(id)->alignment() & Qt::AlignLeft) << id;
    EXPECT_TRUE(C<QLineEdit>(1014)->isReadOnly());
    EXPECT_FALSE(C<QLineEdit>(1022)->isReadOnly());
    EXPECT_TRUE(C<QLabel>(1077)->alignment() & Qt::AlignRight);
    EXPECT_TRUE(C<QLabel>(1046)->alignment() & Qt::AlignHCenter);
    EXPECT_FALSE(C<QProgressBar>(1002)->isTextVisible());
}

TEST_F(MainDialogTest, WindowOpensInItsInitialState) {
    EXPECT_EQ(dialog_.windowTitle(), "Brisel, Inc. - Downloader V.2");
    const QSize size = DialogUnits(dialog_.font()).ToPixels(282, 196);
    EXPECT_EQ(dialog_.minimumSize(), size);
    EXPECT_EQ(dialog_.maximumSize(), size);
    EXPECT_TRUE(dialog_.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(dialog_.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dialog_.windowIcon().isNull());

    auto* tabs = C<QTabWidget>(ids::kTabControl);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "File Downloader");
    EXPECT_EQ(tabs->tabText(1), "Modbus Driver");
    EXPECT_EQ(tabs->tabText(2), "Advanced");
    EXPECT_EQ(tabs->currentIndex(), 0);

    // The File Downloader start state: only Test, Comm Settings and Start Over.
    std::vector<int> enabled_buttons;
    for (const int id : kFileDownloaderIds)
        if (qobject_cast<QPushButton*>(dialog_.Control(id)) && dialog_.Control(id)->isEnabled())
            enabled_buttons.push_back(id);
    EXPECT_EQ(enabled_buttons, (std::vector<int>{1001, 1018, 1004}));
    EXPECT_FALSE(dialog_.Control(1014)->isEnabled());
    EXPECT_FALSE(Shown(ids::kProgressBar));
    // The first page switch shows the status line; it is empty.
    EXPECT_TRUE(Shown(ids::kStatusLine));
    EXPECT_TRUE(C<QLabel>(ids::kStatusLine)->text().isEmpty());

    EXPECT_FALSE(dialog_.Control(ids::kClockStop)->isEnabled());
    EXPECT_TRUE(dialog_.Control(ids::kClockStart)->isEnabled());
    EXPECT_TRUE(C<QRadioButton>(ids::kRadioAuto)->isChecked());
    EXPECT_EQ(C<QLineEdit>(ids::kRegisterCount)->text(), "1");

    // The exchanged fields as loaded.
    const std::pair<int, const char*> loaded[] = {{1022, "2200"},  {1069, "10"}, {1072, "4203"},
                                                  {1076, "4201"},  {1099, "1"},  {1097, "0"},
                                                  {1101, "10000"}, {1102, "0"}};
    for (const auto& [id, text] : loaded)
        EXPECT_EQ(C<QLineEdit>(id)->text(), text) << id;
    for (const int id : {1061, 1063, 1074})
        EXPECT_TRUE(C<QRadioButton>(id)->isChecked()) << id;
    for (const int id : {1011, 1012, 1013, 1062, 1064, 1075, 1081})
        EXPECT_FALSE(C<QRadioButton>(id)->isChecked()) << id;
    for (const int id : {1024, 1026, 1027, 1014})
        EXPECT_TRUE(C<QLineEdit>(id)->text().isEmpty()) << id;
}

// Tab goes in reading order, whatever order the table lists the controls in.
TEST_F(MainDialogTest, TabFollowsThePagesReadingOrder) {
    C<QTabWidget>(ids::kTabControl)->setCurrentIndex(1);
    std::vector<int> reached;
    QWidget* widget = C<QWidget>(ids::kAddress);
    while (reached.size() < 4) {
        widget = widget->nextInFocusChain();
        if (widget->focusPolicy() & Qt::TabFocus && widget->isVisible())
            reached.push_back(widget->objectName().mid(7).toInt());
    }
    // The radio group is entered at its checked button, "Auto".
    EXPECT_EQ(reached, (std::vector<int>{ids::kData, ids::kRead, ids::kWrite, ids::kRadioAuto}));
}

TEST_F(MainDialogTest, PageSwitchShowsOnlyTheSelectedPage) {
    auto* tabs = C<QTabWidget>(ids::kTabControl);
    const std::vector<int>* pages[] = {&kFileDownloaderIds, &kModbusDriverIds, &kAdvancedIds};
    for (const int selected : {1, 2, 0, 2, 1}) {
        tabs->setCurrentIndex(selected);
        for (int page = 0; page < 3; ++page)
            for (const int id : *pages[page])
                EXPECT_EQ(Shown(id), page == selected) << "tab " << selected << " control " << id;
        EXPECT_TRUE(Shown(ids::kTabControl));
        EXPECT_TRUE(Shown(ids::kPageFrame));
    }
}

TEST_F(MainDialogTest, SwitchingBackShowsProgressBarAndStatusLineUntilStartOver) {
    auto* tabs = C<QTabWidget>(ids::kTabControl);
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(0);
    EXPECT_TRUE(Shown(ids::kProgressBar));
    EXPECT_TRUE(Shown(ids::kStatusLine));
    // The switch leaves enabled states alone.
    EXPECT_FALSE(dialog_.Control(ids::kStartDownload)->isEnabled());
    EXPECT_FALSE(dialog_.Control(ids::kClockStop)->isEnabled());

    C<QPushButton>(ids::kStartOver)->click();
    EXPECT_FALSE(Shown(ids::kProgressBar));
    EXPECT_TRUE(Shown(ids::kStatusLine));
}

TEST_F(MainDialogTest, StartOverRestoresTheFirstStep) {
    for (const int id : {1001, 1004})
        dialog_.Control(id)->setEnabled(false);
    for (const int id : {1003, 1014, 1000})
        dialog_.Control(id)->setEnabled(true);
    dialog_.Control(ids::kProgressBar)->show();
    C<QPushButton>(ids::kStartOver)->click();
    for (const int id : {1001, 1004, 1018})
        EXPECT_TRUE(dialog_.Control(id)->isEnabled()) << id;
    for (const int id : {1003, 1014, 1000})
        EXPECT_FALSE(dialog_.Control(id)->isEnabled()) << id;
    EXPECT_FALSE(Shown(ids::kProgressBar));
}

TEST_F(MainDialogTest, RadioGroupsAreIndependent) {
    C<QRadioButton>(1011)->click();
    EXPECT_TRUE(C<QRadioButton>(1011)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(1015)->isChecked());
    // Other groups keep their choice.
    EXPECT_TRUE(C<QRadioButton>(1061)->isChecked());
    EXPECT_TRUE(C<QRadioButton>(1063)->isChecked());
    EXPECT_TRUE(C<QRadioButton>(1074)->isChecked());

    C<QRadioButton>(1062)->click();
    C<QRadioButton>(1064)->click();
    C<QRadioButton>(1081)->click();
    EXPECT_FALSE(C<QRadioButton>(1061)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(1063)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(1074)->isChecked());
    EXPECT_FALSE(C<QRadioButton>(1075)->isChecked());
    EXPECT_TRUE(C<QRadioButton>(1011)->isChecked());
    ASSERT_TRUE(dialog_.SaveFields());
    EXPECT_EQ(dialog_.Fields().RegisterSize, 1);
    EXPECT_EQ(dialog_.Fields().ByteOrder, 1);
    EXPECT_EQ(dialog_.Fields().IncreaseBy, 2);
}

TEST_F(MainDialogTest, CommandHandlersReceiveTheirButtons) {
    std::vector<int> clicked;
    for (const int id :
         {1000, 1001, 1003, 1004, 1021, 1023, 1085, 1087, 1070, 1071, 1091, 1098, 1100})
        dialog_.SetCommandHandler(id, [&clicked, id] { clicked.push_back(id); });
    dialog_.Control(1000)->setEnabled(true);
    dialog_.Control(1071)->setEnabled(true);
    for (const int id : {1000, 1021, 1071, 1100})
        C<QPushButton>(id)->click();
    EXPECT_EQ(clicked, (std::vector<int>{1000, 1021, 1071, 1100}));
    // Buttons without a handler do nothing.
    C<QPushButton>(ids::kReadMultiple)->click();
}

// Nothing clipped: every text fits the box the layout gives it, in the font
// the window really uses.
void ExpectEveryTextFits(const MainDialog& dialog) {
    const QFontMetrics metrics(dialog.font());
    QStyle* style = dialog.style();
    const int button_margins = 2 * (style->pixelMetric(QStyle::PM_ButtonMargin) +
                                    style->pixelMetric(QStyle::PM_DefaultFrameWidth));
    for (const ControlSpec& row : MainDialogControls()) {
        SCOPED_TRACE(row.id);
        QWidget* widget = dialog.Control(row.id);
        const QString text = QString::fromUtf8(row.text ? row.text : "").remove('&');
        const int text_width = metrics.horizontalAdvance(text);
        switch (row.kind) {
            case ControlKind::Label:
                EXPECT_LE(text_width, widget->width());
                EXPECT_LE(metrics.height(), widget->height() + 1);
                break;
            case ControlKind::PushButton:
                EXPECT_LE(text_width + button_margins, widget->width());
                EXPECT_LE(metrics.height() + 4, widget->height());
                break;
            case ControlKind::RadioButton:
                EXPECT_LE(widget->sizeHint().width(), widget->width());
                break;
            case ControlKind::GroupBox:
                EXPECT_LE(text_width + metrics.height(), widget->width());
                break;
            case ControlKind::Edit:
                EXPECT_LE(metrics.height() + 4, widget->height());
                break;
            default:
                break;
        }
    }
}

TEST_F(MainDialogTest, EveryTextFitsItsControl) {
    ExpectEveryTextFits(dialog_);
}

// The window follows the desktop's font size; desktops commonly set 9 to 11
// points, some go smaller or larger.
TEST(MainDialogFontTest, EveryTextFitsAtCommonDesktopFontSizes) {
    const QFont original = QApplication::font();
    for (const int points : {8, 10, 11, 13}) {
        SCOPED_TRACE(points);
        QFont font = original;
        font.setPointSize(points);
        QApplication::setFont(font);
        TempDir dir;
        CommSettings settings;
        LinkFlags link;
        UserInterfaceRelay relay;
        ModbusMaster master(settings, link, relay, NoPorts());
        Profile profile = Profile::AtPath(dir.File("fcloader.conf"));
        const MainDialog dialog(master, profile);
        EXPECT_EQ(dialog.font().pointSize(), points);
        ExpectEveryTextFits(dialog);
    }
    QApplication::setFont(original);
}

bool IsBlank(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

// The page keys work from a field of the page, not only from the tab bar.
TEST_F(MainDialogTest, CtrlTabAndCtrlPageKeysSwitchPagesFromAnyField) {
    auto* tabs = C<QTabWidget>(ids::kTabControl);
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int page;
    } presses[] = {
        {Qt::Key_Tab, Qt::ControlModifier, 2},
        {Qt::Key_PageDown, Qt::ControlModifier, 0},
        {Qt::Key_PageUp, Qt::ControlModifier, 2},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 1},
    };
    // A control of each page that takes the focus.
    const int fields[] = {ids::kCommSettings, ids::kAddress, ids::kUpdateEvery};
    tabs->setCurrentIndex(1);
    for (const auto& press : presses) {
        QWidget* field = dialog_.Control(fields[tabs->currentIndex()]);
        field->setFocus();
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClick(field, press.key, press.modifiers);
        EXPECT_EQ(tabs->currentIndex(), press.page) << press.key;
    }
}

// The row, in the box's own coordinates, of its frame's top line as drawn:
// the first that differs from the box's inside, in a column clear of the title
// and of the controls.
int TopLineRow(QWidget* box) {
    const QImage image = box->grab().toImage();
    const qreal ratio = image.devicePixelRatio();
    const int x = static_cast<int>((box->width() - 5) * ratio);
    const QRgb inside = image.pixel(x, image.height() / 2);
    for (int y = 0; y < image.height(); ++y)
        if (image.pixel(x, y) != inside)
            return static_cast<int>(y / ratio);
    return box->height();
}

// No control sits across the top line of the box around it, at 1x or 2x.
TEST_F(MainDialogTest, GroupBoxFramesRunAboveTheControlsTheySurround) {
    const struct {
        int page;
        int box;
    } boxes[] = {{1, 1089}, {2, 1110}, {2, 1103}};
    auto* tabs = C<QTabWidget>(ids::kTabControl);
    for (const auto& [page, box_id] : boxes) {
        tabs->setCurrentIndex(page);
        QWidget* box = dialog_.Control(box_id);
        const int line = box->y() + TopLineRow(box);
        int inside = 0;
        for (QWidget* control : dialog_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control == box || !control->isVisible() ||
                !box->geometry().contains(control->geometry()))
                continue;
            ++inside;
            EXPECT_GT(control->y(), line)
                << control->objectName().toStdString() << " in " << box_id;
        }
        EXPECT_GT(inside, 1) << box_id;
    }
}

// Leaves a picture of each page under the build tree for a person to look at.
TEST_F(MainDialogTest, ScreenshotOfEveryPage) {
    const QString folder = QStringLiteral(FC_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    auto* tabs = C<QTabWidget>(ids::kTabControl);
    for (int page = 0; page < 3; ++page) {
        tabs->setCurrentIndex(page);
        const QImage image = dialog_.grab().toImage();
        EXPECT_EQ(image.size(), dialog_.size() * image.devicePixelRatio());
        EXPECT_FALSE(IsBlank(image));
        EXPECT_TRUE(image.save(folder + QStringLiteral("/main_page%1.png").arg(page)));
    }
}

// A close request that arrives while an operation runs: held until it ends,
// or, while the operation refuses it (a download), turned down with the
// reason in a box that does not stop the operation.
TEST_F(MainDialogTest, CloseDuringAnOperationWaitsOrIsRefused) {
    struct Row {
        std::string refusal;
        bool closed_after;
    };
    for (const Row& row : {Row{"", true}, Row{"Not now.", false}}) {
        dialog_.show();
        bool open_inside = false;
        dialog_.RunOperation([&] {
            dialog_.RefuseCloseWith(row.refusal);
            dialog_.close();
            open_inside = dialog_.isVisible();
            dialog_.RefuseCloseWith("");
        });
        EXPECT_TRUE(open_inside) << row.refusal;
        EXPECT_EQ(dialog_.isVisible(), !row.closed_after) << row.refusal;
        auto* box = dialog_.findChild<QMessageBox*>();
        EXPECT_EQ(box != nullptr, !row.refusal.empty());
        if (box) {
            EXPECT_EQ(box->text().toStdString(), row.refusal);
            EXPECT_FALSE(box->isModal());
            delete box;
        }
    }
}

}  // namespace
}  // namespace fc::test

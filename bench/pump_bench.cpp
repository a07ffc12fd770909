// What pumping the window costs a long operation. A wait calls
// PumpPaintMessages at least every 100 ms, a busy one far more often; at most
// one call in 50 ms runs a pass (window system events, repaint), the others
// return at once. Prints the cost of a pass that repaints a changed status
// line, the cost of a call that returns at once, and the share of a second
// that a wait pumping flat out loses to them.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ui/main_dialog_template.h"
#include "ui/qt_user_interface.h"

namespace {

using Clock = std::chrono::steady_clock;

double MicrosecondsOf(const std::function<void()>& work) {
    const auto before = Clock::now();
    work();
    return std::chrono::duration<double, std::micro>(Clock::now() - before).count();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    auto* status = new QLabel(&window);
    (new QVBoxLayout(&window))->addWidget(status);
    window.resize(600, 400);
    window.show();
    fc::QtUserInterface ui(
        &window, [&](int id) -> QWidget* { return id == fc::ids::kStatusLine ? status : nullptr; });

    std::vector<double> passes;
    for (int i = 0; i < 60; ++i) {
        ui.SetStatusText("Sending sector " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(55));
        passes.push_back(MicrosecondsOf([&] { ui.PumpPaintMessages(); }));
    }
    std::sort(passes.begin(), passes.end());
    const double median_pass = passes[passes.size() / 2];

    constexpr int kSkipped = 100000;
    ui.PumpPaintMessages();
    const double skipped = MicrosecondsOf([&] {
                               for (int i = 0; i < kSkipped; ++i)
                                   ui.PumpPaintMessages();
                           }) /
                           kSkipped;

    std::printf("pass with a repaint: median %.0f us, slowest %.0f us\n", median_pass,
                passes.back());
    std::printf("call between passes: %.3f us\n", skipped);
    std::printf("a wait pumping flat out: at most 20 passes a second, %.2f %% of its time\n",
                20 * median_pass / 1e4);
    return 0;
}

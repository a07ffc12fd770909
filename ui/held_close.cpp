#include "ui/held_close.h"

#include <QCloseEvent>
#include <QWidget>

namespace fc {

bool HeldClose::Hold(QCloseEvent& event, bool busy) {
    if (!busy)
        return false;
    event.ignore();
    held_ = true;
    return true;
}

void HeldClose::Release() {
    if (!held_)
        return;
    held_ = false;
    window_.close();
}

}  // namespace fc

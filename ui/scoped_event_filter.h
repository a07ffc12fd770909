#pragma once

#include <QObject>

namespace fc {

// `filter` sees the events of `watched` (the application: every object's)
// while this lives, and no longer once it ends, however the scope is left.
class ScopedEventFilter {
  public:
    ScopedEventFilter(QObject& watched, QObject& filter) : watched_(watched), filter_(filter) {
        watched_.installEventFilter(&filter_);
    }
    ~ScopedEventFilter() { watched_.removeEventFilter(&filter_); }
    ScopedEventFilter(const ScopedEventFilter&) = delete;
    ScopedEventFilter& operator=(const ScopedEventFilter&) = delete;

  private:
    QObject& watched_;
    QObject& filter_;
};

}  // namespace fc

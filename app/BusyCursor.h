#pragma once

namespace dravix {

// Shows the wait cursor while a command blocks the UI thread.
class BusyCursor final {
  public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace dravix

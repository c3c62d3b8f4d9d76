// Event filter on the application object that turns Qt input events into the global key
// tables, mouse state and close request. Runs on the GUI thread; the tables it writes are
// read by the game threads.
#pragma once

#include <QObject>

class QEvent;

// Key-table slots of the Esc key and of the fire button (the left mouse button).
inline constexpr int kEscapeSlot = 27;
inline constexpr int kFireSlot = 1;

// Records input and lets every event through; no meta-object needed.
class InputEventFilter : public QObject {
 public:
  ~InputEventFilter() override;
  bool eventFilter(QObject* watched, QEvent* event) override;
};

extern InputEventFilter _efilter;
extern bool _filterInstalled;

// Installs _efilter on the application object once one exists.
void _installFilter();

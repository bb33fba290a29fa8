#pragma once

#include <string>

class QWidget;

namespace cvt::gui {

// Where the window's message boxes go. The window shows every message
// through this, so tests can record them instead of blocking on a modal
// dialog.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows `text` under `title` with a single OK button and returns when the
  // operator has closed it. `details`, when not empty, can be unfolded
  // under the text. `parent` is the window the box belongs to.
  virtual void show(QWidget* parent, const std::string& title, const std::string& text,
                    const std::string& details) = 0;
};

// Modal Qt message boxes.
class QtMessageBoxes : public MessageBoxes {
 public:
  void show(QWidget* parent, const std::string& title, const std::string& text,
            const std::string& details) override;
};

}  // namespace cvt::gui

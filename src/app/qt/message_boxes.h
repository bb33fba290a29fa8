#pragma once

#include <string>

class QWidget;

namespace cvt {
struct CheckReport;
struct RunReport;
}  // namespace cvt

namespace cvt::gui {

// Failures carry the warning icon; everything else the information icon.
enum class BoxIcon { Information, Warning };

// One message box: a title, a text and a single OK button. `note` is shown
// under the text (what a failure left undone); `details` can be unfolded.
struct BoxContent {
  std::string title;
  std::string text;
  std::string details;
  std::string note;
  BoxIcon icon = BoxIcon::Information;
};

// The icon for `text`: every failure text of the tool says "失败".
BoxIcon iconFor(const std::string& text);

// Where the window's message boxes go. The window shows every message
// through this, so tests can record them instead of blocking on a modal
// dialog. Every call returns when the operator has closed the box.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // `parent` is the window the box belongs to.
  virtual void show(QWidget* parent, const BoxContent& box) = 0;
  // A yes/no question; true for yes.
  virtual bool ask(QWidget* parent, const std::string& title, const std::string& text) = 0;
  // The message that ends a completed run, with the run's summary and
  // verification. Default: show() with the summary as details.
  virtual void showCompletion(QWidget* parent, const BoxContent& box, const RunReport& report);
  // The findings of a check and its verdict. Default: show() with the
  // findings as details.
  virtual void showCheck(QWidget* parent, const BoxContent& box, const CheckReport& report);
};

// Modal Qt message boxes.
class QtMessageBoxes : public MessageBoxes {
 public:
  void show(QWidget* parent, const BoxContent& box) override;
  bool ask(QWidget* parent, const std::string& title, const std::string& text) override;
  void showCompletion(QWidget* parent, const BoxContent& box, const RunReport& report) override;
  void showCheck(QWidget* parent, const BoxContent& box, const CheckReport& report) override;
};

}  // namespace cvt::gui

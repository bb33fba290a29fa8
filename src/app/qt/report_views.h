#pragma once

#include <QString>
#include <string>

class QTableWidget;
class QWidget;

namespace cvt {
struct CheckReport;
struct RunReport;
}  // namespace cvt

namespace cvt::gui {

// A category key (item, cls, ...) as the window's check box names it; the
// key itself when it names no category ("run" concerns every category).
QString categoryName(const std::string& key);

// The run's steps (category, rows written, seconds, result) as a table.
QTableWidget* runStepsTable(const RunReport& report, QWidget* parent);
// The verification of a completed run (category, source rows, target rows,
// explained rows, result) as a table; null when there is none.
QTableWidget* verificationTable(const RunReport& report, QWidget* parent);
// The findings of a check (category, will fail or warning, reason).
QTableWidget* checkFindingsTable(const CheckReport& report, QWidget* parent);
// One sentence on what a check found.
std::string checkVerdict(const CheckReport& report);

}  // namespace cvt::gui

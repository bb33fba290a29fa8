#include "app/qt/report_views.h"

#include <QHeaderView>
#include <QStringList>
#include <QTableWidget>

#include "app/preflight.h"
#include "app/preflight_zh.h"
#include "app/run_driver.h"
#include "steps/catalog.h"

namespace cvt::gui {

namespace {

QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A read-only table whose columns fit their contents and whose last column
// takes the room that is left.
QTableWidget* makeTable(const QStringList& headers, int rows, QWidget* parent) {
  auto* table = new QTableWidget(rows, static_cast<int>(headers.size()), parent);
  table->setHorizontalHeaderLabels(headers);
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setWordWrap(false);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

void put(QTableWidget& table, int row, int column, const QString& text, bool number = false) {
  auto* item = new QTableWidgetItem(text);
  if (number) {
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  item->setToolTip(text);
  table.setItem(row, column, item);
}

void fit(QTableWidget& table) {
  table.resizeColumnsToContents();
  table.resizeRowsToContents();
}

}  // namespace

QString categoryName(const std::string& key) {
  const Category* c = findCategory(key);
  return c != nullptr ? qs(c->label) : qs(key);
}

QTableWidget* runStepsTable(const RunReport& report, QWidget* parent) {
  auto* table = makeTable({"类别", "写入行数", "用时（秒）", "结果"},
                          static_cast<int>(report.steps.size()), parent);
  table->setObjectName("runSteps");
  int row = 0;
  for (const StepReport& s : report.steps) {
    put(*table, row, 0, categoryName(s.category));
    put(*table, row, 1, QString::number(s.rows), true);
    put(*table, row, 2, QString::number(s.seconds, 'f', 3), true);
    put(*table, row, 3,
        s.ok ? (s.failureShown ? QStringLiteral("成功，途中有失败提示") : QStringLiteral("成功"))
             : QStringLiteral("失败"));
    ++row;
  }
  fit(*table);
  return table;
}

QTableWidget* verificationTable(const RunReport& report, QWidget* parent) {
  if (report.verification.empty()) {
    return nullptr;
  }
  auto* table = makeTable({"类别", "源数据行数", "目标行数", "规则说明的差额", "核对结果"},
                          static_cast<int>(report.verification.size()), parent);
  table->setObjectName("verification");
  int row = 0;
  for (const CategoryVerification& v : report.verification) {
    put(*table, row, 0, categoryName(v.category));
    put(*table, row, 1, QString::number(v.source), true);
    put(*table, row, 2, QString::number(v.target), true);
    put(*table, row, 3, QString::number(v.explained), true);
    QString result = v.ok ? QStringLiteral("一致") : QStringLiteral("不一致");
    if (!v.note.empty()) {
      result += QStringLiteral("：") + qs(v.note);
    }
    put(*table, row, 4, result);
    ++row;
  }
  fit(*table);
  return table;
}

QTableWidget* checkFindingsTable(const CheckReport& report, QWidget* parent) {
  auto* table =
      makeTable({"类别", "结论", "原因"}, static_cast<int>(report.findings.size()), parent);
  table->setObjectName("checkFindings");
  int row = 0;
  for (const CheckFinding& f : report.findings) {
    put(*table, row, 0,
        f.category == "run" ? QStringLiteral("整个转换") : categoryName(f.category));
    put(*table, row, 1,
        f.severity == CheckSeverity::WillFail ? QStringLiteral("将会失败")
                                              : QStringLiteral("警告"));
    // The reason in Chinese; its tooltip adds the check's own sentence,
    // which names the statement and keeps the database's error whole.
    const QString reason = qs(checkReasonZh(f));
    put(*table, row, 2, reason);
    if (reason != qs(f.text)) {
      table->item(row, 2)->setToolTip(reason + QStringLiteral("\n\n") + qs(f.text));
    }
    ++row;
  }
  fit(*table);
  return table;
}

std::string checkVerdict(const CheckReport& report) {
  if (report.willFail()) {
    return "检查完成：转换将会失败，请先处理下列问题。";
  }
  if (report.findings.empty()) {
    return "检查完成：没有发现问题，可以转换。";
  }
  return "检查完成：可以转换，但请留意下列警告。";
}

}  // namespace cvt::gui

#include "app/run_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "steps/catalog.h"

namespace cvt {

namespace {

// Gives every branch that sells (property '0' or '1') a price row for every
// item it has none for yet; rows already there are left as they are.
constexpr const char* kBranchPriceSql =
    "insert t_pc_branch_price (branch_no,item_no,supcust_no,sale_way,price, "
    "base_price,sale_price,vip_price, sup_ly_rate,branch_price,branch_sale,item_stock, "
    "base_price1, base_price2, base_price3, base_price4,status) select b.branch_no "
    ",a.item_no,a.main_supcust,a.item_sup_flag,(case trade_type when '2' then a.trans_price "
    "else a.price end),a.base_price,a.sale_price,a.vip_price,a.sup_ly_rate,a.branch_price,'1',"
    "a.item_stock,a.base_price1,a.base_price2,a.base_price3,a.base_price4,a.status from "
    "t_bd_item_info a, t_bd_branch_info b where b.property in ('0','1') and not exists "
    "(select 1 from t_pc_branch_price c where c.branch_no = b.branch_no and c.item_no = "
    "a.item_no)";

constexpr const char* kNothingChosenText = "请选择需要传输的信息!";
constexpr const char* kCompletedText = "数据传输完成!";
// A failed fill used to pass silently as a completed run; the operator is
// told now, and the run still finishes as before.
constexpr const char* kBranchPriceFailedText = "生成分店价格信息失败！\n原因：";
// Status texts of the driver's own work, in the steps' pattern.
constexpr const char* kPreparingText = "正在统计源数据信息";
constexpr const char* kBranchPricesText = "正在生成分店价格信息";
constexpr const char* kVerifyingText = "正在核对转换结果信息";
// A refused commit at close leaves the switches on uncommitted: the
// operator must know that the installation's triggers may be off.
constexpr const char* kCloseFailedText =
    "关闭连接时提交失败！八个表的触发器可能仍处于关闭状态，请重新连接后关闭以恢复。\n原因：";

// Keeps the busy pointer up from construction until release() or the end
// of the scope, whichever comes first, so no path can leave it busy.
class BusyPointer {
 public:
  explicit BusyPointer(RunUi& ui) : ui_(ui) { ui_.setBusy(true); }
  ~BusyPointer() { release(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

  void release() {
    if (busy_) {
      busy_ = false;
      ui_.setBusy(false);
    }
  }

 private:
  RunUi& ui_;
  bool busy_ = true;
};

// Columns of a terminal take two cells for the wide (CJK) characters.
std::size_t displayWidth(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t len = 1;
    char32_t cp = lead;
    if (lead >= 0xF0U) {
      len = 4;
      cp = lead & 0x07U;
    } else if (lead >= 0xE0U) {
      len = 3;
      cp = lead & 0x0FU;
    } else if (lead >= 0xC0U) {
      len = 2;
      cp = lead & 0x1FU;
    }
    for (std::size_t k = 1; k < len && i + k < text.size(); ++k) {
      cp = (cp << 6U) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
    }
    width += (cp >= 0x2E80U && cp <= 0xFFEFU) ? 2 : 1;
    i += len;
  }
  return width;
}

std::string padRight(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t w = displayWidth(text);
  if (w < width) {
    out.append(width - w, ' ');
  }
  return out;
}

std::string padLeft(std::string_view text, std::size_t width) {
  std::string out;
  const std::size_t w = displayWidth(text);
  if (w < width) {
    out.append(width - w, ' ');
  }
  out += text;
  return out;
}

std::string categoryTitle(const std::string& key) {
  const Category* c = findCategory(key);
  if (c == nullptr) {
    return key;
  }
  return std::string(c->label) + " " + key;
}

}  // namespace

std::string runSummary(const RunReport& report) {
  std::size_t nameWidth = displayWidth("category");
  for (const auto& s : report.steps) {
    nameWidth = std::max(nameWidth, displayWidth(categoryTitle(s.category)));
  }
  std::string out = padRight("category", nameWidth) + "  " + padLeft("rows", 10) + "  " +
                    padLeft("seconds", 9) + "  result\n";
  for (const auto& s : report.steps) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", s.seconds);
    out += padRight(categoryTitle(s.category), nameWidth) + "  " +
           padLeft(std::to_string(s.rows), 10) + "  " + padLeft(seconds, 9) + "  " +
           (s.ok ? (s.failureShown ? "ok, with a failure shown" : "ok") : "failed") + "\n";
  }
  if (report.branchPriceFailed) {
    out += "branch prices: failed\n";
  }
  if (report.interrupted) {
    out += "interrupted by the operator\n";
  }
  if (!report.verification.empty()) {
    out += '\n';
    out += verificationTable(report.verification);
  }
  return out;
}

void RunUi::completionMessage(const std::string& title, const std::string& text,
                              const RunReport& report) {
  messageBoxWithDetails(title, text, runSummary(report));
}

bool RunReport::verificationFlagged() const {
  return std::any_of(verification.begin(), verification.end(),
                     [](const CategoryVerification& v) { return !v.ok; });
}

RunReport runConversion(Session& SQLCA, RunUi& ui, const RunChoice& choice) {
  RunReport report;
  ui.wf_set_bar(0);
  report.is_source = std::string(choice.rb_1 ? kDravikPro : kDravikStd);

  // Pending in the open transaction: the first step's commit makes the
  // suspension permanent, the rollback of a step that fails before it
  // undoes the suspension along with the step's work.
  // Rows that the clearing statements will spare are counted first: after
  // the refill they can no longer be told apart from the new ones. Only
  // reads, and before the suspension, so that a count that fails (even one
  // with which the engine ends the transaction) loses nothing pending; with
  // nothing chosen nothing is counted.
  const auto& cats = categories();
  RunVerification verification;
  ui.working(kPreparingText);
  {
    std::vector<std::string> chosen;
    for (std::size_t i = 0; i < cats.size(); ++i) {
      if (choice.ticked[i] && cats[i].step != nullptr) {
        chosen.emplace_back(cats[i].key);
      }
    }
    verification.baseline(SQLCA, report.is_source, chosen);
  }

  wf_disable_trigger(SQLCA);
  BusyPointer busy(ui);

  // The operator's stop ends the run as a failed step would: its pending
  // work is rolled back and nothing more runs.
  auto stopped = [&] {
    SQLCA.rollback();
    report.interrupted = true;
    report.outcome = RunOutcome::StepFailed;
    return report;
  };

  bool lb_choose = false;
  long idec_count = 0;
  for (std::size_t i = 0; i < cats.size(); ++i) {
    if (choice.ticked[i]) {
      lb_choose = true;
      idec_count += cats[i].weight;
    }
  }
  report.idec_count = idec_count;
  if (!lb_choose) {
    busy.release();
    ui.messageBox(kNoticeTitle, kNothingChosenText);
    report.outcome = RunOutcome::NothingChosen;
    return report;
  }

  for (std::size_t i = 0; i < cats.size(); ++i) {
    // A category whose step is not built yet offers its box but converts
    // nothing; its weight is still part of the total above.
    if (!choice.ticked[i] || cats[i].step == nullptr) {
      continue;
    }
    if (ui.interruptRequested()) {
      return stopped();
    }
    StepContext ctx{SQLCA, ui, idec_count, choice.cbx_subno_to_no, 0};
    const auto start = std::chrono::steady_clock::now();
    const bool ok = cats[i].step(ctx, report.is_source);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    StepReport step{std::string(cats[i].key), ok, ctx.rowsWritten, took.count(),
                    ok && ctx.failureShown};
    report.failureShown = report.failureShown || step.failureShown;
    report.steps.push_back(step);
    ui.stepFinished(step.category, step.ok, step.rows, step.seconds);
    if (!ok) {
      // The step has told the operator; only its uncommitted work goes.
      SQLCA.rollback();
      report.interrupted = ui.interruptRequested();
      report.outcome = RunOutcome::StepFailed;
      return report;
    }
  }

  if (ui.interruptRequested()) {
    return stopped();
  }

  ui.working(kBranchPricesText);
  const char* ls_sql = kBranchPriceSql;
  SQLCA.execute(ls_sql);
  if (SQLCA.SQLCode() < 0) {
    if (ui.interruptRequested()) {
      return stopped();
    }
    report.branchPriceFailed = true;
    report.failureShown = true;
    ui.messageBoxWithDetails(kNoticeTitle, kBranchPriceFailedText + SQLCA.SQLErrText(),
                             failureDetails(SQLCA));
  }
  // The fill's rows are kept only by this commit; a refused one loses
  // them as a failed fill would, and is told the same way (once).
  if (SQLCA.commit() < 0) {
    const std::string why = SQLCA.SQLErrText();
    SQLCA.rollback();
    if (!report.branchPriceFailed) {
      report.branchPriceFailed = true;
      ui.messageBox(kNoticeTitle, kBranchPriceFailedText + why);
    }
  }
  // Counted after the last commit and before the enabling statements, which
  // stay pending: a failing count cannot take them with it.
  ui.working(kVerifyingText);
  report.verification = verification.verify(SQLCA);
  wf_enable_trigger(SQLCA);
  ui.wf_set_bar(1);
  busy.release();
  report.outcome = RunOutcome::Completed;
  ui.completionMessage(kNoticeTitle, kCompletedText, report);
  return report;
}

CloseOutcome closeSession(Session& SQLCA) {
  CloseOutcome outcome;
  // Without a connection there is nothing to switch or to commit.
  if (SQLCA.connected()) {
    wf_enable_trigger(SQLCA);
    // The switches were the last statements of the transaction; they must
    // outlive the disconnect whatever the backend does with pending work.
    if (SQLCA.commit() < 0) {
      outcome.failed = true;
      outcome.message = kCloseFailedText + SQLCA.SQLErrText();
      SQLCA.rollback();
    }
  }
  SQLCA.disconnect();
  return outcome;
}

}  // namespace cvt

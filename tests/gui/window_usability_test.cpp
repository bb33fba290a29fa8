#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "app/preflight.h"
#include "app/qt/report_views.h"
#include "app/qt/translations.h"
#include "app/qt/window_controls.h"
#include "app/run_driver.h"
#include "app/run_log.h"
#include "gui/window_fixture.h"
#include "support/db_folder.h"

namespace cvt::test {
namespace {

void click(const WindowUnderTest& t, const char* name) {
  QTest::mouseClick(t.get<QWidget>(name), Qt::LeftButton);
}

QStringList headers(const QTableWidget& table) {
  QStringList out;
  for (int c = 0; c < table.columnCount(); ++c) {
    out << table.horizontalHeaderItem(c)->text();
  }
  return out;
}

QStringList column(const QTableWidget& table, int c) {
  QStringList out;
  for (int r = 0; r < table.rowCount(); ++r) {
    out << table.item(r, c)->text();
  }
  return out;
}

TEST(Language, StandardButtonsFollowTheSystemLanguage) {
  ASSERT_TRUE(gui::installQtTranslations(QLocale(QLocale::Chinese, QLocale::China)));
  const QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Yes |
                                 QDialogButtonBox::No);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text(), QString::fromUtf8("确定"));
  EXPECT_TRUE(buttons.button(QDialogButtonBox::Yes)->text().startsWith(QString::fromUtf8("是")));
}

TEST(Language, ReportsNameCategoriesAsTheCheckBoxesDoUnderChineseHeaders) {
  RunReport run;
  run.steps = {{"pp", true, 12, 0.5, false}, {"spec_price", false, 0, 1.25, false}};
  run.verification = {{"pp", 12, 12, 0, true, ""}, {"cashier", 3, 4, 0, false, ""}};
  const std::unique_ptr<QTableWidget> steps(gui::runStepsTable(run, nullptr));
  EXPECT_EQ(headers(*steps).join('|'), QString::fromUtf8("类别|写入行数|用时（秒）|结果"));
  EXPECT_EQ(column(*steps, 0).join('|'), QString::fromUtf8("商品品牌|销售特价"));
  EXPECT_EQ(column(*steps, 3).join('|'), QString::fromUtf8("成功|失败"));
  const std::unique_ptr<QTableWidget> verified(gui::verificationTable(run, nullptr));
  ASSERT_NE(verified, nullptr);
  EXPECT_EQ(headers(*verified).join('|'),
            QString::fromUtf8("类别|源数据行数|目标行数|规则说明的差额|核对结果"));
  EXPECT_EQ(column(*verified, 0).join('|'), QString::fromUtf8("商品品牌|收银员"));
  EXPECT_EQ(column(*verified, 4).join('|'), QString::fromUtf8("一致|不一致"));

  CheckReport check;
  check.findings = {{"run", CheckSeverity::Warning, "w"},
                    {"cashier", CheckSeverity::WillFail, "the source table is missing"}};
  const std::unique_ptr<QTableWidget> found(gui::checkFindingsTable(check, nullptr));
  EXPECT_EQ(headers(*found).join('|'), QString::fromUtf8("类别|结论|原因"));
  EXPECT_EQ(column(*found, 0).join('|'), QString::fromUtf8("整个转换|收银员"));
  EXPECT_EQ(column(*found, 1).join('|'), QString::fromUtf8("警告|将会失败"));
  EXPECT_EQ(column(*found, 2).join('|'), QString::fromUtf8("w|the source table is missing"));
}

TEST(Geometry, FixedSizeAddedButtonsClearOfTheDesignLongTextsAsTooltips) {
  WindowUnderTest t;
  const QSize size = t.window->size();
  EXPECT_EQ(t.window->minimumSize(), size);
  EXPECT_EQ(t.window->maximumSize(), size);

  const double dpi = t.window->logicalDpiX();
  const auto rect = [dpi](const gui::ControlSpec& s) {
    return QRect(gui::unitsToPixels(s.x, dpi), gui::unitsToPixels(s.y, dpi),
                 gui::unitsToPixels(s.w, dpi), gui::unitsToPixels(s.h, dpi));
  };
  const QRect connectButton = t.get<QWidget>("cb_connect")->geometry();
  for (const auto& added : gui::addedButtons()) {
    const auto* button = t.get<QPushButton>(std::string(added.name).c_str());
    ASSERT_NE(button, nullptr) << added.name;
    EXPECT_EQ(button->geometry(), rect(added));
    EXPECT_LT(button->geometry().right(), connectButton.left()) << added.name;
    EXPECT_EQ(button->geometry().bottom(), connectButton.bottom()) << added.name;
    for (const auto& designed : gui::windowControls()) {
      EXPECT_FALSE(rect(added).intersects(rect(designed))) << added.name << " / " << designed.name;
    }
  }

  auto* server = t.get<QLineEdit>("sle_server");
  server->setText("srv");
  EXPECT_TRUE(server->toolTip().isEmpty());
  const QString folder = "/a/very/long/folder/of/the/embedded/target/on/this/machine/data";
  server->setText(folder);
  EXPECT_EQ(server->toolTip(), folder);
}

TEST(Keyboard, EnterConnectsFocusMovesToConvertTabReachesTheChoice) {
  const DbFolder db;
  WindowUnderTest t(sqliteStore(db.path()));
  t.window->activateWindow();
  auto* password = t.get<QLineEdit>("sle_passwd");
  password->setFocus();
  QTest::keyClick(password, Qt::Key_Return);
  EXPECT_EQ(t.boxes.texts(), std::vector<std::string>{"连接数据库成功!"});
  EXPECT_EQ(t.window->focusWidget(), t.get<QWidget>("cb_convert"));
  // A second Enter finds the connect button disabled and does nothing.
  QTest::keyClick(password, Qt::Key_Return);
  EXPECT_EQ(t.boxes.shown.size(), 1U);

  // From the exit button on, the tab chain reaches the source and the
  // categories in their order (the two radio buttons make one stop, the
  // arrow keys choose between them), every check box as a tab stop.
  std::vector<std::string> reached;
  QWidget* w = t.get<QWidget>("cb_exit");
  for (int i = 0; i < 12; ++i) {
    do {
      w = w->nextInFocusChain();
    } while (w->focusPolicy() == Qt::NoFocus || !w->isVisible() || !w->isEnabled());
    reached.push_back(w->objectName().toStdString());
    if (qobject_cast<QCheckBox*>(w) != nullptr) {
      EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << reached.back();
    }
  }
  EXPECT_EQ(reached,
            (std::vector<std::string>{"rb_1", "rb_2", "cbx_item", "cbx_cls", "cbx_pp", "cbx_region",
                                      "cbx_supcust", "cbx_vip", "cbx_spec_price", "cbx_cashier",
                                      "cbx_stock", "cbx_subno_to_no"}));
}

TEST(CheckButton, ShowsWhatWouldFailAndChangesNothing) {
  const DbFolder db;
  db.exec("dravik_std", "DROP TABLE pos_t_cashier");
  db.exec("tillexv8", "INSERT INTO t_rm_cashier(cashier_id) VALUES ('9')");
  WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  // Enabled by the same rule as the convert button.
  EXPECT_TRUE(t.get<QWidget>("cb_check")->isEnabled());
  QTest::mouseClick(t.get<QWidget>("cbx_cashier"), Qt::LeftButton);
  t.runAndWait("cb_check");
  ASSERT_EQ(t.boxes.shown.size(), 2U);
  EXPECT_EQ(t.boxes.shown[1].text, "检查完成：转换将会失败，请先处理下列问题。");
  EXPECT_EQ(t.boxes.shown[1].icon, gui::BoxIcon::Warning);
  EXPECT_NE(t.boxes.shown[1].details.find("pos_t_cashier"), std::string::npos)
      << t.boxes.shown[1].details;
  EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(cashier_id) FROM t_rm_cashier"), "9");
  EXPECT_TRUE(t.get<QWidget>("cb_convert")->isEnabled());
}

TEST(RehearseButton, RunsEverythingThenRollsItBackAndSaysSo) {
  const DbFolder db;
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101','华东')");
  db.exec("tillexv8",
          "INSERT INTO t_bd_base_code(type_no,code_id,code_name) VALUES ('RG','0001','旧')");
  WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  QTest::mouseClick(t.get<QWidget>("cbx_region"), Qt::LeftButton);
  t.runAndWait("cb_rehearse");
  EXPECT_EQ(
      t.boxes.texts(),
      (std::vector<std::string>{"连接数据库成功!", "演练完成!所有更改均已回滚，数据库保持原样。"}));
  EXPECT_NE(t.boxes.shown[1].details.find("region"), std::string::npos);
  EXPECT_EQ(
      db.scalar("tillexv8", "SELECT group_concat(code_id) FROM t_bd_base_code WHERE type_no='RG'"),
      "0001");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
  // A rehearsal is not the run of the connection: converting is still open.
  EXPECT_TRUE(t.get<QWidget>("cb_convert")->isEnabled());
  t.runAndWait("cb_convert");
  EXPECT_EQ(t.boxes.texts().back(), "数据传输完成!");
  EXPECT_EQ(
      db.scalar("tillexv8", "SELECT group_concat(code_id) FROM t_bd_base_code WHERE type_no='RG'"),
      "0101");
}

TEST(RunLog, EveryWindowRunAppendsItsEventsToTheDaysLog) {
  const DbFolder db;
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101','华东')");
  const std::string home = db.path() + "/data-home";
  const QByteArray before = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home));
  {
    WindowUnderTest t(sqliteStore(db.path()));
    t.get<QLineEdit>("sle_passwd")->setText("Geheim-Pass1");
    click(t, "cb_connect");
    click(t, "cbx_region");
    t.runAndWait("cb_rehearse");
    t.runAndWait("cb_convert");
  }
  qputenv("XDG_DATA_HOME", before);

  const std::string file =
      dailyRunLogFile([&](const std::string&) { return std::optional<std::string>(home); },
                      std::chrono::system_clock::now());
  std::ifstream in(file);
  std::vector<std::string> events;
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.find("Geheim-Pass1"), std::string::npos) << line;
    const auto event = nlohmann::ordered_json::parse(line);
    std::string e = event["event"].get<std::string>();
    for (const char* key : {"front", "mode", "category", "outcome"}) {
      if (event.contains(key)) {
        e += " " + event[key].get<std::string>();
      }
    }
    events.push_back(e);
  }
  EXPECT_EQ(events,
            (std::vector<std::string>{"start window dry-run", "step region", "message",
                                      "verify region", "end completed", "start window convert",
                                      "step region", "message", "verify region", "end completed"}));
}

}  // namespace
}  // namespace cvt::test

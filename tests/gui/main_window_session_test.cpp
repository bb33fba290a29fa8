#include <gtest/gtest.h>

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>

#include "gui/window_fixture.h"
#include "support/db_folder.h"

namespace cvt::test {
namespace {

void click(const WindowUnderTest& t, const char* name) {
  QTest::mouseClick(t.get<QWidget>(name), Qt::LeftButton);
}

void type(const WindowUnderTest& t, const char* name, const char* text) {
  t.get<QLineEdit>(name)->setText(QString::fromUtf8(text));
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// An empty folder: the embedded backend finds no tillexv8.db there.
class EmptyFolder {
 public:
  EmptyFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "convert-empty-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
  }
  ~EmptyFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  EmptyFolder(const EmptyFolder&) = delete;
  EmptyFolder& operator=(const EmptyFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(ConnectButton, FailedAttemptCanBeCorrectedAndRepeated) {
  const DbFolder db;
  const EmptyFolder empty;
  WindowUnderTest t(sqliteStore(empty.path()));
  ASSERT_EQ(t.get<QLineEdit>("sle_server")->text().toStdString(), empty.path());

  click(t, "cb_connect");
  ASSERT_EQ(t.boxes.shown.size(), 1U);
  EXPECT_EQ(t.boxes.shown[0].title, "提示");
  const std::string failed = t.boxes.shown[0].text;
  EXPECT_TRUE(startsWith(failed, "连接数据库失败!")) << failed;
  EXPECT_GT(failed.size(), std::string("连接数据库失败!").size()) << "the engine's text is missing";
  EXPECT_TRUE(t.get<QWidget>("cb_connect")->isEnabled());
  EXPECT_FALSE(t.get<QWidget>("cb_convert")->isEnabled());
  EXPECT_FALSE(t.window->SQLCA().connected());
  EXPECT_FALSE(std::filesystem::exists(empty.path() + "/tillexv8.db"));

  type(t, "sle_server", ("  " + db.path() + "  ").c_str());
  type(t, "sle_passwd", " secret ");
  // The buttons change only after the operator has closed the message.
  bool convertEnabledWhileShown = true;
  t.boxes.onShow = [&] { convertEnabledWhileShown = t.get<QWidget>("cb_convert")->isEnabled(); };
  click(t, "cb_connect");
  ASSERT_EQ(t.boxes.shown.size(), 2U);
  EXPECT_EQ(t.boxes.shown[1].text, "连接数据库成功!");
  EXPECT_FALSE(convertEnabledWhileShown);
  EXPECT_FALSE(t.get<QWidget>("cb_connect")->isEnabled());
  EXPECT_TRUE(t.get<QWidget>("cb_convert")->isEnabled());

  const SessionSettings& s = t.window->SQLCA().settings;
  EXPECT_TRUE(t.window->SQLCA().connected());
  EXPECT_EQ(s.ServerName, db.path());
  EXPECT_EQ(s.LogId, "sa");
  EXPECT_EQ(s.LogPass, "secret");
  EXPECT_EQ(s.Database, "tillexv8");
  EXPECT_EQ(s.DBMS, "SQLite");

  click(t, "cb_connect");  // disabled: nothing happens
  EXPECT_EQ(t.boxes.shown.size(), 2U);
}

TEST(ConnectButton, EmptyDbmsFailsWithAReason) {
  const DbFolder db;
  SettingsStore store;
  store.set("ServerName", db.path());
  const WindowUnderTest t(store);
  click(t, "cb_connect");
  ASSERT_EQ(t.boxes.shown.size(), 1U);
  const std::string& text = t.boxes.shown[0].text;
  EXPECT_TRUE(startsWith(text, "连接数据库失败!")) << text;
  EXPECT_GT(text.size(), std::string("连接数据库失败!").size());
  EXPECT_FALSE(t.get<QWidget>("cb_convert")->isEnabled());
}

struct TypedCase {
  const char* server;
  const char* port;
  const char* connectsTo;
};

TEST(ConnectButton, JoinsTheTypedPortOnEveryPress) {
  const TypedCase cases[] = {
      {"SRV", "", "SRV"},
      {"SRV", "1433", "SRV"},
      {"SRV,1500", "1433", "SRV,1500"},
      {"SRV,1500", "", "SRV,1500"},
      {"SRV,1500", "2000", "SRV,2000"},
      {"  SRV  ", "  2000  ", "SRV,2000"},
      {"SRV,abc", "2000", "SRV,abc,2000"},
  };
  // No DBMS: every attempt fails, so the connect button can be pressed again.
  const WindowUnderTest t;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server) + " / " + c.port);
    type(t, "sle_server", c.server);
    type(t, "sle_port", c.port);
    click(t, "cb_connect");
    EXPECT_EQ(t.window->SQLCA().settings.ServerName, c.connectsTo);
    click(t, "cb_connect");  // a second press does not double the port
    EXPECT_EQ(t.window->SQLCA().settings.ServerName, c.connectsTo);
  }
}

// The eight switched tables, all switched off and committed.
void switchAllTriggersOff(const DbFolder& db) {
  db.exec("tillexv8",
          "INSERT OR IGNORE INTO tsql_trigger_off(table_name) VALUES ('t_bd_item_info'),"
          "('t_bd_item_cls'),('t_bd_base_code'),('t_bd_supcust_info'),('t_rm_vip_info'),"
          "('t_rm_spec_price'),('t_rm_saleflow'),('t_rm_payflow')");
}

TEST(CloseSequence, ReenablesTriggersForGoodThroughExitButtonOrCloseBox) {
  for (const bool viaExitButton : {true, false}) {
    SCOPED_TRACE(viaExitButton ? "exit button" : "close box");
    const DbFolder db;
    switchAllTriggersOff(db);
    WindowUnderTest t(sqliteStore(db.path()));
    click(t, "cb_connect");
    ASSERT_TRUE(t.window->SQLCA().connected());
    if (viaExitButton) {
      click(t, "cb_exit");
    } else {
      t.window->close();
    }
    EXPECT_FALSE(t.window->isVisible());
    EXPECT_FALSE(t.window->SQLCA().connected());
    EXPECT_EQ(t.boxes.texts(), std::vector<std::string>{"连接数据库成功!"});
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
  }
}

TEST(CloseSequence, WithoutConnectionClosesSilently) {
  const DbFolder db;
  switchAllTriggersOff(db);
  WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_exit");
  EXPECT_FALSE(t.window->isVisible());
  EXPECT_TRUE(t.boxes.shown.empty());
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "8");
  t.window->close();  // a second close is harmless
  EXPECT_TRUE(t.boxes.shown.empty());
}

// Remembers the text a label showed each time it was painted.
class PaintedTexts : public QObject {
 public:
  explicit PaintedTexts(QLabel* label) : label_(label) { label_->installEventFilter(this); }
  std::vector<std::string> texts;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint) {
      const std::string text = label_->text().toStdString();
      if (texts.empty() || texts.back() != text) {
        texts.push_back(text);
      }
    }
    return false;
  }

 private:
  QLabel* label_;
};

TEST(ConvertButton, RunPaintsEachStatusAsksBeforeClosingAndEndsDisabled) {
  const DbFolder db;
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101','华东'),('0202','华南')");
  WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  click(t, "cbx_region");

  PaintedTexts painted(t.get<QLabel>("st_state"));
  bool visibleAfterCloseAttempts = false;
  std::vector<bool> buttonsDuringRun;
  t.boxes.onShow = [&] {
    if (t.window->running()) {
      t.window->close();    // the close box
      click(t, "cb_exit");  // and the exit button, both answered "no"
      visibleAfterCloseAttempts = t.window->isVisible();
      for (const char* name : {"cb_connect", "cb_convert", "cb_check", "cb_rehearse", "cb_exit"}) {
        buttonsDuringRun.push_back(t.get<QWidget>(name)->isEnabled());
      }
    }
  };
  t.runAndWait("cb_convert");

  EXPECT_EQ(t.boxes.texts(), (std::vector<std::string>{"连接数据库成功!", "数据传输完成!"}));
  EXPECT_EQ(t.boxes.shown[1].icon, gui::BoxIcon::Information);
  EXPECT_EQ(t.boxes.questions, (std::vector<std::string>(2, "正在转换数据，确定要停止吗？")));
  EXPECT_TRUE(visibleAfterCloseAttempts);
  EXPECT_EQ(buttonsDuringRun, (std::vector<bool>{false, false, false, false, true}));
  EXPECT_TRUE(t.window->isVisible());
  for (const char* name : {"cb_convert", "cb_check", "cb_rehearse"}) {
    EXPECT_FALSE(t.get<QWidget>(name)->isEnabled()) << name;
  }
  EXPECT_EQ(t.get<QLabel>("st_state")->text(), QString::fromUtf8("数据传输完成"));
  EXPECT_EQ(t.get<QWidget>("st_status")->width(), t.get<QWidget>("st_text")->width());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(
      db.scalar("tillexv8", "SELECT group_concat(code_id) FROM t_bd_base_code WHERE type_no='RG'"),
      "0101,0202");
  // Each status line reached the screen, in order; the line the step
  // cleared said at once that the run went on.
  const std::vector<std::string> expected{"正在删除区域信息", "正在导入区域信息", "",
                                          "正在转换数据", "数据传输完成"};
  auto next = painted.texts.begin();
  for (const auto& text : expected) {
    next = std::find(next, painted.texts.end(), text);
    ASSERT_NE(next, painted.texts.end()) << "never painted: " << text;
    ++next;
  }
}

// Makes the regions step slow: the source table becomes a view that counts
// through a few million rows before it yields its one row.
void slowRegions(const DbFolder& db) {
  db.exec("dravik_std",
          "DROP TABLE bi_t_region_info; CREATE VIEW bi_t_region_info(region_no, region_name) AS "
          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000000) "
          "SELECT '0909', '慢' FROM n WHERE i = 4000000");
}

TEST(ConvertButton, WindowKeepsAnsweringWhileASlowStepRuns) {
  const DbFolder db;
  slowRegions(db);
  WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  click(t, "cbx_region");

  // Timer ticks and an answered click while the slow statement runs show
  // the event loop turning.
  int ticksWhileImporting = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (t.get<QLabel>("st_state")->text() == QString::fromUtf8("正在导入区域信息")) {
      ++ticksWhileImporting;
    }
  });
  timer.start(5);
  click(t, "cb_convert");
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticksWhileImporting >= 3; }, 60000));
  ASSERT_TRUE(t.window->running());
  click(t, "cb_exit");  // answered "no": the run goes on
  EXPECT_EQ(t.boxes.questions.size(), 1U);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !t.window->running(); }, 120000));
  EXPECT_EQ(t.boxes.texts(), (std::vector<std::string>{"连接数据库成功!", "数据传输完成!"}));
  EXPECT_EQ(db.scalar("tillexv8",
                      "SELECT group_concat(code_id) FROM t_bd_base_code WHERE "
                      "type_no='RG'"),
            "0909");
}

TEST(ConvertButton, StopDuringARunRollsBackRunsTheCloseSequenceAndCloses) {
  const DbFolder db;
  slowRegions(db);
  WindowUnderTest t(sqliteStore(db.path()));
  t.boxes.answer = true;
  click(t, "cb_connect");
  click(t, "cbx_region");
  click(t, "cbx_cashier");
  click(t, "cb_convert");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return t.get<QLabel>("st_state")->text() == QString::fromUtf8("正在导入区域信息"); },
      60000));
  click(t, "cb_exit");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !t.window->isVisible(); }, 120000));

  EXPECT_FALSE(t.window->running());
  EXPECT_FALSE(t.window->SQLCA().connected());
  ASSERT_EQ(t.boxes.shown.size(), 2U) << t.boxes.texts().back();
  EXPECT_EQ(t.boxes.shown[1].text, "转换已停止：未提交的更改已回滚，已完成的类别保持不变。");
  // The statement that was running when the stop came ends and its step
  // commits; the next statement is not sent, so the cashiers never start.
  EXPECT_EQ(t.boxes.shown[1].note, "以下类别没有转换：收银员");
  EXPECT_EQ(db.scalar("tillexv8",
                      "SELECT group_concat(code_id) FROM t_bd_base_code WHERE "
                      "type_no='RG'"),
            "0909");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ConvertButton, NothingTickedAsksForAChoiceAndStaysAvailable) {
  const DbFolder db;
  const WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  t.runAndWait("cb_convert");
  EXPECT_EQ(t.boxes.texts(),
            (std::vector<std::string>{"连接数据库成功!", "请选择需要传输的信息!"}));
  EXPECT_TRUE(t.get<QWidget>("cb_convert")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(ConvertButton, FailedStepShowsItsTextWithTheReasonAsDetails) {
  const DbFolder db;
  // Both become region 0101: the target's key refuses the second.
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101','华东'),('010102','华东二')");
  const WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  click(t, "cbx_region");
  click(t, "cbx_cashier");
  t.runAndWait("cb_convert");

  ASSERT_EQ(t.boxes.texts(), (std::vector<std::string>{"连接数据库成功!", "导入区域信息失败！"}));
  EXPECT_EQ(t.boxes.shown[1].title, "提示");
  EXPECT_EQ(t.boxes.shown[0].icon, gui::BoxIcon::Information);
  EXPECT_EQ(t.boxes.shown[1].icon, gui::BoxIcon::Warning);
  // The categories that did not run are named; the status line tells the
  // failure, not the work that was going on.
  EXPECT_EQ(t.boxes.shown[1].note, "以下类别没有转换：区域信息（已回滚）、收银员");
  EXPECT_EQ(t.get<QLabel>("st_state")->text(),
            QString::fromUtf8("区域信息转换失败，未提交的更改已回滚"));
  const std::string& details = t.boxes.shown[1].details;
  EXPECT_TRUE(startsWith(details, "Database error: ")) << details;
  EXPECT_NE(details.find("UNIQUE"), std::string::npos) << details;
  EXPECT_NE(details.find("\nStatement: insert into t_bd_base_code(type_no,code_id,code_name) "
                         "select 'RG',left(region_no,4),region_name from "
                         "dravik_std..bi_t_region_info"),
            std::string::npos)
      << details;
  EXPECT_TRUE(t.get<QWidget>("cb_convert")->isEnabled());
}

TEST(ConvertButton, FirstRadioButtonReadsTheProSource) {
  const DbFolder db;
  db.exec("dravik_pro", "INSERT INTO bi_t_region_info VALUES ('0303','西北')");
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0404','东北')");
  const WindowUnderTest t(sqliteStore(db.path()));
  click(t, "cb_connect");
  click(t, "rb_1");
  click(t, "cbx_region");
  t.runAndWait("cb_convert");
  EXPECT_EQ(
      db.scalar("tillexv8", "SELECT group_concat(code_id) FROM t_bd_base_code WHERE type_no='RG'"),
      "0303");
}

}  // namespace
}  // namespace cvt::test

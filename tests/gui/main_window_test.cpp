#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <set>

#include "app/qt/window_controls.h"
#include "gui/window_fixture.h"

namespace cvt::test {
namespace {

struct Initial {
  const char* name;
  const char* kind;  // Qt class
  const char* text;
  bool visible;
  bool enabled;
  bool ticked;
};

TEST(MainWindow, OpensWithEveryControlInItsInitialState) {
  const WindowUnderTest t;
  const Initial table[] = {
      {"gb_1", "QGroupBox", "设定数据来源", true, true, false},
      {"rb_1", "QRadioButton", "KorvaneMaruk300", true, true, false},
      {"rb_2", "QRadioButton", "KorvaneSolen200", true, true, false},
      {"gb_2", "QGroupBox", "请选择需要传输的信息", true, true, false},
      {"cbx_item", "QCheckBox", "商品基本信息", true, true, false},
      {"cbx_cls", "QCheckBox", "商品类别", true, true, false},
      {"cbx_pp", "QCheckBox", "商品品牌", true, true, false},
      {"cbx_region", "QCheckBox", "区域信息", true, true, false},
      {"cbx_supcust", "QCheckBox", "供应商和客户", true, true, false},
      {"cbx_vip", "QCheckBox", "会员卡", true, true, false},
      {"cbx_spec_price", "QCheckBox", "销售特价", true, true, false},
      {"cbx_cashier", "QCheckBox", "收银员", true, true, false},
      {"cbx_stock", "QCheckBox", "库存信息", true, true, false},
      {"cbx_sale", "QCheckBox", "销售信息", false, false, false},
      {"st_6", "QLabel", "库存信息只处理0001仓库", true, true, false},
      {"gb_3", "QGroupBox", "设置", true, true, false},
      {"cbx_subno_to_no", "QCheckBox", "称重商品货号在自编码上", true, true, false},
      {"st_f", "QLabel", "销售日期从：", false, false, false},
      {"em_1", "QDateEdit", nullptr, false, false, false},
      {"st_t", "QLabel", "到：", false, false, false},
      {"em_2", "QDateEdit", nullptr, false, false, false},
      {"st_1", "QLabel", "数据库服务器：", true, true, false},
      {"sle_server", "QLineEdit", "", true, true, false},
      {"st_7", "QLabel", "端口：", true, true, false},
      {"sle_port", "QLineEdit", "", true, true, false},
      {"st_2", "QLabel", "系统管理员：", true, true, false},
      {"sle_sa", "QLineEdit", "sa", true, true, false},
      {"st_3", "QLabel", "密码：", true, true, false},
      {"sle_passwd", "QLineEdit", "", true, true, false},
      {"st_4", "QLabel", "注意：传输操作仅适用于初始化阶段，将会首先删除系统的原有数据", true, true,
       false},
      {"cb_connect", "QPushButton", "连接", true, true, false},
      {"cb_convert", "QPushButton", "转换", true, false, false},
      {"cb_exit", "QPushButton", "退出", true, true, false},
      {"st_state", "QLabel", "", true, true, false},
      {"st_5", "QLabel", "", true, true, false},
      {"st_text", "QLabel", "", true, true, false},
      {"st_status", "QLabel", "", true, true, false},
  };
  ASSERT_EQ(std::size(table), 37U);
  EXPECT_EQ(t.window->windowTitle(), QString::fromUtf8("MarukSolen转Cirrand8工具"));

  for (const Initial& c : table) {
    SCOPED_TRACE(c.name);
    const auto* w = t.get<QWidget>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), c.kind);
    EXPECT_EQ(w->isVisible(), c.visible);
    EXPECT_EQ(w->isEnabled(), c.enabled);
    QString text;
    if (const auto* b = qobject_cast<const QAbstractButton*>(w)) {
      text = b->text();
      EXPECT_EQ(b->isChecked(), c.ticked);
    } else if (const auto* l = qobject_cast<const QLabel*>(w)) {
      text = l->text();
    } else if (const auto* e = qobject_cast<const QLineEdit*>(w)) {
      text = e->text();
    } else if (const auto* g = qobject_cast<const QGroupBox*>(w)) {
      text = g->title();
    }
    if (c.text != nullptr) {
      EXPECT_EQ(text, QString::fromUtf8(c.text));
    }
  }
  EXPECT_EQ(t.get<QLineEdit>("sle_passwd")->echoMode(), QLineEdit::Password);
  for (const char* date : {"em_1", "em_2"}) {
    EXPECT_EQ(t.get<QDateEdit>(date)->date(), QDate::currentDate());
    EXPECT_EQ(t.get<QDateEdit>(date)->displayFormat(), "yyyy-MM-dd");
  }
  EXPECT_EQ(t.get<QLabel>("st_status")->width(), 0);
}

TEST(MainWindow, TextsAreDrawnInAFontThatHasTheirCharacters) {
  const WindowUnderTest t;
  for (const auto& spec : gui::windowControls()) {
    const auto* w = t.get<QWidget>(std::string(spec.name).c_str());
    const QString text =
        QString::fromUtf8(spec.text.data(), static_cast<qsizetype>(spec.text.size()));
    const QFontMetrics metrics(w->font());
    for (const char32_t ch : text.toUcs4()) {
      EXPECT_TRUE(metrics.inFontUcs4(ch))
          << spec.name << " U+" << std::hex << static_cast<unsigned>(ch);
    }
    EXPECT_EQ(w->font().pointSize(), 9) << spec.name;
  }
}

TEST(MainWindow, LayoutUnitsBecomePixelsAndControlsReceiveTheMouse) {
  WindowUnderTest t;
  const double dpi = t.window->logicalDpiX();
  EXPECT_EQ(gui::unitsToPixels(2213, 96), 553);
  EXPECT_EQ(gui::unitsToPixels(1488, 96), 372);
  EXPECT_EQ(gui::unitsToPixels(2213, 192), 1107);
  EXPECT_EQ(t.window->width(), gui::unitsToPixels(2213, dpi));

  const auto* sle_server = t.get<QWidget>("sle_server");
  EXPECT_EQ(sle_server->geometry(),
            QRect(gui::unitsToPixels(1673, dpi), gui::unitsToPixels(336, dpi),
                  gui::unitsToPixels(402, dpi), gui::unitsToPixels(96, dpi)));

  // Group boxes and labels must not lie over the controls they frame.
  for (const auto& spec : gui::windowControls()) {
    if (spec.kind == gui::ControlKind::GroupBox || spec.kind == gui::ControlKind::StaticText ||
        !spec.visible) {
      continue;
    }
    auto* w = t.get<QWidget>(std::string(spec.name).c_str());
    QWidget* hit = t.window->childAt(w->geometry().center());
    EXPECT_TRUE(hit == w || w->isAncestorOf(hit)) << spec.name;
  }

  // Resizing moves nothing.
  const QRect before = sle_server->geometry();
  t.window->resize(t.window->width() + 200, t.window->height() + 100);
  QApplication::processEvents();
  EXPECT_EQ(sle_server->geometry(), before);

  // The bar stays in front of its track.
  t.window->wf_set_bar(1);
  const auto* st_text = t.get<QWidget>("st_text");
  EXPECT_EQ(t.window->childAt(st_text->geometry().center()), t.get<QWidget>("st_status"));
}

// Clicks `names` in order, then reports the option's enabled and ticked state.
struct RadioCase {
  std::vector<const char*> clicks;
  bool enabled;
  bool ticked;
};

TEST(MainWindow, RadioButtonsSwitchTheWeighedItemOption) {
  const RadioCase cases[] = {
      // tick, then rb_2: cleared and greyed; then rb_1: available but cleared
      {{"cbx_subno_to_no", "rb_2"}, false, false},
      {{"cbx_subno_to_no", "rb_2", "rb_1"}, true, false},
      // rb_1 while ticked: stays ticked
      {{"cbx_subno_to_no", "rb_1"}, true, true},
      {{"rb_1", "cbx_subno_to_no", "rb_1"}, true, true},
      // no radio button at all: can be ticked
      {{"cbx_subno_to_no"}, true, true},
      // a disabled option ignores clicks
      {{"rb_2", "cbx_subno_to_no"}, false, false},
  };
  for (const auto& c : cases) {
    const WindowUnderTest t;
    std::string trace;
    for (const char* name : c.clicks) {
      trace += std::string(name) + " ";
      QTest::mouseClick(t.get<QWidget>(name), Qt::LeftButton);
    }
    SCOPED_TRACE(trace);
    const auto* option = t.get<QCheckBox>("cbx_subno_to_no");
    EXPECT_EQ(option->isEnabled(), c.enabled);
    EXPECT_EQ(option->isChecked(), c.ticked);
  }
  const WindowUnderTest t;
  QTest::mouseClick(t.get<QWidget>("rb_1"), Qt::LeftButton);
  QTest::mouseClick(t.get<QWidget>("rb_2"), Qt::LeftButton);
  EXPECT_FALSE(t.get<QRadioButton>("rb_1")->isChecked());
  EXPECT_TRUE(t.get<QRadioButton>("rb_2")->isChecked());
}

struct OpenCase {
  const char* server;  // nullptr: no value
  const char* port;
  const char* sle_server;
  const char* sle_port;
};

TEST(MainWindow, OpenEventJoinsTheStoredPort) {
  const OpenCase cases[] = {
      {"SRV", "2000", "SRV,2000", "2000"},
      {"SRV,1500", "2000", "SRV,2000", "2000"},
      {"SRV,abc", "2000", "SRV,abc,2000", "2000"},
      {"SRV,1500", "  1433  ", "SRV,1500", ""},
      {"SRV,1500", nullptr, "SRV,1500", ""},
      {"SRV", "  2000  ", "SRV,2000", "2000"},
      {nullptr, nullptr, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server ? c.server : "<none>") + " / " +
                 (c.port ? c.port : "<none>"));
    SettingsStore store;
    if (c.server != nullptr) {
      store.set("ServerName", c.server);
    }
    if (c.port != nullptr) {
      store.set("conn_port", c.port);
    }
    const WindowUnderTest t(store);
    EXPECT_EQ(t.get<QLineEdit>("sle_server")->text().toStdString(), c.sle_server);
    EXPECT_EQ(t.get<QLineEdit>("sle_port")->text().toStdString(), c.sle_port);
    EXPECT_EQ(t.window->SQLCA().settings.ServerName, c.sle_server);
    EXPECT_EQ(t.get<QLineEdit>("sle_sa")->text(), "sa");
    EXPECT_FALSE(t.get<QWidget>("cb_convert")->isEnabled());
    EXPECT_TRUE(t.boxes.shown.empty());
  }
}

TEST(MainWindow, OpenEventPassesStoredSettingsThrough) {
  SettingsStore store;
  store.set("DBMS", "SQLite");
  store.set("Database", "somedb");
  store.set("Dbparm", "Opt=1; x");
  const WindowUnderTest t(store);
  const SessionSettings& s = t.window->SQLCA().settings;
  EXPECT_EQ(s.DBMS, "SQLite");
  EXPECT_EQ(s.Database, "somedb");
  EXPECT_EQ(s.DBParm, "Opt=1; x");
  EXPECT_FALSE(s.AutoCommit);
  EXPECT_FALSE(t.window->SQLCA().connected());
}

struct BarCase {
  int track;
  std::vector<float> values;
  std::vector<int> widths;
};

TEST(ProgressDisplay, RealOverloadAddsTruncatedShares) {
  const BarCase cases[] = {
      {400, {0.05F, 0.05F}, {20, 40}},
      {333, {0.05F, 0.05F}, {16, 32}},
      {2048, {0.5F, 0.5F}, {1024, 2048}},
      {2048, {0.0F}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.track);
    const WindowUnderTest t;
    t.window->progress().setTrackWidth(c.track);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      t.window->wf_set_bar(c.values[i], "x");
      EXPECT_EQ(t.window->progress().barWidth(), c.widths[i]);
      EXPECT_EQ(t.get<QLabel>("st_status")->width(),
                gui::unitsToPixels(c.widths[i], t.window->logicalDpiX()));
    }
    EXPECT_EQ(t.get<QLabel>("st_state")->text(), "x");
  }
}

TEST(ProgressDisplay, IntegerOverloadEmptiesFillsOrDoesNothing) {
  const WindowUnderTest t;
  auto* st_state = t.get<QLabel>("st_state");
  auto* st_status = t.get<QLabel>("st_status");
  t.window->wf_set_bar(0.25F, "正在导入区域信息");

  t.window->wf_set_bar(2);  // nothing changes
  EXPECT_EQ(t.window->progress().barWidth(), 512);
  EXPECT_EQ(st_state->text(), QString::fromUtf8("正在导入区域信息"));

  t.window->wf_set_bar(1);  // full track, completion text
  EXPECT_EQ(st_status->width(), t.get<QLabel>("st_text")->width());
  EXPECT_EQ(st_state->text(), QString::fromUtf8("数据传输完成"));

  t.window->wf_set_bar(0);  // empty, text kept
  EXPECT_EQ(st_status->width(), 0);
  EXPECT_EQ(st_state->text(), QString::fromUtf8("数据传输完成"));

  t.window->wf_set_bar(0.0F, "");  // empty text clears the line
  EXPECT_EQ(st_state->text(), "");
}

}  // namespace
}  // namespace cvt::test

#include "app/qt/window_controls.h"

#include <cmath>

namespace cvt::gui {

namespace {

using K = ControlKind;
using C = TextColour;

constexpr std::array<ControlSpec, 37> kControls = {{
    // Group boxes come first so that the controls they frame lie above them
    // and receive the mouse.
    {"gb_1", K::GroupBox, "设定数据来源", 55, 36, 2039, 228, 10},
    {"gb_2", K::GroupBox, "请选择需要传输的信息", 55, 284, 1042, 608, 20},
    {"gb_3", K::GroupBox, "设置", 55, 896, 1042, 176, 60},
    {"rb_1", K::RadioButton, "KorvaneMaruk300", 183, 144, 590, 76, 0, C::Blue},
    {"rb_2", K::RadioButton, "KorvaneSolen200", 1536, 144, 475, 76, 0, C::Blue},
    {"cbx_item", K::CheckBox, "商品基本信息", 101, 368, 471, 76, 0, C::Blue},
    {"cbx_cls", K::CheckBox, "商品类别", 101, 464, 393, 76, 0, C::Blue},
    {"cbx_pp", K::CheckBox, "商品品牌", 101, 560, 343, 76, 0, C::Blue},
    {"cbx_region", K::CheckBox, "区域信息", 101, 656, 343, 76, 0, C::Blue},
    {"cbx_supcust", K::CheckBox, "供应商和客户", 101, 752, 562, 76, 0, C::Blue},
    {"cbx_vip", K::CheckBox, "会员卡", 681, 368, 343, 76, 0, C::Blue},
    {"cbx_spec_price", K::CheckBox, "销售特价", 681, 464, 343, 76, 0, C::Blue},
    {"cbx_cashier", K::CheckBox, "收银员", 681, 560, 343, 76, 0, C::Blue},
    {"cbx_stock", K::CheckBox, "库存信息", 681, 656, 343, 76, 0, C::Blue},
    {"cbx_sale", K::CheckBox, "销售信息", 672, 752, 343, 76, 0, C::Blue, false, false},
    {"st_6", K::StaticText, "库存信息只处理0001仓库", 663, 740, 407, 108, 0, C::Red},
    {"cbx_subno_to_no", K::CheckBox, "称重商品货号在自编码上", 96, 944, 709, 92, 0},
    {"st_f", K::StaticText, "销售日期从：", 23, 940, 366, 72, 0, C::System, false, false},
    {"em_1", K::DateEdit, "", 384, 924, 439, 88, 60, C::System, false, false},
    {"st_t", K::StaticText, "到：", 823, 940, 119, 72, 0, C::System, false, false},
    {"em_2", K::DateEdit, "", 937, 924, 425, 88, 70, C::System, false, false},
    {"st_1", K::StaticText, "数据库服务器：", 1161, 352, 526, 64, 0, C::System, true, true, false,
     false, true},
    {"sle_server", K::LineEdit, "", 1673, 336, 402, 96, 30},
    {"st_7", K::StaticText, "端口：", 1243, 464, 439, 64, 0, C::System, true, true, false, false,
     true},
    {"sle_port", K::LineEdit, "", 1673, 448, 402, 96, 30},
    {"st_2", K::StaticText, "系统管理员：", 1234, 580, 453, 64, 0, C::System, true, true, false,
     false, true},
    {"sle_sa", K::LineEdit, "", 1673, 560, 402, 96, 40},
    {"st_3", K::StaticText, "密码：", 1285, 692, 402, 64, 0, C::System, true, true, false, false,
     true},
    {"sle_passwd", K::PasswordEdit, "", 1673, 672, 402, 96, 50},
    {"st_4", K::StaticText, "注意：传输操作仅适用于初始化阶段，将会首先删除系统的原有数据", 1225,
     808, 855, 136, 0, C::Red},
    {"cb_connect", K::CommandButton, "连接", 1179, 1060, 297, 104, 80},
    {"cb_convert", K::CommandButton, "转换", 1477, 1060, 297, 104, 90},
    {"cb_exit", K::CommandButton, "退出", 1774, 1060, 297, 104, 90},
    {"st_state", K::StaticText, "", 87, 1168, 2007, 72, 0, C::Blue},
    // The progress display: frame, track, and the bar in front of both.
    {"st_5", K::StaticText, "", 50, 1264, 2066, 104, 0, C::System, true, true, true},
    {"st_text", K::StaticText, "", 59, 1276, 2048, 88, 0, C::Blue, true, true, true},
    {"st_status", K::StaticText, "", 59, 1272, 2048, 88, 0, C::System, true, true, false, true},
}};

// Fewer entries than the array holds would leave default ones at the end.
static_assert(kControls.back().name == "st_status", "all 37 controls are listed");

constexpr std::array<ControlSpec, 2> kAddedButtons = {{
    {"cb_check", K::CommandButton, "检查", 560, 1076, 297, 88, 80},
    {"cb_rehearse", K::CommandButton, "演练", 870, 1076, 297, 88, 80},
}};

}  // namespace

const std::array<ControlSpec, 37>& windowControls() { return kControls; }

const std::array<ControlSpec, 2>& addedButtons() { return kAddedButtons; }

int unitsToPixels(int units, double dpi) {
  if (units <= 0) {
    return 0;
  }
  return static_cast<int>(std::lround(static_cast<double>(units) * dpi / (4.0 * 96.0)));
}

}  // namespace cvt::gui

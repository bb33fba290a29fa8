#include "steps/catalog.h"

namespace cvt {

const std::vector<Category>& categories() {
  // A step that is not built yet stays null here and the run skips it; the
  // weight still counts, as the window still offers the category.
  static const std::vector<Category> kCategories = {
      {"item", "cbx_item", "商品基本信息", 100, wf_convert_item_info, refillsOfItems},
      {"cls", "cbx_cls", "商品类别", 10, wf_convert_item_cls, refillsOfClasses},
      {"pp", "cbx_pp", "商品品牌", 10, wf_convert_item_pp, refillsOfBrands},
      {"region", "cbx_region", "区域信息", 10, wf_convert_region_info, refillsOfRegions},
      {"supcust", "cbx_supcust", "供应商和客户", 40, wf_convert_supcust_info, refillsOfSupcust},
      {"vip", "cbx_vip", "会员卡", 30, wf_dravik_vip, refillsOfMembers},
      {"spec_price", "cbx_spec_price", "销售特价", 50, wf_convert_spec_price, refillsOfSpecPrices},
      {"cashier", "cbx_cashier", "收银员", 10, wf_convert_cashier, refillsOfCashiers},
      {"stock", "cbx_stock", "库存信息", 100, wf_convert_stock, refillsOfStock},
  };
  return kCategories;
}

const Category* findCategory(std::string_view key) {
  for (const auto& c : categories()) {
    if (c.key == key) {
      return &c;
    }
  }
  return nullptr;
}

}  // namespace cvt

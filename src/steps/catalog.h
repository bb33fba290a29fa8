#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "steps/step.h"

namespace cvt {

// One category of the window: its check box, its label, its weight in the
// run's total and the step that converts it.
struct Category {
  std::string_view key;       // batch command name: item, cls, pp, ...
  std::string_view checkbox;  // control name: cbx_item, cbx_cls, ...
  std::string_view label;     // check box text
  long weight;
  StepFn step;  // null while the category's step is not built
  // The statements of the step that copy rows from the source `as_source`
  // into the target (insert ... select), as the step sends them; empty for
  // an unknown source. What a check before a run reads to know which
  // source and target tables and columns the step uses.
  std::vector<std::string> (*refills)(const std::string& as_source);
};

// The nine categories in the run's fixed order (the order in which weights
// are added and steps run).
const std::vector<Category>& categories();

// The category whose key is `key`, or null.
const Category* findCategory(std::string_view key);

// The steps, one per category.
bool wf_convert_item_info(StepContext& ctx, const std::string& as_source);
bool wf_convert_item_cls(StepContext& ctx, const std::string& as_source);
bool wf_convert_item_pp(StepContext& ctx, const std::string& as_source);
bool wf_convert_region_info(StepContext& ctx, const std::string& as_source);
bool wf_convert_supcust_info(StepContext& ctx, const std::string& as_source);
bool wf_dravik_vip(StepContext& ctx, const std::string& as_source);
bool wf_convert_spec_price(StepContext& ctx, const std::string& as_source);
bool wf_convert_cashier(StepContext& ctx, const std::string& as_source);
bool wf_convert_stock(StepContext& ctx, const std::string& as_source);

// The refill statements of each step, for Category::refills.
std::vector<std::string> refillsOfItems(const std::string& as_source);
std::vector<std::string> refillsOfClasses(const std::string& as_source);
std::vector<std::string> refillsOfBrands(const std::string& as_source);
std::vector<std::string> refillsOfRegions(const std::string& as_source);
std::vector<std::string> refillsOfSupcust(const std::string& as_source);
std::vector<std::string> refillsOfMembers(const std::string& as_source);
std::vector<std::string> refillsOfSpecPrices(const std::string& as_source);
std::vector<std::string> refillsOfCashiers(const std::string& as_source);
std::vector<std::string> refillsOfStock(const std::string& as_source);

}  // namespace cvt

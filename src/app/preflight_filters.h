#pragma once

// Conditions that let the database leave out the rows the check need not
// look at. Each one holds for every value the fitter would refuse (and
// may hold for some it would take), so that the rows it leaves out are
// rows that fit; the rows it keeps are fitted one by one as before.
// The texts are T-SQL that SQL Server runs as well as the embedded engine.

#include <string>

#include "db/value_fit.h"

namespace cvt::preflight {

// A condition that holds when `value` (an expression) may not fit a column
// of `limits`; empty when every value fits.
std::string mayNotFit(const FitLimits& limits, const std::string& value);

// `value` as a column of declared type `declared` with `limits` would
// store it, for grouping: two values the fitter stores as equal keys give
// equal results (values it refuses may make the query fail). Empty when
// there is no such form (a type without a rule).
std::string storedForm(const FitLimits& limits, const std::string& declared,
                       const std::string& value);

}  // namespace cvt::preflight

#include "app/preflight_filters.h"

namespace cvt::preflight {

namespace {

// A bound below every value that decimal(p, s) cannot hold once rounded
// (those reach 10^(p - s) less half a unit of the last place). Written
// with at most 15 digits, so that every engine reads it as an ordinary
// number.
std::string decimalBound(int precision, int scale) {
  const int whole = precision - scale;
  if (whole <= 0) {
    return "0.9";
  }
  if (whole <= 15) {
    return std::string(static_cast<std::size_t>(whole), '9');
  }
  return "1E" + std::to_string(whole - 1);
}

}  // namespace

std::string mayNotFit(const FitLimits& limits, const std::string& value) {
  switch (limits.kind) {
    case FitLimits::Kind::Text: {
      if (limits.length <= 0 || limits.length > 4000) {
        // A limit a converted text could reach by being cut: every value
        // is looked at.
        return value + " is not null";
      }
      // A text takes as many bytes of code page 936 as datalength counts
      // at most (trailing blanks included, which a column drops), and never
      // fewer than its UTF-16 units; a number or a date is measured as the
      // text the fitter sees, which len counts.
      const std::string n = std::to_string(limits.length);
      return "(len(" + value + ") > " + n + " or datalength(" + value + ") > " + n + ")";
    }
    case FitLimits::Kind::Decimal: {
      // A text that is no number fails the comparison, and with it this
      // query, as storing it fails the statement.
      const std::string top = decimalBound(limits.precision, limits.scale);
      return "(" + value + " >= " + top + " or " + value + " <= -" + top + ")";
    }
    case FitLimits::Kind::Integer: {
      // The fraction is dropped toward zero before the range is held.
      std::string above = "2147483648";
      std::string below = "-2147483649";
      if (limits.bytes == 1) {
        above = "256";
        below = "-1";
      } else if (limits.bytes == 2) {
        above = "32768";
        below = "-32769";
      } else if (limits.bytes == 8) {
        above = "9.2E18";
        below = "-9.2E18";
      }
      return "(" + value + " >= " + above + " or " + value + " <= " + below + ")";
    }
    case FitLimits::Kind::Datetime:
      // A text that is no date fails the conversion, and with it this query.
      return "(" + value + " is not null and convert(datetime, " + value + ") is null)";
    default:
      return {};
  }
}

std::string storedForm(const FitLimits& limits, const std::string& declared,
                       const std::string& value) {
  if (limits.kind == FitLimits::Kind::None || declared.empty()) {
    return {};
  }
  // The conversion to the column's type rounds and cuts as storing does;
  // it may make more values equal than the column would (a text cut to n
  // characters), never fewer.
  return "convert(" + declared + ", " + value + ")";
}

}  // namespace cvt::preflight

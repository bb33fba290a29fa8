#include "app/preflight_filters.h"

namespace cvt::preflight {

namespace {

// The largest value of decimal(p, s): p - s nines, a point, s nines.
std::string largestDecimal(int precision, int scale) {
  const int whole = precision > scale ? precision - scale : 0;
  std::string out = whole > 0 ? std::string(static_cast<std::size_t>(whole), '9') : "0";
  if (scale > 0) {
    out += "." + std::string(static_cast<std::size_t>(scale), '9');
  }
  return out;
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
      // A value that rounds beyond the type's digits is at least this far
      // from zero; a text that is no number fails the comparison, and with
      // it this query, as storing it fails the statement.
      const std::string top = largestDecimal(limits.precision, limits.scale);
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
        above = "9223372036854775807";
        below = "-9223372036854775808";
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

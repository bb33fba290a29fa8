#include <algorithm>
#include <cctype>

#include "app/preflight_predictor.h"
#include "db/sqlite/collation.h"
#include "members/decimal_text.h"

namespace cvt::preflight {

std::string quoted(std::string_view text) {
  std::string out(1, '\'');
  for (const char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  return out + "'";
}

// The rows a clearing "delete ... where cond" leaves: those where cond is
// false or unknown.
std::string keptBy(const std::string& deleteCondition) {
  return "case when (" + deleteCondition + ") then 0 else 1 end = 1";
}

std::string plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool isTextType(const std::string& type) {
  return type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar";
}

bool isNumericType(const std::string& type) {
  return type == "decimal" || type == "numeric" || type == "money" || type == "smallmoney" ||
         type == "int" || type == "bigint" || type == "smallint" || type == "tinyint" ||
         type == "float" || type == "real" || type == "integer";
}

// The declared type a value is fitted to.
std::string declaredOf(const ColumnInfo& c) {
  if (!c.declared.empty()) {
    return c.declared;
  }
  return typeName(c);
}

// The type as findings name it: "varchar(10)", "decimal(16,4)", "int".
std::string typeName(const ColumnInfo& c) {
  if (isTextType(c.type) && c.length > 0) {
    return c.type + "(" + std::to_string(c.length) + ")";
  }
  if (c.precision > 0) {
    return c.type + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
  }
  return c.type;
}

// The default an insert gives a column it leaves out, as an expression the
// check can select; none when the default is not a plain literal or the
// current time (its NULL rule is then taken as met).
std::optional<std::string> defaultExpression(const Value& given) {
  if (!given) {
    return std::string("NULL");
  }
  std::string text = preflight::trimmed(*given);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = preflight::trimmed(text.substr(1, text.size() - 2));
  }
  if (text.empty()) {
    return std::nullopt;
  }
  if (text.front() == '\'' && text.back() == '\'' && text.size() >= 2) {
    return text;
  }
  // SQL Server writes the default of an nvarchar column as N'...'.
  if ((text.front() == 'N' || text.front() == 'n') && text.size() >= 3 && text[1] == '\'' &&
      text.back() == '\'') {
    return text;
  }
  if (lowered(text) == "getdate()" || lowered(text) == "current_timestamp") {
    return std::string("getdate()");
  }
  if (lowered(text) == "null") {
    return std::string("NULL");
  }
  const bool number = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
  });
  return number ? std::optional<std::string>(text) : std::nullopt;
}

// Characters as len() counts them: trailing blanks aside.
std::size_t charLength(std::string_view text) {
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  std::size_t n = 0;
  for (const char c : text) {
    n += (static_cast<unsigned char>(c) & 0xC0U) != 0x80U ? 1 : 0;
  }
  return n;
}

int collate(const std::string& a, const std::string& b) {
  return collation::compare(a.data(), a.size(), b.data(), b.size());
}

// A number in one form per value, so that 1, 1.0 and 01 compare equal.
std::string canonicalNumber(const std::string& text) {
  const auto normal = normalizeDecimal(text);
  return normal ? *normal : text;
}

int compareKeyValues(const ColumnInfo& c, const Value& x, const Value& y) {
  if (!x || !y) {
    return x.has_value() == y.has_value() ? 0 : x.has_value() ? 1 : -1;
  }
  if (isTextType(c.type)) {
    return collate(*x, *y);
  }
  if (isNumericType(c.type)) {
    return canonicalNumber(*x).compare(canonicalNumber(*y));
  }
  return x->compare(*y);
}

Breach keyBreach(const IndexInfo& index) {
  Breach b;
  for (const auto& n : index.columns) {
    b.column += (b.column.empty() ? "" : ", ") + n;
  }
  b.rule = std::string(index.primary ? "primary key" : "unique index ") +
           (index.primary ? "" : index.name) + " (" + b.column + ")";
  return b;
}

std::string keyExample(const Row& key, std::size_t rows) {
  std::string value;
  for (const auto& v : key) {
    value += (value.empty() ? "" : ", ") + shownValue(v);
  }
  return value + " (" + std::to_string(rows) + " rows)";
}

bool mentions(const std::string& clause, const std::string& column) {
  const std::string text = lowered(clause);
  const std::string name = lowered(column);
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const bool before =
        at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_');
    const std::size_t end = at + name.size();
    const bool after = end >= text.size() ||
                       !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_');
    if (before && after) {
      return true;
    }
  }
  return false;
}

// An error of a query that reads a column or table the database lacks: the
// statement of the run that reads it fails the same way.
bool missingObject(const std::string& error) {
  const std::string e = lowered(error);
  return e.find("no such column") != std::string::npos ||
         e.find("no such table") != std::string::npos ||
         e.find("invalid column name") != std::string::npos ||
         e.find("invalid object name") != std::string::npos;
}

}  // namespace cvt::preflight

#include "db/catalog.h"

#include <cctype>
#include <cstdlib>

#include "db/names.h"

namespace cvt {

namespace {

bool isCharacterType(std::string_view type) {
  return type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar";
}

}  // namespace

const ColumnInfo* TableInfo::find(std::string_view name) const {
  for (const auto& c : columns) {
    if (sameName(c.name, name)) {
      return &c;
    }
  }
  return nullptr;
}

void readDeclaredType(std::string_view declared, ColumnInfo& column) {
  std::string type;
  std::size_t i = 0;
  while (i < declared.size() && std::isspace(static_cast<unsigned char>(declared[i])) != 0) {
    ++i;
  }
  while (i < declared.size() &&
         (std::isalnum(static_cast<unsigned char>(declared[i])) != 0 || declared[i] == '_')) {
    type += static_cast<char>(std::tolower(static_cast<unsigned char>(declared[i])));
    ++i;
  }
  column.type = type;
  column.length = -1;
  column.precision = -1;
  column.scale = -1;
  const auto open = declared.find('(', i);
  const auto close = declared.find(')', i);
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    if (type == "char" || type == "nchar") {
      column.length = 1;  // char without a length is char(1)
    }
    return;
  }
  const std::string inside(declared.substr(open + 1, close - open - 1));
  const char* text = inside.c_str();
  char* end = nullptr;
  const long long first = std::strtoll(text, &end, 10);
  const bool number = end != text;
  if (isCharacterType(type)) {
    column.length = number ? first : -1;  // max
    return;
  }
  if ((type == "decimal" || type == "numeric") && number) {
    column.precision = static_cast<int>(first);
    column.scale = 0;
    const auto comma = inside.find(',');
    if (comma != std::string::npos) {
      column.scale = static_cast<int>(std::strtol(inside.c_str() + comma + 1, nullptr, 10));
    }
  }
}

}  // namespace cvt

#include "db/catalog.h"

#include <cctype>
#include <cstdlib>

#include "db/names.h"

namespace cvt {

namespace {

bool isCharacterType(std::string_view type) {
  return type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar";
}

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// The word that ends just before `end` (blanks skipped), or "".
std::string wordBefore(std::string_view text, std::size_t end) {
  while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) {
    --end;
  }
  std::size_t start = end;
  while (start > 0 && (wordChar(text[start - 1]) || text[start - 1] == '"' ||
                       text[start - 1] == '[' || text[start - 1] == ']')) {
    --start;
  }
  return std::string(text.substr(start, end - start));
}

}  // namespace

std::vector<CheckInfo> checkClausesOf(std::string_view sql) {
  std::vector<CheckInfo> out;
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote != 0) {
      quote = c == quote ? 0 : quote;
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
      continue;
    }
    if (i + 5 > sql.size() || !sameName(sql.substr(i, 5), "check") ||
        (i > 0 && wordChar(sql[i - 1])) || (i + 5 < sql.size() && wordChar(sql[i + 5]))) {
      continue;
    }
    std::size_t open = i + 5;
    while (open < sql.size() && std::isspace(static_cast<unsigned char>(sql[open])) != 0) {
      ++open;
    }
    if (open >= sql.size() || sql[open] != '(') {
      continue;
    }
    int depth = 0;
    char inner = 0;
    std::size_t close = open;
    for (; close < sql.size(); ++close) {
      const char d = sql[close];
      if (inner != 0) {
        inner = d == inner ? 0 : inner;
      } else if (d == '\'' || d == '"') {
        inner = d;
      } else if (d == '(') {
        ++depth;
      } else if (d == ')' && --depth == 0) {
        break;
      }
    }
    if (close >= sql.size()) {
      break;
    }
    CheckInfo check;
    check.clause = std::string(sql.substr(open + 1, close - open - 1));
    // "CONSTRAINT name CHECK (...)": the name is the word before CHECK when
    // the word before that is CONSTRAINT.
    const std::string name = wordBefore(sql, i);
    const std::size_t nameAt = sql.substr(0, i).rfind(name);
    if (!name.empty() && nameAt != std::string_view::npos &&
        sameName(wordBefore(sql, nameAt), "constraint")) {
      check.name = name;
    }
    out.push_back(std::move(check));
    i = close;
  }
  return out;
}

SqlResult Catalog::rules(const std::string& /*database*/, const std::string& /*table*/,
                         TableRules& out) {
  out = TableRules{};
  return SqlResult::ok();
}

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
  column.declared = std::string(declared);
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

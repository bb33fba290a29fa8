#include "db/grid_result_set.h"

#include <cctype>
#include <cstddef>

#include "db/names.h"

namespace cvt {

namespace {

// The definition is a few "key=value" lines followed by the SELECT, which
// runs to the end of the text so that it needs no escaping. Values of the
// other lines escape backslash, line feed and carriage return.
constexpr std::string_view kHeader = "grid definition 1";
constexpr std::string_view kPresentationKey = "presentation=";
constexpr std::string_view kColumnKey = "column=";
constexpr std::string_view kSelectKey = "select=";

std::string escapeLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Returns false when the text ends inside an escape or uses an unknown one.
bool unescapeLine(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) {
      return false;
    }
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        return false;
    }
  }
  return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool isIdentChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || c == '_' || u >= 0x80;
}

// True when the first word of the text (after blanks and opening
// parentheses) is SELECT. The text is sent to the engine as a cursor, and a
// cursor over a data-changing statement would change data.
bool isSelect(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size() &&
         (std::isspace(static_cast<unsigned char>(sql[i])) != 0 || sql[i] == '(')) {
    ++i;
  }
  constexpr std::string_view kSelect = "select";
  if (!sameName(sql.substr(i, kSelect.size()), kSelect)) {
    return false;
  }
  const std::size_t after = i + kSelect.size();
  return after == sql.size() || !isIdentChar(sql[after]);
}

bool isGridPresentation(std::string_view presentation) {
  std::string compact;
  for (const char c : presentation) {
    if (std::isspace(static_cast<unsigned char>(c)) == 0) {
      compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return compact.find("type=grid") != std::string::npos;
}

}  // namespace

GridDefinition buildGridDefinition(Session& SQLCA, std::string_view select,
                                   std::string_view presentation) {
  if (!isGridPresentation(presentation)) {
    return {{}, "Grid definition: unsupported presentation \"" + std::string(presentation) + "\""};
  }
  if (!isSelect(select)) {
    return {{}, "Grid definition: the statement is not a SELECT"};
  }
  auto cursor = SQLCA.openCursor(select);
  std::vector<std::string> columns = cursor->columns();
  if (columns.empty()) {
    // Either the open failed, which the first fetch reports, or the engine
    // names its columns only once the statement has run.
    Row row;
    if (cursor->fetch(row) < 0) {
      const std::string& text = SQLCA.SQLErrText();
      return {{}, text.empty() ? std::string("Grid definition: the SELECT failed") : text};
    }
    columns = cursor->columns();
    if (columns.empty()) {
      return {{}, "Grid definition: the SELECT returns no columns"};
    }
  }
  cursor->close();

  std::string syntax(kHeader);
  syntax += '\n';
  syntax += kPresentationKey;
  syntax += escapeLine(presentation);
  syntax += '\n';
  for (const auto& name : columns) {
    syntax += kColumnKey;
    syntax += escapeLine(name);
    syntax += '\n';
  }
  syntax += kSelectKey;
  syntax += select;
  return {std::move(syntax), {}};
}

std::string GridResultSet::create(std::string_view syntax) {
  destroy();
  std::vector<std::string> columns;
  std::string value;
  bool header = false;
  bool presentation = false;
  std::size_t pos = 0;
  while (pos < syntax.size()) {
    if (header && startsWith(syntax.substr(pos), kSelectKey)) {
      select_ = std::string(syntax.substr(pos + kSelectKey.size()));
      break;
    }
    std::size_t end = syntax.find('\n', pos);
    if (end == std::string_view::npos) {
      end = syntax.size();
    }
    const std::string_view line = syntax.substr(pos, end - pos);
    pos = end + 1;
    if (!header) {
      if (line != kHeader) {
        error_ = "Grid create: the text is not a grid definition";
        return error_;
      }
      header = true;
    } else if (startsWith(line, kPresentationKey)) {
      if (!unescapeLine(line.substr(kPresentationKey.size()), value) ||
          !isGridPresentation(value)) {
        error_ = "Grid create: bad presentation in the definition";
        return error_;
      }
      presentation = true;
    } else if (startsWith(line, kColumnKey)) {
      if (!unescapeLine(line.substr(kColumnKey.size()), value) || value.empty()) {
        error_ = "Grid create: bad column in the definition";
        return error_;
      }
      columns.push_back(value);
    } else {
      error_ = "Grid create: unknown line in the definition";
      return error_;
    }
  }
  if (!header) {
    error_ = "Grid create: the definition is empty";
  } else if (!presentation) {
    error_ = "Grid create: the definition has no presentation";
  } else if (columns.empty()) {
    error_ = "Grid create: the definition names no columns";
  } else if (!isSelect(select_)) {
    error_ = "Grid create: the definition has no SELECT";
  }
  if (!error_.empty()) {
    select_.clear();
    return error_;
  }
  columns_ = std::move(columns);
  created_ = true;
  return {};
}

void GridResultSet::bind(Session& SQLCA) { session_ = &SQLCA; }

long GridResultSet::retrieve() {
  rows_.clear();
  error_.clear();
  if (!created_) {
    error_ = "Grid retrieve: the result set was not created";
    return -1;
  }
  if (session_ == nullptr) {
    error_ = "Grid retrieve: the result set is not bound to a session";
    return -1;
  }
  auto cursor = session_->openCursor(select_);
  // Index in the engine's row of each defined column; learnt from the first
  // row, since some engines name their columns only once the statement ran.
  std::vector<std::size_t> source;
  Row row;
  long code = kSqlOk;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    if (source.empty()) {
      const auto& names = cursor->columns();
      for (const auto& wanted : columns_) {
        std::size_t i = 0;
        while (i < names.size() && !sameName(names[i], wanted)) {
          ++i;
        }
        if (i == names.size() || i >= row.size()) {
          rows_.clear();
          error_ = "Grid retrieve: column " + wanted + " is not in the result";
          return -1;
        }
        source.push_back(i);
      }
    }
    Row held;
    held.reserve(source.size());
    for (const std::size_t i : source) {
      held.push_back(std::move(row[i]));
    }
    rows_.push_back(std::move(held));
  }
  if (code < 0) {
    rows_.clear();
    const std::string& text = session_->SQLErrText();
    error_ = text.empty() ? std::string("Grid retrieve: the SELECT failed") : text;
    return -1;
  }
  rows_.shrink_to_fit();
  return rowCount();
}

Value GridResultSet::getString(long row, std::string_view column) {
  if (row < 1 || row > rowCount()) {
    error_ = "Grid get string: row " + std::to_string(row) + " is out of range";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (sameName(columns_[i], column)) {
      return rows_[static_cast<std::size_t>(row - 1)][i];
    }
  }
  error_ = "Grid get string: unknown column " + std::string(column);
  return std::nullopt;
}

void GridResultSet::destroy() {
  created_ = false;
  session_ = nullptr;
  select_.clear();
  columns_.clear();
  rows_.clear();
  rows_.shrink_to_fit();
  error_.clear();
}

}  // namespace cvt

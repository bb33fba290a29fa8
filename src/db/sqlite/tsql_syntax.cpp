#include "db/sqlite/tsql_syntax.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace cvt::tsql {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool isWordStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) != 0 || c == '_' || c == '@' || c == '#' || u >= 0x80;
}

bool isWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    c = lower(c);
  }
  return out;
}

namespace {

// The tokenizer; `spans`, when given, receives each token's place.
bool readTokens(std::string_view sql, Tokens& out, std::vector<Span>* spans, std::string& error) {
  std::size_t i = 0;
  const std::size_t n = sql.size();
  bool space = false;
  // Every token starts at `i`, where the loop stands, and ends at `end`.
  auto push = [&](Tok type, std::string text, std::size_t end) {
    out.push_back(Token{type, std::move(text), space});
    if (spans != nullptr) {
      spans->push_back(Span{i, end});
    }
    space = false;
  };
  while (i < n) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      space = true;
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') {
        ++i;
      }
      space = true;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const std::size_t end = sql.find("*/", i + 2);
      if (end == std::string_view::npos) {
        error = "Missing end comment mark '*/'.";
        return false;
      }
      i = end + 2;
      space = true;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && sql[i + 1] == '\'')) {
      std::size_t j = (c == '\'') ? i + 1 : i + 2;
      std::string text = "'";
      for (;;) {
        if (j >= n) {
          error = "Unclosed quotation mark after the character string '" +
                  std::string(sql.substr(i)) + "'.";
          return false;
        }
        if (sql[j] == '\'') {
          if (j + 1 < n && sql[j + 1] == '\'') {
            text += "''";
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        text += sql[j++];
      }
      text += '\'';
      push(Tok::String, std::move(text), j);
      i = j;
    } else if (c == '[' || c == '"') {
      const char close = (c == '[') ? ']' : '"';
      std::size_t j = i + 1;
      std::string name;
      for (;;) {
        if (j >= n) {
          error = "Unclosed quotation mark after the name '" + std::string(sql.substr(i)) + "'.";
          return false;
        }
        if (sql[j] == close) {
          if (j + 1 < n && sql[j + 1] == close) {
            name += close;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        name += sql[j++];
      }
      std::string text = "\"";
      for (char ch : name) {
        text += ch;
        if (ch == '"') {
          text += '"';
        }
      }
      text += '"';
      push(Tok::Quoted, std::move(text), j);
      i = j;
    } else if (isDigit(c) || (c == '.' && i + 1 < n && isDigit(sql[i + 1]))) {
      std::size_t j = i;
      if (c == '0' && i + 1 < n && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
        j += 2;
        while (j < n && std::isxdigit(static_cast<unsigned char>(sql[j])) != 0) {
          ++j;
        }
      } else {
        while (j < n && isDigit(sql[j])) {
          ++j;
        }
        if (j < n && sql[j] == '.') {
          ++j;
          while (j < n && isDigit(sql[j])) {
            ++j;
          }
        }
        if (j < n && (sql[j] == 'e' || sql[j] == 'E')) {
          std::size_t k = j + 1;
          if (k < n && (sql[k] == '+' || sql[k] == '-')) {
            ++k;
          }
          if (k < n && isDigit(sql[k])) {
            j = k;
            while (j < n && isDigit(sql[j])) {
              ++j;
            }
          }
        }
      }
      push(Tok::Number, std::string(sql.substr(i, j - i)), j);
      i = j;
    } else if (isWordStart(c)) {
      std::size_t j = i + 1;
      while (j < n && isWordChar(sql[j])) {
        ++j;
      }
      push(Tok::Word, std::string(sql.substr(i, j - i)), j);
      i = j;
    } else if (c == '?') {
      push(Tok::Param, "?", i + 1);
      ++i;
    } else {
      static constexpr std::array<std::string_view, 8> kTwo = {
          "<>", "!=", "<=", ">=", "!<", "!>", "||", "=="};
      std::string text(1, c);
      if (i + 1 < n) {
        const std::string_view two = sql.substr(i, 2);
        if (std::find(kTwo.begin(), kTwo.end(), two) != kTwo.end()) {
          text = std::string(two);
        }
      }
      // SQL Server's "not less" and "not greater".
      if (text == "!<") {
        text = ">=";
      } else if (text == "!>") {
        text = "<=";
      }
      const std::size_t end = i + text.size();
      push(Tok::Punct, std::move(text), end);
      i = end;
    }
  }
  return true;
}

}  // namespace

bool tokenize(std::string_view sql, Tokens& out, std::string& error) {
  return readTokens(sql, out, nullptr, error);
}

bool tokenize(std::string_view sql, Tokens& out, std::vector<Span>& spans, std::string& error) {
  return readTokens(sql, out, &spans, error);
}

std::string render(const Tokens& tokens) {
  std::string out;
  const Token* prev = nullptr;
  for (const Token& t : tokens) {
    if (prev != nullptr) {
      const bool wordish = (prev->type == Tok::Word || prev->type == Tok::Number) &&
                           (t.type == Tok::Word || t.type == Tok::Number);
      if (t.space || wordish) {
        out += ' ';
      }
    }
    out += t.text;
    prev = &t;
  }
  return out;
}

Token word(std::string text) { return Token{Tok::Word, std::move(text), true}; }
Token punct(std::string text, bool space) { return Token{Tok::Punct, std::move(text), space}; }
Token number(std::string text) { return Token{Tok::Number, std::move(text), false}; }
Token stringLiteral(std::string_view value) {
  std::string text = "'";
  for (char c : value) {
    text += c;
    if (c == '\'') {
      text += '\'';
    }
  }
  text += '\'';
  return Token{Tok::String, std::move(text), false};
}

bool isKw(const Token& t, std::string_view kw) {
  return t.type == Tok::Word && equalsNoCase(t.text, kw);
}
bool isPunct(const Token& t, std::string_view p) { return t.type == Tok::Punct && t.text == p; }
bool isName(const Token& t) { return t.type == Tok::Word || t.type == Tok::Quoted; }

// The name a Word or Quoted token stands for (quotes removed).
std::string nameOf(const Token& t) {
  if (t.type != Tok::Quoted) {
    return t.text;
  }
  std::string out;
  for (std::size_t i = 1; i + 1 < t.text.size(); ++i) {
    out += t.text[i];
    if (t.text[i] == '"') {
      ++i;
    }
  }
  return out;
}

std::string quoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') {
      out += '"';
    }
  }
  out += '"';
  return out;
}

// Keywords that can follow a table in a FROM list and so are never its alias.
bool isClauseKeyword(const Token& t) {
  static constexpr std::array<std::string_view, 18> kWords = {
      "join",  "inner", "left",   "right", "full", "cross", "outer", "on",     "where",
      "group", "order", "having", "union", "set",  "from",  "with",  "except", "intersect"};
  if (t.type != Tok::Word) {
    return false;
  }
  return std::any_of(kWords.begin(), kWords.end(),
                     [&](std::string_view w) { return equalsNoCase(t.text, w); });
}

std::size_t matchParen(const Tokens& t, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < t.size(); ++i) {
    if (isPunct(t[i], "(")) {
      ++depth;
    } else if (isPunct(t[i], ")")) {
      if (--depth == 0) {
        return i;
      }
    }
  }
  return kNone;
}

std::size_t findTop(const Tokens& t, std::string_view kw, std::size_t from, std::size_t to) {
  int depth = 0;
  for (std::size_t i = from; i < to && i < t.size(); ++i) {
    if (isPunct(t[i], "(")) {
      ++depth;
    } else if (isPunct(t[i], ")")) {
      --depth;
    } else if (depth == 0 && isKw(t[i], kw)) {
      return i;
    }
  }
  return kNone;
}

std::vector<std::pair<std::size_t, std::size_t>> splitTop(const Tokens& t, std::size_t from,
                                                          std::size_t to) {
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  int depth = 0;
  std::size_t start = from;
  for (std::size_t i = from; i < to; ++i) {
    if (isPunct(t[i], "(")) {
      ++depth;
    } else if (isPunct(t[i], ")")) {
      --depth;
    } else if (depth == 0 && isPunct(t[i], ",")) {
      parts.emplace_back(start, i);
      start = i + 1;
    }
  }
  parts.emplace_back(start, to);
  return parts;
}

}  // namespace cvt::tsql

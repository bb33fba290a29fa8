#include "db/sqlite/tsql_rewriter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace cvt {

namespace {

// ---------------------------------------------------------------- tokens

enum class Tok {
  Word,    // keyword or bare name
  Quoted,  // "name" (bracketed names are normalised to this form)
  String,  // '...' (an N prefix is dropped)
  Number,
  Param,  // ?
  Punct,  // operators and punctuation, one or two characters
};

struct Token {
  Tok type;
  std::string text;
  bool space = true;  // whitespace or a comment stood before it
};

using Tokens = std::vector<Token>;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

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

bool isWordStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) != 0 || c == '_' || c == '@' || c == '#' || u >= 0x80;
}

bool isWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) != 0 || c == '_' || c == '@' || c == '#' || c == '$' || u >= 0x80;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Splits `sql` into tokens. Comments become the `space` flag of the next
// token. Returns false with `error` set on an unterminated literal.
bool tokenize(std::string_view sql, Tokens& out, std::string& error) {
  std::size_t i = 0;
  const std::size_t n = sql.size();
  bool space = false;
  auto push = [&](Tok type, std::string text) {
    out.push_back(Token{type, std::move(text), space});
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
      push(Tok::String, std::move(text));
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
      push(Tok::Quoted, std::move(text));
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
      push(Tok::Number, std::string(sql.substr(i, j - i)));
      i = j;
    } else if (isWordStart(c)) {
      std::size_t j = i + 1;
      while (j < n && isWordChar(sql[j])) {
        ++j;
      }
      push(Tok::Word, std::string(sql.substr(i, j - i)));
      i = j;
    } else if (c == '?') {
      push(Tok::Param, "?");
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
      i += text.size();
      push(Tok::Punct, std::move(text));
    }
  }
  return true;
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
Token punct(std::string text, bool space = false) {
  return Token{Tok::Punct, std::move(text), space};
}
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

// ------------------------------------------------------------- rewriter

class Rewriter {
 public:
  Rewriter(std::string_view sql, const RewriteContext& ctx) : sql_(sql), ctx_(ctx) {}

  RewriteResult run() {
    RewriteResult result;
    if (!tokenize(sql_, t_, error_) || !checkTokens() || !resolveNames() || !dropTableHints() ||
        !rewriteFunctions() || !rewriteTop() || !dispatch(result)) {
      result.statements.clear();
      result.error = error_.empty() ? "The statement could not be translated." : error_;
    }
    return result;
  }

 private:
  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  bool unsupported(const std::string& what) {
    return fail("Not supported by the T-SQL adapter of the embedded database: " + what + ".");
  }

  std::size_t matchParen(std::size_t open) const {
    int depth = 0;
    for (std::size_t i = open; i < t_.size(); ++i) {
      if (isPunct(t_[i], "(")) {
        ++depth;
      } else if (isPunct(t_[i], ")")) {
        if (--depth == 0) {
          return i;
        }
      }
    }
    return kNone;
  }

  // Index of the first Word `kw` at paren depth 0 in [from, to), or kNone.
  std::size_t findTop(std::string_view kw, std::size_t from, std::size_t to) const {
    int depth = 0;
    for (std::size_t i = from; i < to && i < t_.size(); ++i) {
      if (isPunct(t_[i], "(")) {
        ++depth;
      } else if (isPunct(t_[i], ")")) {
        --depth;
      } else if (depth == 0 && isKw(t_[i], kw)) {
        return i;
      }
    }
    return kNone;
  }

  // Splits [from, to) at commas of paren depth 0 into [begin, end) ranges.
  std::vector<std::pair<std::size_t, std::size_t>> splitTop(std::size_t from,
                                                            std::size_t to) const {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    int depth = 0;
    std::size_t start = from;
    for (std::size_t i = from; i < to; ++i) {
      if (isPunct(t_[i], "(")) {
        ++depth;
      } else if (isPunct(t_[i], ")")) {
        --depth;
      } else if (depth == 0 && isPunct(t_[i], ",")) {
        parts.emplace_back(start, i);
        start = i + 1;
      }
    }
    parts.emplace_back(start, to);
    return parts;
  }

  Tokens slice(std::size_t from, std::size_t to) const {
    return Tokens(t_.begin() + static_cast<std::ptrdiff_t>(from),
                  t_.begin() + static_cast<std::ptrdiff_t>(to));
  }

  void replace(std::size_t from, std::size_t to, Tokens with) {
    if (!with.empty() && from < t_.size()) {
      with.front().space = t_[from].space || with.front().space;
    }
    t_.erase(t_.begin() + static_cast<std::ptrdiff_t>(from),
             t_.begin() + static_cast<std::ptrdiff_t>(to));
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(from), with.begin(), with.end());
  }

  // Rejects what SQLite would read differently, and drops trailing ';'.
  bool checkTokens() {
    while (!t_.empty() && isPunct(t_.back(), ";")) {
      t_.pop_back();
    }
    if (t_.empty()) {
      return fail("The statement text is empty.");
    }
    int depth = 0;
    for (const Token& tok : t_) {
      if (isPunct(tok, "(")) {
        ++depth;
      } else if (isPunct(tok, ")")) {
        if (--depth < 0) {
          return fail("Incorrect syntax near ')'.");
        }
      } else if (isPunct(tok, ";")) {
        return unsupported("more than one statement in one text");
      } else if (tok.type == Tok::Word && tok.text[0] == '@') {
        return unsupported("the variable " + tok.text);
      } else if (tok.type == Tok::Word && tok.text[0] == '#') {
        return unsupported("the temporary table " + tok.text);
      } else if (tok.type == Tok::Number && &tok != &t_.front() && (&tok - 1)->type == Tok::Param &&
                 !tok.space) {
        return unsupported("numbered placeholders");
      } else if (isPunct(tok, ":") || isPunct(tok, "$") || isPunct(tok, "{") || isPunct(tok, "}")) {
        return fail("Incorrect syntax near '" + tok.text + "'.");
      }
    }
    if (depth != 0) {
      return fail("Incorrect syntax: unbalanced parentheses.");
    }
    return true;
  }

  // db..table, db.dbo.table and dbo.table.
  bool resolveNames() {
    for (std::size_t i = 0; i < t_.size(); ++i) {
      if (!isName(t_[i]) || (i > 0 && isPunct(t_[i - 1], "."))) {
        continue;
      }
      const bool twoDots = i + 3 < t_.size() && isPunct(t_[i + 1], ".") &&
                           isPunct(t_[i + 2], ".") && isName(t_[i + 3]);
      const bool dboMiddle = i + 4 < t_.size() && isPunct(t_[i + 1], ".") && isName(t_[i + 2]) &&
                             equalsNoCase(nameOf(t_[i + 2]), "dbo") && isPunct(t_[i + 3], ".") &&
                             isName(t_[i + 4]);
      if (twoDots || dboMiddle) {
        const std::size_t tableAt = twoDots ? i + 3 : i + 4;
        const std::string db = nameOf(t_[i]);
        Token schema = t_[i];
        if (equalsNoCase(db, ctx_.targetDatabase)) {
          schema = Token{Tok::Word, "main", t_[i].space};
        } else if (!ctx_.isAttached || !ctx_.isAttached(db)) {
          return fail("Invalid object name '" + db + ".." + nameOf(t_[tableAt]) + "'.");
        }
        replace(i, tableAt + 1, {schema, punct("."), t_[tableAt]});
        continue;
      }
      if (i + 2 < t_.size() && equalsNoCase(nameOf(t_[i]), "dbo") && isPunct(t_[i + 1], ".") &&
          isName(t_[i + 2])) {
        replace(i, i + 2, {});
      }
    }
    return true;
  }

  // with (nolock) and its kin after a table or alias. A CTE's WITH is
  // followed by a name, never by '(', so the two cannot be confused.
  bool dropTableHints() {
    static constexpr std::array<std::string_view, 14> kHints = {
        "nolock",   "readuncommitted", "readcommitted", "repeatableread", "serializable",
        "holdlock", "rowlock",         "paglock",       "tablock",        "tablockx",
        "updlock",  "xlock",           "readpast",      "nowait"};
    for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
      if (!isKw(t_[i], "with") || !isPunct(t_[i + 1], "(")) {
        continue;
      }
      const std::size_t close = matchParen(i + 1);
      for (std::size_t k = i + 2; k < close; ++k) {
        if (isPunct(t_[k], ",")) {
          continue;
        }
        const bool known = t_[k].type == Tok::Word &&
                           std::any_of(kHints.begin(), kHints.end(), [&](std::string_view h) {
                             return equalsNoCase(t_[k].text, h);
                           });
        if (!known) {
          return unsupported("the table hint '" + t_[k].text + "'");
        }
      }
      replace(i, close + 1, {});
      --i;
    }
    return true;
  }

  // Maps a T-SQL type (tokens of `varchar(20)` and the like) applied to
  // `expr`. Returns false with the error set for a type it cannot give.
  bool convertTo(const Tokens& type, Tokens expr, Tokens& out) {
    if (type.empty() || type[0].type != Tok::Word) {
      return fail("Incorrect syntax in a type name.");
    }
    const std::string name = lowered(type[0].text);
    if (!expr.empty()) {
      expr.front().space = false;
    }
    auto wrapCast = [&](std::string_view to) {
      out = {word("CAST"), punct("(")};
      out.insert(out.end(), expr.begin(), expr.end());
      out.push_back(word("AS"));
      out.push_back(word(std::string(to)));
      out.push_back(punct(")"));
    };
    if (name == "varchar" || name == "nvarchar" || name == "char" || name == "nchar") {
      std::string length = "30";  // SQL Server's default length in CONVERT and CAST
      if (type.size() > 1) {
        if (type.size() != 4 || !isPunct(type[1], "(") || !isPunct(type[3], ")") ||
            !(type[2].type == Tok::Number || isKw(type[2], "max"))) {
          return fail("Incorrect syntax in the type " + render(type) + ".");
        }
        length = isKw(type[2], "max") ? "0" : type[2].text;
      }
      const bool pad = name == "char" || name == "nchar";
      out = {word("tsql_convert_text"), punct("("), number(length), punct(","),
             number(pad ? "1" : "0"),   punct(",")};
      out.insert(out.end(), expr.begin(), expr.end());
      out.push_back(punct(")"));
      return true;
    }
    if (type.size() == 1 &&
        (name == "int" || name == "bigint" || name == "smallint" || name == "tinyint")) {
      wrapCast("INTEGER");
      return true;
    }
    if (name == "decimal" || name == "numeric" || name == "money") {
      wrapCast("NUMERIC");
      return true;
    }
    if (type.size() == 1 && (name == "float" || name == "real")) {
      wrapCast("REAL");
      return true;
    }
    if (type.size() == 1 && (name == "datetime" || name == "date" || name == "smalldatetime")) {
      out = {punct("(", true)};
      out.insert(out.end(), expr.begin(), expr.end());
      out.push_back(punct(")"));
      return true;
    }
    return unsupported("conversion to the type " + render(type));
  }

  // Function names and calls whose meaning differs. Walks backwards so that
  // the arguments of a call are already rewritten when the call itself is.
  bool rewriteFunctions() {
    for (std::size_t i = t_.size(); i-- > 0;) {
      if (t_[i].type != Tok::Word || i + 1 >= t_.size() || !isPunct(t_[i + 1], "(")) {
        continue;
      }
      if (i > 0 && isPunct(t_[i - 1], ".")) {
        continue;  // a qualified name, not a function
      }
      const std::string name = lowered(t_[i].text);
      if (name == "isnull") {
        t_[i].text = "ifnull";
      } else if (name == "len") {
        t_[i].text = "tsql_len";
      } else if (name == "left") {
        t_[i].text = "tsql_left";
      } else if (name == "right") {
        t_[i].text = "tsql_right";
      } else if (name == "substring") {
        t_[i].text = "substr";
      } else if (name == "getdate") {
        const std::size_t close = matchParen(i + 1);
        if (close != i + 2) {
          return fail("The getdate function requires 0 argument(s).");
        }
        // 'now' is fixed for the whole statement, as SQL Server evaluates
        // getdate() once per statement.
        replace(i, close + 1,
                {word("strftime"), punct("("), stringLiteral("%Y-%m-%d %H:%M:%f"), punct(","),
                 stringLiteral("now"), punct(","), stringLiteral("localtime"), punct(")")});
      } else if (name == "convert") {
        const std::size_t close = matchParen(i + 1);
        const auto args = splitTop(i + 2, close);
        if (args.size() == 3) {
          return unsupported("convert with a style");
        }
        if (args.size() != 2) {
          return fail("Incorrect syntax in convert: it takes a type and a value.");
        }
        Tokens out;
        if (!convertTo(slice(args[0].first, args[0].second), slice(args[1].first, args[1].second),
                       out)) {
          return false;
        }
        replace(i, close + 1, std::move(out));
      } else if (name == "cast") {
        const std::size_t close = matchParen(i + 1);
        std::size_t as = kNone;
        for (std::size_t k = i + 2; k < close; ++k) {
          if (isKw(t_[k], "as")) {
            as = k;  // the last AS outside nested parentheses
          } else if (isPunct(t_[k], "(")) {
            k = matchParen(k);
          }
        }
        if (as == kNone) {
          return fail("Incorrect syntax in cast: AS is missing.");
        }
        Tokens out;
        if (!convertTo(slice(as + 1, close), slice(i + 2, as), out)) {
          return false;
        }
        replace(i, close + 1, std::move(out));
      }
    }
    return true;
  }

  // select [distinct] top n ... -> select [distinct] ... LIMIT n, placed at
  // the end of the select's own scope (its closing parenthesis or the end).
  bool rewriteTop() {
    if (t_.size() > 1 && isKw(t_[1], "top") &&
        (isKw(t_[0], "update") || isKw(t_[0], "delete") || isKw(t_[0], "insert"))) {
      return unsupported("TOP in " + lowered(t_[0].text));
    }
    for (std::size_t i = t_.size(); i-- > 0;) {
      if (!isKw(t_[i], "select")) {
        continue;
      }
      std::size_t k = i + 1;
      if (k < t_.size() && (isKw(t_[k], "distinct") || isKw(t_[k], "all"))) {
        ++k;
      }
      if (k >= t_.size() || !isKw(t_[k], "top")) {
        continue;
      }
      Tokens count;
      std::size_t after = k + 2;
      if (k + 1 < t_.size() && t_[k + 1].type == Tok::Number) {
        count = {t_[k + 1]};
      } else if (k + 1 < t_.size() && isPunct(t_[k + 1], "(")) {
        const std::size_t close = matchParen(k + 1);
        count = slice(k + 1, close + 1);
        after = close + 1;
      } else {
        return fail("Incorrect syntax near 'top'.");
      }
      if (after < t_.size() &&
          (isKw(t_[after], "percent") ||
           (isKw(t_[after], "with") && after + 1 < t_.size() && isKw(t_[after + 1], "ties")))) {
        return unsupported("TOP with PERCENT or WITH TIES");
      }
      replace(k, after, {});
      // The scope ends at the parenthesis that closes the select, or at the
      // end of the statement.
      std::size_t end = t_.size();
      int depth = 0;
      for (std::size_t m = k; m < t_.size(); ++m) {
        if (isPunct(t_[m], "(")) {
          ++depth;
        } else if (isPunct(t_[m], ")")) {
          if (depth-- == 0) {
            end = m;
            break;
          }
        } else if (depth == 0 && (isKw(t_[m], "union") || isKw(t_[m], "except") ||
                                  isKw(t_[m], "intersect") || isKw(t_[m], "limit"))) {
          return unsupported("TOP together with " + t_[m].text);
        }
      }
      Tokens limit = {word("LIMIT")};
      for (Token c : count) {
        limit.push_back(std::move(c));
      }
      limit[1].space = true;
      t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(end), limit.begin(), limit.end());
    }
    return true;
  }

  // A table name at `at`: name or schema.name. Sets `end` past it.
  struct NameRef {
    std::string schema;
    std::string name;
    std::size_t end = kNone;
  };

  std::optional<NameRef> tableName(std::size_t at) const {
    if (at >= t_.size() || !isName(t_[at])) {
      return std::nullopt;
    }
    if (at + 2 < t_.size() && isPunct(t_[at + 1], ".") && isName(t_[at + 2])) {
      return NameRef{nameOf(t_[at]), nameOf(t_[at + 2]), at + 3};
    }
    return NameRef{"", nameOf(t_[at]), at + 1};
  }

  bool dispatch(RewriteResult& result) {
    const Token& first = t_[0];
    if (isKw(first, "select") || isKw(first, "with")) {
      result.kind = SqlKind::Query;
      if (isKw(first, "select")) {
        const std::size_t into = findTop("into", 1, t_.size());
        if (into != kNone) {
          return unsupported("SELECT ... INTO");
        }
      }
    } else if (isKw(first, "insert")) {
      result.kind = SqlKind::Change;
      if (t_.size() < 2 || !isKw(t_[1], "into")) {
        t_.insert(t_.begin() + 1, word("INTO"));
      }
    } else if (isKw(first, "delete")) {
      result.kind = SqlKind::Change;
      if (t_.size() < 2 || !isKw(t_[1], "from")) {
        t_.insert(t_.begin() + 1, word("FROM"));
      }
      if (findTop("from", 2, t_.size()) != kNone) {
        return unsupported("DELETE with a second FROM clause");
      }
    } else if (isKw(first, "update")) {
      result.kind = SqlKind::Change;
      if (!rewriteUpdate()) {
        return false;
      }
    } else if (isKw(first, "truncate")) {
      result.kind = SqlKind::Other;
      const auto name = tableName(2);
      if (t_.size() < 3 || !isKw(t_[1], "table") || !name || name->end != t_.size()) {
        return fail("Incorrect syntax in truncate table: one table name is expected.");
      }
      replace(0, 2, {word("DELETE"), word("FROM")});
    } else if (isKw(first, "alter")) {
      result.kind = SqlKind::Other;
      if (t_.size() > 1 && isKw(t_[1], "table")) {
        const auto name = tableName(2);
        if (name && name->end < t_.size() &&
            (isKw(t_[name->end], "enable") || isKw(t_[name->end], "disable"))) {
          return triggerSwitch(*name, isKw(t_[name->end], "disable"), result);
        }
      }
    } else if (isKw(first, "create") || isKw(first, "drop")) {
      result.kind = SqlKind::Other;
    } else if ((isKw(first, "save") || isKw(first, "rollback")) && t_.size() == 3 &&
               (isKw(t_[1], "transaction") || isKw(t_[1], "tran")) &&
               t_[2].type == Tok::Word) {
      // A named savepoint and the return to it: what a rehearsal makes of
      // the run's commits and rollbacks. Plain transaction statements stay
      // refused below, since the session owns the transaction.
      result.kind = SqlKind::Other;
      if (isKw(first, "save")) {
        replace(0, 2, {word("SAVEPOINT")});
      } else {
        replace(0, 2, {word("ROLLBACK"), word("TO"), word("SAVEPOINT")});
      }
    } else if (isKw(first, "begin") || isKw(first, "commit") || isKw(first, "rollback") ||
               isKw(first, "save")) {
      return unsupported("transaction statements in a text (the session commits and rolls back)");
    } else {
      return unsupported("a statement that begins with '" + first.text + "'");
    }
    result.statements.push_back(render(t_));
    return true;
  }

  // ALTER TABLE t disable|enable TRIGGER all.
  bool triggerSwitch(const NameRef& name, bool disable, RewriteResult& result) {
    const std::size_t at = name.end + 1;
    if (at + 2 != t_.size() || !isKw(t_[at], "trigger")) {
      return fail("Incorrect syntax in ALTER TABLE ... TRIGGER.");
    }
    if (!isKw(t_[at + 1], "all")) {
      return unsupported("switching a single trigger (only TRIGGER ALL)");
    }
    const std::string schema = quoteName(name.schema.empty() ? "main" : name.schema);
    const std::string table = stringLiteral(name.name).text;
    const std::string missing =
        stringLiteral("Cannot find the object \"" + name.name +
                      "\" because it does not exist or you do not have permissions.")
            .text;
    result.statements.push_back(
        "SELECT tsql_error(" + missing + ") WHERE NOT EXISTS (SELECT 1 FROM " + schema +
        ".sqlite_master WHERE type = 'table' AND name = " + table + " COLLATE NOCASE)");
    if (disable) {
      result.statements.push_back("INSERT OR IGNORE INTO " + schema +
                                  ".tsql_trigger_off (table_name) VALUES (" + table + ")");
    } else {
      result.statements.push_back("DELETE FROM " + schema +
                                  ".tsql_trigger_off WHERE table_name = " + table);
    }
    return true;
  }

  // UPDATE target SET ... [FROM list] [WHERE ...] in SQL Server's meaning.
  bool rewriteUpdate() {
    const auto target = tableName(1);
    if (!target) {
      return fail("Incorrect syntax in update: a table name is expected.");
    }
    const std::size_t set = target->end;
    if (set >= t_.size() || !isKw(t_[set], "set")) {
      return fail("Incorrect syntax in update: SET is expected after the table.");
    }
    const std::size_t from = findTop("from", set + 1, t_.size());
    const std::size_t where = findTop("where", from == kNone ? set + 1 : from + 1, t_.size());
    const std::size_t setEnd = from != kNone ? from : (where != kNone ? where : t_.size());

    Tokens out = {t_[0]};
    Tokens targetTokens = slice(1, set);

    // SET list: a qualifier left of '=' names the target; SQLite wants the
    // bare column.
    Tokens setPart = {t_[set]};
    for (const auto& [b, e] : splitTop(set + 1, setEnd)) {
      std::size_t s = b;
      std::size_t eq = s;
      while (eq < e && !isPunct(t_[eq], "=")) {
        ++eq;
      }
      if (eq < e && eq > s + 1) {
        const bool space = t_[s].space;
        s = eq - 1;  // keep only the column before '='
        if (!isName(t_[s])) {
          return fail("Incorrect syntax in the SET list of update.");
        }
        Tokens part = slice(s, e);
        part.front().space = space;
        if (b != set + 1) {
          setPart.push_back(punct(","));
        }
        setPart.insert(setPart.end(), part.begin(), part.end());
        continue;
      }
      if (b != set + 1) {
        setPart.push_back(punct(","));
      }
      const Tokens part = slice(b, e);
      setPart.insert(setPart.end(), part.begin(), part.end());
    }

    Tokens fromPart;
    Tokens extraCondition;
    if (from != kNone) {
      const std::size_t fromEnd = where != kNone ? where : t_.size();
      bool matched = false;
      std::vector<Tokens> entries;
      for (const auto& [b, e] : splitTop(from + 1, fromEnd)) {
        const auto table = tableName(b);
        if (!table) {
          entries.push_back(slice(b, e));
          continue;
        }
        std::size_t k = table->end;
        std::string alias;
        if (k < e && isKw(t_[k], "as")) {
          ++k;
        }
        if (k < e && isName(t_[k]) && !isClauseKeyword(t_[k])) {
          alias = nameOf(t_[k]);
          ++k;
        }
        const bool sameTable =
            equalsNoCase(table->name, target->name) &&
            (target->schema.empty() || equalsNoCase(table->schema, target->schema) ||
             (table->schema.empty() && equalsNoCase(target->schema, "main")));
        const bool byAlias = target->schema.empty() && equalsNoCase(alias, target->name);
        if (!sameTable && !byAlias) {
          // The target must not hide further down a join chain.
          for (std::size_t m = k; m < e; ++m) {
            if (isName(t_[m]) && equalsNoCase(nameOf(t_[m]), target->name) &&
                !(m > 0 && isPunct(t_[m - 1], ".")) && !(m + 1 < e && isPunct(t_[m + 1], "."))) {
              return unsupported("an update whose target is joined inside its FROM list");
            }
          }
          entries.push_back(slice(b, e));
          continue;
        }
        if (matched) {
          return unsupported("an update whose target appears twice in its FROM list");
        }
        matched = true;
        // The FROM entry is the target row itself: name it in UPDATE.
        targetTokens = slice(b, table->end);
        if (!alias.empty()) {
          targetTokens.push_back(word("AS"));
          targetTokens.push_back(Token{Tok::Quoted, quoteName(alias), true});
        }
        if (k == e) {
          continue;  // a plain list entry: dropped
        }
        // T [inner] join U on C ...: keep U ... and move C into WHERE.
        if (isKw(t_[k], "inner")) {
          ++k;
        }
        if (k >= e || !isKw(t_[k], "join")) {
          return unsupported("an update whose target heads an outer or cross join");
        }
        const std::size_t on = findTop("on", k + 1, e);
        if (on == kNone) {
          return fail("Incorrect syntax in the join: ON is missing.");
        }
        std::size_t condEnd = e;
        for (std::size_t m = on + 1; m < e; ++m) {
          if (isPunct(t_[m], "(")) {
            m = matchParen(m);
          } else if (isKw(t_[m], "join") || isKw(t_[m], "inner") || isKw(t_[m], "left") ||
                     isKw(t_[m], "right") || isKw(t_[m], "full") || isKw(t_[m], "cross")) {
            condEnd = m;
            break;
          }
        }
        Tokens entry = slice(k + 1, on);
        const Tokens rest = slice(condEnd, e);
        entry.insert(entry.end(), rest.begin(), rest.end());
        entries.push_back(std::move(entry));
        extraCondition = slice(on + 1, condEnd);
      }
      for (std::size_t n = 0; n < entries.size(); ++n) {
        fromPart.push_back(n == 0 ? t_[from] : punct(","));
        fromPart.insert(fromPart.end(), entries[n].begin(), entries[n].end());
      }
    }

    Tokens wherePart;
    if (!extraCondition.empty()) {
      extraCondition.front().space = false;
      wherePart = {word("WHERE"), punct("(", true)};
      wherePart.insert(wherePart.end(), extraCondition.begin(), extraCondition.end());
      wherePart.push_back(punct(")"));
      if (where != kNone) {
        wherePart.push_back(word("AND"));
        wherePart.push_back(punct("(", true));
        Tokens rest = slice(where + 1, t_.size());
        if (!rest.empty()) {
          rest.front().space = false;
        }
        wherePart.insert(wherePart.end(), rest.begin(), rest.end());
        wherePart.push_back(punct(")"));
      }
    } else if (where != kNone) {
      wherePart = slice(where, t_.size());
    }

    if (!targetTokens.empty()) {
      targetTokens.front().space = true;
    }
    out.insert(out.end(), targetTokens.begin(), targetTokens.end());
    out.insert(out.end(), setPart.begin(), setPart.end());
    out.insert(out.end(), fromPart.begin(), fromPart.end());
    out.insert(out.end(), wherePart.begin(), wherePart.end());
    t_ = std::move(out);
    return true;
  }

  std::string_view sql_;
  const RewriteContext& ctx_;
  Tokens t_;
  std::string error_;
};

}  // namespace

RewriteResult rewriteTsql(std::string_view sql, const RewriteContext& context) {
  return Rewriter(sql, context).run();
}

std::shared_ptr<const RewriteResult> RewriteCache::rewrite(std::string_view sql,
                                                           const RewriteContext& context) {
  const auto hit = map_.find(sql);
  if (hit != map_.end()) {
    lru_.splice(lru_.begin(), lru_, hit->second);
    return hit->second->second;
  }
  auto result = std::make_shared<const RewriteResult>(rewriteTsql(sql, context));
  if (capacity_ == 0) {
    return result;
  }
  lru_.emplace_front(std::string(sql), result);
  map_.emplace(lru_.front().first, lru_.begin());
  if (lru_.size() > capacity_) {
    map_.erase(lru_.back().first);
    lru_.pop_back();
  }
  return result;
}

void RewriteCache::clear() {
  map_.clear();
  lru_.clear();
}

namespace {

class SqliteDialect final : public SqlDialect {
 public:
  void reset(std::string targetDatabase,
             std::function<bool(std::string_view)> isAttached) override {
    context_.targetDatabase = std::move(targetDatabase);
    context_.isAttached = std::move(isAttached);
    cache_.clear();
  }

  DialectTranslation translate(std::string_view sql) override {
    DialectTranslation translation;
    const auto rewritten = cache_.rewrite(sql, context_);
    if (!rewritten->ok() || rewritten->statements.empty()) {
      translation.error = SqlResult::error(
          rewritten->ok() ? std::string("The statement text is empty.") : rewritten->error);
      return translation;
    }
    translation.statements = rewritten->statements;
    translation.changesData = rewritten->kind == SqlKind::Change;
    return translation;
  }

 private:
  RewriteContext context_;
  RewriteCache cache_;
};

}  // namespace

std::unique_ptr<SqlDialect> makeSqliteDialect() { return std::make_unique<SqliteDialect>(); }

}  // namespace cvt

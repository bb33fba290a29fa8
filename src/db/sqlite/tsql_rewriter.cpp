#include "db/sqlite/tsql_rewriter.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "db/sqlite/ext/tsql_decimal_type.h"
#include "db/sqlite/tsql_forms.h"
#include "db/sqlite/tsql_syntax.h"

namespace cvt {

namespace {

using namespace tsql;  // NOLINT(google-build-using-namespace): the rewriter's own vocabulary

// ------------------------------------------------------------- rewriter

class Rewriter {
 public:
  Rewriter(std::string_view sql, const RewriteContext& ctx) : sql_(sql), ctx_(ctx) {}

  RewriteResult run() {
    RewriteResult result;
    if (!tokenize(sql_, t_, error_) || !checkTokens() || !resolveNames() || !dropTableHints() ||
        !checkFunctions() || !checkForms(t_, ctx_.types.get(), error_) || !typedSumsPass() ||
        !rewriteFunctions() || !typeComparisons() || !rewriteOperators() || !rewriteTop() ||
        !exactLiterals() || !compareLiteralsPass() || !dispatch(result)) {
      result.statements.clear();
      result.error = error_.empty() ? "The statement could not be translated." : error_;
    }
    return result;
  }

 private:
  // The SQL Server type of an expression, as far as the declarations and
  // the literals tell: what decides int or decimal arithmetic and the
  // decimal's precision and scale (tsql_decimal_type.h).
  struct ExprType {
    enum class Kind { Unknown, Int, Decimal, Text, Datetime };
    Kind kind = Kind::Unknown;
    // Int: the digits of its type (10 int, 19 bigint) or of an integer
    // literal, which SQL Server widens to exactly that beside a decimal;
    // Decimal: 0 when only the values will tell.
    int precision = 0;
    int scale = 0;
    const ColumnRule* rule = nullptr;  // a bare column's declaration

    bool isDecimal() const { return kind == Kind::Decimal; }
    // As an operand of a decimal operation.
    tsql_impl::DecType asDecimal() const {
      if (kind == Kind::Int || kind == Kind::Decimal) {
        return {precision, kind == Kind::Int ? 0 : scale};
      }
      return {};
    }
  };
  bool typedSumsPass() {
    typedSums(t_, ctx_.types.get());
    return true;
  }

  bool compareLiteralsPass() {
    compareLiterals(t_, ctx_.types.get());
    return true;
  }

  bool fail(std::string message) {
    error_ = std::move(message);
    return false;
  }

  bool unsupported(const std::string& what) {
    return fail("Not supported by the T-SQL adapter of the embedded database: " + what + ".");
  }

  std::size_t matchParen(std::size_t open) const { return tsql::matchParen(t_, open); }
  std::size_t findTop(std::string_view kw, std::size_t from, std::size_t to) const {
    return tsql::findTop(t_, kw, from, to);
  }
  std::vector<std::pair<std::size_t, std::size_t>> splitTop(std::size_t from,
                                                            std::size_t to) const {
    return tsql::splitTop(t_, from, to);
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
    // Table definitions are written for SQLite (COLLATE TSQL and the like).
    const bool ddl = isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter");
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
      } else if (!ddl && !checkDialect(static_cast<std::size_t>(&tok - t_.data()))) {
        return false;
      }
    }
    if (depth != 0) {
      return fail("Incorrect syntax: unbalanced parentheses.");
    }
    return true;
  }

  // SQLite's own operators and words, which SQL Server does not have: a
  // text that uses them fails here instead of running with SQLite's
  // meaning.
  bool checkDialect(std::size_t i) {
    const Token& tok = t_[i];
    const Token* next = i + 1 < t_.size() ? &t_[i + 1] : nullptr;
    const bool joined = next != nullptr && !next->space;
    if (isPunct(tok, "||")) {
      return unsupported("the operator || (T-SQL joins texts with +)");
    }
    if (isPunct(tok, "`")) {
      return fail("Incorrect syntax near '`'.");
    }
    if (isKw(tok, "nulls") && next != nullptr && (isKw(*next, "first") || isKw(*next, "last"))) {
      return fail("Incorrect syntax near '" + tok.text + "'.");
    }
    if (isPunct(tok, "==")) {
      return unsupported("the operator == (T-SQL compares with =)");
    }
    if (joined && ((isPunct(tok, "<") && isPunct(*next, "<")) ||
                   (isPunct(tok, ">") && isPunct(*next, ">")))) {
      return unsupported("the shift operator " + tok.text + next->text);
    }
    if (joined && isPunct(tok, "-") && isPunct(*next, ">")) {
      return unsupported("the operator ->");
    }
    if (tok.type != Tok::Word) {
      return true;
    }
    if (joined && next->type == Tok::String && (tok.text == "x" || tok.text == "X")) {
      return unsupported("the blob literal x'...' (T-SQL writes 0x...)");
    }
    static constexpr std::array<std::string_view, 11> kWords = {
        "limit",     "offset",  "glob",    "regexp",   "match", "notnull",
        "returning", "indexed", "collate", "conflict", "pragma"};
    for (std::string_view w : kWords) {
      if (equalsNoCase(tok.text, w)) {
        return unsupported(lowered(w) == "limit" ? std::string("LIMIT (T-SQL has TOP)")
                                                 : "the word " + lowered(tok.text));
      }
    }
    if (equalsNoCase(tok.text, "isnull") && (next == nullptr || !isPunct(*next, "("))) {
      return unsupported("the operator ISNULL (T-SQL writes IS NULL)");
    }
    if (i == 1 && isKw(tok, "or") && isKw(t_[0], "insert")) {
      return unsupported("INSERT OR ...");
    }
    return true;
  }

  // A name before '(' is a function call unless it is a keyword, a table
  // with its column list, a common table expression's column list or a
  // type inside convert / cast. Every call must name a T-SQL function on
  // the allow-list.
  bool checkFunctions() {
    if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
      return true;  // table definitions name types, not functions
    }
    static constexpr std::array<std::string_view, 36> kKeywords = {
        "in",     "exists",  "values", "as",     "on",       "and",   "or",   "not",
        "when",   "then",    "else",   "select", "from",     "where", "join", "into",
        "set",    "by",      "having", "union",  "all",      "any",   "some", "over",
        "using",  "between", "like",   "is",     "distinct", "top",   "with", "intersect",
        "except", "end",     "case",   "return"};
    for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
      if (t_[i].type != Tok::Word || !isPunct(t_[i + 1], "(")) {
        continue;
      }
      const std::string name = lowered(t_[i].text);
      if (std::any_of(kKeywords.begin(), kKeywords.end(),
                      [&](std::string_view k) { return name == k; })) {
        continue;
      }
      if (i > 0 && (isPunct(t_[i - 1], ".") || isKw(t_[i - 1], "into") ||
                    isKw(t_[i - 1], "insert") || isKw(t_[i - 1], "as"))) {
        continue;  // a table's column list, or the type of a cast
      }
      if (i > 1 && isPunct(t_[i - 1], "(") && isKw(t_[i - 2], "convert")) {
        continue;  // the type of a convert
      }
      const std::size_t close = matchParen(i + 1);
      if (close + 1 < t_.size() && isKw(t_[close + 1], "as")) {
        continue;  // a common table expression's column list
      }
      const auto& allowed = tsqlFunctionAllowList();
      if (std::find(allowed.begin(), allowed.end(), name) == allowed.end()) {
        return unsupported("the function " + name + " (not a T-SQL function)");
      }
      if ((name == "min" || name == "max") && splitTop(i + 2, close).size() != 1) {
        return unsupported(name + " with more than one argument");
      }
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
      out.insert(out.end(), collateTsql.begin(), collateTsql.end());
      return true;
    }
    const bool integer = type.size() == 1 && (name == "int" || name == "bigint" ||
                                              name == "smallint" || name == "tinyint");
    if (integer || name == "decimal" || name == "numeric" || name == "money") {
      // Checked as a value stored into a column of that type is: a text
      // that is no number and a value beyond the type fail as on SQL Server.
      std::string declared;
      for (const Token& t : type) {
        declared += t.text;
      }
      const ColumnRule rule = columnRule(declared);
      if (rule.kind == ColumnRule::Kind::Integer || rule.kind == ColumnRule::Kind::Decimal) {
        out = fitted(&rule, std::move(expr));
        return true;
      }
      wrapCast(integer ? "INTEGER" : "NUMERIC");
      return true;
    }
    if (type.size() == 1 && (name == "float" || name == "real")) {
      wrapCast("REAL");
      return true;
    }
    if (type.size() == 1 && name == "datetime") {
      // Read and stored as a datetime column reads and stores it.
      out = {word("tsql_fit_datetime"), punct("(")};
      out.insert(out.end(), expr.begin(), expr.end());
      out.push_back(punct(")"));
      return true;
    }
    if (type.size() == 1 && (name == "date" || name == "smalldatetime")) {
      out = {punct("(", true)};
      out.insert(out.end(), expr.begin(), expr.end());
      out.push_back(punct(")"));
      return true;
    }
    return unsupported("conversion to the type " + render(type));
  }

  // sum(x) -> tsql_sum(x, kind, scale): the sum of an int is an int (and
  // overflows as one, kind 4), of a bigint a bigint (8), of a decimal(p, s)
  // a decimal(38, s) summed exactly (0); -1 when the argument's type is
  // not known. sum(DISTINCT x) stays SQLite's.
  void rewriteSum(std::size_t at) {
    const std::size_t close = matchParen(at + 1);
    if (close == kNone || close == at + 2 || isKw(t_[at + 2], "distinct") ||
        isKw(t_[at + 2], "all") || splitTop(at + 2, close).size() != 1) {
      return;
    }
    const ExprType type = exprType(at + 2, close);
    int kind = -1;
    int scale = 0;
    if (type.kind == ExprType::Kind::Int) {
      kind = type.precision > 10 ? 8 : 4;
    } else if (type.isDecimal()) {
      kind = 0;
      scale = type.precision > 0 ? type.scale : -1;
    }
    t_[at].text = "tsql_sum";
    Token k = number(std::to_string(kind));
    k.space = true;
    Token sc = number(std::to_string(scale));
    sc.space = true;
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close),
              {punct(","), std::move(k), punct(","), std::move(sc)});
  }

  // isnull(a, b) has a's type: b is converted to it, so a varchar(2) a
  // cuts b to two characters and an int a fails on a b that is no int.
  bool isnullTakesFirstType(std::size_t at) {
    const std::size_t close = matchParen(at + 1);
    const auto args = splitTop(at + 2, close);
    if (args.size() != 2 || args[0].first == args[0].second || args[1].first == args[1].second) {
      return fail("The isnull function requires 2 argument(s).");
    }
    const ColumnRule* rule = exprType(args[0].first, args[0].second).rule;
    const auto [b, e] = args[1];
    if (rule == nullptr || (e == b + 1 && isKw(t_[b], "null")) ||
        fitsAlready(rule, b, e, operandTables_)) {
      return true;
    }
    Tokens value = slice(b, e);
    Tokens out;
    if (rule->kind == ColumnRule::Kind::Text) {
      value.front().space = true;
      out = {word("tsql_convert_text"),
             punct("("),
             number(std::to_string(rule->length)),
             punct(","),
             number(rule->pad ? "1" : "0"),
             punct(",")};
      out.insert(out.end(), value.begin(), value.end());
      out.push_back(punct(")"));
    } else if (rule->kind == ColumnRule::Kind::Decimal || rule->kind == ColumnRule::Kind::Integer) {
      out = fitted(rule, std::move(value));
    } else {
      return true;
    }
    out.front().space = t_[b].space;
    replace(b, e, std::move(out));
    return true;
  }

  // convert(varchar(n), datetime[, style]) and cast(datetime as varchar):
  // the datetime as the style writes it (0 without one). `typeAt` is the
  // type's first token; `style` is the value's own range when there is none.
  // A style applies only to a datetime; one given for a conversion to
  // datetime must be one that names a form the reading takes anyway.
  bool datetimeAsText(std::size_t typeAt, std::pair<std::size_t, std::size_t> valueRange,
                      std::pair<std::size_t, std::size_t> style, Tokens& value) {
    const bool styled = style != valueRange;
    const std::string target = lowered(t_[typeAt].text);
    const bool toText =
        target == "varchar" || target == "nvarchar" || target == "char" || target == "nchar";
    if (styled && (style.second != style.first + 1 || t_[style.first].type != Tok::Number)) {
      return fail("Incorrect syntax in convert: the style is a number.");
    }
    const std::string styleText = styled ? t_[style.first].text : "0";
    if (!toText) {
      static constexpr std::array<std::string_view, 8> kReadable = {"0",   "20",  "21",  "23",
                                                                    "120", "121", "126", "112"};
      if (styled && std::none_of(kReadable.begin(), kReadable.end(),
                                 [&](std::string_view k) { return k == styleText; })) {
        return unsupported("convert with the style " + styleText);
      }
      return true;
    }
    if (exprType(valueRange.first, valueRange.second).kind != ExprType::Kind::Datetime) {
      return true;
    }
    Tokens out = {word("tsql_datetime_text"), punct("(")};
    value.front().space = false;
    out.insert(out.end(), value.begin(), value.end());
    out.push_back(punct(","));
    out.push_back(number(styleText));
    out.push_back(punct(")"));
    value = std::move(out);
    return true;
  }

  // Function names and calls whose meaning differs. Walks backwards so that
  // the arguments of a call are already rewritten when the call itself is.
  bool rewriteFunctions() {
    operandTables_ = statementTables();
    for (std::size_t i = t_.size(); i-- > 0;) {
      if (t_[i].type != Tok::Word || i + 1 >= t_.size() || !isPunct(t_[i + 1], "(")) {
        continue;
      }
      if (i > 0 && isPunct(t_[i - 1], ".")) {
        continue;  // a qualified name, not a function
      }
      const std::string name = lowered(t_[i].text);
      if (name == "sum") {
        rewriteSum(i);
        continue;
      }
      if (name == "isnull" && !isnullTakesFirstType(i)) {
        return false;
      }
      static const std::array<std::pair<std::string_view, std::string_view>, 12> kTextResults = {{
          {"isnull", "ifnull"},
          {"left", "tsql_left"},
          {"right", "tsql_right"},
          {"substring", "tsql_substring"},
          {"coalesce", "coalesce"},
          {"nullif", "nullif"},
          {"ltrim", "ltrim"},
          {"rtrim", "rtrim"},
          {"upper", "upper"},
          {"lower", "lower"},
          {"min", "min"},
          {"max", "max"},
      }};
      const auto text = std::find_if(kTextResults.begin(), kTextResults.end(),
                                     [&](const auto& entry) { return entry.first == name; });
      if (text != kTextResults.end()) {
        // A text made by a function compares by the default collation, as
        // a text column does.
        t_[i].text = std::string(text->second);
        const std::size_t close = matchParen(i + 1);
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close + 1), collateTsql.begin(),
                  collateTsql.end());
      } else if (name == "len") {
        t_[i].text = "tsql_len";
      } else if (name == "round") {
        const std::size_t close = matchParen(i + 1);
        const auto args = splitTop(i + 2, close);
        if (args.size() != 2 && args.size() != 3) {
          return fail("The round function requires 2 to 3 arguments.");
        }
        const ExprType type = exprType(args[0].first, args[0].second);
        const int precision = type.kind == ExprType::Kind::Int ? -1
                              : type.isDecimal()               ? type.precision
                                                               : 0;
        Tokens extra;
        if (args.size() == 2) {
          extra = {punct(","), number("0")};
        }
        for (const int n : {precision, type.isDecimal() ? type.scale : 0}) {
          extra.push_back(punct(","));
          extra.push_back(number(std::to_string(n)));
        }
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close), extra.begin(), extra.end());
        t_[i].text = "tsql_round";
      } else if (name == "datalength") {
        const std::size_t close = matchParen(i + 1);
        const ExprType type = exprType(i + 2, close);
        int bytes = -1;
        if (type.kind == ExprType::Kind::Int) {
          bytes = type.rule != nullptr ? type.rule->bytes : type.precision > 10 ? 8 : 4;
        } else if (type.isDecimal() && type.precision > 0) {
          bytes = type.rule != nullptr && type.rule->money ? 8
                  : type.precision <= 9                    ? 5
                  : type.precision <= 19                   ? 9
                  : type.precision <= 28                   ? 13
                                                           : 17;
        } else if (type.kind == ExprType::Kind::Datetime) {
          bytes = 8;
        } else if (type.rule != nullptr && type.rule->utf16) {
          bytes = -2;
        }
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close),
                  {punct(","), number(std::to_string(bytes))});
        t_[i].text = "tsql_datalength";
      } else if (name == "replace") {
        // The search follows the collation, as the server's does.
        t_[i].text = "tsql_replace";
        const std::size_t close = matchParen(i + 1);
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close + 1), collateTsql.begin(),
                  collateTsql.end());
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
        if (args.size() != 2 && args.size() != 3) {
          return fail("Incorrect syntax in convert: it takes a type and a value.");
        }
        Tokens value = slice(args[1].first, args[1].second);
        if (!datetimeAsText(args[0].first, args[1], args.size() == 3 ? args[2] : args[1], value)) {
          return false;
        }
        Tokens out;
        if (!convertTo(slice(args[0].first, args[0].second), std::move(value), out)) {
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
        Tokens value = slice(i + 2, as);
        if (!datetimeAsText(as + 1, {i + 2, as}, {i + 2, as}, value)) {
          return false;
        }
        Tokens out;
        if (!convertTo(slice(as + 1, close), std::move(value), out)) {
          return false;
        }
        replace(i, close + 1, std::move(out));
      }
    }
    return true;
  }

  // ------------------------------------------------- arithmetic operators

  // Words that never stand for a value: a chain of operands stops there
  // (and a sign after them is unary).
  static bool isStopWord(const Token& t) {
    static constexpr std::array<std::string_view, 36> kWords = {
        "select",    "from",     "where", "and",  "or",     "not",     "when",   "then",  "else",
        "end",       "as",       "is",    "in",   "like",   "between", "on",     "join",  "by",
        "having",    "distinct", "all",   "top",  "return", "escape",  "exists", "union", "except",
        "intersect", "values",   "set",   "into", "group",  "order",   "asc",    "desc",  "with"};
    return t.type == Tok::Word &&
           std::any_of(kWords.begin(), kWords.end(),
                       [&](std::string_view w) { return equalsNoCase(t.text, w); });
  }

  static bool isArithmetic(const Token& t) {
    return t.type == Tok::Punct && t.text.size() == 1 &&
           std::string_view("+-*/%&|^").find(t.text[0]) != std::string_view::npos;
  }

  // The END that closes the CASE at `at`, or kNone.
  std::size_t matchCase(std::size_t at, std::size_t e) const {
    int depth = 0;
    for (std::size_t i = at; i < e; ++i) {
      if (isPunct(t_[i], "(")) {
        i = matchParen(i);
      } else if (isKw(t_[i], "case")) {
        ++depth;
      } else if (isKw(t_[i], "end") && --depth == 0) {
        return i;
      }
    }
    return kNone;
  }

  // One operand starting at `i` (signs, then a literal, a placeholder, a
  // name, a call, a parenthesis or a CASE, then an optional COLLATE):
  // the index past it, or kNone when no operand starts there.
  std::size_t operandEnd(std::size_t i, std::size_t e) const {
    while (i < e && (isPunct(t_[i], "-") || isPunct(t_[i], "+") || isPunct(t_[i], "~"))) {
      ++i;
    }
    if (i >= e) {
      return kNone;
    }
    const Token& t = t_[i];
    std::size_t end = kNone;
    if (t.type == Tok::Number || t.type == Tok::String || t.type == Tok::Param) {
      end = i + 1;
    } else if (isPunct(t, "(")) {
      end = matchParen(i) + 1;
    } else if (isKw(t, "case")) {
      const std::size_t close = matchCase(i, e);
      end = close == kNone ? kNone : close + 1;
    } else if (isName(t) && !isStopWord(t)) {
      if (t.type == Tok::Word && i + 1 < e && isPunct(t_[i + 1], "(")) {
        end = matchParen(i + 1) + 1;
      } else {
        end = i + 1;
        while (end + 1 < e && isPunct(t_[end], ".") && isName(t_[end + 1])) {
          end += 2;
        }
      }
    }
    if (end != kNone && end + 1 < e && isKw(t_[end], "collate")) {
      end += 2;
    }
    return end;
  }

  // The tokens of one operand with the operators inside it rewritten.
  Tokens operandTokens(std::size_t b, std::size_t e) const {
    Tokens out;
    std::size_t i = b;
    while (i < e && (isPunct(t_[i], "-") || isPunct(t_[i], "+") || isPunct(t_[i], "~"))) {
      out.push_back(t_[i++]);
    }
    if (i < e && isPunct(t_[i], "(")) {
      const std::size_t close = matchParen(i);
      out.push_back(t_[i]);
      const Tokens inner = operatorsIn(i + 1, close);
      out.insert(out.end(), inner.begin(), inner.end());
      i = close;
    } else if (i < e && isKw(t_[i], "case")) {
      const std::size_t close = matchCase(i, e);
      out.push_back(t_[i]);
      const Tokens inner = operatorsIn(i + 1, close);
      out.insert(out.end(), inner.begin(), inner.end());
      i = close;
    } else if (i + 1 < e && t_[i].type == Tok::Word && isPunct(t_[i + 1], "(")) {
      const std::size_t close = matchParen(i + 1);
      out.push_back(t_[i]);
      out.push_back(t_[i + 1]);
      const Tokens inner = operatorsIn(i + 2, close);
      out.insert(out.end(), inner.begin(), inner.end());
      i = close;
    }
    for (; i < e; ++i) {
      out.push_back(t_[i]);
    }
    return out;
  }

  // function(a, b), or the decimal form function(a, b, p1, s1, p2, s2) when
  // either operand is a decimal (see tsql_add).
  static Tokens call(std::string_view function, Tokens a, Tokens b, const ExprType& ta,
                     const ExprType& tb) {
    if (!a.empty()) {
      a.front().space = false;
    }
    if (!b.empty()) {
      b.front().space = true;
    }
    Tokens out = {word(std::string(function)), punct("(")};
    out.insert(out.end(), a.begin(), a.end());
    out.push_back(punct(","));
    out.insert(out.end(), b.begin(), b.end());
    if (ta.isDecimal() || tb.isDecimal()) {
      const tsql_impl::DecType x = ta.asDecimal();
      const tsql_impl::DecType y = tb.asDecimal();
      for (const int n : {x.precision, x.scale, y.precision, y.scale}) {
        out.push_back(punct(","));
        Token t = number(std::to_string(n));
        t.space = true;
        out.push_back(std::move(t));
      }
    }
    out.push_back(punct(")"));
    return out;
  }

  // The tokens [b, e) with every chain of operands joined by + - * / %
  // turned into calls of the functions that give SQL Server's outcome
  // (see tsql_add), keeping T-SQL's precedence: * / % before + -, left to
  // right. & | ^ stay SQLite's, which agree.
  Tokens operatorsIn(std::size_t b, std::size_t e) const {
    Tokens out;
    std::size_t i = b;
    while (i < e) {
      std::size_t end = operandEnd(i, e);
      if (end == kNone) {
        if (isPunct(t_[i], "(")) {
          const std::size_t close = matchParen(i);
          out.push_back(t_[i]);
          const Tokens inner = operatorsIn(i + 1, close);
          out.insert(out.end(), inner.begin(), inner.end());
          out.push_back(t_[close]);
          i = close + 1;
        } else {
          out.push_back(t_[i++]);
        }
        continue;
      }
      std::vector<std::pair<std::size_t, std::size_t>> operands = {{i, end}};
      std::vector<std::string> ops;
      while (end < e && isArithmetic(t_[end])) {
        const std::size_t next = operandEnd(end + 1, e);
        if (next == kNone) {
          break;
        }
        ops.push_back(t_[end].text);
        operands.emplace_back(end + 1, next);
        end = next;
      }
      // * / % first, then + - & | ^ from left to right, each call typed by
      // its operands (see ExprType).
      std::vector<Tokens> terms;
      std::vector<ExprType> termTypes;
      std::vector<std::string> termOps;
      Tokens current = operandTokens(operands[0].first, operands[0].second);
      ExprType type = operandType(operands[0].first, operands[0].second);
      for (std::size_t k = 0; k < ops.size(); ++k) {
        Tokens operand = operandTokens(operands[k + 1].first, operands[k + 1].second);
        const ExprType operandT = operandType(operands[k + 1].first, operands[k + 1].second);
        if (ops[k] == "*" || ops[k] == "/" || ops[k] == "%") {
          const char* fn = ops[k] == "*"   ? "tsql_multiply"
                           : ops[k] == "/" ? "tsql_divide"
                                           : "tsql_modulo";
          current = call(fn, std::move(current), std::move(operand), type, operandT);
          type = combine(ops[k], type, operandT);
        } else {
          terms.push_back(std::move(current));
          termTypes.push_back(type);
          termOps.push_back(ops[k]);
          current = std::move(operand);
          type = operandT;
        }
      }
      terms.push_back(std::move(current));
      termTypes.push_back(type);
      Tokens chain = std::move(terms[0]);
      type = termTypes[0];
      for (std::size_t k = 0; k < termOps.size(); ++k) {
        const ExprType next = termTypes[k + 1];
        if (termOps[k] == "+") {
          // A '+' may join texts: its result compares as a text column.
          chain = call("tsql_add", std::move(chain), std::move(terms[k + 1]), type, next);
          chain.insert(chain.end(), collateTsql.begin(), collateTsql.end());
        } else if (termOps[k] == "-") {
          chain = call("tsql_subtract", std::move(chain), std::move(terms[k + 1]), type, next);
        } else {
          chain.push_back(punct(termOps[k], true));
          terms[k + 1].front().space = true;
          chain.insert(chain.end(), terms[k + 1].begin(), terms[k + 1].end());
        }
        type = combine(termOps[k], type, next);
      }
      if (!chain.empty()) {
        chain.front().space = t_[i].space;
      }
      out.insert(out.end(), chain.begin(), chain.end());
      i = end;
    }
    return out;
  }

  // The start of the expression that ends just before `at`: back over
  // operands and arithmetic to the word, comma or parenthesis before it.
  std::size_t expressionStart(std::size_t at) const {
    std::size_t i = at;
    while (i > 0) {
      const Token& t = t_[i - 1];
      if (isPunct(t, ")")) {
        int depth = 0;
        std::size_t k = i - 1;
        for (;; --k) {
          if (isPunct(t_[k], ")")) {
            ++depth;
          } else if (isPunct(t_[k], "(") && --depth == 0) {
            break;
          }
          if (k == 0) {
            return at;
          }
        }
        i = k;
        if (i > 0 && t_[i - 1].type == Tok::Word && !isStopWord(t_[i - 1])) {
          --i;  // a function's name
        }
        continue;
      }
      if (isKw(t, "end")) {
        return at;  // a CASE: left alone
      }
      if (t.type == Tok::Number || t.type == Tok::String || t.type == Tok::Param ||
          isArithmetic(t) || isPunct(t, ".") || (isName(t) && !isStopWord(t))) {
        --i;
        continue;
      }
      break;
    }
    return i;
  }

  static bool isComparisonOp(const Token& t) {
    return t.type == Tok::Punct &&
           (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
            t.text == "<=" || t.text == ">=" || t.text == "!<" || t.text == "!>");
  }

  static Tokens wrapIn(std::string_view function, Tokens value, const std::string& extra = "") {
    const bool space = value.empty() || value.front().space;
    if (!value.empty()) {
      value.front().space = false;
    }
    Tokens out = {word(std::string(function)), punct("(")};
    out.front().space = space;
    out.insert(out.end(), value.begin(), value.end());
    if (!extra.empty()) {
      out.push_back(punct(","));
      out.push_back(number(extra));
    }
    out.push_back(punct(")"));
    return out;
  }

  // A comparison converts as SQL Server converts: a text beside an int is
  // read as an int (failing like it: 'abc' = 7), beside a decimal as a
  // number; a text literal beside a datetime as a datetime; two texts of
  // which neither is a column compare under the default collation.
  bool typeComparisons() {
    if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
      return true;
    }
    // UPDATE's SET assigns with '=' at its own level.
    std::size_t setBegin = kNone;
    std::size_t setEnd = kNone;
    if (isKw(t_[0], "update")) {
      setBegin = findTop("set", 1, t_.size());
      if (setBegin != kNone) {
        setEnd =
            std::min(findTop("where", setBegin, t_.size()), findTop("from", setBegin, t_.size()));
        setEnd = setEnd == kNone ? t_.size() : setEnd;
      }
    }
    int depth = 0;
    std::vector<std::size_t> operators;
    for (std::size_t k = 0; k < t_.size(); ++k) {
      if (isPunct(t_[k], "(")) {
        ++depth;
      } else if (isPunct(t_[k], ")")) {
        --depth;
      } else if (isComparisonOp(t_[k]) &&
                 !(depth == 0 && setBegin != kNone && k > setBegin && k < setEnd)) {
        operators.push_back(k);
      }
    }
    for (auto it = operators.rbegin(); it != operators.rend(); ++it) {
      const std::size_t k = *it;
      const std::size_t b = expressionStart(k);
      std::size_t e = operandEnd(k + 1, t_.size());
      while (e != kNone && e < t_.size() && isArithmetic(t_[e])) {
        e = operandEnd(e + 1, t_.size());
      }
      if (b == k || e == kNone) {
        continue;
      }
      const ExprType left = exprType(b, k);
      const ExprType right = exprType(k + 1, e);
      using Kind = ExprType::Kind;
      const auto number = [](const ExprType& x) {
        return x.kind == Kind::Int || x.kind == Kind::Decimal;
      };
      // Right side first, so that the left's indices hold.
      const auto convert = [&](std::size_t from, std::size_t to, const ExprType& other) {
        Tokens value = slice(from, to);
        replace(from, to,
                other.kind == Kind::Int ? wrapIn("tsql_fit_int", std::move(value), "4")
                                        : wrapIn("tsql_number", std::move(value)));
      };
      const bool literalRight = e == k + 2 && t_[k + 1].type == Tok::String;
      const bool literalLeft = k == b + 1 && t_[b].type == Tok::String;
      if (right.kind == Kind::Text && number(left)) {
        convert(k + 1, e, left);
      } else if (left.kind == Kind::Text && number(right)) {
        convert(b, k, right);
      } else if (left.kind == Kind::Datetime && literalRight) {
        replace(k + 1, e, wrapIn("tsql_fit_datetime", slice(k + 1, e)));
      } else if (right.kind == Kind::Datetime && literalLeft) {
        replace(b, k, wrapIn("tsql_fit_datetime", slice(b, k)));
      } else if (left.kind == Kind::Text && right.kind == Kind::Text && left.rule == nullptr &&
                 right.rule == nullptr && (literalLeft || literalRight)) {
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(k), collateTsql.begin(),
                  collateTsql.end());
      }
    }
    // LIKE ignores the trailing blanks of the value it matches (a char(n)
    // value matches 'ab' as well as 'ab%'); the pattern's own count.
    for (std::size_t k = t_.size(); k-- > 1;) {
      if (!isKw(t_[k], "like")) {
        continue;
      }
      const std::size_t at = isKw(t_[k - 1], "not") ? k - 1 : k;
      const std::size_t b = expressionStart(at);
      if (b == at) {
        continue;
      }
      t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(at), punct(")"));
      Token open = word("rtrim");
      open.space = t_[b].space;
      t_[b].space = false;
      t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(b), {open, punct("(")});
    }
    return true;
  }

  bool rewriteOperators() {
    if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter") ||
        std::none_of(t_.begin(), t_.end(), [](const Token& t) {
          return isArithmetic(t) && t.text != "&" && t.text != "|" && t.text != "^";
        })) {
      return true;  // nothing to rewrite: most texts carry no operator
    }
    operandTables_ = statementTables();
    t_ = operatorsIn(0, t_.size());
    return true;
  }

  // A table of a select's FROM clause, under the name the select uses.
  struct SourceTable {
    std::string name;  // its alias, else its name
    const TableColumns* columns = nullptr;
  };

  // Every table the statement names after FROM, JOIN, UPDATE, INTO or a
  // comma, under the name the statement uses for it.
  std::vector<SourceTable> statementTables() const {
    std::vector<SourceTable> out;
    if (!ctx_.types) {
      return out;
    }
    for (std::size_t i = 1; i < t_.size(); ++i) {
      const Token& before = t_[i - 1];
      if (!isKw(before, "from") && !isKw(before, "join") && !isKw(before, "update") &&
          !isKw(before, "into") && !isPunct(before, ",")) {
        continue;
      }
      const auto table = tableName(i);
      const TableColumns* columns = table ? ctx_.types->find(table->schema, table->name) : nullptr;
      if (columns == nullptr) {
        continue;
      }
      SourceTable source{table->name, columns};
      std::size_t k = table->end;
      if (k < t_.size() && isKw(t_[k], "as")) {
        ++k;
      }
      if (k < t_.size() && isName(t_[k]) && !isClauseKeyword(t_[k])) {
        source.name = nameOf(t_[k]);
      }
      out.push_back(std::move(source));
    }
    return out;
  }

  // ------------------------------------------------------ expression types

  static int intDigits(int bytes) { return bytes == 1 ? 3 : bytes == 2 ? 5 : bytes == 8 ? 19 : 10; }

  static ExprType typeOfRule(const ColumnRule* rule) {
    ExprType t;
    if (rule == nullptr) {
      return t;
    }
    t.rule = rule;
    switch (rule->kind) {
      case ColumnRule::Kind::Decimal:
        t.kind = ExprType::Kind::Decimal;
        t.precision = rule->precision;
        t.scale = rule->scale;
        break;
      case ColumnRule::Kind::Integer:
        t.kind = ExprType::Kind::Int;
        t.precision = intDigits(rule->bytes);
        break;
      case ColumnRule::Kind::Text:
        t.kind = ExprType::Kind::Text;
        break;
      case ColumnRule::Kind::Datetime:
        t.kind = ExprType::Kind::Datetime;
        break;
      default:
        break;
    }
    return t;
  }

  // A number literal: an integer of int's range is an int, a longer one or
  // one with a point is numeric of exactly its digits; with an exponent it
  // is a float (unknown here).
  static ExprType typeOfNumber(const std::string& text) {
    ExprType t;
    if (text.find_first_of("eE") != std::string::npos) {
      return t;
    }
    const std::size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    const int scale = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
    const int digits = static_cast<int>(whole.size()) + scale;
    if (point == std::string::npos &&
        (whole.size() < 10 || (whole.size() == 10 && whole <= "2147483647"))) {
      t.kind = ExprType::Kind::Int;
      t.precision = std::max(1, digits);
      return t;
    }
    t.kind = ExprType::Kind::Decimal;
    t.precision = std::min(tsql_impl::kMaxPrecision, std::max({1, digits, scale}));
    t.scale = std::min(scale, t.precision);
    return t;
  }

  // The column a name or qualified name [b, e) stands for in the
  // statement's tables; nullptr when unknown or ambiguous.
  const ColumnRule* columnAt(std::size_t b, std::size_t e,
                             const std::vector<SourceTable>& tables) const {
    std::string qualifier;
    std::string column;
    if (e == b + 1 && isName(t_[b])) {
      column = nameOf(t_[b]);
    } else if (e == b + 3 && isName(t_[b]) && isPunct(t_[b + 1], ".") && isName(t_[b + 2])) {
      qualifier = nameOf(t_[b]);
      column = nameOf(t_[b + 2]);
    } else {
      return nullptr;
    }
    const ColumnRule* found = nullptr;
    for (const SourceTable& table : tables) {
      if (table.columns == nullptr ||
          (!qualifier.empty() && !equalsNoCase(table.name, qualifier))) {
        continue;
      }
      if (const ColumnRule* rule = table.columns->find(column)) {
        if (found != nullptr) {
          return nullptr;
        }
        found = rule;
      }
    }
    return found;
  }

  static int numberArg(const Token& t) {
    return t.type == Tok::Number ? std::atoi(t.text.c_str()) : 0;
  }

  // The type of one operand [b, e) (see operandEnd), after the functions
  // have been rewritten.
  ExprType operandType(std::size_t b, std::size_t e) const {
    while (b < e && (isPunct(t_[b], "-") || isPunct(t_[b], "+"))) {
      ++b;
    }
    if (e >= b + 3 && isKw(t_[e - 2], "collate")) {
      e -= 2;
    }
    if (b >= e) {
      return {};
    }
    const Token& t = t_[b];
    if (e == b + 1) {
      if (t.type == Tok::Number) {
        return typeOfNumber(t.text);
      }
      if (t.type == Tok::String) {
        ExprType text;
        text.kind = ExprType::Kind::Text;
        return text;
      }
    }
    if (isPunct(t, "(") && matchParen(b) + 1 == e) {
      return exprType(b + 1, e - 1);
    }
    if (t.type == Tok::Word && b + 1 < e && isPunct(t_[b + 1], "(") && matchParen(b + 1) + 1 == e) {
      const std::string name = lowered(t.text);
      const auto args = splitTop(b + 2, e - 1);
      ExprType out;
      if (name == "tsql_fit_decimal" && args.size() == 4) {
        out.kind = ExprType::Kind::Decimal;
        out.precision = numberArg(t_[args[1].first]);
        out.scale = numberArg(t_[args[2].first]);
      } else if (name == "tsql_fit_int" && args.size() == 2) {
        out.kind = ExprType::Kind::Int;
        out.precision = intDigits(numberArg(t_[args[1].first]));
      } else if (name == "tsql_sum" && args.size() == 3) {
        const int kind = numberArg(t_[args[1].first]);
        if (kind == 4 || kind == 8) {
          out.kind = ExprType::Kind::Int;
          out.precision = intDigits(kind);
        } else if (kind == 0) {
          out.kind = ExprType::Kind::Decimal;
          out.precision = tsql_impl::kMaxPrecision;
          out.scale = numberArg(t_[args[2].first]);
        }
      } else if ((name == "ifnull" || name == "abs" || name == "tsql_round" ||
                  name == "coalesce") &&
                 !args.empty()) {
        out = exprType(args[0].first, args[0].second);
        out.rule = name == "ifnull" ? out.rule : nullptr;
      } else if (name == "count" || name == "tsql_len" || name == "tsql_datalength") {
        out.kind = ExprType::Kind::Int;
        out.precision = 10;
      } else if (name == "tsql_convert_text" || name == "tsql_left" || name == "tsql_right" ||
                 name == "tsql_substring" || name == "ltrim" || name == "rtrim" ||
                 name == "upper" || name == "lower" || name == "tsql_replace") {
        out.kind = ExprType::Kind::Text;
      } else if (name == "min" || name == "max") {
        out = exprType(b + 2, e - 1);
        out.rule = nullptr;
      } else if (name == "tsql_fit_datetime" || name == "strftime") {
        out.kind = ExprType::Kind::Datetime;
      }
      return out;
    }
    return typeOfRule(columnAt(b, e, operandTables_));
  }

  // The type of `a op b`.
  static ExprType combine(const std::string& op, const ExprType& a, const ExprType& b) {
    ExprType out;
    if (a.isDecimal() || b.isDecimal()) {
      out.kind = ExprType::Kind::Decimal;
      const tsql_impl::DecType x = a.asDecimal();
      const tsql_impl::DecType y = b.asDecimal();
      if (x.precision > 0 && y.precision > 0 && op.size() == 1) {
        const tsql_impl::DecOp dop = op == "+"   ? tsql_impl::DecOp::Add
                                     : op == "-" ? tsql_impl::DecOp::Subtract
                                     : op == "*" ? tsql_impl::DecOp::Multiply
                                     : op == "/" ? tsql_impl::DecOp::Divide
                                                 : tsql_impl::DecOp::Modulo;
        const tsql_impl::DecType r = tsql_impl::decResultType(dop, x, y);
        out.precision = r.precision;
        out.scale = r.scale;
      }
      return out;
    }
    if (a.kind == ExprType::Kind::Int && b.kind == ExprType::Kind::Int) {
      out.kind = ExprType::Kind::Int;
      out.precision = a.precision > 10 || b.precision > 10 ? 19 : 10;
    }
    return out;
  }

  // The type of the expression [b, e): operands joined by + - * / %.
  ExprType exprType(std::size_t b, std::size_t e) const {
    std::size_t end = operandEnd(b, e);
    if (end == kNone) {
      return {};
    }
    ExprType term = operandType(b, end);
    ExprType sum;
    std::string sumOp;
    while (end < e && isArithmetic(t_[end])) {
      const std::string op = t_[end].text;
      const std::size_t next = operandEnd(end + 1, e);
      if (next == kNone) {
        return {};
      }
      const ExprType operand = operandType(end + 1, next);
      if (op == "*" || op == "/" || op == "%") {
        term = combine(op, term, operand);
      } else {
        sum = sumOp.empty() ? term : combine(sumOp, sum, term);
        sumOp = op;
        term = operand;
      }
      end = next;
    }
    if (end != e) {
      return {};
    }
    return sumOp.empty() ? term : combine(sumOp, sum, term);
  }

  // A number literal with more significant digits than a real keeps (15)
  // would reach SQLite as the nearest real: it becomes the exact decimal
  // (a blob of its text, see tsql_decimal.h), which the functions and the
  // fitting into a decimal column read digit for digit. Integers of 64
  // bits stay SQLite's integers.
  bool exactLiterals() {
    if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
      return true;
    }
    for (std::size_t i = 0; i < t_.size(); ++i) {
      if (t_[i].type != Tok::Number || t_[i].text.size() <= 15 ||
          t_[i].text.find_first_of("eExX") != std::string::npos) {
        continue;
      }
      const std::string& text = t_[i].text;
      const std::size_t point = text.find('.');
      std::string digits = text.substr(0, point);
      std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
      while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
      }
      digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
      const std::string significant =
          digits.empty()
              ? fraction.substr(std::min(fraction.find_first_not_of('0'), fraction.size()))
              : digits + fraction;
      if (significant.size() <= 15 || (fraction.empty() && digits.size() <= 18)) {
        continue;
      }
      const std::string canonical =
          (digits.empty() ? std::string("0") : digits) + (fraction.empty() ? "" : "." + fraction);
      Tokens exact = {word("CAST"), punct("("),   stringLiteral(canonical),
                      word("AS"),   word("BLOB"), punct(")")};
      exact.front().space = t_[i].space;
      replace(i, i + 1, std::move(exact));
      i += 5;
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

  // DELETE FROM target FROM list [WHERE ...]: the target is a table of the
  // list (by its alias or its name) whose joined rows go. SQLite deletes
  // from one table only, so the rows are chosen by a query of the list.
  bool deleteFromJoin(std::size_t from) {
    const auto target = tableName(2);
    if (!target || target->end != from) {
      return fail("Incorrect syntax near the keyword 'from'.");
    }
    const std::size_t where = findTop("where", from + 1, t_.size());
    const std::size_t listEnd = where == kNone ? t_.size() : where;
    // The table that the target names: a table of the list with that
    // alias, or the target itself.
    Tokens table = slice(2, from);
    if (target->schema.empty()) {
      for (std::size_t i = from + 1; i < listEnd; ++i) {
        const auto name = tableName(i);
        if (!name || (i > from + 1 && !isPunct(t_[i - 1], ",") && !isKw(t_[i - 1], "join"))) {
          continue;
        }
        std::size_t alias = name->end;
        if (alias < listEnd && isKw(t_[alias], "as")) {
          ++alias;
        }
        if (alias < listEnd && isName(t_[alias]) && equalsNoCase(nameOf(t_[alias]), target->name)) {
          table = slice(i, name->end);
          break;
        }
      }
    }
    Tokens out{word("DELETE"), word("FROM")};
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(),
               {word("WHERE"), word("rowid"), word("IN"), punct("(", true), word("SELECT")});
    Tokens ref = slice(2, from);
    ref.front().space = true;
    out.insert(out.end(), ref.begin(), ref.end());
    out.insert(out.end(), {punct("."), word("rowid")});
    Tokens rest = slice(from, t_.size());
    out.insert(out.end(), rest.begin(), rest.end());
    out.push_back(punct(")"));
    t_ = std::move(out);
    return true;
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
      if (!identityInsert() || !fitInsert()) {
        return false;
      }
    } else if (isKw(first, "delete")) {
      result.kind = SqlKind::Change;
      if (t_.size() < 2 || !isKw(t_[1], "from")) {
        t_.insert(t_.begin() + 1, word("FROM"));
      }
      if (const std::size_t from = findTop("from", 2, t_.size());
          from != kNone && !deleteFromJoin(from)) {
        return false;
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
      // Truncate starts the identity column again at its seed, 1.
      const TableColumns* columns =
          ctx_.types ? ctx_.types->find(name->schema, name->name) : nullptr;
      if (columns != nullptr && !columns->identity.empty()) {
        std::string table;
        for (char c : name->name) {
          table += c == '\'' ? std::string("''") : std::string(1, c);
        }
        result.statements.push_back(render(t_));
        result.statements.push_back("DELETE FROM " +
                                    (name->schema.empty() ? std::string("main") : name->schema) +
                                    ".sqlite_sequence WHERE name = '" + table + "' COLLATE NOCASE");
        return true;
      }
    } else if (isKw(first, "alter")) {
      result.kind = SqlKind::Other;
      if (t_.size() > 1 && isKw(t_[1], "table")) {
        const auto name = tableName(2);
        if (name && name->end < t_.size() &&
            (isKw(t_[name->end], "enable") || isKw(t_[name->end], "disable"))) {
          return triggerSwitch(*name, isKw(t_[name->end], "disable"), result);
        }
      }
      result.changesSchema = true;  // a trigger switch changes no table
    } else if (isKw(first, "create") || isKw(first, "drop")) {
      result.kind = SqlKind::Other;
      result.changesSchema = true;
    } else if ((isKw(first, "save") || isKw(first, "rollback")) && t_.size() == 3 &&
               (isKw(t_[1], "transaction") || isKw(t_[1], "tran")) && t_[2].type == Tok::Word) {
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
    if (result.kind == SqlKind::Change) {
      result.batch = batchForm();
    }
    result.statements.push_back(render(t_));
    return true;
  }

  // ------------------------------------------------------ many rows at once

  // The batch form of the translated statement in t_, when its shape has
  // one (see BatchForm); an unusable one otherwise.
  BatchForm batchForm() const {
    // A query among the values could read rows that the earlier rows of
    // the batch have written, which one statement would not see alike.
    const auto readsRows = [](const Tokens& tokens) {
      return std::any_of(tokens.begin(), tokens.end(),
                         [](const Token& t) { return isKw(t, "select") || isKw(t, "with"); });
    };
    BatchForm form;
    if (isKw(t_[0], "insert")) {
      // INSERT INTO t [(columns)] VALUES (row)
      const auto table = tableName(2);
      if (t_.size() < 2 || !isKw(t_[1], "into") || !table) {
        return form;
      }
      std::size_t at = table->end;
      if (at < t_.size() && isPunct(t_[at], "(")) {
        at = matchParen(at);
        if (at == kNone) {
          return form;
        }
        ++at;
      }
      if (at + 1 >= t_.size() || !isKw(t_[at], "values") || !isPunct(t_[at + 1], "(") ||
          matchParen(at + 1) != t_.size() - 1) {
        return form;
      }
      const Tokens values = slice(at + 2, t_.size() - 1);
      if (readsRows(values)) {
        return form;
      }
      // INSERT INTO t [(columns)] SELECT values FROM (VALUES rows): the
      // values' expressions are written once, not once per row.
      Tokens head = slice(0, at);
      head.push_back(word("SELECT"));
      int n = 0;
      const Tokens select = placeholdersAsColumns(values, n);
      head.insert(head.end(), select.begin(), select.end());
      return n == 0 ? form : fromRows(std::move(head), n, "");
    }
    if (!isKw(t_[0], "update")) {
      return form;
    }
    // UPDATE t SET assignments WHERE key = ?
    const auto table = tableName(1);
    if (!table || table->end >= t_.size() || !isKw(t_[table->end], "set") || !ctx_.types) {
      return form;
    }
    const TableColumns* declared = ctx_.types->find(table->schema, table->name);
    const std::size_t set = table->end;
    const std::size_t where = findTop("where", set + 1, t_.size());
    if (declared == nullptr || declared->key.empty() || declared->updateTriggers ||
        where == kNone || where + 4 != t_.size() || findTop("from", set + 1, t_.size()) != kNone ||
        !isName(t_[where + 1]) || !isPunct(t_[where + 2], "=") ||
        t_[where + 3].type != Tok::Param || !equalsNoCase(nameOf(t_[where + 1]), declared->key)) {
      return form;
    }
    const Tokens assignments = slice(set + 1, where);
    if (readsRows(assignments)) {
      return form;
    }
    for (const auto& [b, e] : splitTop(set + 1, where)) {
      // Assigning the key would let one row's change meet another's key.
      if (b + 1 < e && isName(t_[b]) && equalsNoCase(nameOf(t_[b]), declared->key)) {
        return form;
      }
    }
    // The key's value is the rows' last column.
    Tokens head = slice(0, set + 1);
    int n = 0;
    const Tokens assigned = placeholdersAsColumns(assignments, n);
    head.insert(head.end(), assigned.begin(), assigned.end());
    BatchForm plain;
    plain.plainFits.resize(static_cast<std::size_t>(n + 1));
    const Tokens plainHead = withoutTextFits(head, plain.plainFits);
    form = fromRows(std::move(head), n + 1,
                    " WHERE " + render(slice(where + 1, where + 2)) + " = " + kBatchRows +
                        ".column" + std::to_string(n + 1));
    if (std::none_of(plainHead.begin(), plainHead.end(),
                     [](const Token& t) { return isPunct(t, "("); })) {
      form.plainHead = fromRows(plainHead, n + 1, "").head;
      form.plainFits = std::move(plain.plainFits);
    }
    return form;
  }

  // `head` with every tsql_fit_text(<a column of the batch's rows>, n, u, p)
  // replaced by the column, whose rule goes to `fits` (by column).
  static Tokens withoutTextFits(const Tokens& head,
                                std::vector<std::optional<BatchForm::TextFit>>& fits) {
    Tokens out;
    for (std::size_t i = 0; i < head.size(); ++i) {
      const auto number = [&](std::size_t at) {
        return at < head.size() && head[at].type == Tok::Number &&
               head[at].text.find_first_not_of("0123456789") == std::string::npos &&
               head[at].text.size() < 9;
      };
      if (i + 11 < head.size() && isKw(head[i], "tsql_fit_text") && isPunct(head[i + 1], "(") &&
          isKw(head[i + 2], kBatchRows) && isPunct(head[i + 3], ".") &&
          head[i + 4].type == Tok::Word && head[i + 4].text.rfind("column", 0) == 0 &&
          isPunct(head[i + 5], ",") && number(i + 6) && isPunct(head[i + 7], ",") &&
          number(i + 8) && isPunct(head[i + 9], ",") && number(i + 10) &&
          isPunct(head[i + 11], ")")) {
        const std::size_t column =
            static_cast<std::size_t>(std::strtoul(head[i + 4].text.c_str() + 6, nullptr, 10));
        if (column >= 1 && column <= fits.size() && !fits[column - 1]) {
          fits[column - 1] = BatchForm::TextFit{std::stoi(head[i + 6].text),
                                                head[i + 8].text != "0", head[i + 10].text != "0"};
          Token name = head[i + 2];
          name.space = head[i].space;
          out.push_back(std::move(name));
          out.push_back(head[i + 3]);
          out.push_back(head[i + 4]);
          i += 11;
          continue;
        }
      }
      out.push_back(head[i]);
    }
    return out;
  }

  // The rows of a batch come as a VALUES table of this name, whose columns
  // column1, column2, ... stand where the placeholders stood.
  static constexpr const char* kBatchRows = "tsql_batch_rows";

  // `tokens` with each placeholder replaced by the next column of the
  // batch's rows; `n` counts the placeholders replaced.
  static Tokens placeholdersAsColumns(const Tokens& tokens, int& n) {
    Tokens out;
    for (const Token& t : tokens) {
      if (t.type != Tok::Param) {
        out.push_back(t);
        continue;
      }
      Token name = word(kBatchRows);
      name.space = t.space;
      out.push_back(std::move(name));
      out.push_back(punct("."));
      Token column = word("column" + std::to_string(++n));
      column.space = false;
      out.push_back(std::move(column));
    }
    return out;
  }

  // `head` FROM (VALUES rows of `rowParameters` placeholders) AS the
  // batch's rows, then `condition`.
  static BatchForm fromRows(Tokens head, int rowParameters, const std::string& condition) {
    head.push_back(word("FROM"));
    head.push_back(punct("(", true));
    head.push_back(word("VALUES"));
    BatchForm form;
    form.head = render(head);
    form.row = "(?";
    for (int i = 1; i < rowParameters; ++i) {
      form.row += ",?";
    }
    form.row += ")";
    form.tail = ") AS " + std::string(kBatchRows) + condition;
    form.rowParameters = rowParameters;
    return form;
  }

  // ------------------------------------------------------ declared types

  const TableColumns* declaredColumns(const NameRef& table) const {
    if (!ctx_.types) {
      return nullptr;
    }
    const TableColumns* columns = ctx_.types->find(table.schema, table.name);
    return columns != nullptr && columns->anyRule ? columns : nullptr;
  }

  // `value` wrapped in the function that fits it to `rule` (see
  // tsql_fit_text and its kin); unchanged when the rule asks nothing.
  static Tokens fitted(const ColumnRule* rule, Tokens value) {
    if (rule == nullptr || rule->kind == ColumnRule::Kind::None || value.empty() ||
        (value.size() == 1 && isKw(value[0], "default"))) {
      return value;
    }
    const bool space = value.front().space;
    value.front().space = false;
    Tokens out;
    auto arg = [&](int n) {
      out.push_back(punct(","));
      Token t = number(std::to_string(n));
      t.space = true;
      out.push_back(std::move(t));
    };
    switch (rule->kind) {
      case ColumnRule::Kind::Text:
        out = {word("tsql_fit_text"), punct("(")};
        out.insert(out.end(), value.begin(), value.end());
        arg(rule->length);
        arg(rule->utf16 ? 1 : 0);
        arg(rule->pad ? 1 : 0);
        break;
      case ColumnRule::Kind::Decimal:
        out = {word("tsql_fit_decimal"), punct("(")};
        out.insert(out.end(), value.begin(), value.end());
        arg(rule->precision);
        arg(rule->scale);
        arg(rule->money ? 1 : 0);
        break;
      case ColumnRule::Kind::Integer:
        out = {word("tsql_fit_int"), punct("(")};
        out.insert(out.end(), value.begin(), value.end());
        arg(rule->bytes);
        break;
      default:
        out = {word("tsql_fit_datetime"), punct("(")};
        out.insert(out.end(), value.begin(), value.end());
        break;
    }
    out.push_back(punct(")"));
    out.front().space = space;
    return out;
  }

  // INSERT INTO t [(columns)] VALUES ... | SELECT ...: every value bound
  // for a column of a SQL Server type passes its fitting function. A
  // query's rows are named by a common table expression so that each of
  // its columns can be fitted whatever the query's shape.
  // An identity column takes no value from an insert: naming it fails as
  // on SQL Server (IDENTITY_INSERT is never on here), and an insert
  // without a column list fills the other columns, in their order.
  bool identityInsert() {
    const auto table = tableName(2);
    const TableColumns* columns =
        table && ctx_.types ? ctx_.types->find(table->schema, table->name) : nullptr;
    if (columns == nullptr || columns->identity.empty()) {
      return true;
    }
    const std::size_t at = table->end;
    if (at < t_.size() && isPunct(t_[at], "(") && at + 1 < t_.size() &&
        !isKw(t_[at + 1], "select") && !isKw(t_[at + 1], "with")) {
      const std::size_t close = matchParen(at);
      for (const auto& [b, e] : splitTop(at + 1, close)) {
        if (e == b + 1 && isName(t_[b]) && equalsNoCase(nameOf(t_[b]), columns->identity)) {
          return fail("Cannot insert explicit value for identity column in table '" + table->name +
                      "' when IDENTITY_INSERT is set to OFF.");
        }
      }
      return true;
    }
    Tokens list = {punct("(", true)};
    for (const auto& column : columns->columns) {
      if (column.first == columns->identity) {
        continue;
      }
      if (list.size() > 1) {
        list.push_back(punct(","));
      }
      list.push_back(word(column.first));
    }
    list.push_back(punct(")"));
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(at), list.begin(), list.end());
    return true;
  }

  bool fitInsert() {
    const auto table = tableName(2);
    if (!table) {
      return true;  // SQLite reports the syntax error
    }
    const TableColumns* declared = declaredColumns(*table);
    if (declared == nullptr) {
      return true;
    }
    std::size_t at = table->end;
    std::vector<const ColumnRule*> rules;
    if (at < t_.size() && isPunct(t_[at], "(") && at + 1 < t_.size() &&
        !isKw(t_[at + 1], "select") && !isKw(t_[at + 1], "with")) {
      const std::size_t close = matchParen(at);
      for (const auto& [b, e] : splitTop(at + 1, close)) {
        rules.push_back(e == b + 1 && isName(t_[b]) ? declared->find(nameOf(t_[b])) : nullptr);
      }
      at = close + 1;
    } else {
      for (const auto& column : declared->columns) {
        rules.push_back(&column.second);
      }
    }
    if (std::none_of(rules.begin(), rules.end(), [](const ColumnRule* r) {
          return r != nullptr && r->kind != ColumnRule::Kind::None;
        })) {
      return true;
    }
    if (at < t_.size() && isKw(t_[at], "values")) {
      Tokens out = slice(0, at + 1);
      std::size_t m = at + 1;
      while (m < t_.size()) {
        if (isPunct(t_[m], ",")) {
          out.push_back(t_[m++]);
          continue;
        }
        if (!isPunct(t_[m], "(")) {
          return fail("Incorrect syntax in insert: a row of values is expected.");
        }
        const std::size_t close = matchParen(m);
        out.push_back(t_[m]);
        const auto values = splitTop(m + 1, close);
        for (std::size_t v = 0; v < values.size(); ++v) {
          if (v > 0) {
            out.push_back(punct(","));
          }
          const ColumnRule* rule = v < rules.size() ? rules[v] : nullptr;
          const Tokens value = fitted(rule, slice(values[v].first, values[v].second));
          out.insert(out.end(), value.begin(), value.end());
        }
        out.push_back(t_[close]);
        m = close + 1;
      }
      t_ = std::move(out);
      return true;
    }
    if (at >= t_.size() ||
        !(isKw(t_[at], "select") || isKw(t_[at], "with") || isPunct(t_[at], "("))) {
      return true;  // DEFAULT VALUES and the like: nothing to fit
    }
    if (fitSelectList(at, rules)) {
      return true;
    }
    // Any other query (a compound one, or one that selects *): its rows
    // are named by a first branch that yields none, so that each column
    // can be fitted whatever the query's shape. The statement still
    // begins with INSERT, which drivers that count rows rely on.
    Tokens out = slice(0, at);
    Tokens names = {word("SELECT")};
    out.push_back(word("SELECT"));
    for (std::size_t c = 0; c < rules.size(); ++c) {
      const std::string name = "\"c" + std::to_string(c + 1) + "\"";
      if (c > 0) {
        out.push_back(punct(","));
        names.push_back(punct(","));
      }
      const Tokens value = fitted(rules[c], {Token{Tok::Quoted, name, true}});
      out.insert(out.end(), value.begin(), value.end());
      names.push_back(word("NULL"));
      names.push_back(word("AS"));
      names.push_back(Token{Tok::Quoted, name, true});
    }
    out.push_back(word("FROM"));
    out.push_back(punct("(", true));
    names.front().space = false;
    out.insert(out.end(), names.begin(), names.end());
    for (const char* w : {"WHERE", "0", "UNION", "ALL", "SELECT", "*", "FROM"}) {
      out.push_back(Token{Tok::Word, w, true});
    }
    out.push_back(punct("(", true));
    Tokens query = slice(at, t_.size());
    query.front().space = false;
    out.insert(out.end(), query.begin(), query.end());
    out.push_back(punct(")"));
    out.push_back(punct(")"));
    out.push_back(word("AS"));
    out.push_back(Token{Tok::Quoted, "\"tsql_row\"", true});
    t_ = std::move(out);
    return true;
  }

  // The tables named in the FROM clause that starts at `from` (kNone or
  // anything but FROM: none), in lists and in join chains.
  std::vector<SourceTable> sourceTables(std::size_t from) const {
    std::vector<SourceTable> out;
    if (from >= t_.size() || !isKw(t_[from], "from") || !ctx_.types) {
      return out;
    }
    std::size_t end = t_.size();
    for (const char* kw : {"where", "group", "having", "order", "limit"}) {
      end = std::min(end, findTop(kw, from + 1, t_.size()) == kNone
                              ? t_.size()
                              : findTop(kw, from + 1, t_.size()));
    }
    bool expectTable = true;
    for (std::size_t i = from + 1; i < end; ++i) {
      if (isPunct(t_[i], "(")) {
        i = matchParen(i);
        expectTable = false;
        continue;
      }
      if (isPunct(t_[i], ",") || isKw(t_[i], "join")) {
        expectTable = true;
        continue;
      }
      if (!expectTable) {
        continue;
      }
      expectTable = false;
      const auto table = tableName(i);
      if (!table) {
        continue;
      }
      SourceTable source{table->name, ctx_.types->find(table->schema, table->name)};
      std::size_t k = table->end;
      if (k < end && isKw(t_[k], "as")) {
        ++k;
      }
      if (k < end && isName(t_[k]) && !isClauseKeyword(t_[k])) {
        source.name = nameOf(t_[k]);
      }
      out.push_back(std::move(source));
      i = k > table->end ? k : table->end - 1;
    }
    return out;
  }

  // True when the value [b, e) of a select list cannot break `rule`, so
  // fitting it would change nothing: a text or an integer literal that
  // fits, or a column whose own declared type fits within the rule (a
  // value SQL Server could hold there fits here too).
  bool fitsAlready(const ColumnRule* rule, std::size_t b, std::size_t e,
                   const std::vector<SourceTable>& sources) const {
    using Kind = ColumnRule::Kind;
    if (rule == nullptr || rule->kind == Kind::None) {
      return true;
    }
    if (e == b + 1 && t_[b].type == Tok::String) {
      const std::string& text = t_[b].text;  // quoted, quotes doubled
      bool ascii = true;
      for (char c : text) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
      }
      std::size_t length = 0;
      for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        length += (text[i] == '\'' ? (++i, 1U) : 1U);
      }
      return rule->kind == Kind::Text && ascii &&
             (rule->pad ? length == static_cast<std::size_t>(rule->length)
                        : length <= static_cast<std::size_t>(rule->length));
    }
    if (e == b + 1 && t_[b].type == Tok::Number) {
      const std::string& digits = t_[b].text;
      const bool whole =
          digits.size() <= 9 &&
          std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (!whole) {
        return false;
      }
      const auto width = static_cast<int>(digits.size());
      return (rule->kind == Kind::Decimal && width <= rule->precision - rule->scale) ||
             (rule->kind == Kind::Integer &&
              (rule->bytes >= 4 || (rule->bytes == 2 && width <= 4) ||
               (rule->bytes == 1 && width <= 2)));
    }
    // A value in parentheses fits when the value does; a searched or simple
    // CASE when every result it can give does (without ELSE it may give
    // NULL, which fits anywhere).
    if (e > b + 2 && isPunct(t_[b], "(") && matchParen(b) == e - 1) {
      return fitsAlready(rule, b + 1, e - 1, sources);
    }
    if (e > b + 2 && isKw(t_[b], "case") && isKw(t_[e - 1], "end")) {
      std::size_t result = kNone;  // where the current result begins
      int depth = 0;
      for (std::size_t i = b + 1; i < e; ++i) {
        if (isPunct(t_[i], "(")) {
          i = matchParen(i);
          if (i == kNone) {
            return false;
          }
          continue;
        }
        if (isKw(t_[i], "case")) {
          ++depth;
          continue;
        }
        const bool end = isKw(t_[i], "end");
        if (depth > 0) {
          depth -= end ? 1 : 0;
          continue;
        }
        if (end || isKw(t_[i], "when") || isKw(t_[i], "else")) {
          if (result != kNone && !fitsAlready(rule, result, i, sources)) {
            return false;
          }
          result = isKw(t_[i], "else") ? i + 1 : kNone;
        } else if (isKw(t_[i], "then")) {
          result = i + 1;
        }
      }
      return true;
    }
    // isnull(a, b) (now ifnull) and abs(a) give one of their arguments'
    // values: they fit when their arguments do.
    if (e > b + 2 && t_[b].type == Tok::Word && isPunct(t_[b + 1], "(")) {
      const std::size_t close = matchParen(b + 1);
      const bool tail = close + 1 == e || (close + 3 == e && isKw(t_[close + 1], "collate"));
      const bool ifnull = isKw(t_[b], "ifnull") || isKw(t_[b], "coalesce");
      const bool abs = isKw(t_[b], "abs") && rule->kind != Kind::Text;
      if (!tail || !(ifnull || abs)) {
        return false;
      }
      const auto args = splitTop(b + 2, close);
      return (abs ? args.size() == 1 : args.size() >= 2) &&
             std::all_of(args.begin(), args.end(), [&](const auto& arg) {
               return fitsAlready(rule, arg.first, arg.second, sources);
             });
    }
    // A column, bare or qualified.
    const ColumnRule* source = columnAt(b, e, sources);
    return source != nullptr && ruleWithin(*source, *rule);
  }

  // True when every value that `from` admits also fits `to` unchanged.
  static bool ruleWithin(const ColumnRule& from, const ColumnRule& to) {
    using Kind = ColumnRule::Kind;
    auto integerDigits = [](int bytes) {
      return bytes == 1 ? 3 : bytes == 2 ? 5 : bytes == 4 ? 10 : 19;
    };
    switch (to.kind) {
      case Kind::Text: {
        if (from.kind != Kind::Text || (to.pad && !(from.pad && from.length == to.length))) {
          return false;
        }
        // In to's units, the most that from's length can take.
        const int most = from.utf16 == to.utf16 ? from.length
                         : from.utf16           ? from.length * 2  // UTF-16 units -> bytes
                                                : from.length;               // bytes -> UTF-16 units
        return most <= to.length;
      }
      case Kind::Decimal:
        if (from.kind == Kind::Decimal) {
          return from.scale <= to.scale && from.precision - from.scale <= to.precision - to.scale;
        }
        return from.kind == Kind::Integer && integerDigits(from.bytes) <= to.precision - to.scale;
      case Kind::Integer:
        return from.kind == Kind::Integer &&
               (from.bytes == to.bytes || (from.bytes < to.bytes && !(to.bytes == 1)));
      case Kind::Datetime:
        // A datetime column of a database written by other means may hold
        // any spelling of its instants: every one is brought to the stored
        // form.
        return false;
      default:
        return true;
    }
  }

  // INSERT ... SELECT list FROM ... with a plain select (one SELECT, no *):
  // each item of the list is fitted where it stands, keeping its alias.
  // False when the query has another shape.
  bool fitSelectList(std::size_t at, const std::vector<const ColumnRule*>& rules) {
    if (!isKw(t_[at], "select")) {
      return false;
    }
    for (const char* kw : {"union", "except", "intersect"}) {
      if (findTop(kw, at, t_.size()) != kNone) {
        return false;
      }
    }
    std::size_t first = at + 1;
    if (first < t_.size() && (isKw(t_[first], "distinct") || isKw(t_[first], "all"))) {
      ++first;
    }
    std::size_t last = t_.size();
    for (const char* kw : {"from", "where", "group", "having", "order", "limit"}) {
      last = std::min(
          last, findTop(kw, first, t_.size()) == kNone ? t_.size() : findTop(kw, first, t_.size()));
    }
    const auto items = splitTop(first, last);
    if (items.size() != rules.size()) {
      return false;  // SQLite reports the count mismatch
    }
    const std::vector<SourceTable> sources = sourceTables(last);
    Tokens out = slice(0, first);
    for (std::size_t n = 0; n < items.size(); ++n) {
      auto [b, e] = items[n];
      if (b == e || (e == b + 1 && isPunct(t_[b], "*")) ||
          (e > b + 1 && isPunct(t_[e - 1], "*") && isPunct(t_[e - 2], "."))) {
        return false;
      }
      // An alias, with or without AS, stays after the fitted value.
      std::size_t valueEnd = e;
      if (e >= b + 3 && isKw(t_[e - 2], "as")) {
        valueEnd = e - 2;
      } else if (e >= b + 2 && isName(t_[e - 1]) && !isStopWord(t_[e - 1]) &&
                 !isKw(t_[e - 1], "null") &&
                 (isName(t_[e - 2]) || t_[e - 2].type == Tok::String ||
                  t_[e - 2].type == Tok::Number || t_[e - 2].type == Tok::Param ||
                  isPunct(t_[e - 2], ")")) &&
                 !(isName(t_[e - 2]) && isStopWord(t_[e - 2])) && !isKw(t_[e - 2], "collate")) {
        valueEnd = e - 1;
      }
      if (n > 0) {
        out.push_back(punct(","));
      }
      const Tokens value = fitsAlready(rules[n], b, valueEnd, sources)
                               ? slice(b, valueEnd)
                               : fitted(rules[n], slice(b, valueEnd));
      out.insert(out.end(), value.begin(), value.end());
      const Tokens alias = slice(valueEnd, e);
      out.insert(out.end(), alias.begin(), alias.end());
    }
    const Tokens rest = slice(last, t_.size());
    out.insert(out.end(), rest.begin(), rest.end());
    t_ = std::move(out);
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
    // bare column. Each assignment is kept as column and value, to be
    // fitted to the column's declared type once the target table is known.
    struct Assignment {
      Tokens column;  // the bare column, or the whole item when it has no '='
      Tokens value;
      std::size_t valueBegin = 0;  // where the value stands in the text
      std::size_t valueEnd = 0;
    };
    std::vector<Assignment> assignments;
    for (const auto& [b, e] : splitTop(set + 1, setEnd)) {
      std::size_t eq = b;
      while (eq < e && !isPunct(t_[eq], "=")) {
        ++eq;
      }
      if (eq == e) {
        assignments.push_back(Assignment{slice(b, e), {}});
        continue;
      }
      if (eq == b || !isName(t_[eq - 1])) {
        return fail("Incorrect syntax in the SET list of update.");
      }
      Tokens column = {t_[eq - 1]};
      column.front().space = t_[b].space;
      assignments.push_back(Assignment{std::move(column), slice(eq + 1, e), eq + 1, e});
    }
    NameRef targetTable = *target;

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
        targetTable = *table;
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

    const TableColumns* declared = declaredColumns(targetTable);
    // A value that cannot break its column is stored as it is, as in an
    // insert's select list. Besides the call per row this saves the
    // statement journal that SQLite keeps for a statement calling any
    // function while it changes many rows, in case the call fails half way.
    std::vector<SourceTable> sources = sourceTables(from);
    if (declared != nullptr &&
        std::none_of(sources.begin(), sources.end(),
                     [&](const SourceTable& s) { return s.columns == declared; })) {
      sources.push_back(SourceTable{targetTable.name, declared});
    }
    Tokens setPart = {t_[set]};
    for (std::size_t n = 0; n < assignments.size(); ++n) {
      if (n > 0) {
        setPart.push_back(punct(","));
      }
      Assignment& a = assignments[n];
      setPart.insert(setPart.end(), a.column.begin(), a.column.end());
      if (a.value.empty()) {
        continue;
      }
      setPart.push_back(punct("=", true));
      const ColumnRule* rule =
          declared != nullptr ? declared->find(nameOf(a.column.front())) : nullptr;
      const Tokens value = fitsAlready(rule, a.valueBegin, a.valueEnd, sources)
                               ? std::move(a.value)
                               : fitted(rule, std::move(a.value));
      setPart.insert(setPart.end(), value.begin(), value.end());
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

  const Tokens collateTsql = {word("COLLATE"), word("TSQL")};
  std::string_view sql_;
  const RewriteContext& ctx_;
  Tokens t_;
  std::vector<SourceTable> operandTables_;
  std::string error_;
};

}  // namespace

std::string BatchForm::text(std::size_t rows, bool plain) const {
  const std::string& start = plain ? plainHead : head;
  std::string out;
  out.reserve(start.size() + tail.size() + rows * (row.size() + 1));
  out += start;
  for (std::size_t i = 0; i < rows; ++i) {
    if (i > 0) {
      out += ',';
    }
    out += row;
  }
  out += tail;
  return out;
}

RewriteResult rewriteTsql(std::string_view sql, const RewriteContext& context) {
  return Rewriter(sql, context).run();
}

const std::vector<std::string>& tsqlFunctionAllowList() {
  // Each one runs with SQL Server's outcome: by a registered function
  // (len, left, right, substring, convert, cast, getdate) or by SQLite's
  // own, which agrees for the values the conversion passes.
  static const std::vector<std::string> kFunctions = {
      "abs",     "cast",  "coalesce", "convert", "count",     "datalength", "getdate", "iif",
      "isnull",  "left",  "len",      "lower",   "ltrim",     "max",        "min",     "nullif",
      "replace", "right", "round",    "rtrim",   "substring", "sum",        "upper"};
  return kFunctions;
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
    context_.types.reset();
    query_ = nullptr;
    cache_.clear();
  }

  void learnSchema(SchemaQuery query) override {
    query_ = std::move(query);
    readTypes();
  }

  DialectTranslation translate(std::string_view sql) override {
    DialectTranslation translation;
    if (stale_) {
      readTypes();
    }
    const auto rewritten = cache_.rewrite(sql, context_);
    // The statement runs after this: the types are read again before the
    // next one.
    stale_ = rewritten->changesSchema;
    if (!rewritten->ok() || rewritten->statements.empty()) {
      translation.error = SqlResult::error(
          rewritten->ok() ? std::string("The statement text is empty.") : rewritten->error);
      return translation;
    }
    translation.statements = rewritten->statements;
    translation.changesData = rewritten->kind == SqlKind::Change;
    return translation;
  }

  // The SQLite ODBC driver spells a blob X'3132...'. The engine keeps an
  // exact decimal of more than 15 digits as a blob of its text (see
  // tsql_decimal.h): such a value is given back as that text. Any other
  // blob stays as the driver spelt it.
  void readValue(std::string& value) const override {
    if (value.size() < 5 || value.size() % 2 == 0 || value[0] != 'X' || value[1] != '\'' ||
        value.back() != '\'') {
      return;
    }
    const auto hex = [](char c) {
      return c >= '0' && c <= '9'   ? c - '0'
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                    : -1;
    };
    std::string text;
    for (std::size_t i = 2; i + 1 < value.size() - 1; i += 2) {
      const int high = hex(value[i]);
      const int low = hex(value[i + 1]);
      if (high < 0 || low < 0) {
        return;
      }
      text += static_cast<char>(high * 16 + low);
    }
    bool digit = false;
    bool point = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c >= '0' && c <= '9') {
        digit = true;
      } else if (c == '.' && !point) {
        point = true;
      } else if (!(c == '-' && i == 0)) {
        return;
      }
    }
    if (digit) {
      value = std::move(text);
    }
  }

 private:
  void readTypes() {
    stale_ = false;
    if (query_) {
      context_.types = DeclaredTypes::read(query_);
      cache_.clear();
    }
  }

  RewriteContext context_;
  RewriteCache cache_;
  SchemaQuery query_;
  bool stale_ = false;
};

}  // namespace

std::unique_ptr<SqlDialect> makeSqliteDialect() { return std::make_unique<SqliteDialect>(); }

}  // namespace cvt

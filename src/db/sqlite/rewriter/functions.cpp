// Functions: the allow-list, then SQL Server's meaning of each call.
//  - checkFunctions (after the names): every call names a function of
//    tsqlFunctionAllowList(), min and max with one argument; leaves only
//    T-SQL's functions called.
//  - rewriteFunctions (after the statement forms and typed sums, before
//    the operators): every call becomes SQLite's spelling with SQL
//    Server's outcome: isnull -> ifnull with b converted to a's type,
//    len / left / right / substring -> tsql_*, sum -> tsql_sum with its
//    argument's type, round, datalength and replace -> tsql_*, getdate()
//    -> the statement's time, convert / cast -> the fitting function of
//    the type, tsql_convert_text or tsql_datetime_text. A text made by a
//    function carries COLLATE TSQL.
// Leaves calls that the operand types (expression_types.cpp) read: the
// precision of tsql_fit_decimal, the kind of tsql_sum, and so on.

#include <algorithm>
#include <array>
#include <string>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

namespace {

// Whether `name` (lower case) is one of SQL Server's built-in functions,
// whether or not the embedded engine runs it: a name outside this list is
// unknown to the server as well.
bool isTsqlBuiltin(std::string_view name) {
  // Each name between blanks; the check runs only on the way to an error.
  static constexpr std::string_view kBuiltins =
      " abs acos app_name approx_count_distinct ascii asin atan atn2 avg binary_checksum cast "
      "ceiling char charindex checksum checksum_agg choose coalesce col_length col_name "
      "columnproperty compress concat concat_ws context_info convert cos cot count count_big "
      "cume_dist current_timestamp current_user cursor_status databasepropertyex datalength "
      "date_bucket dateadd datediff datediff_big datefromparts datename datepart "
      "datetime2fromparts datetimefromparts datetimeoffsetfromparts datetrunc day db_id db_name "
      "decompress degrees dense_rank difference eomonth error_line error_message error_number "
      "error_procedure error_severity error_state exp file_id file_name filegroup_id "
      "filegroup_name first_value floor format formatmessage getansinull getdate getutcdate "
      "greatest grouping grouping_id has_perms_by_name host_id host_name ident_current ident_incr "
      "ident_seed identity iif index_col is_member is_rolemember is_srvrolemember isdate isjson "
      "isnull isnumeric json_modify json_query json_value lag last_value lead least left len log "
      "log10 lower ltrim max min month nchar newid newsequentialid ntile nullif object_id "
      "object_name object_schema_name objectproperty objectpropertyex original_login parse "
      "parsename patindex percent_rank pi power quotename radians rand rank replace replicate "
      "reverse right round row_number rowcount_big rtrim schema_id schema_name scope_identity "
      "serverproperty session_user sessionproperty sign sin smalldatetimefromparts soundex space "
      "sql_variant_property sqrt square stdev stdevp str string_agg string_escape stuff substring "
      "sum suser_id suser_name suser_sid suser_sname switchoffset sysdatetime sysdatetimeoffset "
      "system_user sysutcdatetime tan timefromparts todatetimeoffset translate trim try_cast "
      "try_convert try_parse type_id type_name typeproperty unicode upper user_id user_name var "
      "varp xact_state year ";
  return kBuiltins.find(" " + std::string(name) + " ") != std::string_view::npos;
}

}  // namespace

// A name before '(' is a function call unless it is a keyword, a table
// with its column list, a common table expression's column list or a
// type inside convert / cast. Every call must name a T-SQL function on
// the allow-list.
bool Rewriter::checkFunctions() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
    return true;  // table definitions name types, not functions
  }
  static constexpr std::array<std::string_view, 36> kKeywords = {
      "in",     "exists",   "values", "as",   "on",        "and",    "or",    "not",     "when",
      "then",   "else",     "select", "from", "where",     "join",   "into",  "set",     "by",
      "having", "union",    "all",    "any",  "some",      "over",   "using", "between", "like",
      "is",     "distinct", "top",    "with", "intersect", "except", "end",   "case",    "return"};
  for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
    if (t_[i].type != Tok::Word || !isPunct(t_[i + 1], "(")) {
      continue;
    }
    const std::string name = lowered(t_[i].text);
    if (std::any_of(kKeywords.begin(), kKeywords.end(),
                    [&](std::string_view k) { return name == k; })) {
      continue;
    }
    if (i > 0 && (isPunct(t_[i - 1], ".") || isKw(t_[i - 1], "into") || isKw(t_[i - 1], "insert") ||
                  isKw(t_[i - 1], "as"))) {
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
      // Both fail; the message tells whether SQL Server would run it.
      if (isTsqlBuiltin(name)) {
        return unsupported("the T-SQL function " + name +
                           ", which the embedded engine does not run (a statement that uses it "
                           "needs SQL Server)");
      }
      return fail("'" + t_[i].text + "' is not a recognized built-in function name.");
    }
    if ((name == "min" || name == "max") && splitTop(i + 2, close).size() != 1) {
      return fail("The " + name + " function requires 1 argument(s).");
    }
  }
  return true;
}

// Function names and calls whose meaning differs. Walks backwards so that
// the arguments of a call are already rewritten when the call itself is.
bool Rewriter::rewriteFunctions() {
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

// sum(x) -> tsql_sum(x, kind, scale): the sum of an int is an int (and
// overflows as one, kind 4), of a bigint a bigint (8), of a decimal(p, s)
// a decimal(38, s) summed exactly (0); -1 when the argument's type is
// not known. sum(DISTINCT x) stays SQLite's.
void Rewriter::rewriteSum(std::size_t at) {
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
bool Rewriter::isnullTakesFirstType(std::size_t at) {
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
    out = {
        word("tsql_convert_text"),     punct("("), number(std::to_string(rule->length)), punct(","),
        number(rule->pad ? "1" : "0"), punct(",")};
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
bool Rewriter::datetimeAsText(std::size_t typeAt, std::pair<std::size_t, std::size_t> valueRange,
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

// Maps a T-SQL type (tokens of `varchar(20)` and the like) applied to
// `expr`. Returns false with the error set for a type it cannot give.
bool Rewriter::convertTo(const Tokens& type, Tokens expr, Tokens& out) {
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

}  // namespace cvt::rewrite

namespace cvt {

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

}  // namespace cvt

// The arithmetic operators with SQL Server's outcome (tsql_add and its
// kin): '+' on texts concatenates, a zero divisor and an int overflow
// fail, an exact decimal makes the operation decimal.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

enum class Op { Add, Subtract, Multiply, Divide, Modulo };

const char* opName(Op op) {
  switch (op) {
    case Op::Add:
      return "add";
    case Op::Subtract:
      return "subtract";
    case Op::Multiply:
      return "multiply";
    case Op::Divide:
      return "divide";
    default:
      return "modulo";
  }
}

// A text operand beside a number takes the number's type, as SQL Server
// converts the lower type to the higher. False with the error set when the
// text is not such a number.
bool textAsNumber(sqlite3_context* ctx, sqlite3_value* value, bool asInteger,
                  sqlite3_int64& integer, double& real) {
  std::string text;
  argText(value, text);
  if (asInteger) {
    if (trimBlanks(text).empty()) {
      integer = 0;  // '' (or blanks) converts to 0 for an int
      return true;
    }
    if (!parseInteger(text, integer)) {
      resultError(ctx, "Conversion failed when converting the varchar value '" + text +
                           "' to data type int.");
      return false;
    }
    return true;
  }
  Dec d;
  if (!decFromText(text, d)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return false;
  }
  real = std::strtod(std::string(trimBlanks(text)).c_str(), nullptr);
  return true;
}

DecOp decOp(Op op) {
  switch (op) {
    case Op::Add:
      return DecOp::Add;
    case Op::Subtract:
      return DecOp::Subtract;
    case Op::Multiply:
      return DecOp::Multiply;
    case Op::Divide:
      return DecOp::Divide;
    default:
      return DecOp::Modulo;
  }
}

// a op b as decimals of the types `ta` and `tb` (precision 0: the value's
// own), exact, with SQL Server's result type, rounding and overflow.
void decimalArithmetic(sqlite3_context* ctx, sqlite3_value* va, sqlite3_value* vb, Op op,
                       DecType ta, DecType tb) {
  if (sqlite3_value_type(va) == SQLITE_NULL || sqlite3_value_type(vb) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Dec a;
  Dec b;
  if (!decFromValue(va, a) || !decFromValue(vb, b)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return;
  }
  if (ta.precision == 0) {
    ta = typeOfValue(a);
  }
  if (tb.precision == 0) {
    tb = typeOfValue(b);
  }
  Dec out;
  switch (decCompute(decOp(op), a, b, decResultType(decOp(op), ta, tb), out)) {
    case DecStatus::Overflow:
      sqlite3_result_error(ctx, kDecimalOverflow, -1);
      return;
    case DecStatus::DivideByZero:
      sqlite3_result_error(ctx, kDivideByZero, -1);
      return;
    case DecStatus::Ok:
      resultDec(ctx, out);
      return;
  }
}

// tsql_add(a, b) and its kin: the binary operators with SQL Server's
// outcome. NULL with a NULL operand; two texts concatenate under '+' (and
// fail under the others); a text beside a number is read as that number;
// integers stay integers and an int result beyond int's range fails; a
// zero divisor fails; an exact decimal (a blob, see tsql_decimal.h) makes
// the operation decimal. The six-argument form tsql_add(a, b, p1, s1, p2,
// s2) is the decimal operation over decimal(p1, s1) and decimal(p2, s2)
// (precision 0: the value's own digits), as the rewriter types the
// operands by their declarations.
void arithmetic(sqlite3_context* ctx, int argc, sqlite3_value** argv, Op op) {
  if (argc == 6) {
    decimalArithmetic(ctx, argv[0], argv[1], op,
                      DecType{sqlite3_value_int(argv[2]), sqlite3_value_int(argv[3])},
                      DecType{sqlite3_value_int(argv[4]), sqlite3_value_int(argv[5])});
    return;
  }
  int ta = sqlite3_value_type(argv[0]);
  int tb = sqlite3_value_type(argv[1]);
  if (ta == SQLITE_NULL || tb == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if (ta == SQLITE_BLOB || tb == SQLITE_BLOB) {
    decimalArithmetic(ctx, argv[0], argv[1], op, DecType{}, DecType{});
    return;
  }
  const bool textA = ta == SQLITE_TEXT;
  const bool textB = tb == SQLITE_TEXT;
  if (textA && textB) {
    if (op != Op::Add) {
      resultError(ctx, std::string("Operand data type varchar is invalid for ") + opName(op) +
                           " operator.");
      return;
    }
    std::string a;
    std::string b;
    argText(argv[0], a);
    argText(argv[1], b);
    resultText(ctx, a + b);
    return;
  }
  sqlite3_int64 ia = 0;
  sqlite3_int64 ib = 0;
  double ra = 0;
  double rb = 0;
  if (textA) {
    if (!textAsNumber(ctx, argv[0], tb == SQLITE_INTEGER, ia, ra)) {
      return;
    }
    ta = tb;
  } else if (ta == SQLITE_INTEGER) {
    ia = sqlite3_value_int64(argv[0]);
  } else {
    ra = sqlite3_value_double(argv[0]);
  }
  if (textB) {
    if (!textAsNumber(ctx, argv[1], ta == SQLITE_INTEGER, ib, rb)) {
      return;
    }
    tb = ta;
  } else if (tb == SQLITE_INTEGER) {
    ib = sqlite3_value_int64(argv[1]);
  } else {
    rb = sqlite3_value_double(argv[1]);
  }
  if (ta == SQLITE_INTEGER && tb == SQLITE_INTEGER) {
    sqlite3_int64 out = 0;
    bool overflow = false;
    switch (op) {
      case Op::Add:
        overflow = __builtin_add_overflow(ia, ib, &out);
        break;
      case Op::Subtract:
        overflow = __builtin_sub_overflow(ia, ib, &out);
        break;
      case Op::Multiply:
        overflow = __builtin_mul_overflow(ia, ib, &out);
        break;
      case Op::Divide:
      case Op::Modulo:
        if (ib == 0) {
          sqlite3_result_error(ctx, kDivideByZero, -1);
          return;
        }
        if (ia == std::numeric_limits<sqlite3_int64>::min() && ib == -1) {
          overflow = true;
        } else {
          out = op == Op::Divide ? ia / ib : ia % ib;
        }
        break;
    }
    if (overflow) {
      sqlite3_result_error(ctx, kBigintOverflow, -1);
      return;
    }
    // Two values of int's range are ints to SQL Server: so is the result.
    if (isInt32(ia) && isInt32(ib) && !isInt32(out)) {
      sqlite3_result_error(ctx, kIntOverflow, -1);
      return;
    }
    sqlite3_result_int64(ctx, out);
    return;
  }
  const double a = ta == SQLITE_INTEGER ? static_cast<double>(ia) : ra;
  const double b = tb == SQLITE_INTEGER ? static_cast<double>(ib) : rb;
  double out = 0;
  switch (op) {
    case Op::Add:
      out = a + b;
      break;
    case Op::Subtract:
      out = a - b;
      break;
    case Op::Multiply:
      out = a * b;
      break;
    case Op::Divide:
    case Op::Modulo:
      if (b == 0) {
        sqlite3_result_error(ctx, kDivideByZero, -1);
        return;
      }
      out = op == Op::Divide ? a / b : std::fmod(a, b);
      break;
  }
  sqlite3_result_double(ctx, out);
}

}  // namespace

void addFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Add);
}
void subtractFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Subtract);
}
void multiplyFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Multiply);
}
void divideFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Divide);
}
void moduloFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Modulo);
}

}  // namespace cvt::tsql_impl

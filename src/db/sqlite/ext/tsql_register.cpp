// Registers the T-SQL functions, aggregates and the TSQL collation on a
// connection and sets it up to give SQL Server's results.

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

// Optimisation bits of SQLite's internal mask (sqliteInt.h) that
// SQLITE_TESTCTRL_OPTIMIZATIONS switches off.
constexpr unsigned kBloomFilter = 0x00080000U;
constexpr unsigned kBloomPulldown = 0x00100000U;

}  // namespace

int configureConnection(sqlite3* db) {
  sqlite3_test_control(SQLITE_TESTCTRL_OPTIMIZATIONS, db, kBloomFilter | kBloomPulldown);
  return sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
}

int registerAll(sqlite3* db) {
  struct Fn {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic;
  };
  static const Fn kFunctions[] = {
      {"tsql_len", 1, lenFunction, true},
      {"len", 1, lenFunction, true},
      {"tsql_left", 2, leftFunction, true},
      {"tsql_right", 2, rightFunction, true},
      {"tsql_convert_text", 3, convertTextFunction, true},
      {"tsql_error", 1, errorFunction, false},
      {"getdate", 0, getdateFunction, false},
      {"tsql_substring", 3, substringFunction, true},
      {"tsql_add", 2, addFunction, true},
      {"tsql_subtract", 2, subtractFunction, true},
      {"tsql_multiply", 2, multiplyFunction, true},
      {"tsql_divide", 2, divideFunction, true},
      {"tsql_modulo", 2, moduloFunction, true},
      {"tsql_add", 6, addFunction, true},
      {"tsql_subtract", 6, subtractFunction, true},
      {"tsql_multiply", 6, multiplyFunction, true},
      {"tsql_divide", 6, divideFunction, true},
      {"tsql_modulo", 6, moduloFunction, true},
      {"tsql_fit_text", 4, fitTextFunction, true},
      {"tsql_fit_decimal", 4, fitDecimalFunction, true},
      {"tsql_fit_int", 2, fitIntFunction, true},
      {"tsql_fit_datetime", 1, fitDatetimeFunction, true},
      {"tsql_round", 5, roundFunction, true},
      {"tsql_datalength", 2, datalengthFunction, true},
      {"tsql_replace", 3, replaceFunction, true},
      {"like", 2, likeFunction, true},
      {"like", 3, likeFunction, true},
      {"tsql_number", 1, numberFunction, true},
      {"tsql_datetime_text", 2, datetimeTextFunction, true},
  };
  for (const Fn& f : kFunctions) {
    const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    const int rc = sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr,
                                              nullptr, nullptr);
    if (rc != SQLITE_OK) {
      return rc;
    }
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_sum", 3, SQLITE_UTF8, nullptr, nullptr,
                                                sumStep, sumFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_sum_int", 2, SQLITE_UTF8, nullptr,
                                                nullptr, sumIntStep, sumIntFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_single", 1, SQLITE_UTF8, nullptr, nullptr,
                                                singleStep, singleFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = registerDecimalOrder(db); rc != SQLITE_OK) {
    return rc;
  }
  const int rc =
      sqlite3_create_collation_v2(db, "TSQL", SQLITE_UTF8, nullptr, tsqlCompare, nullptr);
  return rc != SQLITE_OK ? rc : configureConnection(db);
}

}  // namespace cvt::tsql_impl

// The embedded engine as strict as SQL Server: joins and comparisons under
// the default collation at every size, values fitted to the columns'
// declared types, SQL Server's operators and functions, and the refusal of
// what SQL Server does not have. Every case runs through the session (and
// so through ODBC as well when the suite runs that way).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;

// What a select gives: its first column as text ("NULL" for NULL), or the
// error text prefixed with "error: ".
std::string firstValue(Session& s, const std::string& sql) {
  auto cursor = s.openCursor(sql, {});
  Row row;
  const long rc = cursor->fetch(row);
  if (rc < 0) {
    return "error: " + s.SQLErrText();
  }
  if (rc != kSqlOk || row.empty()) {
    return "no row";
  }
  return row[0] ? *row[0] : "NULL";
}

// The weighed items' move of the special prices step, and its kin in the
// opening stock step: both join on a key that may differ by trailing
// blanks and case.
constexpr const char* kFollowWeighedItems =
    "update t_rm_spec_price set item_no =t_bd_item_info.item_no from t_bd_item_info with ( "
    "nolock ) where t_rm_spec_price.item_no =t_bd_item_info.item_subno and t_bd_item_info.num3 "
    "=1";

TEST(StrictJoins, KeysThatDifferByTrailingBlanksMeetAtEverySize) {
  for (const int rows : {1, 10, 100, 1000, 100000}) {
    // Analysed tables let SQLite put a Bloom filter on a real index too.
    for (const bool analysed : {false, true}) {
      SCOPED_TRACE(std::to_string(rows) + (analysed ? " rows, analysed" : " rows"));
      DbFolder db;
      const std::string n = std::to_string(rows);
      db.exec("tillexv8",
              "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " + n +
                  ") INSERT INTO t_bd_item_info(item_no, item_subno, num3) "
                  "SELECT 'N' || i, 'S' || i, 1 FROM k;"
                  "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                  n +
                  ") INSERT INTO t_rm_spec_price(branch_no, item_no, special_type, start_date) "
                  "SELECT '00', (CASE i % 2 WHEN 0 THEN 's' ELSE 'S' END) || i || ' ', '2', "
                  "'2024-01-01' FROM k;" +
                  (analysed ? std::string("ANALYZE;") : std::string()));
      auto SQLCA = db.connect();
      EXPECT_EQ(SQLCA->execute(kFollowWeighedItems), kSqlOk) << SQLCA->SQLErrText();
      EXPECT_EQ(SQLCA->SQLNRows(), rows);
      SQLCA->commit();
      EXPECT_EQ(
          db.scalar("tillexv8", "SELECT count(*) FROM t_rm_spec_price WHERE item_no LIKE 'N%'"), n);
    }
  }
}

TEST(StrictJoins, ExpressionsCompareByTheDefaultCollation) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_bd_item_cls(item_clsno, item_clsname) VALUES ('01AB01', 'x');"
          "INSERT INTO t_bd_item_info(item_no, item_subno, item_clsno) VALUES ('S1 ', 'a', "
          "'01AB01')");
  auto SQLCA = db.connect();
  struct Case {
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"select item_clsno from t_bd_item_cls where left(item_clsno,4) = left('01ab0101',4)",
       "01AB01"},
      {"select item_clsno from t_bd_item_cls where left(item_clsno,4) = left(item_clsname + "
       "'1ab',4)",
       "no row"},
      {"select item_no from t_bd_item_info where rtrim(item_no) = 's1'", "S1 "},
      {"select item_no from t_bd_item_info where item_subno + 'B' = 'AB  '", "S1 "},
      {"select item_no from t_bd_item_info where substring(item_clsno, 3, 2) = 'ab'", "S1 "},
      {"select item_no from t_bd_item_info where isnull(item_brand, 'X') = 'x '", "S1 "},
      {"select count(*) from t_bd_item_info where upper(item_subno) in ('a ', 'b')", "1"},
      {"select count(*) from (select distinct left(item_clsno, 2) c from t_bd_item_cls "
       "union select 'ab' union select 'AB ') d",
       "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(firstValue(*SQLCA, c.sql), c.expected);
  }
  // The lookup with a bound value, as a step would send it.
  auto cursor = SQLCA->openCursor(
      "select item_clsno from t_bd_item_cls where left(item_clsno,4) = left(?,4)", {"01ab0101"});
  Row row;
  ASSERT_EQ(cursor->fetch(row), kSqlOk) << SQLCA->SQLErrText();
  EXPECT_EQ(row.at(0), "01AB01");
}

// ------------------------------------------------------------ declared types

constexpr const char* kTypedTable = R"SQL(
CREATE TABLE typed (
  id INTEGER PRIMARY KEY,
  v varchar(4) COLLATE TSQL, c char(3) COLLATE TSQL, nv nvarchar(2) COLLATE TSQL,
  nc nchar(2) COLLATE TSQL, d decimal(6,2), n numeric(4,0), m money, i int, s smallint,
  t tinyint, dt datetime, plain TEXT, num NUMERIC);
)SQL";

TEST(StrictTypes, ValuesAreFittedToTheDeclaredTypeOrFail) {
  DbFolder db;
  db.exec("tillexv8", kTypedTable);
  auto SQLCA = db.connect();
  constexpr const char* kTruncated = "String or binary data would be truncated.";
  struct Case {
    const char* column;
    const char* value;     // a T-SQL expression
    const char* expected;  // what the column then holds, or "error: " + the text
  };
  const std::string error = "error: ";
  const Case cases[] = {
      {"v", "'abcd'", "abcd"},
      {"v", "'abcde'", "error: String or binary data would be truncated."},
      {"v", "'ab    '", "ab  "},  // blanks beyond the length are dropped
      {"v", "'中文'", "中文"},    // two characters of two bytes each
      {"v", "'中文a'", "error: String or binary data would be truncated."},
      {"v", "1234", "1234"},
      {"v", "NULL", "NULL"},
      {"c", "'a'", "a  "},
      {"c", "'中'", "中 "},
      {"c", "'abcd'", "error: String or binary data would be truncated."},
      {"nv", "N'中文'", "中文"},
      {"nv", "N'中文字'", "error: String or binary data would be truncated."},
      {"nc", "'a'", "a "},
      {"d", "1234.567", "1234.57"},
      {"d", "-0.005", "-0.01"},
      {"d", "9999.994", "9999.99"},
      {"d", "9999.995",
       "error: Arithmetic overflow error converting numeric to data type numeric."},
      {"d", "'12.345'", "12.35"},
      {"d", "'abc'", "error: Error converting data type varchar to numeric."},
      {"d", "1684.03497", "1684.03"},
      {"n", "9999", "9999"},
      {"n", "10000", "error: Arithmetic overflow error converting numeric to data type numeric."},
      {"n", "12.5", "13"},
      {"m", "1.23456", "1.2346"},
      {"m", "1000000000000000",
       "error: Arithmetic overflow error converting numeric to data type money."},
      {"i", "2147483647", "2147483647"},
      {"i", "2147483648",
       "error: Arithmetic overflow error converting expression to data type int."},
      {"i", "12.9", "12"},
      {"i", "' 42 '", "42"},
      {"i", "''", "0"},
      {"i", "'12.5'",
       "error: Conversion failed when converting the varchar value '12.5' to data type int."},
      {"i", "'abc'",
       "error: Conversion failed when converting the varchar value 'abc' to data type int."},
      {"s", "-32768", "-32768"},
      {"s", "32768",
       "error: Arithmetic overflow error converting expression to data type smallint."},
      {"t", "255", "255"},
      {"t", "-1", "error: Arithmetic overflow error converting expression to data type tinyint."},
      {"dt", "'2024-02-29 13:45:00.123'", "2024-02-29 13:45:00.123"},
      {"dt", "'20240131'", "2024-01-31"},  // one stored form per instant
      {"dt", "'2024-01-31 00:00:00'", "2024-01-31"},
      {"dt", "'2024-01-31 23:59:59.998'", "2024-01-31 23:59:59.997"},  // 1/300 s clock
      {"dt", "'2024-01-31 23:59:59.999'", "2024-02-01"},
      {"dt", "''", "1900-01-01"},
      {"dt", "'2023-02-29'",
       "error: The conversion of a varchar data type to a datetime data type resulted in an "
       "out-of-range value."},
      {"dt", "'abc'",
       "error: Conversion failed when converting date and/or time from character string."},
      {"dt", "'1700-01-01'",
       "error: The conversion of a varchar data type to a datetime data type resulted in an "
       "out-of-range value."},
      {"dt", "2", "1900-01-03"},
      {"plain", "'no limit at all'", "no limit at all"},  // SQLite's own types keep its rules
      {"num", "1.23456789", "1.23456789"},
  };
  for (const Case& c : cases) {
    const std::string column = c.column;
    SCOPED_TRACE(column + " <- " + c.value);
    // Each case by insert with values, by insert with a select and by
    // update: the three ways a value reaches a column.
    const std::string statements[] = {
        "insert typed (id, " + column + ") values (1, " + c.value + ")",
        "insert into typed (id, " + column + ") select 1, " + c.value,
        "update typed set " + column + " = " + c.value + " where id = 1",
    };
    for (const std::string& sql : statements) {
      SCOPED_TRACE(sql);
      if (sql.rfind("update", 0) == 0) {
        ASSERT_EQ(SQLCA->execute("insert typed (id) values (1)"), kSqlOk) << SQLCA->SQLErrText();
      }
      const long rc = SQLCA->execute(sql);
      const std::string got =
          rc < 0 ? error + SQLCA->SQLErrText()
                 : firstValue(*SQLCA, "select " + column + " from typed where id = 1");
      EXPECT_EQ(got, c.expected);
      ASSERT_GE(SQLCA->execute("delete typed"), 0) << SQLCA->SQLErrText();
    }
  }
  // A bound value is fitted as a literal is.
  auto insert = SQLCA->prepare("insert typed (id, v, d) values (?, ?, ?)");
  EXPECT_EQ(insert->execute({"2", "ab", "1.005"}), kSqlOk) << SQLCA->SQLErrText();
  EXPECT_EQ(firstValue(*SQLCA, "select d from typed where id = 2"), "1.01");
  EXPECT_LT(insert->execute({"3", "abcde", "1"}), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), kTruncated);
}

// A column read into a narrower one is fitted; one whose own type fits
// within the target's is stored as it is, as SQL Server could hold no value
// that breaks its own column's type.
TEST(StrictTypes, ColumnsOfAWiderTypeAreFittedOnTheWayIn) {
  DbFolder db;
  db.exec("tillexv8", std::string(kTypedTable) +
                          "CREATE TABLE src (w varchar(10) COLLATE TSQL, n varchar(4) COLLATE TSQL,"
                          " p decimal(8,4), q decimal(5,1));"
                          "INSERT INTO src VALUES ('abcdefgh', 'abcd', 1.2345, 1234.5)");
  auto SQLCA = db.connect();
  EXPECT_LT(SQLCA->execute("insert into typed (id, v) select 1, w from src"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  EXPECT_EQ(SQLCA->execute("insert into typed (id, v, d) select 1, s.n, p from src s"), kSqlOk)
      << SQLCA->SQLErrText();
  EXPECT_EQ(firstValue(*SQLCA, "select v + '/' + convert(varchar(10), d) from typed"), "abcd/1.23");
  EXPECT_LT(SQLCA->execute("insert into typed (id, v) select 2, isnull(w, 'x') from src"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  EXPECT_LT(SQLCA->execute("insert into typed (id, d) select 2, q * 10 from src"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(),
            "Arithmetic overflow error converting numeric to data type numeric.");
  // A CASE fits when every result it can give does.
  EXPECT_LT(SQLCA->execute("insert into typed (id, v) select 3, (case n when 'x' then n else w "
                           "end) from src"),
            0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  EXPECT_EQ(SQLCA->execute("insert into typed (id, v, c) select 3, case when p > 1 then n end, "
                           "(case when q > 1 then 'ab' else 'xyz' end) from src"),
            kSqlOk)
      << SQLCA->SQLErrText();
  EXPECT_EQ(firstValue(*SQLCA, "select v + '/' + c + '/' from typed where id = 3"), "abcd/ab /");
  // The same in an update's SET, from another table and from the target's
  // own columns.
  EXPECT_LT(SQLCA->execute("update typed set v = w from src"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  EXPECT_EQ(SQLCA->execute("update typed set v = s.n, d = p from typed, src s where id = 1"),
            kSqlOk)
      << SQLCA->SQLErrText();
  EXPECT_EQ(firstValue(*SQLCA, "select v + '/' + convert(varchar(10), d) from typed where id = 1"),
            "abcd/1.23");
  EXPECT_LT(SQLCA->execute("update src set n = w"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  EXPECT_EQ(SQLCA->execute("update src set w = n, q = 12"), kSqlOk) << SQLCA->SQLErrText();
  EXPECT_EQ(firstValue(*SQLCA, "select w + '/' + convert(varchar(10), q) from src"), "abcd/12");
}

TEST(StrictTypes, ATableCreatedThroughTheSessionIsFittedToo) {
  DbFolder db;
  auto SQLCA = db.connect();
  ASSERT_EQ(SQLCA->execute("create table later (v varchar(2))"), kSqlOk) << SQLCA->SQLErrText();
  EXPECT_LT(SQLCA->execute("insert later values ('abc')"), 0);
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
}

// A branch number longer than the target's branch columns stops the member
// card step at the first insert that writes it, as SQL Server does, and the
// cards committed before stay.
TEST(StrictTypes, ALongBranchNumberFailsTheMemberCardStep) {
  DbFolder db;
  db.exec("dravik_pro",
          "INSERT INTO pos_t_vip_type(type_id, type_name) VALUES ('02', 'stored');"
          "INSERT INTO pos_t_vip_info(card_id, card_type, card_balance, vip_integral) "
          "VALUES ('C01', '02', 12.5, 30)");
  db.exec("tillexv8",
          "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', "
          "'1234567890123')");
  auto SQLCA = db.connect();
  test::RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 30, false};
  EXPECT_FALSE(wf_dravik_vip(ctx, "dravik_pro"));
  EXPECT_EQ(SQLCA->SQLErrText(), "String or binary data would be truncated.");
  ASSERT_EQ(ui.messages.size(), 1U);
  EXPECT_EQ(ui.messages[0].second.rfind("导入\n\nInsert t_rm_vip_consume (", 0), 0U)
      << ui.messages[0].second;
  SQLCA->rollback();
  // The cards are committed only together with their points: none stays.
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_vip_info"), "0");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_vip_good_flow"), "0");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_vip_consume"), "0");
}

// The opening stock's amount is a product of two four-decimal numbers.
TEST(StrictTypes, StockAmountsKeepFourDecimals) {
  DbFolder db;
  db.exec("dravik_pro",
          "INSERT INTO bi_t_item_info(item_no, sup_no) VALUES ('A', 'S1');"
          "INSERT INTO ic_t_branch_stock(branch_no, item_no, stock_qty, cost_price) "
          "VALUES ('00', 'A', 1234.5678, 13.6413)");
  auto SQLCA = db.connect();
  test::RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 30, false};
  ASSERT_TRUE(wf_convert_stock(ctx, "dravik_pro")) << SQLCA->SQLErrText();
  // 1234.5678 * 13.6413 = 16841.10973014 -> 16841.1097
  EXPECT_EQ(db.scalar("tillexv8", "SELECT sheet_amt FROM t_im_flow"), "16841.1097");
}

// ------------------------------------------------------- operators, functions

TEST(StrictOperators, GiveSqlServersValuesAndErrors) {
  DbFolder db;
  auto SQLCA = db.connect();
  struct Case {
    const char* expression;
    const char* expected;
  };
  const Case cases[] = {
      {"'abc' + 'def'", "abcdef"},
      {"'abc' + NULL", "NULL"},
      {"NULL + 1", "NULL"},
      {"'5' + 1", "6"},
      {"1 + '5'", "6"},
      {"'a' + 1",
       "error: Conversion failed when converting the varchar value 'a' to data type int."},
      {"'1.5' + 1.25", "2.75"},
      {"'x' + 'y' + 'z'", "xyz"},
      {"1 + 2 * 3", "7"},
      {"(1 + 2) * 3", "9"},
      {"10 - 2 - 3", "5"},
      {"2 * 3 % 4", "2"},
      {"-2 + 5", "3"},
      {"7 / 2", "3"},
      {"7.0 / 2", "3.5"},
      {"1 / 0", "error: Divide by zero error encountered."},
      {"1.5 / 0.0", "error: Divide by zero error encountered."},
      {"5 % 0", "error: Divide by zero error encountered."},
      {"2147483647 + 1",
       "error: Arithmetic overflow error converting expression to data type int."},
      {"-2147483647 - 2",
       "error: Arithmetic overflow error converting expression to data type int."},
      // 2147483648 is a numeric(10,0) literal, negated: no int.
      {"-2147483648 - 1", "-2147483649"},
      {"65536 * 65536", "error: Arithmetic overflow error converting expression to data type int."},
      {"'a' - 'b'", "error: Operand data type varchar is invalid for subtract operator."},
      {"substring('abcdef', 2, 3)", "bcd"},
      {"substring('abcdef', -1, 3)", "a"},
      {"substring('abcdef', 0, 10)", "abcdef"},
      {"substring('abcdef', 7, 1)", ""},
      {"substring('中文字', 2, 1)", "文"},
      {"substring('abcdef', 1, -1)",
       "error: Invalid length parameter passed to the substring function."},
      {"len(rtrim('ab ') + 'c')", "3"},
      {"case when 1 + 1 = 2 then 'a' + 'b' else 'c' end", "ab"},
      {"isnull(NULL, 'x') + convert(varchar(3), 12)", "x12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(firstValue(*SQLCA, std::string("select ") + c.expression), c.expected);
  }
}

TEST(StrictDialect, WhatSqlServerDoesNotHaveIsRefused) {
  DbFolder db;
  auto SQLCA = db.connect();
  struct Case {
    const char* sql;
    const char* named;  // the refusal names it
  };
  const Case cases[] = {
      {"select 'a' || 'b'", "||"},
      {"select item_no from t_bd_item_info limit 1", "LIMIT"},
      {"select 1 where 1 == 1", "=="},
      {"select ifnull(item_no, 'x') from t_bd_item_info", "ifnull"},
      {"select substr(item_no, 1, 2) from t_bd_item_info", "substr"},
      {"select length(item_no) from t_bd_item_info", "length"},
      {"select instr(item_no, 'a') from t_bd_item_info", "instr"},
      {"select printf('%d', 1)", "printf"},
      {"select group_concat(item_no) from t_bd_item_info", "group_concat"},
      {"select max(1, 2)", "max"},
      {"select 1 << 2", "<<"},
      {"select item_no from t_bd_item_info where item_no glob 'a*'", "glob"},
      {"select item_no from t_bd_item_info where item_no isnull", "ISNULL"},
      {"select item_no from t_bd_item_info where item_no notnull", "notnull"},
      {"select item_no from t_bd_item_info where item_no = 'a' collate nocase", "collate"},
      {"insert or ignore into t_bd_base_code(type_no, code_id) values ('a', 'b')", "INSERT OR"},
      {"select x'41'", "x'...'"},
      {"delete t_bd_base_code returning code_id", "returning"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_LT(SQLCA->execute(c.sql), 0);
    EXPECT_NE(SQLCA->SQLErrText().find(c.named), std::string::npos) << SQLCA->SQLErrText();
  }
  // A double-quoted text is a name, never a string.
  EXPECT_LT(SQLCA->execute("select item_no from t_bd_item_info where item_no = \"abc\""), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("abc"), std::string::npos) << SQLCA->SQLErrText();
}

}  // namespace
}  // namespace cvt

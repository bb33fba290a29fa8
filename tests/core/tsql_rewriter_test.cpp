// T-SQL texts run through the embedded session on a small fixture, one
// test per construct family; each case states the rows SQL Server gives.

#include "db/sqlite/tsql_rewriter.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/db_folder.h"

namespace cvt {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every value as text, NULL as "NULL".
Rows fetchAll(Session& s, const std::string& sql, const std::vector<Value>& inputs = {}) {
  Rows rows;
  auto cursor = s.openCursor(sql, inputs);
  Row row;
  while (cursor->fetch(row) == kSqlOk) {
    std::vector<std::string> out;
    for (const Value& v : row) {
      out.push_back(v ? *v : "NULL");
    }
    rows.push_back(std::move(out));
  }
  EXPECT_GE(s.SQLCode(), 0) << s.SQLErrText() << "\n" << sql;
  return rows;
}

// A statement and, when `check` is set, the select whose rows show its
// effect; otherwise the statement itself is a select.
struct Case {
  std::string sql;
  std::string check;
  Rows rows;
};

void runCases(Session& s, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    if (c.check.empty()) {
      EXPECT_EQ(fetchAll(s, c.sql), c.rows);
    } else {
      EXPECT_GE(s.execute(c.sql), 0) << s.SQLErrText();
      EXPECT_EQ(fetchAll(s, c.check), c.rows);
    }
  }
}

class TsqlOnSqlite : public ::testing::Test {
 protected:
  test::DbFolder folder;
};

TEST_F(TsqlOnSqlite, CrossDatabaseNamesReachTheAttachedFiles) {
  folder.exec("dravik_pro", "insert into bi_t_region_info values ('010102','north')");
  folder.exec("dravik_std", "insert into bi_t_region_info values ('02','south')");
  folder.exec("tillexv8",
              "insert into t_bd_base_code (type_no,code_id,code_name) "
              "values ('PP','PP','house brand')");
  auto s = folder.connect();
  runCases(*s, {
                   {"select region_name from dravik_pro..bi_t_region_info", "", {{"north"}}},
                   {"select region_name from DRAVIK_STD..bi_t_region_info", "", {{"south"}}},
                   {"select region_name from dravik_pro.dbo.bi_t_region_info", "", {{"north"}}},
                   {"select code_name from tillexv8..t_bd_base_code", "", {{"house brand"}}},
                   {"select code_name from dbo.t_bd_base_code", "", {{"house brand"}}},
                   {"insert into t_bd_base_code(type_no,code_id,code_name) select "
                    "'RG',left(region_no,4),region_name from dravik_pro..bi_t_region_info",
                    "select type_no, code_id, code_name from t_bd_base_code order by type_no",
                    {{"PP", "PP", "house brand"}, {"RG", "0101", "north"}}},
               });

  EXPECT_LT(s->execute("insert into t_bd_base_code(type_no,code_id,code_name) select "
                       "'RG',region_no,region_name from dravik_old..bi_t_region_info"),
            0);
  EXPECT_EQ(s->SQLErrText(), "Invalid object name 'dravik_old..bi_t_region_info'.");
}

TEST_F(TsqlOnSqlite, TableHintsAndTopAreTranslated) {
  folder.exec("tillexv8",
              "insert into t_bd_branch_info values ('00','head','0'),('01','shop','1');"
              "insert into t_bd_item_cls (item_clsno) values ('01'),('0101'),('010101'),"
              "('010102'),('01010201');"
              "insert into t_bd_supcust_info (supcust_no,supcust_flag,settle_branch) values "
              "('S1','S','01'),('S2','S','99'),('S3','S','0001'),('S4','S',NULL),"
              "('S5','S','01 ')");
  auto s = folder.connect();
  runCases(
      *s,
      {
          {"select top 1 1 from t_bd_item_cls with ( nolock ) where item_clsno ='010102'",
           "",
           {{"1"}}},
          {"select item_clsno as item_clsno from t_bd_item_cls with(nolock) where "
           "len(item_clsno) > 6",
           "",
           {{"01010201"}}},
          {"select top 2 branch_no from t_bd_branch_info b WITH (NOLOCK) order by branch_no desc",
           "",
           {{"01"}, {"00"}}},
          {"select top (1) branch_no from t_bd_branch_info order by branch_no", "", {{"00"}}},
          {"select count(*) from t_bd_branch_info where exists (select top 1 1 from "
           "t_bd_item_cls with(nolock,readuncommitted))",
           "",
           {{"2"}}},
          // S5's '01 ' has length 2 and names branch 01 once trailing blanks
          // are ignored; a NULL settle branch is left alone.
          {"update t_bd_supcust_info set settle_branch = '00' where "
           "len(t_bd_supcust_info.settle_branch) <> 2 or (len(settle_branch) = 2 and not "
           "exists(select top 1 1 from t_bd_branch_info with(nolock) where branch_no = "
           "settle_branch ))",
           "select supcust_no, settle_branch from t_bd_supcust_info order by supcust_no",
           {{"S1", "01"}, {"S2", "00"}, {"S3", "00"}, {"S4", "NULL"}, {"S5", "01 "}}},
      });
  // Bound inputs keep their places.
  EXPECT_EQ(fetchAll(*s,
                     "select max ( item_clsno ) from t_bd_item_cls tab_a with ( nolock ) where "
                     "left ( tab_a.item_clsno , 4 ) =left ( ? , 4 ) and len ( tab_a.item_clsno ) "
                     "=6",
                     {Value("01010201")}),
            Rows({{"010102"}}));
}

TEST_F(TsqlOnSqlite, ShortInsertDeleteAndTruncate) {
  folder.exec("tillexv8",
              "insert into t_rm_cashier (cashier_id,cashier_name) values ('9999','boss'),"
              "('0001','ann');"
              "insert into t_bd_supcust_info (supcust_no,supcust_flag,sup_name) values "
              "('0','S','spared'),('1','S','gone'),('2','C','gone'),('3','X','other');"
              "insert into t_rm_spec_price (branch_no,item_no,special_type,start_date) values "
              "('00','I1','2','2024-01-01');"
              "insert into t_rm_vip_info (card_id,acc_num,dec_num) values ('C1',100,70),"
              "('C2',10,15),('C3',5,5)");
  folder.exec("dravik_pro",
              "insert into pos_t_cashier values ('0002','bob','secret','0'),"
              "('0003','cy','x','1')");
  auto s = folder.connect();
  runCases(
      *s,
      {
          {"delete t_rm_cashier where cashier_id<>'9999'",
           "select cashier_id from t_rm_cashier",
           {{"9999"}}},
          {"insert into t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant, "
           "cashier_status,discount_rate) select "
           "cashier_id,cashier_name,cashier_id,'00000000000000000',cashier_status,1 from "
           "dravik_pro..pos_t_cashier",
           "select cashier_id, cashier_pw, discount_rate from t_rm_cashier order by cashier_id",
           {{"0002", "0002", "1"}, {"0003", "0003", "1"}, {"9999", "NULL", "NULL"}}},
          {"delete  t_bd_supcust_info where supcust_flag in ('S','C') and supcust_no<>'0'",
           "select supcust_no from t_bd_supcust_info order by supcust_no",
           {{"0"}, {"3"}}},
          {"truncate table t_rm_spec_price", "select count(*) from t_rm_spec_price", {{"0"}}},
          {"Insert t_rm_vip_good_flow(vgf_branch_no, vgf_vip_no, vgf_flag, vgf_item_no, "
           "vgf_item_num, vgf_vip_num, vgf_oper, vgf_date, memo)  Select '00',card_id,(case when "
           "(acc_num - dec_num)>0 then '3' else '1' end),'',0,abs(acc_num - "
           "dec_num),'1001',getdate(),'数据导入' from t_rm_vip_info where (acc_num - dec_num)<>0",
           "select vgf_vip_no, vgf_flag, vgf_vip_num, memo from t_rm_vip_good_flow order by "
           "vgf_vip_no",
           {{"C1", "3", "30", "数据导入"}, {"C2", "1", "5", "数据导入"}}},
          {"Insert t_rm_vip_consume (card_id,branch_no,vip_cur_acc_amount,vip_acc_amount,"
           "vip_minus_total,com_flag) select    card_id,'00' , acc_num,acc_num,dec_num,'0' from "
           "t_rm_vip_info",
           "select card_id, vip_cur_acc_amount, vip_minus_total from t_rm_vip_consume order by "
           "card_id",
           {{"C1", "100", "70"}, {"C2", "10", "15"}, {"C3", "5", "5"}}},
      });
}

TEST_F(TsqlOnSqlite, RefillsWithCaseIsnullAndConvert) {
  folder.exec("dravik_std",
              "insert into bi_t_item_info (item_no,item_subno,item_brand,sup_no,price) values "
              "('I1',NULL,'qs','123456789',NULL),('I2','S2','10001',NULL,2.5),"
              "('I3','S3','QS ','S9',1)");
  folder.exec("dravik_pro",
              "insert into pos_t_vip_info (card_id,card_balance,total_integral,vip_integral) "
              "values ('C1',12.5,100,30),('C2',NULL,0,0)");
  folder.exec("tillexv8",
              "insert into t_bd_branch_info values ('00','head','0'),('01','shop','1'),"
              "('02','closed','2');"
              "insert into t_pc_branch_price (branch_no,item_no,price) values ('01','I2',9)");
  auto s = folder.connect();
  runCases(
      *s,
      {
          {"insert into t_bd_item_info "
           "(item_no,item_subno,item_name,item_subname,item_clsno,item_brand,item_brandname,"
           "unit_no,item_size,product_area,price,base_price,sale_price,combine_sta,status,"
           "display_flag,other1,other2 ,other3 ,num1,num2,main_supcust,item_sup_flag "
           ",sup_ly_rate,vip_price,dpfm_type,vip_acc_flag) select "
           "item_no,isnull(item_subno,'0'),item_name,item_subname,item_clsno,case item_brand "
           "when 'QS' then 'PP' else item_brand "
           "end,item_brandname,unit_no,item_size,product_area,isnull(price,0),isnull(base_price,"
           "0),isnull(sale_price,0),combine_sta,status,display_flag,other1,other2 "
           ",other3,num1,num2,case when sup_no is null then '0' when len(sup_no) > 8 then '0' "
           "else sup_no end,'A' ,0,0,'0','0' from dravik_std..bi_t_item_info",
           "select item_no, item_subno, item_brand, main_supcust, price from t_bd_item_info "
           "order by item_no",
           {{"I1", "0", "PP", "0", "0"},
            {"I2", "S2", "10001", "0", "2.5"},
            {"I3", "S3", "PP", "S9", "1"}}},
          {"update t_bd_item_info set item_brand=right(rtrim(item_brand),4) where "
           "item_brand<'9999'and len(rtrim(item_brand))=5 and item_brand is not null",
           "select item_brand from t_bd_item_info order by item_no",
           {{"PP"}, {"0001"}, {"PP"}}},
          // Every item for every branch of property 0 or 1 that lacks it.
          {"insert t_pc_branch_price (branch_no,item_no,supcust_no,sale_way,price, "
           "base_price,sale_price,vip_price, sup_ly_rate,branch_price,branch_sale,item_stock, "
           "base_price1, base_price2, base_price3, base_price4,status) select b.branch_no "
           ",a.item_no,a.main_supcust,a.item_sup_flag,(case trade_type when '2' then "
           "a.trans_price else a.price "
           "end),a.base_price,a.sale_price,a.vip_price,a.sup_ly_rate,a.branch_price,'1',a.item_"
           "stock,a.base_price1,a.base_price2,a.base_price3,a.base_price4,a.status from "
           "t_bd_item_info a, t_bd_branch_info b where b.property in ('0','1') and not exists "
           "(select 1 from t_pc_branch_price c where c.branch_no = b.branch_no and c.item_no = "
           "a.item_no)",
           "select branch_no, item_no, price, branch_sale from t_pc_branch_price order by "
           "branch_no, item_no",
           {{"00", "I1", "0", "1"},
            {"00", "I2", "2.5", "1"},
            {"00", "I3", "1", "1"},
            {"01", "I1", "0", "1"},
            {"01", "I2", "9", "NULL"},
            {"01", "I3", "1", "1"}}},
          {"insert into t_rm_vip_info "
           "(card_id,card_status,card_type,oper_date,oper_id,other1,other2,other3,vip_add, "
           "vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax,vip_tel,vip_zip,"
           "residual_amt,consum_amt,acc_num,dec_num,use_num,consum_count) select "
           "card_id,card_status,card_type,oper_date,oper_id,other1,other2,other3,vip_add, "
           "vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax, vip_tel,vip_zip, "
           "convert(varchar(20),card_balance),vip_cons_amount,total_integral,(total_integral - "
           "vip_integral),999999,cons_count from dravik_pro..pos_t_vip_info",
           "select card_id, residual_amt, acc_num, dec_num, use_num from t_rm_vip_info order by "
           "card_id",
           {{"C1", "12.5", "100", "70", "999999"}, {"C2", "NULL", "0", "0", "999999"}}},
      });
}

TEST_F(TsqlOnSqlite, FunctionsGiveSqlServersValues) {
  auto s = folder.connect();
  runCases(*s, {
                   {"select isnull(null,'x'), isnull('y','x')", "", {{"x", "y"}}},
                   {"select len('ab  '), len('  ab'), len('代销商'), len(''), len(null), len(123)",
                    "",
                    {{"2", "4", "3", "0", "NULL", "3"}}},
                   {"select left('代销商',2), right('abcde',4), left('ab',5), right('ab',0)",
                    "",
                    {{"代销", "bcde", "ab", ""}}},
                   {"select right(rtrim('10001  '),4), rtrim('  ab  '), abs(-3), abs(-2.5)",
                    "",
                    {{"0001", "  ab", "3", "2.5"}}},
                   {"select convert(varchar(20), 12.5), convert(varchar(3), 'abcdef'), "
                    "convert(varchar(20), null), convert(char(4), 'ab'), cast(12 as varchar(5))",
                    "",
                    {{"12.5", "abc", "NULL", "ab  ", "12"}}},
                   {"select case when 1 > 0 then 'y' else 'n' end, (case 'J' when 'Z' then 1 "
                    "when 'J' then 2 else 0 end), substring('abc',2,1)",
                    "",
                    {{"y", "2", "b"}}},
               });

  struct Failure {
    const char* sql;
    const char* text;
  };
  for (const Failure& f : {
           Failure{"select left('abc',-1)",
                   "Invalid length parameter passed to the left function."},
           Failure{"select right('abc',-1)",
                   "Invalid length parameter passed to the right function."},
           Failure{"select convert(varchar(3), 123.45)",
                   "Arithmetic overflow error converting numeric to data type varchar."},
       }) {
    SCOPED_TRACE(f.sql);
    Row row;
    EXPECT_LT(s->openCursor(f.sql)->fetch(row), 0);
    EXPECT_EQ(s->SQLErrText(), f.text);
  }
}

TEST_F(TsqlOnSqlite, GetdateIsLocalTimeFixedForTheStatement) {
  folder.exec("tillexv8",
              "insert into t_rm_vip_info (card_id,acc_num,dec_num) values "
              "('C1',1,0),('C2',2,0),('C3',3,0)");
  auto s = folder.connect();
  ASSERT_EQ(s->execute("Insert t_rm_vip_good_flow(vgf_vip_no, vgf_date) Select card_id, "
                       "getdate() from t_rm_vip_info"),
            0);
  const Rows dates = fetchAll(*s, "select distinct vgf_date from t_rm_vip_good_flow");
  ASSERT_EQ(dates.size(), 1u);
  EXPECT_TRUE(std::regex_match(dates[0][0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")))
      << dates[0][0];
}

TEST_F(TsqlOnSqlite, UpdateFromJoinsTheTargetRow) {
  folder.exec("tillexv8",
              "insert into t_bd_supcust_info (supcust_no,supcust_flag,sale_way,sup_name) values "
              "('S1','S','B','one'),('S2','S','A','two');"
              "insert into t_bd_item_info (item_no,item_subno,main_supcust,item_sup_flag,num3) "
              "values ('I1','SUB1','S1','A',1),('I2','SUB2','S2','A',0),('I3','SUB3','X','A',1),"
              "('I4','SUB4','s1 ','A',0);"
              "insert into t_rm_spec_price (branch_no,item_no,special_type,start_date) values "
              "('00','SUB1','2','2024-01-01'),('00','SUB2','2','2024-01-01');"
              "insert into t_im_flow (item_no) values ('SUB1'),('SUB2'),('I9')");
  auto s = folder.connect();
  runCases(
      *s,
      {
          // The target repeated in the FROM list is the row being updated;
          // items of 'A' suppliers and of unknown suppliers keep their flag.
          {"update t_bd_item_info set item_sup_flag=sale_way from "
           "t_bd_item_info,t_bd_supcust_info where "
           "t_bd_item_info.main_supcust=t_bd_supcust_info.supcust_no and not sale_way='A'",
           "select item_no, item_sup_flag from t_bd_item_info order by item_no",
           {{"I1", "B"}, {"I2", "A"}, {"I3", "A"}, {"I4", "B"}}},
          {"update t_rm_spec_price set item_no =t_bd_item_info.item_no from t_bd_item_info with "
           "( nolock ) where t_rm_spec_price.item_no =t_bd_item_info.item_subno and "
           "t_bd_item_info.num3 =1",
           "select item_no from t_rm_spec_price order by item_no",
           {{"I1"}, {"SUB2"}}},
          {"update t_im_flow set item_no =t_bd_item_info.item_no from t_bd_item_info with ( "
           "nolock ) where t_im_flow.item_no =t_bd_item_info.item_subno and t_bd_item_info.num3 "
           "=1",
           "select item_no from t_im_flow order by item_no",
           {{"I1"}, {"I9"}, {"SUB2"}}},
          {"update t_bd_item_info set t_bd_item_info.item_name = 'first' where item_no = 'I1'",
           "select item_name from t_bd_item_info where item_no = 'I1'",
           {{"first"}}},
          {"update a set item_name = b.sup_name from t_bd_item_info a, t_bd_supcust_info b "
           "where a.main_supcust = b.supcust_no and b.supcust_no = 'S2'",
           "select item_no, item_name from t_bd_item_info where item_name is not null order by "
           "item_no",
           {{"I1", "first"}, {"I2", "two"}}},
          {"update t_bd_item_info set item_subno = s.sale_way from t_bd_item_info inner join "
           "t_bd_supcust_info s on t_bd_item_info.main_supcust = s.supcust_no where s.sale_way "
           "<> 'A'",
           "select item_no, item_subno from t_bd_item_info order by item_no",
           {{"I1", "B"}, {"I2", "SUB2"}, {"I3", "SUB3"}, {"I4", "B"}}},
      });
  // Nothing matched: SQL Server's "no rows" code.
  EXPECT_EQ(s->execute("update t_bd_item_info set other2=item_subno,item_subno=item_no where "
                       "num3=2"),
            kSqlNoData);
}

TEST_F(TsqlOnSqlite, TextComparisonsIgnoreCaseAndTrailingBlanks) {
  folder.exec("tillexv8",
              "insert into t_bd_item_info (item_no,item_brand) values ('A1','12345'),"
              "('b2','abc'),('C3  ','9999')");
  auto s = folder.connect();
  runCases(*s, {
                   {"select item_no from t_bd_item_info where item_no = 'a1  '", "", {{"A1"}}},
                   {"select count(*) from t_bd_item_info where item_no <> 'c3'", "", {{"2"}}},
                   {"select item_no from t_bd_item_info where item_no in ('B2 ')", "", {{"b2"}}},
                   {"select max(item_no) from t_bd_item_info", "", {{"C3  "}}},
                   {"select count(*) from t_bd_item_info where item_brand<'9999'and "
                    "len(rtrim(item_brand))=5",
                    "",
                    {{"1"}}},
               });
  // Keys compare the same way: 'a1 ' is the key 'A1'.
  EXPECT_LT(s->execute("insert t_bd_item_info (item_no) values ('a1 ')"), 0);
}

TEST_F(TsqlOnSqlite, TriggerSwitchesFollowTheTransaction) {
  auto s = folder.connect();
  auto logged = [&] { return fetchAll(*s, "select count(*) from t_sys_change_log")[0][0]; };
  ASSERT_EQ(s->execute("ALTER TABLE t_bd_item_info disable TRIGGER all"), 0);
  ASSERT_EQ(s->execute("insert t_bd_item_info (item_no) values ('quiet')"), 0);
  EXPECT_EQ(logged(), "0");
  // Switching off twice is harmless; keywords in any case and a ';' are fine.
  EXPECT_EQ(s->execute("alter table T_BD_ITEM_INFO DISABLE trigger ALL;"), 0);
  ASSERT_EQ(s->execute("ALTER TABLE t_bd_item_info enable TRIGGER all"), 0);
  ASSERT_EQ(s->execute("insert t_bd_item_info (item_no) values ('loud')"), 0);
  EXPECT_EQ(logged(), "1");

  // A missing table fails that statement only.
  EXPECT_LT(s->execute("ALTER TABLE t_rm_nosuch disable TRIGGER all"), 0);
  EXPECT_EQ(s->SQLErrText(),
            "Cannot find the object \"t_rm_nosuch\" because it does not exist or you do not have "
            "permissions.");
  EXPECT_EQ(s->execute("ALTER TABLE t_rm_payflow disable TRIGGER all"), 0);
  s->commit();
  EXPECT_EQ(folder.scalar("tillexv8", "select group_concat(table_name) from tsql_trigger_off"),
            Value("t_rm_payflow"));

  // A rollback undoes a switch like any other statement.
  ASSERT_EQ(s->execute("ALTER TABLE t_bd_item_info disable TRIGGER all"), 0);
  ASSERT_EQ(s->execute("ALTER TABLE t_rm_payflow enable TRIGGER all"), 0);
  s->rollback();
  EXPECT_EQ(folder.scalar("tillexv8", "select group_concat(table_name) from tsql_trigger_off"),
            Value("t_rm_payflow"));
}

TEST_F(TsqlOnSqlite, UnsupportedTextsFailWithoutRunningAnything) {
  folder.exec("tillexv8", "insert into t_bd_branch_info values ('00','head','0')");
  auto s = folder.connect();
  struct Refused {
    const char* sql;
    const char* text;  // part of the error text
  };
  for (const Refused& r : {
           Refused{"delete from t_bd_branch_info; delete from t_bd_item_info", "more than one"},
           Refused{"delete from t_bd_branch_info where branch_no = @branch", "@branch"},
           Refused{"select * into t_copy from t_bd_branch_info", "INTO"},
           Refused{"select * from #work", "#work"},
           Refused{"exec sp_who", "'exec'"},
           Refused{"begin tran", "transaction"},
           Refused{"delete from t_bd_branch_info where branch_no = 'x", "Unclosed quotation"},
           Refused{"select top 10 percent * from t_bd_branch_info", "PERCENT"},
           Refused{"update top (1) t_bd_branch_info set branch_name = 'x'", "TOP"},
           Refused{"select convert(datetime, '15/01/2023', 103)", "style 103"},
           Refused{"delete t_bd_branch_info where 1", "non-boolean"},
           Refused{"select * from t_bd_branch_info with (index(pk))", "hint"},
           Refused{"ALTER TABLE t_bd_item_info disable TRIGGER tr_item_info_ins", "single trigger"},
           Refused{"delete from t_bd_branch_info where (branch_no = '00'", "parentheses"},
       }) {
    SCOPED_TRACE(r.sql);
    EXPECT_LT(s->execute(r.sql), 0);
    EXPECT_NE(s->SQLErrText().find(r.text), std::string::npos) << s->SQLErrText();
  }
  s->commit();
  EXPECT_EQ(folder.scalar("tillexv8", "select count(*) from t_bd_branch_info"), Value("1"));
}

TEST(TsqlRewriteCache, RewritesATextOnce) {
  RewriteContext context;
  RewriteCache cache(2);
  const auto first = cache.rewrite("select top 1 1 from t", context);
  EXPECT_EQ(first->statements, std::vector<std::string>{"select 1 from t LIMIT 1"});
  EXPECT_EQ(cache.rewrite("select top 1 1 from t", context), first);
  cache.rewrite("select 2", context);
  cache.rewrite("select 3", context);  // evicts the least recently used text
  EXPECT_EQ(cache.size(), 2u);
  EXPECT_NE(cache.rewrite("select top 1 1 from t", context), first);
}

// Only a statement that changes one row for each row of values may run many
// rows at once: sent together, rows that meet one another (a renumbering
// whose new code is the next row's old one) would end otherwise than one
// after the other.
TEST(TsqlBatchForm, OnlyStatementsThatChangeOneRowPerRowHaveOne) {
  auto types = std::make_shared<DeclaredTypes>();
  const auto table = [&](const char* name, const char* key, bool updateTriggers) {
    TableColumns columns;
    for (const char* column : {"id", "a", "b"}) {
      columns.columns.emplace_back(column, ColumnRule{});
    }
    columns.key = key;
    columns.updateTriggers = updateTriggers;
    types->add("main", name, std::move(columns));
  };
  table("t", "id", false);
  table("watched", "id", true);
  table("pair", "", false);  // a key of two columns
  RewriteContext context;
  context.types = types;
  const struct {
    const char* sql;
    bool batch;
  } cases[] = {
      {"update t set a = ? where id = ?", true},
      {"update t set a = ?, b = a + ? where ID = ?", true},
      {"update t set a = ? where a = ?", false},
      {"update t set id = ? where id = ?", false},
      {"update t set a = ? where id = ? and b = 1", false},
      {"update t set a = (select max(a) from t) where id = ?", false},
      {"update t set a = t.b from t, t2 where t.id = ?", false},
      {"update watched set a = ? where id = ?", false},
      {"update pair set a = ? where id = ?", false},
      {"update t set a = 1 where id = 2", false},
      {"insert into t (id, a) values (?, ?)", true},
      {"insert t values (?, getdate(), 'x')", true},
      {"insert into t (id, a) values (?, 1), (?, 2)", false},
      {"insert into t (id, a) values (?, (select max(a) from t))", false},
      {"insert into t (id, a) select ?, a from t", false},
      {"insert into t (id, a) values (1, 2)", false},
      {"delete from t where id = ?", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    const RewriteResult result = rewriteTsql(c.sql, context);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.batch.usable(), c.batch);
  }
}

}  // namespace
}  // namespace cvt

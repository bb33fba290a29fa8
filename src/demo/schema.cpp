#include "demo/schema.h"

namespace cvt {

namespace {

// Text columns declare the TSQL collation so that comparisons behave as on
// SQL Server; money and quantities are DECIMAL, read back as exact text.
constexpr const char* kTarget = R"SQL(
CREATE TABLE IF NOT EXISTS tsql_trigger_off (table_name TEXT PRIMARY KEY COLLATE NOCASE);

CREATE TABLE t_bd_item_info (
  item_no varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  item_subno varchar(20) COLLATE TSQL,
  item_name varchar(60) COLLATE TSQL,
  item_subname varchar(60) COLLATE TSQL,
  item_clsno varchar(20) COLLATE TSQL,
  item_brand varchar(20) COLLATE TSQL,
  item_brandname varchar(60) COLLATE TSQL,
  unit_no varchar(10) COLLATE TSQL,
  item_size varchar(40) COLLATE TSQL,
  product_area varchar(40) COLLATE TSQL,
  price DECIMAL(16,4) DEFAULT 0,
  base_price DECIMAL(16,4) DEFAULT 0,
  sale_price DECIMAL(16,4) DEFAULT 0,
  vip_price DECIMAL(16,4) DEFAULT 0,
  trans_price DECIMAL(16,4) DEFAULT 0,
  branch_price char(1) COLLATE TSQL DEFAULT '0',
  base_price1 DECIMAL(16,4) DEFAULT 0,
  base_price2 DECIMAL(16,4) DEFAULT 0,
  base_price3 DECIMAL(16,4) DEFAULT 0,
  base_price4 DECIMAL(16,4) DEFAULT 0,
  sup_ly_rate DECIMAL(8,4) DEFAULT 0,
  combine_sta char(1) COLLATE TSQL,
  status char(1) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  num1 DECIMAL(16,4),
  num2 DECIMAL(16,4),
  num3 DECIMAL(16,4) DEFAULT 0,
  main_supcust varchar(20) COLLATE TSQL,
  item_sup_flag char(1) COLLATE TSQL,
  dpfm_type char(1) COLLATE TSQL,
  vip_acc_flag char(1) COLLATE TSQL,
  trade_type char(1) COLLATE TSQL DEFAULT '1',
  item_stock char(1) COLLATE TSQL DEFAULT '0',
  modify_date datetime
);
-- Items are looked up by class when classes are renumbered.
CREATE INDEX ix_item_info_clsno ON t_bd_item_info (item_clsno);

CREATE TABLE t_bd_item_cls (
  item_clsno varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  item_clsname varchar(60) COLLATE TSQL,
  cls_parent varchar(20) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL,
  item_flag char(1) COLLATE TSQL
);

CREATE TABLE t_bd_base_code (
  type_no varchar(10) COLLATE TSQL NOT NULL,
  code_id varchar(20) COLLATE TSQL NOT NULL,
  code_name varchar(60) COLLATE TSQL,
  english_name varchar(60) COLLATE TSQL,
  code_type varchar(20) COLLATE TSQL,
  PRIMARY KEY (type_no, code_id)
);

CREATE TABLE t_bd_supcust_info (
  supcust_no varchar(20) COLLATE TSQL NOT NULL,
  supcust_flag char(1) COLLATE TSQL NOT NULL,
  sup_name varchar(100) COLLATE TSQL,
  sup_type varchar(10) COLLATE TSQL,
  region_no varchar(20) COLLATE TSQL,
  sup_man varchar(40) COLLATE TSQL,
  sup_addr varchar(100) COLLATE TSQL,
  zip varchar(10) COLLATE TSQL,
  sup_tel varchar(40) COLLATE TSQL,
  sup_fax varchar(40) COLLATE TSQL,
  sup_email varchar(60) COLLATE TSQL,
  sup_acct_back varchar(60) COLLATE TSQL,
  sup_acct_no varchar(40) COLLATE TSQL,
  sup_tax_no varchar(40) COLLATE TSQL,
  credit_amt DECIMAL(16,4),
  check_out_date datetime,
  check_out_day DECIMAL(8,0),
  check_out_flag char(1) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  sale_way char(1) COLLATE TSQL,
  settle_branch varchar(10) COLLATE TSQL,
  PRIMARY KEY (supcust_no, supcust_flag)
);

CREATE TABLE t_bd_cust_type (
  type_id varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  type_name varchar(40) COLLATE TSQL,
  oper_date datetime,
  oper_id varchar(10) COLLATE TSQL
);

CREATE TABLE t_bd_branch_info (
  branch_no varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  branch_name varchar(60) COLLATE TSQL,
  property char(1) COLLATE TSQL
);

CREATE TABLE t_sys_system (
  sys_var_id varchar(40) COLLATE TSQL NOT NULL PRIMARY KEY,
  sys_var_name varchar(60) COLLATE TSQL,
  sys_var_value varchar(100) COLLATE TSQL
);

CREATE TABLE t_pc_branch_price (
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  item_no varchar(20) COLLATE TSQL NOT NULL,
  supcust_no varchar(20) COLLATE TSQL,
  sale_way char(1) COLLATE TSQL,
  price DECIMAL(16,4),
  base_price DECIMAL(16,4),
  sale_price DECIMAL(16,4),
  vip_price DECIMAL(16,4),
  sup_ly_rate DECIMAL(8,4),
  branch_price char(1) COLLATE TSQL,
  branch_sale char(1) COLLATE TSQL,
  item_stock char(1) COLLATE TSQL,
  base_price1 DECIMAL(16,4),
  base_price2 DECIMAL(16,4),
  base_price3 DECIMAL(16,4),
  base_price4 DECIMAL(16,4),
  status char(1) COLLATE TSQL,
  PRIMARY KEY (branch_no, item_no)
);

CREATE TABLE t_rm_spec_price (
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  item_no varchar(20) COLLATE TSQL NOT NULL,
  special_type char(1) COLLATE TSQL NOT NULL,
  old_price DECIMAL(16,4),
  spe_price DECIMAL(16,4),
  discount DECIMAL(8,4),
  sale_qty DECIMAL(16,4),
  sold_qty DECIMAL(16,4),
  start_date datetime NOT NULL,
  end_date datetime,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  PRIMARY KEY (branch_no, item_no, special_type, start_date)
);

CREATE TABLE t_rm_cashier (
  cashier_id varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  cashier_name varchar(40) COLLATE TSQL,
  cashier_pw varchar(20) COLLATE TSQL,
  cashier_grant varchar(40) COLLATE TSQL,
  cashier_status char(1) COLLATE TSQL,
  discount_rate DECIMAL(8,4)
);

CREATE TABLE t_im_flow (
  flow_id INTEGER PRIMARY KEY AUTOINCREMENT,
  voucher_no varchar(20) COLLATE TSQL,
  oper_date datetime,
  item_no varchar(20) COLLATE TSQL,
  real_qty DECIMAL(16,4),
  price DECIMAL(16,4),
  sheet_amt DECIMAL(16,4),
  branch_no varchar(10) COLLATE TSQL,
  d_branch_no varchar(10) COLLATE TSQL,
  trans_no varchar(10) COLLATE TSQL,
  db_no char(1) COLLATE TSQL,
  supcust_no varchar(20) COLLATE TSQL,
  sale_way char(1) COLLATE TSQL,
  oper_id varchar(10) COLLATE TSQL
);

CREATE TABLE t_im_branch_stock (
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  item_no varchar(20) COLLATE TSQL NOT NULL,
  stock_qty DECIMAL(16,4),
  cost_price DECIMAL(16,4),
  PRIMARY KEY (branch_no, item_no)
);

CREATE TABLE t_rm_vip_type (
  type_id varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  type_name varchar(40) COLLATE TSQL,
  sale_way char(1) COLLATE TSQL,
  discount DECIMAL(8,4),
  memo varchar(100) COLLATE TSQL,
  oper_id varchar(10) COLLATE TSQL,
  oper_date datetime
);

CREATE TABLE t_rm_vip_info (
  card_id varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  card_status char(1) COLLATE TSQL,
  card_type varchar(10) COLLATE TSQL,
  oper_date datetime,
  oper_id varchar(10) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  vip_add varchar(100) COLLATE TSQL,
  vip_email varchar(60) COLLATE TSQL,
  vip_end_date datetime,
  vip_name varchar(40) COLLATE TSQL,
  vip_sex varchar(4) COLLATE TSQL,
  vip_start_date datetime,
  vip_tax varchar(40) COLLATE TSQL,
  vip_tel varchar(40) COLLATE TSQL,
  vip_zip varchar(10) COLLATE TSQL,
  residual_amt varchar(20) COLLATE TSQL,
  consum_amt DECIMAL(16,4),
  acc_num DECIMAL(16,4),
  dec_num DECIMAL(16,4),
  use_num DECIMAL(16,4),
  consum_count DECIMAL(16,0)
);

CREATE TABLE t_rm_vip_consume (
  card_id varchar(20) COLLATE TSQL NOT NULL,
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  vip_cur_acc_amount DECIMAL(16,4),
  vip_acc_amount DECIMAL(16,4),
  vip_minus_total DECIMAL(16,4),
  com_flag char(1) COLLATE TSQL,
  PRIMARY KEY (card_id, branch_no)
);

CREATE TABLE t_rm_vip_good_flow (
  flow_id INTEGER PRIMARY KEY AUTOINCREMENT,
  vgf_branch_no varchar(10) COLLATE TSQL,
  vgf_vip_no varchar(20) COLLATE TSQL,
  vgf_flag char(1) COLLATE TSQL,
  vgf_item_no varchar(20) COLLATE TSQL,
  vgf_item_num DECIMAL(16,4),
  vgf_vip_num DECIMAL(16,4),
  vgf_oper varchar(10) COLLATE TSQL,
  vgf_date datetime,
  memo varchar(100) COLLATE TSQL
);

CREATE TABLE t_rm_saving_plus_record (
  flow_id INTEGER PRIMARY KEY AUTOINCREMENT,
  card_id varchar(20) COLLATE TSQL NOT NULL,
  plus_count DECIMAL(16,4),
  plus_real_count DECIMAL(16,4),
  old_count DECIMAL(16,4),
  oper_id varchar(10) COLLATE TSQL,
  oper_date datetime,
  branch_no varchar(10) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL
);

CREATE TABLE t_rm_saleflow (
  flow_id INTEGER PRIMARY KEY AUTOINCREMENT,
  branch_no varchar(10) COLLATE TSQL,
  item_no varchar(20) COLLATE TSQL,
  sale_qnty DECIMAL(16,4),
  sale_money DECIMAL(16,4),
  oper_date datetime
);

CREATE TABLE t_rm_payflow (
  flow_id INTEGER PRIMARY KEY AUTOINCREMENT,
  branch_no varchar(10) COLLATE TSQL,
  pay_way varchar(10) COLLATE TSQL,
  pay_amount DECIMAL(16,4),
  oper_date datetime
);

-- Change log kept by the installation's triggers. While a table's triggers
-- are switched off its changes leave no trace here.
CREATE TABLE t_sys_change_log (
  log_id INTEGER PRIMARY KEY AUTOINCREMENT,
  table_name varchar(40) COLLATE TSQL,
  key_value varchar(40) COLLATE TSQL,
  action char(1) COLLATE TSQL
);

CREATE TRIGGER tr_item_info_ins AFTER INSERT ON t_bd_item_info
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_bd_item_info')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_bd_item_info', NEW.item_no, 'I'); END;
CREATE TRIGGER tr_item_cls_ins AFTER INSERT ON t_bd_item_cls
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_bd_item_cls')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_bd_item_cls', NEW.item_clsno, 'I'); END;
CREATE TRIGGER tr_base_code_ins AFTER INSERT ON t_bd_base_code
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_bd_base_code')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_bd_base_code', NEW.code_id, 'I'); END;
CREATE TRIGGER tr_supcust_ins AFTER INSERT ON t_bd_supcust_info
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_bd_supcust_info')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_bd_supcust_info', NEW.supcust_no, 'I'); END;
CREATE TRIGGER tr_vip_info_ins AFTER INSERT ON t_rm_vip_info
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_rm_vip_info')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_rm_vip_info', NEW.card_id, 'I'); END;
CREATE TRIGGER tr_spec_price_ins AFTER INSERT ON t_rm_spec_price
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_rm_spec_price')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_rm_spec_price', NEW.item_no, 'I'); END;
CREATE TRIGGER tr_branch_price_ins AFTER INSERT ON t_pc_branch_price
WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_pc_branch_price')
BEGIN INSERT INTO t_sys_change_log(table_name, key_value, action) VALUES ('t_pc_branch_price', NEW.item_no, 'I'); END;
)SQL";

constexpr const char* kSource = R"SQL(
CREATE TABLE bi_t_item_info (
  item_no varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  item_subno varchar(20) COLLATE TSQL,
  item_name varchar(60) COLLATE TSQL,
  item_subname varchar(60) COLLATE TSQL,
  item_clsno varchar(20) COLLATE TSQL,
  item_brand varchar(20) COLLATE TSQL,
  item_brandname varchar(60) COLLATE TSQL,
  unit_no varchar(10) COLLATE TSQL,
  item_size varchar(40) COLLATE TSQL,
  product_area varchar(40) COLLATE TSQL,
  price DECIMAL(16,4),
  base_price DECIMAL(16,4),
  sale_price DECIMAL(16,4),
  vip_price DECIMAL(16,4),
  ly_deduct DECIMAL(8,4),
  combine_sta char(1) COLLATE TSQL,
  status char(1) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  num1 DECIMAL(16,4),
  num2 DECIMAL(16,4),
  sup_no varchar(20) COLLATE TSQL,
  flag2 char(1) COLLATE TSQL
);

CREATE TABLE bi_t_item_cls (
  item_clsno varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  item_clsname varchar(60) COLLATE TSQL,
  item_flag char(1) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL
);

CREATE TABLE bi_t_region_info (
  region_no varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  region_name varchar(60) COLLATE TSQL
);

CREATE TABLE bi_t_supcust_info (
  supcust_no varchar(20) COLLATE TSQL NOT NULL,
  supcust_flag char(1) COLLATE TSQL NOT NULL,
  sup_name varchar(100) COLLATE TSQL,
  sup_type varchar(10) COLLATE TSQL,
  region_no varchar(20) COLLATE TSQL,
  sup_man varchar(40) COLLATE TSQL,
  sup_addr varchar(100) COLLATE TSQL,
  zip varchar(10) COLLATE TSQL,
  sup_tel varchar(40) COLLATE TSQL,
  sup_fax varchar(40) COLLATE TSQL,
  sup_email varchar(60) COLLATE TSQL,
  sup_acct_back varchar(60) COLLATE TSQL,
  sup_acct_no varchar(40) COLLATE TSQL,
  sup_tax_no varchar(40) COLLATE TSQL,
  credit_amt DECIMAL(16,4),
  check_out_date datetime,
  check_out_day DECIMAL(8,0),
  check_out_flag char(1) COLLATE TSQL,
  display_flag char(1) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  PRIMARY KEY (supcust_no, supcust_flag)
);

CREATE TABLE pos_t_vip_type (
  type_id varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  type_name varchar(40) COLLATE TSQL,
  sale_way char(1) COLLATE TSQL,
  discount DECIMAL(8,4),
  memo varchar(100) COLLATE TSQL,
  oper_id varchar(10) COLLATE TSQL,
  oper_date datetime
);

CREATE TABLE pos_t_vip_info (
  card_id varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,
  card_status char(1) COLLATE TSQL,
  card_type varchar(10) COLLATE TSQL,
  oper_date datetime,
  oper_id varchar(10) COLLATE TSQL,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL,
  vip_add varchar(100) COLLATE TSQL,
  vip_email varchar(60) COLLATE TSQL,
  vip_end_date datetime,
  vip_name varchar(40) COLLATE TSQL,
  vip_sex varchar(4) COLLATE TSQL,
  vip_start_date datetime,
  vip_tax varchar(40) COLLATE TSQL,
  vip_tel varchar(40) COLLATE TSQL,
  vip_zip varchar(10) COLLATE TSQL,
  card_balance DECIMAL(16,4),
  vip_cons_amount DECIMAL(16,4),
  total_integral DECIMAL(16,4),
  vip_integral DECIMAL(16,4),
  cons_count DECIMAL(16,0)
);

CREATE TABLE pos_t_spec_price (
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  item_no varchar(20) COLLATE TSQL NOT NULL,
  special_type char(1) COLLATE TSQL NOT NULL,
  old_price DECIMAL(16,4),
  spe_price DECIMAL(16,4),
  discount DECIMAL(8,4),
  sale_qnty DECIMAL(16,4),
  sold_qnty DECIMAL(16,4),
  start_date datetime NOT NULL,
  end_date datetime,
  other1 varchar(40) COLLATE TSQL,
  other2 varchar(40) COLLATE TSQL,
  other3 varchar(40) COLLATE TSQL
);

CREATE TABLE pos_t_cashier (
  cashier_id varchar(10) COLLATE TSQL NOT NULL PRIMARY KEY,
  cashier_name varchar(40) COLLATE TSQL,
  cashier_pw varchar(20) COLLATE TSQL,
  cashier_status char(1) COLLATE TSQL
);

CREATE TABLE ic_t_branch_stock (
  branch_no varchar(10) COLLATE TSQL NOT NULL,
  item_no varchar(20) COLLATE TSQL NOT NULL,
  stock_qty DECIMAL(16,4),
  cost_price DECIMAL(16,4),
  PRIMARY KEY (branch_no, item_no)
);
)SQL";

}  // namespace

const std::string& targetSchemaSql() {
  static const std::string kSql = kTarget;
  return kSql;
}

const std::string& sourceSchemaSql() {
  static const std::string kSql = kSource;
  return kSql;
}

}  // namespace cvt

#include "db/grid_result_set.h"

#include <gtest/gtest.h>

#include "support/db_folder.h"

namespace cvt {
namespace {

class GridResultSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.exec("tillexv8",
            "INSERT INTO t_bd_item_cls (item_clsno, item_clsname) VALUES "
            "('0102', 'second'), ('01', NULL), ('0101', 'first');");
    SQLCA = db.connect();
  }

  // Builds, creates, binds and retrieves `select`; returns the error text
  // of the first operation that failed.
  std::string open(GridResultSet& grid, const std::string& select) {
    const GridDefinition def = buildGridDefinition(*SQLCA, select, kGridPresentation);
    if (!def.error.empty()) {
      return def.error;
    }
    std::string err = grid.create(def.syntax);
    if (!err.empty()) {
      return err;
    }
    grid.bind(*SQLCA);
    if (grid.retrieve() < 0) {
      return grid.errorText();
    }
    return {};
  }

  test::DbFolder db;
  std::unique_ptr<Session> SQLCA;
};

TEST_F(GridResultSetTest, HoldsEveryRowInServerOrderReadByRowAndColumnName) {
  GridResultSet grid;
  ASSERT_EQ(open(grid, "select item_clsno, item_clsname from t_bd_item_cls with(nolock)"), "");
  ASSERT_EQ(grid.rowCount(), 3);
  // No ORDER BY: the rows come as the engine returns them (insertion order).
  EXPECT_EQ(grid.getString(1, "item_clsno"), "0102");
  EXPECT_EQ(grid.getString(2, "item_clsno"), "01");
  EXPECT_EQ(grid.getString(3, "ITEM_CLSNO"), "0101");  // names compare without case
  EXPECT_EQ(grid.getString(1, "item_clsname"), "second");
  EXPECT_EQ(grid.getString(2, "item_clsname"), std::nullopt);  // NULL

  EXPECT_EQ(grid.getString(0, "item_clsno"), std::nullopt);
  EXPECT_NE(grid.errorText(), "");
  EXPECT_EQ(grid.getString(4, "item_clsno"), std::nullopt);
  EXPECT_EQ(grid.getString(1, "no_such_column"), std::nullopt);
  EXPECT_NE(grid.errorText().find("no_such_column"), std::string::npos);

  // The rows are a snapshot: changing the table does not change them, and
  // a new retrieve reads the table again.
  SQLCA->execute("delete from t_bd_item_cls where item_clsno = '01'");
  EXPECT_EQ(grid.rowCount(), 3);
  EXPECT_EQ(grid.retrieve(), 2);
  EXPECT_EQ(grid.getString(2, "item_clsno"), "0101");

  grid.destroy();
  EXPECT_EQ(grid.rowCount(), 0);
  EXPECT_EQ(grid.retrieve(), -1);
}

TEST_F(GridResultSetTest, EmptyResultHoldsNoRows) {
  GridResultSet grid;
  ASSERT_EQ(open(grid, "select item_clsno from t_bd_item_cls where len(item_clsno) > 6"), "");
  EXPECT_EQ(grid.rowCount(), 0);
}

TEST_F(GridResultSetTest, BuildRejectsWhatIsNotAReadableSelect) {
  struct Case {
    std::string select;
    std::string presentation;
  };
  const Case cases[] = {
      {"select item_clsno from no_such_table", kGridPresentation},
      {"select no_such_column from t_bd_item_cls", kGridPresentation},
      {"delete from t_bd_item_cls", kGridPresentation},
      {"  update t_bd_item_cls set item_clsname = 'x'", kGridPresentation},
      {"selected from t_bd_item_cls", kGridPresentation},
      {"", kGridPresentation},
      {"select item_clsno from t_bd_item_cls", "style(type=form)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.select);
    const GridDefinition def = buildGridDefinition(*SQLCA, c.select, c.presentation);
    EXPECT_NE(def.error, "");
    EXPECT_EQ(def.syntax, "");
  }
  // The rejected data-changing texts never reached the table.
  SQLCA->rollback();
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_cls"), "3");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_cls WHERE item_clsname = 'x'"),
            "0");
}

TEST_F(GridResultSetTest, EngineErrorTextReachesTheBuildError) {
  const GridDefinition def =
      buildGridDefinition(*SQLCA, "select item_clsno from no_such_table", kGridPresentation);
  EXPECT_NE(def.error.find("no_such_table"), std::string::npos) << def.error;
}

TEST_F(GridResultSetTest, CreateRejectsDefinitionsItDidNotBuild) {
  const GridDefinition good =
      buildGridDefinition(*SQLCA, "select item_clsno from t_bd_item_cls", kGridPresentation);
  ASSERT_EQ(good.error, "");
  const std::string broken[] = {
      "",
      "style(type=grid)",
      good.syntax.substr(0, good.syntax.find("column=")),  // no columns, no select
      good.syntax.substr(0, good.syntax.find("select=")),  // no select
      "x" + good.syntax,
  };
  for (std::size_t i = 0; i < std::size(broken); ++i) {
    SCOPED_TRACE(i);
    GridResultSet grid;
    EXPECT_NE(grid.create(broken[i]), "");
    grid.bind(*SQLCA);
    EXPECT_EQ(grid.retrieve(), -1);  // an uncreated result set cannot retrieve
    EXPECT_EQ(grid.rowCount(), 0);
  }
}

TEST_F(GridResultSetTest, ColumnNamesSurviveTheDefinitionText) {
  // A column named by an expression spanning lines must come back intact.
  GridResultSet grid;
  ASSERT_EQ(
      open(grid, "select item_clsno as \"a\\b\nc\" from t_bd_item_cls where item_clsno = '01'"),
      "");
  EXPECT_EQ(grid.getString(1, "a\\b\nc"), "01");
}

TEST_F(GridResultSetTest, RetrieveFailsWithoutBindingOrWhenTheTableIsGone) {
  const GridDefinition def =
      buildGridDefinition(*SQLCA, "select item_clsno from t_bd_item_cls", kGridPresentation);
  ASSERT_EQ(def.error, "");

  GridResultSet unbound;
  ASSERT_EQ(unbound.create(def.syntax), "");
  EXPECT_EQ(unbound.retrieve(), -1);
  EXPECT_NE(unbound.errorText(), "");

  GridResultSet grid;
  ASSERT_EQ(grid.create(def.syntax), "");
  grid.bind(*SQLCA);
  ASSERT_EQ(grid.retrieve(), 3);
  SQLCA->rollback();
  db.exec("tillexv8", "DROP TABLE t_bd_item_cls;");
  EXPECT_EQ(grid.retrieve(), -1);
  EXPECT_EQ(grid.rowCount(), 0);  // a failed retrieve holds no rows
  EXPECT_NE(grid.errorText(), "");
}

}  // namespace
}  // namespace cvt

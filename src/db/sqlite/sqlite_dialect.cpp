// The T-SQL to SQLite translation as a dialect (makeSqliteDialect), for a
// SQLite data source reached through the SQLite ODBC driver.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "db/dialect.h"
#include "db/sqlite/declared_types.h"
#include "db/sqlite/tsql_rewriter.h"

namespace cvt {

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

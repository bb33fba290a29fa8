#include "db/sqlite/tsql_rewriter.h"

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt {

RewriteResult rewriteTsql(std::string_view sql, const RewriteContext& context) {
  return rewrite::Rewriter(sql, context).run();
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

}  // namespace cvt

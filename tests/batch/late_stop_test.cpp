// A stop asked for after the last step: the run's work stands, the close
// sequence runs, and the command still ends as stopped.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/batch_command.h"
#include "support/db_folder.h"

namespace cvt {
namespace {

using test::DbFolder;

TEST(BatchLateStop, AStopDuringTheVerificationOrAfterItEndsAsStopped) {
  // The stop is seen from the moment the output holds the marker.
  const char* const markers[] = {
      R"("event":"step")",          // the verification follows
      R"("text":"数据传输完成!")",  // the verification and the close follow
  };
  for (const char* marker : markers) {
    DbFolder db;
    db.exec("dravik_std",
            "INSERT INTO bi_t_region_info VALUES ('0101', 'north'), ('02', 'south');");
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in;
    BatchIo io{out,   err,     in,
               false, nullptr, [&] { return out.str().find(marker) != std::string::npos; }};

    const int status = runBatch(
        {"--dbms", "SQLite", "--server", db.path(), "--categories", "region", "--events", "jsonl"},
        io);

    EXPECT_EQ(status, kExitInterrupted) << marker << "\n" << out.str() << err.str();
    EXPECT_NE(out.str().find(R"({"event":"end","outcome":"failed"})"), std::string::npos);
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"), "2")
        << marker;
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0") << marker;
  }
}

}  // namespace
}  // namespace cvt

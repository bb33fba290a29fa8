// convert-batch: one conversion run without the window, for scripts and
// servers. See batchUsage() in app/batch_command.h for the options.

#include <iostream>
#include <string>
#include <vector>

#include "app/batch_command.h"
#include "platform/console.h"

int main(int argc, char** argv) {
  const cvt::platform::StopRequests stop;
  const std::vector<std::string> args = cvt::platform::utf8Arguments(argc, argv);
  cvt::BatchIo io{cvt::platform::standardOutput(),
                  cvt::platform::standardError(),
                  std::cin,
                  cvt::platform::standardOutputIsTerminal(),
                  cvt::platform::environmentVariable,
                  [&stop] { return stop.requested(); }};
  return cvt::runBatch(args, io);
}

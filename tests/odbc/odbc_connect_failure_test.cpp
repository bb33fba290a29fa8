// Connecting to SQL Server through FreeTDS where no server answers: each
// attempt must fail within the login time-out, with the driver's text after
// the connect button's message, and never show the password.
#include <gtest/gtest.h>

// Platform section (tests run on Linux only): POSIX sockets give a port
// that refuses connections and one that accepts and then stays silent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/connection.h"
#include "db/session.h"

namespace cvt {
namespace {

constexpr const char* kPassword = "Geheim-Pass1";
constexpr int kTimeoutSeconds = 3;

// A TCP socket bound to a free port on 127.0.0.1; listening when asked.
class LocalPort {
 public:
  explicit LocalPort(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (listening && ::listen(fd_, 4) != 0)) {
      ADD_FAILURE() << "cannot set up a local port";
    }
    port_ = ntohs(address.sin_port);
  }
  ~LocalPort() { close(); }
  LocalPort(const LocalPort&) = delete;
  LocalPort& operator=(const LocalPort&) = delete;

  void close() {
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

struct Attempt {
  ConnectOutcome outcome;
  double seconds = 0;
};

Attempt connectTo(const std::string& server, const std::string& port) {
  auto SQLCA = makeSession("MSS Microsoft SQL Server");
  SQLCA->settings.DBMS = "MSS Microsoft SQL Server";
  SQLCA->settings.DBParm = "LoginTimeout=" + std::to_string(kTimeoutSeconds);
  const auto start = std::chrono::steady_clock::now();
  Attempt attempt;
  attempt.outcome = connectTarget(*SQLCA, {server, port, "sa", std::string(" ") + kPassword});
  attempt.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_FALSE(SQLCA->connected());
  return attempt;
}

TEST(OdbcConnectFailure, UnreachableServersFailWithinTheLoginTimeout) {
  LocalPort closed(false);
  closed.close();          // nothing listens there any more
  LocalPort silent(true);  // accepts the connection, never answers the login

  struct Case {
    const char* name;
    std::string server;
    std::string port;
  };
  const std::vector<Case> cases = {
      {"closed port", "127.0.0.1", closed.port()},
      {"unresolvable host", "no-such-host.invalid", ""},
      {"silent server", "127.0.0.1", silent.port()},
  };
  for (const auto& c : cases) {
    const Attempt attempt = connectTo(c.server, c.port);
    const std::string& message = attempt.outcome.message;
    EXPECT_FALSE(attempt.outcome.connected) << c.name;
    EXPECT_EQ(message.rfind(std::string(kConnectFailed) + "[FreeTDS]", 0), 0u)
        << c.name << ": " << message;
    EXPECT_EQ(message.find(kPassword), std::string::npos) << c.name << ": " << message;
    EXPECT_LT(attempt.seconds, kTimeoutSeconds + 2.0) << c.name;
  }
}

}  // namespace
}  // namespace cvt

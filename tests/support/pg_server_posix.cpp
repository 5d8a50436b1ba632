// The test server's process on Linux: initdb and postgres of the installed PostgreSQL 15, as
// "postgres" when the tests run as root, in a folder of their own under the temporary folder.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/pg_server.h"

namespace lovar::testing {
namespace {
namespace fs = std::filesystem;

const fs::path kBin = "/usr/lib/postgresql/15/bin";

struct Account {
  bool switch_user = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

Account ServerAccount() {
  Account a;
  if (geteuid() != 0) return a;
  const passwd* pw = getpwnam("postgres");
  if (pw == nullptr) return a;
  return {true, pw->pw_uid, pw->pw_gid};
}

// Starts program as the server's account, its output to log; it dies with this process.
pid_t Spawn(const std::vector<std::string>& args, const Account& account, const fs::path& log) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
  if (account.switch_user &&
      (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0))
    _exit(126);
  // After the change of user, which clears it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(125);
  execv(argv[0], argv.data());
  _exit(127);
}

bool RunToEnd(const std::vector<std::string>& args, const Account& account, const fs::path& log) {
  const pid_t pid = Spawn(args, account, log);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

std::string FreePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::string port;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = std::to_string(ntohs(address.sin_port));
  close(s);
  return port;
}

struct Local {
  fs::path dir;
  std::string port, user, password;
  Account account;
};
Local local;

bool Launch(int& pid, std::string& why) {
  pid = Spawn({(kBin / "postgres").string(), "-D", (local.dir / "data").string(), "-p", local.port,
               "-k", local.dir.string()},
              local.account, local.dir / "server.log");
  const std::string ping = "host=127.0.0.1 port=" + local.port +
                           " dbname=postgres user=" + local.user + " connect_timeout=2";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (PQping(ping.c_str()) == PQPING_OK) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    usleep(20'000);  // the server says nothing when it is ready but accepts connections
  }
  std::ifstream log(local.dir / "server.log");
  why = "the test server did not start: " +
        std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
  return false;
}

}  // namespace

bool StartLocalServer(std::string& dir, std::string& port, std::string& user, std::string& password,
                      int& pid, std::string& why) {
  if (!fs::exists(kBin / "initdb")) {
    why = "no PostgreSQL 15 in " + kBin.string() + " (apt-get install postgresql-15)";
    return false;
  }
  local.account = ServerAccount();
  char folder[] = "/tmp/lovar-pg-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    why = "no temporary folder";
    return false;
  }
  local.dir = folder;
  if (local.account.switch_user) (void)chown(folder, local.account.uid, local.account.gid);
  std::random_device random;
  // Characters a URI must escape, so that the tests see them handled.
  local.password = "pw:" + std::to_string(random()) + "@x/y%z";
  local.user = user;
  const fs::path pwfile = local.dir / "pw";
  std::ofstream(pwfile) << local.password << "\n";
  if (local.account.switch_user) (void)chown(pwfile.c_str(), local.account.uid, local.account.gid);
  const fs::path data = local.dir / "data";
  const fs::path log = local.dir / "setup.log";
  bool ok = RunToEnd({(kBin / "initdb").string(), "-D", data.string(), "-U", local.user,
                      "--pwfile=" + pwfile.string(), "-E", "UTF8", "--locale=C.UTF-8",
                      "--auth-local=trust", "--auth-host=scram-sha-256", "--no-sync"},
                     local.account, log);
  ok = ok &&
       RunToEnd({"/usr/bin/openssl", "req", "-new", "-x509", "-nodes", "-days", "2", "-subj",
                 "/CN=127.0.0.1", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-keyout", (data / "server.key").string(), "-out", (data / "server.crt").string()},
                local.account, log);
  if (!ok) {
    std::ifstream text(log);
    why = "initdb failed: " +
          std::string(std::istreambuf_iterator<char>(text), std::istreambuf_iterator<char>());
    return false;
  }
  // In the configuration file, not on the command line, so that a test may change them.
  std::ofstream(data / "postgresql.conf", std::ios::app)
      << "listen_addresses = '127.0.0.1'\nssl = on\nfsync = off\nmax_connections = 40\n";
  local.port = FreePort();
  if (!Launch(pid, why)) return false;
  dir = local.dir.string();
  port = local.port;
  password = local.password;
  return true;
}

bool PgServer::Stop(bool immediately) {
  if (pid_ <= 0) return false;
  // SIGINT: a fast shutdown; SIGQUIT: an immediate one. What is committed stays either way.
  kill(pid_, immediately ? SIGQUIT : SIGINT);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  stopped_ = true;
  return true;
}

bool PgServer::Start() {
  if (!stopped_) return false;
  std::string why;
  stopped_ = !Launch(pid_, why);
  return !stopped_;
}

PgServer::~PgServer() {
  Stop();
  std::error_code ec;
  if (!dir_.empty()) fs::remove_all(dir_, ec);
}

}  // namespace lovar::testing

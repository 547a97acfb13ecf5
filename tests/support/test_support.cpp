#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

std::filesystem::path projectRoot() {
  if (const char* root = std::getenv("QUARLEX_SOURCE_DIR")) return root;
  return std::filesystem::current_path();
}

std::filesystem::path sharedAccessData() {
  auto dir = projectRoot() / ".." / "shared" / "testdata" / "access";
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return std::filesystem::weakly_canonical(dir);
  return {};
}

ScratchDir::ScratchDir() {
  std::random_device rd;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("quarlex-test-" + std::to_string(rd()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder under " + base.string());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  CommandResult result;
  if (argv.empty()) return result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const auto& add : extraEnv) {
    auto name = add.substr(0, add.find('=') + 1);
    std::erase_if(env, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
    env.push_back(add);
  }
  std::vector<char*> cargv, cenv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  for (const auto& e : env) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = "cannot start " + argv[0];
    return result;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  char buf[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string python() { return "/usr/bin/python3"; }

std::string runPython(const std::string& code, const std::vector<std::string>& args) {
  std::vector<std::string> argv{python(), "-c", code};
  argv.insert(argv.end(), args.begin(), args.end());
  auto r = runCommand(argv);
  EXPECT_EQ(r.exitCode, 0) << "python failed:\n" << r.err;
  return r.out;
}

nlohmann::json mdbReaderDump(const std::filesystem::path& file, const std::string& password,
                             const std::string& table) {
  std::vector<std::string> argv{"node", (projectRoot() / "tests" / "js" / "mdb_dump.mjs").string(),
                                file.string()};
  if (!password.empty()) argv.insert(argv.end(), {"--password", password});
  if (!table.empty()) argv.insert(argv.end(), {"--table", table});
  auto r = runCommand(argv);
  if (r.exitCode != 0) {
    ADD_FAILURE() << "mdb-reader could not read " << file << ": " << r.err;
    return nlohmann::json();
  }
  return nlohmann::json::parse(r.out);
}

nlohmann::json readWorkbook(const std::filesystem::path& file) {
  auto r = runCommand({python(), (projectRoot() / "tests" / "support" / "read_workbook.py").string(), file.string()});
  if (r.exitCode != 0) {
    ADD_FAILURE() << "the independent reader could not read " << file << ": " << r.err;
    return nlohmann::json::array();
  }
  return nlohmann::json::parse(r.out);
}

std::string readFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFileBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport

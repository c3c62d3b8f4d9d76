// A private PulseAudio server whose null sink stands in for a sound card in the tests and
// benchmarks that play sound, and a recorder of what reaches that sink. One server per
// process, started on first use and ended at exit: Qt's sound engine connects once per
// process and would not find a second one. The calling thread only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace private_sound {

namespace fs = std::filesystem;
using Samples = std::vector<int16_t>;

// Starts args[0] (looked up in PATH unless it is a path) with `env` (ours when empty), its
// output into a pipe whose read end goes to *out (or /dev/null without one) and its errors
// into the file `errors`. The child is killed when the calling thread
// ends, so it never outlives a crashed test. A plain fork: the thread sanitizer follows it,
// where QProcess's vfork-like start would leave it believing we are the child.
inline pid_t Spawn(std::vector<std::string> args, int* out, const std::string& errors,
                   const std::vector<std::string>& env = {}) {
  std::string program = args[0].find('/') != std::string::npos ? args[0] : "";
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
  for (std::string folder; program.empty() && std::getline(path, folder, ':');)
    if (access((folder + "/" + args[0]).c_str(), X_OK) == 0) program = folder + "/" + args[0];
  if (program.empty()) return -1;
  // Everything the child touches is made before fork: after it, only plain system calls.
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int pipe_fds[2] = {-1, -1};
  if (out != nullptr && pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
  const int err_fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(null_fd, 0);
    dup2(out != nullptr ? pipe_fds[1] : null_fd, 1);
    dup2(err_fd >= 0 ? err_fd : null_fd, 2);
    execve(program.c_str(), argv.data(), env.empty() ? environ : envp.data());
    _exit(127);
  }
  if (out != nullptr) {
    close(pipe_fds[1]);
    *out = pid > 0 ? pipe_fds[0] : (close(pipe_fds[0]), -1);
  }
  if (err_fd >= 0) close(err_fd);
  if (null_fd >= 0) close(null_fd);
  return pid;
}

// Ends a child started by Spawn: politely, then for sure.
inline void End(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) != 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file);
  return {std::istreambuf_iterator<char>(in), {}};
}

class Server {
 public:
  // The process's server; from the first call on, PULSE_SERVER points at it.
  static Server& Get() {
    static Server server;
    return server;
  }

  // Empty while the server runs and takes clients, else what went wrong.
  std::string Problem() const {
    if (pid_ <= 0) return "pulseaudio could not be started (is it installed?)";
    if (waitpid(pid_, nullptr, WNOHANG) != 0) return "pulseaudio ended: " + ReadFile(dir_ / "server.log");
    if (!fs::is_socket(socket_)) return "pulseaudio opened no socket: " + ReadFile(dir_ / "server.log");
    return "";
  }
  const fs::path& dir() const { return dir_; }

 private:
  Server() {
    std::string pattern = (fs::temp_directory_path() / "vantorix-sound-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern, socket_ = dir_ / "native";
    std::ofstream(dir_ / "null.pa") << "load-module module-null-sink\n"
                                    << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                                    << socket_.string() << "\n";
    // A bare environment: the server keeps its state in dir_ and meets no desktop session or bus.
    const std::string bin_path = std::string("PATH=") + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    pid_ = Spawn({"pulseaudio", "-nF", (dir_ / "null.pa").string(), "--daemonize=no", "--exit-idle-time=-1",
                  "--use-pid-file=no"},
                 nullptr, (dir_ / "server.log").string(),
                 {bin_path, "HOME=" + dir_.string(), "XDG_RUNTIME_DIR=" + dir_.string()});
    for (int i = 0; i < 1000 && pid_ > 0 && !fs::is_socket(socket_); ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    setenv("PULSE_SERVER", ("unix:" + socket_.string()).c_str(), 1);
  }
  ~Server() {
    End(pid_);
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path dir_, socket_;
  pid_t pid_ = -1;
};

// What reaches the server's sink, as mono 16-bit samples at `rate`, from the moment it is made.
class SinkRecording {
 public:
  explicit SinkRecording(int rate) {
    pid_ = Spawn({"parec", "--raw", "--format=s16le", "--channels=1", "--rate=" + std::to_string(rate),
                  "--latency-msec=5", "--device=@DEFAULT_MONITOR@"},
                 &fd_, (Server::Get().dir() / "parec.log").string());
  }
  ~SinkRecording() {
    End(pid_);
    if (fd_ >= 0) close(fd_);
  }
  SinkRecording(const SinkRecording&) = delete;
  SinkRecording& operator=(const SinkRecording&) = delete;

  // Takes in what has arrived, waiting up to wait_ms for it; false once the recorder is gone.
  bool Read(int wait_ms) {
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0) return false;
    const int ready = poll(&p, 1, wait_ms);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) return true;
    char chunk[8192];
    const ssize_t n = read(fd_, chunk, sizeof chunk);
    if (n <= 0) return false;
    bytes_.insert(bytes_.end(), chunk, chunk + n);
    const size_t whole = bytes_.size() / 2;
    const size_t had = samples_.size();
    samples_.resize(had + whole);
    std::memcpy(samples_.data() + had, bytes_.data(), whole * 2);  // parec writes little-endian, as we are
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<long>(whole * 2));
    return true;
  }

  // Records until `done` holds for what has arrived. False if the recorder dies or it takes
  // longer than `limit`, which only a hang does: the server delivers in real time.
  bool Until(const std::function<bool(const Samples&)>& done, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(samples_)) {
      if (std::chrono::steady_clock::now() > deadline || !Read(50)) return false;
    }
    return true;
  }

  const Samples& samples() const { return samples_; }
  std::string Errors() const { return ReadFile(Server::Get().dir() / "parec.log"); }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::vector<char> bytes_;
  Samples samples_;
};

// Where sound louder than `level` first comes at or after `from`, or -1.
inline long FirstLoud(const Samples& samples, size_t from, int level = 300) {
  for (size_t i = from; i < samples.size(); ++i)
    if (std::abs(samples[i]) > level) return static_cast<long>(i);
  return -1;
}

// The sum of squares, in full-scale units, of samples[from, end).
inline double Energy(const Samples& samples, size_t from = 0) {
  double sum = 0;
  for (size_t i = from; i < samples.size(); ++i) sum += (samples[i] / 32768.0) * (samples[i] / 32768.0);
  return sum;
}

}  // namespace private_sound

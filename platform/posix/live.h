// A prefix's running Wine, worked through: skelvin_live (a Windows program of
// this project) started with the Wine of the prefix's running wineserver,
// serving the registry calls and the restart request over a pipe. One helper
// process serves a whole run.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>

#include "platform/remote.h"
#include "vocab/status.h"

namespace plat::posix {

// Where the helpers are: $SKELVIN_LIVE_DIR when set (a program run from
// elsewhere, such as a test binary), else beside the program, at the place
// the installation gives them (the build tree has the same layout).
std::filesystem::path LiveHelperDir();

class LiveSession {
 public:
  // Starts the helper for `prefix`, whose wineserver `server` runs: the
  // helper of the prefix's architecture (skelvin_live64.exe, or
  // skelvin_live32.exe for a 32-bit prefix), run by the Wine loader beside
  // the server's own executable, so that client and server are one Wine.
  // nullptr, with the refusal in `*refusal` (ERROR_BUSY, naming the cause and
  // a way out), when that Wine cannot be found or run, or when the helper
  // would work on another server than `server`. Nothing has been written
  // then.
  static std::unique_ptr<LiveSession> Start(const std::filesystem::path& prefix, pid_t server, vocab::Status* refusal);
  // Ends the helper: its input closes, and it exits.
  ~LiveSession();
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  remote::RemoteRegistry& registry() { return registry_; }
  remote::RemoteShutdown& shutdown() { return shutdown_; }
  pid_t server() const { return server_; }
  // The line that says a call's stream broke: the server (or the helper) went away.
  std::string BrokenLine(const std::filesystem::path& prefix) const;

 private:
  class Pipes final : public remote::Channel {
   public:
    Pipes(int to_child, int from_child, pid_t child, const pid_t* server)
        : to_child_(to_child), from_child_(from_child), child_(child), server_(server) {}
    ~Pipes() override;
    Pipes(const Pipes&) = delete;
    Pipes& operator=(const Pipes&) = delete;
    [[nodiscard]] bool Read(void* data, std::size_t size) override;
    [[nodiscard]] bool Write(const void* data, std::size_t size) override;
    // Reads give up after `ms` milliseconds without data (-1: never), when
    // the helper has exited (processes it started may hold its output
    // open), and when the server has gone (a Wine program whose server died
    // during a call may wait for it for ever: the helper is then ended).
    void set_timeout(int ms) { timeout_ms_ = ms; }
    void CloseInput();

   private:
    int to_child_;
    int from_child_;
    pid_t child_;
    const pid_t* server_;
    int timeout_ms_ = -1;
  };

  LiveSession(pid_t child, int to_child, int from_child, pid_t server);
  // Waits for the helper to exit (killing it when it does not within `ms`);
  // its wait status.
  int Reap(int ms);

  pid_t child_;
  pid_t server_;
  Pipes pipes_;
  remote::RemoteRegistry registry_{pipes_};
  remote::RemoteShutdown shutdown_{registry_};
};

}  // namespace plat::posix

// Where wineserver keeps a prefix's server directory, and the search for a
// wineserver running for a prefix (what the prefix lock refuses to work
// beside).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "wineprefix/errors.h"

namespace wineprefix {

// wineserver's name for a prefix's server directory: server-<dev>-<ino>.
std::string ServerDirName(const struct stat& prefix);

// Where the server directory's parent is for this environment, as Debian's
// wineserver decides: /run/user/<uid>/wine when /run/user/<uid> exists, else
// the directory in $TMPDIR named by the prefix's `wineserver` file, which is
// made here as wineserver makes it when missing (so that a server started
// later uses the same lock). nullopt, and the cause in `why`, when it cannot
// be made.
std::optional<std::filesystem::path> ServerBase(const std::filesystem::path& prefix, std::string* why);

// Upstream Wine's parent of the server directories: always in /tmp, whatever
// TMPDIR says.
std::filesystem::path UpstreamBase();

// The pid of a wineserver holding the lock file's byte 0, or 0.
pid_t RunningServer(const std::filesystem::path& lock_file);

struct ServerScan {
  vocab::LONG status = vocab::ERROR_SUCCESS;
  pid_t pid = 0;
  std::size_t which = 0;  // the index of its server directory's name
};

// Looks through /proc for a process working in one of the server
// directories (wineserver lives in its own), and through the lock files of
// the places Wine may keep them. A server found is named by the pid that
// holds its lock when one does. ERROR_LOCK_FAILED in `status` when /proc
// cannot tell.
ServerScan FindServer(const std::vector<std::string>& server_dirs,
                      const std::optional<std::filesystem::path>& own_base);

// The wineservers working in a server directory named `server_dir`
// (wherever it is): the processes named wineserver* whose working directory
// it is.
std::vector<pid_t> ServerProcesses(const std::string& server_dir);

// The scan as the lock reports it: success when no server runs, else the
// refusal naming the way out. `dirs` are the guarded directories, in the
// order of the scan's names.
vocab::Status ReportScan(const std::filesystem::path& prefix, const std::vector<std::filesystem::path>& dirs,
                         const ServerScan& scan);

// How often this process has looked for running wineservers (FindServer).
std::uint64_t ServerScans();

}  // namespace wineprefix

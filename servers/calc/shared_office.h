// The office that outlives one host process: held by a keeper process of ours, reached through a
// Unix socket in a directory only the user can open, ended by the keeper after an idle time.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vlx::calc {

// VELMORA_CALC_KEEP_SECONDS: how long a shared office stays up unused; 0 (or unset, or not a
// number) means no shared office: one per host process.
int keepSeconds();

// What is wrong with dir as the shared office's directory, or "" when it is a directory (not a
// link) of `user` that nobody else may enter (mode 0700 or stricter).
std::string privateDirectoryRisk(const std::string &dir, uid_t user);

// The shared office's directory, made when missing: velmora-calc in $XDG_RUNTIME_DIR or, without
// one, velmora-calc-<uid> in the temporary directory. Throws CalcError when it is not private.
std::string sharedDirectory();

// What the keeper needs to start and watch the office; all prepared before it is forked.
struct KeeperPlan {
  std::string socketPath; // where clients reach the keeper
  std::string lockPath;   // held by a starting client, and by the keeper while it ends
  std::string pidPath;    // "keeper-pid office-pid\n", for whoever wants to know
  std::string scratch;    // the office's profile and temporary files, removed at the end
  std::string officePipe; // the socket the office listens on
  std::string log;        // the keeper's and the office's output
  std::vector<std::string> argv, env;
  int keepSeconds = 0;
};

// Listens on plan.socketPath (a stale socket there is replaced) and forks the keeper, which
// outlives this process: it starts the office and hands each client a connection to it, ends
// the office after plan.keepSeconds without clients, and ends itself when the office dies.
// Returns the keeper's pid; throws CalcError when it cannot be started.
pid_t launchKeeper(const KeeperPlan &plan);

// A connection to the shared office through the keeper at socketPath: the descriptor of the
// office's UNO connection, and `control`, which the client keeps open while it uses the office.
// -1 when no keeper answers there within timeoutMs (or it ended before the office answered).
int reachKeeper(const std::string &socketPath, int &control, int timeoutMs);

} // namespace vlx::calc

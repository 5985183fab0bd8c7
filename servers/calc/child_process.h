// The office's helper processes: started in a group of their own, killed with this process, and
// ended.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vlx::calc {

// Runs argv in its own process group, killed with its parent; its output goes to logPath and
// childFd (when not -1) is handed over as descriptor 3.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env,
            const std::string &logPath, int childFd);

// Ends a process group started by spawn(): politely, then by force.
void endGroup(pid_t &pid, std::chrono::milliseconds grace);

// The end of a child's log as one line: from LibreOffice's first "Fatal exception" report when
// there is one (its own account of a crash), else the last lines; empty when the log is.
std::string logTail(const std::string &path);

// This process's environment, as entries "NAME=value" for a child's.
std::vector<std::string> currentEnvironment();
// Sets name in env to value, in place of an entry of that name.
void setEnv(std::vector<std::string> &env, const std::string &name, const std::string &value);

} // namespace vlx::calc

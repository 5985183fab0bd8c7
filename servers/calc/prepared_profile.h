// What makes an office start fast: the profile's stored version set to the installed one (an
// older or missing one makes soffice run its graphics self-test, seconds long), and a profile
// kept from an earlier start (a fresh one makes soffice set up its extensions and restart).
#pragma once

#include <string>

namespace vlx::calc {

// The installed office's version as its configuration compares it ("7.4"), from the product key
// in programDir/bootstraprc; empty when it cannot be read.
std::string installedVersion(const std::string &programDir);

// settings, a registrymodifications.xcu document, with the profile's last version set to
// version; unchanged when version is empty.
std::string withLastVersion(const std::string &settings, const std::string &version);

// The directory a prepared profile of the installation in programDir is kept in:
// $XDG_CACHE_HOME/velmora (or ~/.cache/velmora), private to the user, made when missing.
// Empty when fast starts are off (VELMORA_CALC_FAST_START=0), the version is unknown or the
// directory is not the user's own with mode 0700.
std::string preparedProfileDir(const std::string &programDir);

// What an office needs free to start: its profile and first temporary files take a few
// megabytes, and on a full disk it starts and never answers.
constexpr unsigned long long kStartRoomBytes = 16ULL << 20;
// Whether dir's file system has less than kStartRoomBytes free for this user; freeBytes says
// how much it has.
bool diskFull(const std::string &dir, unsigned long long &freeBytes);

// Copies a kept profile into profile/user, all but its settings file, which the caller writes.
// False when none is kept (or the copy failed: the office then sets up the profile itself). A
// kept profile that cannot be copied is dropped, unless the copy's disk was full.
bool copyPreparedProfile(const std::string &kept, const std::string &profile);

// Keeps profile/user, which an office has set up, as the prepared profile when none is kept yet.
void keepPreparedProfile(const std::string &profile, const std::string &kept);

// How long a half-made copy of a kept profile (from keeping one, or dropping a damaged one)
// stays untouched before a start takes it for one a killed start left.
constexpr int kStaleCopySeconds = 15 * 60;

// Removes the half-made copies beside kept that no start has written for kStaleCopySeconds: the
// user's own directories only, never through a link.
void removeStaleCopies(const std::string &kept);

// For the office's start: removes stale copies, copies the prepared profile of the installation
// in programDir into profile (when one is kept) and answers settings with the installed version.
std::string prepareProfile(const std::string &profile, const std::string &programDir,
                           const std::string &settings);

} // namespace vlx::calc

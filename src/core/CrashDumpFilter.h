#pragma once
// The crash dump filter: when the launcher crashes on any thread, it writes a minidump of itself
// named "<g_strDumpPrefix>_YYYY_MM_DD_hh_mm_ss.dmp" (local time of the crash) and the process
// ends at once. Nothing is written while a debugger is attached. Dumps are for support staff;
// the launcher never reads, sends or deletes them.

#include <string>

#include "platform/CrashSignals.h"

// Installs the filter for every thread of the process, keeping the actions it replaces; the dump
// prefix is copied now (the filter allocates nothing). Only the first call installs, so the kept
// actions are always the ones from before the launcher. False when the signals could not be set.
bool InstallCrashDumpFilter(const std::string& dumpPrefix);

// Puts back the actions the filter replaced.
void RestoreCrashDumpFilter();

// The filter itself, called on the crashing thread inside the signal handler: kCrashContinueSearch
// under a debugger (nothing written), otherwise kCrashExecuteHandler once the dump is written or
// could not be (folder gone, disk full: no file, the same end).
int CrashDumpFilter(const platform::CrashEvent& crash);

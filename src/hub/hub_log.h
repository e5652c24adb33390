#pragma once

#include "session/log_hook.h"

// The hub's log: every entry of the core's log hook at or above a level, one
// line each on standard error. Under systemd (JOURNAL_STREAM set) each line
// starts with its syslog priority ("<4>") so the journal keeps the levels;
// elsewhere with the local time and the level's name.
namespace mc::hub {

void logToStandardError(LogLevel threshold);

} // namespace mc::hub

// Process-wide engine settings, read by every part of the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/dates.h"

namespace kce {

struct EngineSettings {
    int decimals = 2;
    bool showDeleted = true;
    uint16_t serverTypes = 1;  // local
    uint16_t cachedTables = 0;
    uint16_t cachedCursors = 25;
};

// A copy of the current settings (taken under the settings lock).
EngineSettings CurrentSettings();
// The current date format (a copy: the format may be changed by another thread meanwhile).
DateFormat CurrentDateFormat();

// Changes the settings under the settings lock.
void UpdateSettings(const std::function<void(EngineSettings&)>& change);
void SetDateFormat(const DateFormat& format);

// Count of open table handles, for KdsGetNumOpenTables; the table layer calls these.
void NoteTableOpened();
void NoteTableClosed();
int OpenTableCount();

}  // namespace kce

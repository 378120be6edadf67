#include "engine/settings.h"

#include <mutex>
#include <string>

namespace kce {
namespace {

std::mutex settingsMutex;
EngineSettings settings;
DateFormat dateFormat = *DateFormat::Parse("MM/dd/ccyy");
std::atomic<int> openTables{0};

}  // namespace

EngineSettings CurrentSettings() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return settings;
}

DateFormat CurrentDateFormat() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return dateFormat;
}

void UpdateSettings(const std::function<void(EngineSettings&)>& change) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    change(settings);
}

void SetDateFormat(const DateFormat& format) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    dateFormat = format;
}

void NoteTableOpened() { ++openTables; }
void NoteTableClosed() { --openTables; }
int OpenTableCount() { return openTables.load(); }

}  // namespace kce

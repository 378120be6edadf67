#include "kds/kdsset.h"

#include <cctype>
#include <mutex>

#include "kds/kdsengineerror.h"
#include "rtl/formatsettings.h"
#include "rtl/threads.h"

namespace kds {
namespace {

constexpr const char* kDefaultDateFormat = "MM/dd/ccyy";
constexpr size_t kMaxDateFormat = 11;

// The count of live instances and its guard, both process-wide.
rtl::TCriticalSection& InstanceLock() {
    static rtl::TCriticalSection lock;
    return lock;
}
int instanceCount = 0;

const UNSIGNED8* Bytes(const std::string& text) {
    return reinterpret_cast<const UNSIGNED8*>(text.c_str());
}

void Check(KCESTATUS status) {
    if (status != KCE_SUCCESS) throw kdsset::KdsError(status);
}

bool IsDateLetter(char c) {
    switch (std::tolower(static_cast<unsigned char>(c))) {
        case 'c':
        case 'y':
        case 'm':
        case 'd':
            return true;
    }
    return false;
}

void SetCachedCount(int8_t& field, int8_t value, const char* message,
                    KCESTATUS (*apply)(UNSIGNED16)) {
    if (value < 0) throw rtl::Exception(message);
    if (value == field) return;
    field = value;
    Check(apply(static_cast<UNSIGNED16>(value)));
}

}  // namespace

UNSIGNED16 ServerTypeMask(TKdsServerTypes types) {
    UNSIGNED16 mask = 0;
    if (types.Contains(stKDS_REMOTE)) mask += KCE_REMOTE_SERVER;
    if (types.Contains(stKDS_LOCAL)) mask += KCE_LOCAL_SERVER;
    if (types.Contains(stKDS_KIS)) mask += KCE_INTERNET_SERVER;
    return mask;
}

kdsset::KdsError::KdsError(UNSIGNED32 status)
    : rtl::Exception(KdsErrorMessage(status, EngineErrorSource::StatusText)) {}

TKdsSettings::TKdsSettings(rtl::TComponent* owner) : rtl::TComponent(owner) {
    {
        std::lock_guard<rtl::TCriticalSection> lock(InstanceLock());
        if (++instanceCount > 1) {
            --instanceCount;
            throw rtl::Exception("Only one KdsSettings component is allowed per application");
        }
    }
    try {
        setAppDate_ = true;
        SetNumCachedTables(0);
        SetNumCachedCursors(25);
        // The process's format goes to the engine as it is; the process's format is not touched.
        std::string format = rtl::ShortDateFormat();
        if (KdsSetDateFormat(Bytes(format)) != KCE_SUCCESS) {
            format = kDefaultDateFormat;
            Check(KdsSetDateFormat(Bytes(format)));
        }
        dateFormat_ = format.substr(0, 12);
        UNSIGNED16 decimals = 0;
        Check(KdsGetDecimals(&decimals));
        numDecimals_ = static_cast<int8_t>(decimals);
        UNSIGNED16 shown = 0;
        Check(KdsGetDeleted(&shown));
        showDeleted_ = shown != 0;
        SetKdsServerTypes({stKDS_REMOTE, stKDS_KIS});
    } catch (...) {
        std::lock_guard<rtl::TCriticalSection> lock(InstanceLock());
        --instanceCount;
        throw;
    }
}

TKdsSettings::~TKdsSettings() {
    std::lock_guard<rtl::TCriticalSection> lock(InstanceLock());
    --instanceCount;
}

int TKdsSettings::InstanceCount() {
    std::lock_guard<rtl::TCriticalSection> lock(InstanceLock());
    return instanceCount;
}

std::string TKdsSettings::DateFormat() const { return dateFormat_; }

void TKdsSettings::SetDateFormat(const std::string& value) {
    std::string format = value.empty() ? kDefaultDateFormat : value.substr(0, kMaxDateFormat);
    Check(KdsSetDateFormat(Bytes(format)));
    dateFormat_ = format;
    std::string separatorSource = format;
    if (setAppDate_) {
        std::string appFormat = format;
        for (char& c : appFormat) {
            char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == 'c' || lower == 'y') c = 'y';
        }
        savedAppDateFormat_ = rtl::ShortDateFormat();
        rtl::SetShortDateFormat(appFormat);
        separatorSource = appFormat;
    }
    // The last character that is not a date letter becomes the separator.
    for (char c : separatorSource)
        if (!IsDateLetter(c)) rtl::SetDateSeparator(c);
}

void TKdsSettings::SetSetAppDate(bool value) {
    // Undoes what the DateFormat read just before did to the process's format. Nothing was
    // remembered when no DateFormat was read: the process keeps its format rather than an empty
    // one, which would leave every date without a text form.
    if (!value && IsLoading() && !savedAppDateFormat_.empty())
        rtl::SetShortDateFormat(savedAppDateFormat_);
    setAppDate_ = value;
}

void TKdsSettings::SetNumDecimals(int8_t value) {
    Check(KdsSetDecimals(static_cast<UNSIGNED16>(value)));
    numDecimals_ = value;
}

void TKdsSettings::SetShowDeleted(bool value) {
    Check(KdsShowDeleted(value ? 1 : 0));
    showDeleted_ = value;
}

void TKdsSettings::SetKdsServerTypes(TKdsServerTypes value) {
    if (value == serverTypes_) return;
    TKdsServerTypes previous = serverTypes_;
    serverTypes_ = value;
    auto restore = [&] {
        serverTypes_ = previous.Empty() ? TKdsServerTypes{stKDS_REMOTE} : previous;
    };
    UNSIGNED16 mask = ServerTypeMask(value);
    if (mask == 0) {
        restore();
        throw KdsSettingsError("At least one server type must be selected.");
    }
    KCESTATUS status = KdsSetServerType(mask);
    if (status != KCE_SUCCESS) {
        restore();
        throw kdsset::KdsError(status);
    }
}

void TKdsSettings::SetNumCachedTables(int8_t value) {
    SetCachedCount(numCachedTables_, value, "NumCachedTables value must be greater than zero.",
                   KdsCacheOpenTables);
}

void TKdsSettings::SetNumCachedCursors(int8_t value) {
    SetCachedCount(numCachedCursors_, value, "NumCachedCursors value must be greater than zero.",
                   KdsCacheOpenCursors);
}

UNSIGNED32 TKdsSettings::LastErrorCode() {
    UNSIGNED32 code = 0;
    KdsGetLastError(&code, nullptr, nullptr);
    return code;
}

int8_t TKdsSettings::NumOpenTables() {
    UNSIGNED16 count = 0;
    Check(KdsGetNumOpenTables(&count));
    return static_cast<int8_t>(count);
}

}  // namespace kds

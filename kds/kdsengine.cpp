#include "kds/kdsengine.h"

#include <cstring>

#include "kds/kdsdata.h"
#include "kds/kdsengineerror.h"

namespace kds {
namespace {

thread_local bool pendingError = false;

constexpr UNSIGNED16 kErrorTextCapacity = KCE_MAX_ERROR_LEN;
constexpr size_t kMaxColumnName = 900;

// The column an error about a column names: the text after `column "` up to the next quote.
std::string ColumnNameIn(const std::string& message) {
    static constexpr std::string_view kMarker = "column \"";
    size_t start = message.find(kMarker);
    if (start == std::string::npos) return {};
    start += kMarker.size();
    size_t end = message.find('"', start);
    size_t length = (end == std::string::npos ? message.size() : end) - start;
    return message.substr(start, std::min(length, kMaxColumnName));
}

}  // namespace

struct EKDSDatabaseError::PendingMark {
    PendingMark() { pendingError = true; }
    ~PendingMark() { pendingError = false; }
    PendingMark(const PendingMark&) = delete;
    PendingMark& operator=(const PendingMark&) = delete;
};

bool EKDSDatabaseError::Pending() { return pendingError; }

EKDSDatabaseError::EKDSDatabaseError(const TKdsDataSet* dataSet, const std::string& message,
                                     int32_t code)
    : db::EDatabaseError(message), errorCode_(code) {
    if (pendingError) return;
    pending_ = std::make_shared<PendingMark>();
    if (dataSet == nullptr) return;
    // A dataset half torn down may fail to answer (its path resolution reads the alias file):
    // what was filled in stays, the error itself must still be raised.
    try {
        dataSetName_ = dataSet->Name();
        if (dataSet->Owner() != nullptr) dataSetOwnerName_ = dataSet->Owner()->Name();
        databaseName_ = dataSet->DatabaseName();
        databasePath_ = const_cast<TKdsDataSet*>(dataSet)->DatabasePath();
        tableName_ = dataSet->TableName();
        if (code == 5147 || code == 5148 || code == 5149) columnName_ = ColumnNameIn(message);
    } catch (...) {
    }
    if (!dataSetName_.empty()) SetMessage(dataSetName_ + ": " + message);
}

EKDSDatabaseError::~EKDSDatabaseError() = default;

EngineError EngineErrorOf(KCESTATUS status, EngineErrorSource source) {
    UNSIGNED32 code = status;
    UNSIGNED8 text[kErrorTextCapacity + 1] = {};
    UNSIGNED16 length = kErrorTextCapacity;
    KCESTATUS answer = source == EngineErrorSource::LastError
                           ? KdsGetLastError(&code, text, &length)
                           : KdsGetErrorString(status, text, &length);
    text[kErrorTextCapacity] = 0;
    EngineError error;
    error.known = answer == KCE_SUCCESS;
    error.code = static_cast<int32_t>(code);
    error.text = std::string(reinterpret_cast<const char*>(text));
    return error;
}

std::string KdsErrorMessage(KCESTATUS status, EngineErrorSource source) {
    EngineError error = EngineErrorOf(status, source);
    if (error.known) return error.text;
    KdsShowError(KceText(std::string(msg::kKdsExceptionTitle)));
    return {};
}

void CheckKdsStatus(const TKdsDataSet* dataSet, KCESTATUS status) {
    if (status == KCE_SUCCESS || pendingError) return;
    EngineError error = EngineErrorOf(status, EngineErrorSource::LastError);
    throw EKDSDatabaseError(dataSet, error.text, error.code);
}

void KdsDatabaseError(const TKdsDataSet* dataSet, std::string_view message, int32_t code) {
    throw EKDSDatabaseError(dataSet, std::string(message), code);
}

void SetEngineDisplayCallback(EngineDisplayCallback callback, void* context) {
    KdsSetDisplayCallback(callback, context);
}

TEngineVersion EngineVersion() {
    TEngineVersion version;
    UNSIGNED8 letter = ' ';
    UNSIGNED16 descLength = 0;
    CheckKdsStatus(nullptr,
                   KdsGetVersion(&version.Major, &version.Minor, &letter, nullptr, &descLength));
    version.Letter = static_cast<char>(letter);
    return version;
}

std::string EngineVersionText() {
    TEngineVersion v = EngineVersion();
    std::string text =
        "KCE " + std::to_string(v.Major) + (v.Minor >= 10 ? "." : ".0") + std::to_string(v.Minor);
    if (v.Letter != ' ' && v.Letter != '\0') text += v.Letter;
    return text;
}

int EngineOpenTableCount() {
    UNSIGNED16 count = 0;
    CheckKdsStatus(nullptr, KdsGetNumOpenTables(&count));
    return count;
}

}  // namespace kds

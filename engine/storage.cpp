#include "engine/storage.h"

#include <algorithm>

#include "engine/status.h"

namespace kce {

void Storage::RemoveObserver(const WriteObserver* observer) {
    observers_.erase(std::remove_if(observers_.begin(), observers_.end(),
                                    [&](const auto& o) { return o.get() == observer; }),
                     observers_.end());
}

KCESTATUS Storage::NotifyWrite(UNSIGNED32 recno, const uint8_t* oldImage, const uint8_t* newImage) {
    for (auto& o : observers_) {
        if (KCESTATUS s = o->OnWrite(*this, recno, oldImage, newImage)) return s;
    }
    return KCE_SUCCESS;
}

// Other xBase programs could not read an encrypted DBF, memo or index file: only native tables
// are encrypted.
KCESTATUS Storage::Encrypt(std::string_view) {
    return Fail(KCE_ENCRYPTION_NOT_SUPPORTED,
                "table " + path_ + " is not a native table; only native tables can be encrypted");
}
KCESTATUS Storage::Decrypt(std::string_view) { return Fail(KCE_NOT_ENCRYPTED, "table " + path_); }

KCESTATUS Storage::BeginTransaction() {
    return Fail(KCE_NOT_SUPPORTED, "table " + path_ + " has no transactions");
}
KCESTATUS Storage::CommitTransaction() {
    return Fail(KCE_NOT_SUPPORTED, "table " + path_ + " has no transactions");
}
KCESTATUS Storage::RollbackTransaction() {
    return Fail(KCE_NOT_SUPPORTED, "table " + path_ + " has no transactions");
}

KCESTATUS Storage::NotifyTransaction(TransactionPhase phase) {
    KCESTATUS first = KCE_SUCCESS;
    for (auto& o : observers_) {
        KCESTATUS s = o->OnTransaction(*this, phase);
        if (!first) first = s;
    }
    return first;
}

KCESTATUS Storage::NotifyRebuild() {
    for (auto& o : observers_) {
        if (KCESTATUS s = o->OnRebuild(*this)) return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS Storage::NotifyZap() {
    for (auto& o : observers_) {
        if (KCESTATUS s = o->OnZap(*this)) return s;
    }
    return KCE_SUCCESS;
}

}  // namespace kce

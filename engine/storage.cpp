#include "engine/storage.h"

#include <algorithm>

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

KCESTATUS Storage::NotifyZap() {
    for (auto& o : observers_) {
        if (KCESTATUS s = o->OnZap(*this)) return s;
    }
    return KCE_SUCCESS;
}

}  // namespace kce

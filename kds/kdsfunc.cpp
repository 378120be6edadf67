#include "kds/kdsfunc.h"

namespace kds {

void TKdsDataSet::EmptyTable() {
    if (Active()) {
        EnsureBrowseMode();
        CheckKdsStatus(this, KdsZapTable(tableHandle_));
        ResetBufferWindow();
        NotifyDataEvent(db::DataEventCode::DataSetChange);
        return;
    }
    KDSHANDLE handle = OpenCursorWithOptions();
    KCESTATUS status = KdsZapTable(handle);
    if (status != KCE_SUCCESS) {
        // The zap's error goes first; the handle must not outlive it.
        try {
            CheckKdsStatus(this, status);
        } catch (...) {
            KdsCloseTable(handle);
            throw;
        }
    }
    CheckKdsStatus(this, KdsCloseTable(handle));
}

void TKdsExtendedDataSet::RealignToEngine() {
    UNSIGNED16 atEnd = 0;
    UNSIGNED16 atStart = 0;
    KCESTATUS status = KdsAtEOF(TableHandle(), &atEnd);
    if (status != KCE_NO_CURRENT_RECORD) CheckKdsStatus(this, status);
    status = KdsAtBOF(TableHandle(), &atStart);
    if (status != KCE_NO_CURRENT_RECORD) CheckKdsStatus(this, status);
    ForgetCursorPosition();
    if (atStart != 0) {
        First();
    } else if (atEnd != 0) {
        Last();
    } else {
        RefillBuffers({});
    }
}

void TKdsExtendedTable::EnableEncryption(const std::string& password) {
    KCESTATUS status = KdsEnableEncryption(TableHandle(), KceText(password));
    if (status != KCE_NO_CURRENT_RECORD) CheckKdsStatus(this, status);
    RealignToEngine();
}

}  // namespace kds

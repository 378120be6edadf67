// The C entry points of transactions (engine/transaction.cpp does the work).
#include "engine/api/helpers.h"
#include "engine/connection.h"
#include "engine/handles.h"
#include "engine/status.h"

using namespace kce;

namespace {

KCESTATUS ConnectionOf(KDSHANDLE handle, std::shared_ptr<Connection>* connection) {
    if (Handles::Get(handle, connection, "connection") != KCE_SUCCESS) {
        return Fail(KCE_NOT_CONNECTED, "connection handle " + std::to_string(handle));
    }
    return KCE_SUCCESS;
}

}  // namespace

extern "C" KCESTATUS KdsBeginTransaction(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = ConnectionOf(handle, &connection)) return s;
        return BeginTransaction(*connection);
    });
}

extern "C" KCESTATUS KdsCommitTransaction(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = ConnectionOf(handle, &connection)) return s;
        return EndTransaction(*connection, true);
    });
}

extern "C" KCESTATUS KdsRollbackTransaction(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = ConnectionOf(handle, &connection)) return s;
        return EndTransaction(*connection, false);
    });
}

extern "C" KCESTATUS KdsInTransaction(KDSHANDLE handle, UNSIGNED16* active) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = ConnectionOf(handle, &connection)) return s;
        if (!active) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
        *active = connection->InTransaction() ? 1 : 0;
        return KCE_SUCCESS;
    });
}

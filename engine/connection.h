// A connection: a data folder the tables of a handle are found in. It owns nothing but its list
// of open table handles, which KdsDisconnect closes.
#pragma once

#include <string>
#include <vector>

#include "engine/handles.h"

namespace kce {

class Connection : public HandleObject {
  public:
    Connection(std::string given, std::string folder)
        : given_(std::move(given)), folder_(std::move(folder)) {}
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_CONNECTION; }

    // The path as the caller gave it, and the folder it resolved to.
    const std::string& Given() const { return given_; }
    const std::string& Folder() const { return folder_; }

    // Table handles opened through this connection (KdsDisconnect closes them).
    std::vector<KDSHANDLE>& Tables() { return tables_; }

  private:
    std::string given_;
    std::string folder_;
    std::vector<KDSHANDLE> tables_;
};

}  // namespace kce

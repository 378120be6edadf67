// Native tables (.kdt): one SQLite database per table. The file layout is described in
// docs/formats/kdt.md and at the top of kdt_storage.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/storage.h"

namespace kce::native {

KCESTATUS OpenKdt(const OpenRequest& request, std::unique_ptr<Storage>* out);
KCESTATUS CreateKdt(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out);

}  // namespace kce::native

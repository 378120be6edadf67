// The table layout the fuzz targets compile against: one field of every value type.
#pragma once

#include "engine/expr/value.h"

namespace fuzz {

inline const kce::ExprSchema& Schema() {
    static const kce::ExprSchema schema({{"NAME", 4, 0, 10, 0},
                                         {"QTY", 2, 10, 6, 2},
                                         {"HIRED", 3, 16, 4, 0},
                                         {"PAID", 1, 20, 1, 0},
                                         {"SALARY", 10, 21, 8, 0},
                                         {"AGE", 11, 29, 4, 0},
                                         {"STAMP", 14, 33, 8, 0},
                                         {"START", 13, 41, 4, 0},
                                         {"SHORT", 12, 45, 2, 0},
                                         {"BORN", 9, 47, 3, 0},
                                         {"NOTES", 5, 50, 4, 0}});
    return schema;
}

constexpr size_t kImageLength = 54;

}  // namespace fuzz

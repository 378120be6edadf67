#include "rtl/exceptions.h"

#include "rtl/format.h"

namespace rtl {

void Abort() { throw EAbort(); }

void ListIndexError(long long index) {
    throw EListError(Format("List index out of bounds (%d)", {index}));
}

}  // namespace rtl

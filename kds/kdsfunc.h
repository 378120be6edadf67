// Unit kdsfunc: the intermediate dataset classes that carry table maintenance.
//   TKdsExtendedDataSet  realigning the record window after an engine-side change
//   TKdsExtendedTable    giving the engine an encrypted table's password
// Emptying a table (TKdsDataSet::EmptyTable) is implemented here as well.
#pragma once

#include <string>

#include "kds/kdsdata.h"

namespace kds {

class TKdsExtendedDataSet : public TKdsDataSet {
  public:
    using TKdsDataSet::TKdsDataSet;

    // After the engine changed what the cursor sees (a password given, records changed behind
    // the dataset's back): at BOF moves to the first record, at EOF to the last, else refills
    // the window around the engine's current record.
    void RealignToEngine();
};

class TKdsExtendedTable : public TKdsExtendedDataSet {
  public:
    using TKdsExtendedDataSet::TKdsExtendedDataSet;

    // Gives the open table's handle the password, then reads the records again. The component
    // keeps no copy: a handle opened later needs the password again.
    void EnableEncryption(const std::string& password);
};

}  // namespace kds

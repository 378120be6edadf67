// `updatebank convert --plan SOURCE TARGET [--json]`: what the CONVERT command would do with each
// field, told from the very field objects the command works with, without writing anything.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/convert_rules.h"
#include "app/updatebank.h"

namespace app {

struct FieldPlan {
    enum Fate { kCopied, kSkipped, kPhoto };
    std::string name;
    Fate fate = kSkipped;
    EngineField source;
    EngineField target;                // copied and photo only
    std::vector<PossibleLoss> losses;  // copied and photo only
};

struct ConvertPlan {
    std::vector<FieldPlan> fields;  // every source field, in order
    struct TargetOnly {
        std::string name;
        EngineField field;
    };
    std::vector<TargetOnly> targetOnly;  // target fields the source lacks, in order
};

// "copied", "skipped", "photo".
const char* FateName(FieldPlan::Fate fate);

// Opens the window's two EMPLOYEE tables on the two folders as the CONVERT command does, but
// read-only and shared, and tells what the command would do with them. Throws what opening
// throws. The tables are closed again afterwards.
ConvertPlan PlanConvert(TForm1& form, const std::string& source, const std::string& target);

// The plan as lines of text, and as one JSON object (UTF-8, one line).
std::string PlanText(const ConvertPlan& plan);
std::string PlanJson(const ConvertPlan& plan, const std::string& source, const std::string& target);

// A JSON string of text in the process's code page.
std::string JsonString(const std::string& text);

// The whole command: the window made from its definition under the headless backend, the plan
// printed on `out`; an error as "error: TEXT" on `err` and status 1.
int PlanWithoutWindow(const std::string& source, const std::string& target, bool json,
                      std::ostream& out, std::ostream& err);

}  // namespace app

// What the CONVERT command's text rules can do to a value on its way from a source field to the
// target field of the same name: the value is read as text (the source field's StringValue) and
// stored from that text (the target field's SetStringValue). The rules are named here once, in
// terms of the field objects the command uses (their classes, sizes and the engine field each
// stands for); the conversion plan lists them per field and the conversion audit names what
// happened to one value with the same words.
#pragma once

#include <string>
#include <vector>

#include "dataset/fields.h"

namespace app {

// What can happen to a value that does not arrive unchanged.
enum class Loss {
    kCut,          // the text is longer than the target field: the rest is dropped
    kRounded,      // fewer significant digits or decimals, or a time to fewer fractions of a second
    kEmptied,      // a value that the target stores as empty
    kTimeDropped,  // a date and time stored in a date field
    kDateDropped,  // a date and time stored in a time field
    kRefused,      // the target field refuses the text: the value stays empty, a message is shown
    kChanged,      // stored otherwise, by no rule above (named by no plan: a fault to look into)
};

// "cut", "rounded", "emptied", "time dropped", "date dropped", "refused", "changed".
const char* LossName(Loss loss);

// One loss a field can suffer, with the words that say when.
struct PossibleLoss {
    Loss loss;
    std::string when;  // "to 10 characters", "to 2 decimals", "when not a whole number"...
};

// The engine's name of a field's type and its size and decimals: "char" 12 0, "numeric" 10 2.
// `field` belongs to an open table of the data-access layer.
struct EngineField {
    std::string type;
    int length = 0;
    int decimals = 0;
};
EngineField EngineFieldOf(const db::TField& field);

// Every loss the rules can cause to a value of `source` stored into `target`, in the order of
// the Loss values; empty when every value arrives unchanged.
std::vector<PossibleLoss> PossibleLosses(const db::TField& source, const db::TField& target);

// What happened to one value: `text` is what `source` gave, the target field has just accepted
// it (SetStringValue returned). Nothing when the value arrived unchanged: the same text, or the
// same number or moment written another way ("1.50" stored as 1.5).
bool WhatHappened(const db::TField& source, const db::TField& target, const std::string& text,
                  Loss& loss);

// The source value as exactly as it is held (a double with every digit it needs); the text the
// source field gives for any other value.
std::string ExactSourceText(const db::TField& source, const std::string& text);

}  // namespace app

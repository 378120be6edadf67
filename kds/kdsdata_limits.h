// The room the data-access components give the engine's answers: how many index handles one call
// may return, and text capacities in bytes, the terminating zero not counted (a buffer adds one).
// One block for every part of the dataset, so that two callers of one engine call cannot disagree.
#pragma once

#include "engine/kce.h"

namespace kds {

// Index handles of one table (KdsGetAllIndexes, KdsOpenIndex).
inline constexpr UNSIGNED16 kMaxIndexes = 50;

// An index name (KdsGetIndexName) or an index file's name (KdsGetIndexFilename). The engine gives
// a native index or a CDX tag at most 128 characters, but names an NTX index by its file, whose
// name may take up to 255 bytes.
inline constexpr UNSIGNED16 kIndexNameCapacity = 260;

// A field name (KdsGetFieldName): the engine's have at most 128 characters.
inline constexpr UNSIGNED16 kFieldNameCapacity = 129;

// The field name of an index segment (KdsGetSegmentFieldname).
inline constexpr UNSIGNED16 kSegmentNameCapacity = 510;

// An index condition (KdsGetIndexCondition).
inline constexpr UNSIGNED16 kIndexConditionCapacity = 510;

}  // namespace kds

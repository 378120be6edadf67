// An onlooker of the CONVERT command's copy loop: told of every value the command copies and of
// every value a target field refuses, it changes nothing of the run.
#pragma once

#include <string>

#include "dataset/fields.h"

namespace app {

class ConvertObserver {
  public:
    virtual ~ConvertObserver() = default;
    // `target` has accepted `text`, the text `source` gave, for the record being appended.
    virtual void Copied(const db::TField& source, const db::TField& target,
                        const std::string& text) = 0;
    // Copying `source` failed with `message` (the target field refused `text`, most often); the
    // command shows the message and goes on.
    virtual void Refused(const db::TField& source, const std::string& text,
                         const std::string& message) = 0;
};

}  // namespace app

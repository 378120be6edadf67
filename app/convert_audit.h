// `updatebank convert --audit FILE SOURCE TARGET`: the CONVERT command as it always runs, with an
// audit of every value that did not arrive unchanged written to FILE as JSON lines (UTF-8):
//
//   {"EMP_NO": "00042", "field": "NAME", "source": "...", "stored": "...", "what": "cut"}
//   {"EMP_NO": "00043", "field": "SALARY", "source": "abc", "stored": null, "what": "refused",
//    "message": "..."}
//
// and a closing line with the count of each loss per field:
//
//   {"counts": {"NAME": {"cut": 1}, "SALARY": {"refused": 1}}, "values": 2}
//
// "what" is one of the names of Loss (convert_rules.h). "source" is the value as the source holds
// it (a double with every digit it needs), "stored" the text the target field gives back.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "app/convert_observer.h"
#include "app/convert_rules.h"

namespace app {

class ConvertAudit : public ConvertObserver {
  public:
    explicit ConvertAudit(std::ostream& out) : out_(out) {}

    void Copied(const db::TField& source, const db::TField& target,
                const std::string& text) override;
    void Refused(const db::TField& source, const std::string& text,
                 const std::string& message) override;
    // Writes the closing line.
    void Finish();

  private:
    void Line(const db::TField& source, const std::string& text, const std::string* stored,
              Loss loss, const std::string* message);

    std::ostream& out_;
    long long values_ = 0;
    // Per field, in the order the fields were first named.
    std::vector<std::pair<std::string, std::map<Loss, long long>>> counts_;
};

}  // namespace app

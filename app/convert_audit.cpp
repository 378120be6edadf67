#include "app/convert_audit.h"

#include "app/convert_plan.h"
#include "dataset/dataset.h"

namespace app {

void ConvertAudit::Copied(const db::TField& source, const db::TField& target,
                          const std::string& text) {
    Loss loss;
    if (!WhatHappened(source, target, text, loss)) return;
    const std::string stored = target.StringValue();
    Line(source, text, &stored, loss, nullptr);
}

void ConvertAudit::Refused(const db::TField& source, const std::string& text,
                           const std::string& message) {
    Line(source, text, nullptr, Loss::kRefused, &message);
}

void ConvertAudit::Line(const db::TField& source, const std::string& text,
                        const std::string* stored, Loss loss, const std::string* message) {
    const db::TField* key =
        source.DataSet() ? source.DataSet()->FieldNamedOrNull("EMP_NO") : nullptr;
    std::string line = "{\"EMP_NO\": ";
    try {
        line += key ? JsonString(key->StringValue()) : "null";
    } catch (const std::exception&) {
        line += "null";
    }
    line += ", \"field\": " + JsonString(source.FieldName()) +
            ", \"source\": " + JsonString(ExactSourceText(source, text)) +
            ", \"stored\": " + (stored ? JsonString(*stored) : "null") +
            ", \"what\": " + JsonString(LossName(loss));
    if (message) line += ", \"message\": " + JsonString(*message);
    out_ << line << "}\n";
    ++values_;
    for (auto& [name, counts] : counts_) {
        if (name == source.FieldName()) {
            ++counts[loss];
            return;
        }
    }
    counts_.push_back({source.FieldName(), {{loss, 1}}});
}

void ConvertAudit::Finish() {
    std::string line = "{\"counts\": {";
    for (size_t i = 0; i < counts_.size(); ++i) {
        if (i) line += ", ";
        line += JsonString(counts_[i].first) + ": {";
        bool first = true;
        for (const auto& [loss, count] : counts_[i].second) {
            if (!first) line += ", ";
            first = false;
            line += JsonString(LossName(loss)) + ": " + std::to_string(count);
        }
        line += "}";
    }
    out_ << line << "}, \"values\": " << values_ << "}\n" << std::flush;
}

}  // namespace app

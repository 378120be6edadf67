#include "app/convert_plan.h"

#include <cstdio>
#include <memory>

#include "app/headless_run.h"
#include "gui/application.h"
#include "gui/headless.h"
#include "kds/kdsengine.h"
#include "rtl/edge.h"

namespace app {
namespace {

std::string TypeText(const EngineField& f) {
    if (f.type == "char" || f.type == "raw") return f.type + "(" + std::to_string(f.length) + ")";
    if (f.type == "numeric")
        return f.type + "(" + std::to_string(f.length) +
               (f.decimals ? "," + std::to_string(f.decimals) : "") + ")";
    return f.type;
}

std::string FieldJson(const EngineField& f) {
    return "{\"type\": " + JsonString(f.type) + ", \"length\": " + std::to_string(f.length) +
           ", \"decimals\": " + std::to_string(f.decimals) + "}";
}

void OpenReadOnly(kds::TKdsTable& table) {
    table.Close();
    table.SetTableName("EMPLOYEE");
    table.SetExclusive(false);
    table.SetReadOnly(true);
    table.Open();
}

void Restore(kds::TKdsTable& table, bool readOnly, bool exclusive) {
    table.Close();
    table.SetReadOnly(readOnly);
    table.SetExclusive(exclusive);
}

}  // namespace

const char* FateName(FieldPlan::Fate fate) {
    switch (fate) {
        case FieldPlan::kCopied:
            return "copied";
        case FieldPlan::kSkipped:
            return "skipped";
        case FieldPlan::kPhoto:
            return "photo";
    }
    return "";
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (unsigned char c : rtl::ToOperatorText(text)) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            json += buffer;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

ConvertPlan PlanConvert(TForm1& form, const std::string& source, const std::string& target) {
    form.KdsConnection2->SetIsConnected(false);
    form.KdsConnection1->SetIsConnected(false);
    form.KdsConnection1->SetConnectPath(source);
    form.KdsConnection2->SetConnectPath(target);
    kds::TKdsTable& from = *form.KdsTable1;
    kds::TKdsTable& to = *form.KdsTable2;
    const bool readOnly[] = {from.ReadOnly(), to.ReadOnly()};
    const bool exclusive[] = {from.Exclusive(), to.Exclusive()};
    ConvertPlan plan;
    try {
        OpenReadOnly(from);
        OpenReadOnly(to);
        for (int i = 0; i < from.NumFields(); ++i) {
            const db::TField& field = from.FieldAt(i);
            FieldPlan p;
            p.name = field.FieldName();
            p.source = EngineFieldOf(field);
            const db::TField* other = to.FieldNamedOrNull(p.name);
            // The command carries this exact spelling through the photo file, whatever the
            // target holds.
            if (p.name == "PHOTO_ID") {
                p.fate = FieldPlan::kPhoto;
                auto blob = [](const db::TField* f) {
                    return f && dynamic_cast<const db::TBlobField*>(f) != nullptr;
                };
                if (other) p.target = EngineFieldOf(*other);
                if (!blob(other))
                    p.losses.push_back({Loss::kRefused, other ? "every photo: the target field "
                                                                "holds no photo"
                                                              : "every photo: the target has no "
                                                                "field PHOTO_ID"});
                else if (!blob(&field))
                    p.losses.push_back(
                        {Loss::kRefused, "every photo: the source field holds no photo"});
            } else if (other) {
                p.fate = FieldPlan::kCopied;
                p.target = EngineFieldOf(*other);
                p.losses = PossibleLosses(field, *other);
            }
            plan.fields.push_back(std::move(p));
        }
        for (int i = 0; i < to.NumFields(); ++i) {
            const db::TField& field = to.FieldAt(i);
            if (!from.FieldNamedOrNull(field.FieldName()))
                plan.targetOnly.push_back({field.FieldName(), EngineFieldOf(field)});
        }
    } catch (...) {
        Restore(from, readOnly[0], exclusive[0]);
        Restore(to, readOnly[1], exclusive[1]);
        throw;
    }
    Restore(from, readOnly[0], exclusive[0]);
    Restore(to, readOnly[1], exclusive[1]);
    return plan;
}

std::string PlanText(const ConvertPlan& plan) {
    std::string text;
    for (const FieldPlan& f : plan.fields) {
        std::string line = f.name + ": ";
        switch (f.fate) {
            case FieldPlan::kCopied:
                line += "copied, " + TypeText(f.source) + " -> " + TypeText(f.target);
                break;
            case FieldPlan::kSkipped:
                line += "skipped, " + TypeText(f.source) + ": the target has no such field";
                break;
            case FieldPlan::kPhoto:
                line += "carried as the photo, " + TypeText(f.source) + " -> " +
                        (f.target.type.empty() ? "nothing" : TypeText(f.target));
                break;
        }
        for (size_t i = 0; i < f.losses.size(); ++i) {
            line += i == 0 ? "; may be " : ", ";
            line += std::string(LossName(f.losses[i].loss)) + " " + f.losses[i].when;
        }
        text += line + "\n";
    }
    for (const ConvertPlan::TargetOnly& t : plan.targetOnly)
        text += t.name + ": target only, " + TypeText(t.field) + ": left empty\n";
    return text;
}

std::string PlanJson(const ConvertPlan& plan, const std::string& source,
                     const std::string& target) {
    std::string json = "{\"source\": " + JsonString(source) +
                       ", \"target\": " + JsonString(target) + ", \"fields\": [";
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const FieldPlan& f = plan.fields[i];
        if (i) json += ", ";
        json += "{\"name\": " + JsonString(f.name) + ", \"fate\": \"" + FateName(f.fate) +
                "\", \"source\": " + FieldJson(f.source);
        if (f.fate != FieldPlan::kSkipped) {
            json += ", \"target\": " + (f.target.type.empty() ? "null" : FieldJson(f.target));
            json += ", \"losses\": [";
            for (size_t k = 0; k < f.losses.size(); ++k) {
                if (k) json += ", ";
                json += "{\"what\": " + JsonString(LossName(f.losses[k].loss)) +
                        ", \"when\": " + JsonString(f.losses[k].when) + "}";
            }
            json += "]";
        }
        json += "}";
    }
    json += "], \"target_only\": [";
    for (size_t i = 0; i < plan.targetOnly.size(); ++i) {
        if (i) json += ", ";
        const EngineField& f = plan.targetOnly[i].field;
        json += "{\"name\": " + JsonString(plan.targetOnly[i].name) +
                ", \"type\": " + JsonString(f.type) + ", \"length\": " + std::to_string(f.length) +
                ", \"decimals\": " + std::to_string(f.decimals) + "}";
    }
    return json + "]}\n";
}

int PlanWithoutWindow(const std::string& source, const std::string& target, bool json,
                      std::ostream& out, std::ostream& err) {
    gui::Application().Initialize(std::make_unique<gui::HeadlessBackend>());
    int status = 0;
    try {
        TForm1 form(nullptr);
        ConvertPlan plan = PlanConvert(form, source, target);
        out << (json ? PlanJson(plan, source, target) : PlanText(plan)) << std::flush;
    } catch (const std::exception& e) {
        err << "error: " << PrintedLine(e.what()) << '\n';
        status = 1;
    }
    gui::Application().Reset();
    return status;
}

}  // namespace app

#include "TemplateStore.h"

#include "Text.h"

#include <cmath>

namespace pxrsim {

static int typeFromWord(const std::string& word) {
    std::string w = upper(word);
    if (w == "FLOW") return 1;
    if (w == "OCCL") return 2;
    if (w == "PCA") return 3;
    if (w == "BOLUS") return 5;
    return -1;
}

static int unitFromWord(const std::string& word) {
    std::string w = upper(word);
    if (w.empty()) return 1;
    if (w == "MMHG") return 2;
    if (w == "KPA") return 3;
    if (w == "PSI") return 4;
    if (w == "ML") return 5;
    return -1;
}

std::optional<Template> TemplateStore::receiveLine(const std::string& body, std::string& error) {
    std::vector<std::string> f = split(body, ',');
    if (f.size() < 2 || f[0] != "SETTMPLT") {
        error = "not a template line";
        return std::nullopt;
    }
    if (f[1] == "END") {
        if (!pending_) {
            error = "template end without a template header";
            return std::nullopt;
        }
        Template t = *pending_;
        pending_.reset();
        store(t);
        return t;
    }
    long k = -1;
    if (!parseInt(f[1], k) || k < 0 || k > 6) {
        error = "bad template line number";
        return std::nullopt;
    }
    if (k == 0) {
        Template t;
        if (f.size() > 2) t.name = f[2];
        // Comments may hold commas: everything after the name.
        for (size_t i = 3; i < f.size(); ++i) t.comments += (i > 3 ? "," : "") + f[i];
        pending_ = t;
        return std::nullopt;
    }
    if (!pending_) {
        error = "template step without a template header";
        return std::nullopt;
    }
    if (f.size() != 9) {
        error = "template step line needs 9 fields";
        return std::nullopt;
    }
    TemplateStep s;
    s.type = typeFromWord(f[2]);
    s.unit = unitFromWord(f[5]);
    long h = 0, m = 0, tol = 0;
    if (s.type < 0 || s.unit < 0 || !parseDouble(f[3], s.rate) || !parseDouble(f[4], s.value) ||
        !parseInt(f[6], h) || !parseInt(f[7], m) || !parseInt(f[8], tol)) {
        error = "template step line with a bad field";
        return std::nullopt;
    }
    s.hours = static_cast<int>(h);
    s.minutes = static_cast<int>(m);
    s.tolerance = static_cast<int>(tol);
    pending_->steps[static_cast<size_t>(k - 1)] = s;
    pending_->stepCount = std::max(pending_->stepCount, static_cast<int>(k));
    return std::nullopt;
}

void TemplateStore::store(const Template& t) {
    for (Template& existing : templates_) {
        if (existing.name == t.name) {
            existing = t;
            return;
        }
    }
    templates_.push_back(t);
}

const Template* TemplateStore::get(int number) const {
    if (number < 1 || number > count()) return nullptr;
    return &templates_[static_cast<size_t>(number - 1)];
}

std::vector<std::string> TemplateStore::replyLines(const Template* t) {
    std::vector<std::string> out;
    Template empty;
    if (!t) t = &empty;
    out.push_back("[TMPLT,0," + frameSafe(t->name) + "," + frameSafe(t->comments) + "]\r\n");
    for (int k = 1; k <= t->stepCount && k <= 6; ++k) {
        const TemplateStep& s = t->steps[static_cast<size_t>(k - 1)];
        const char* word = s.type == 1   ? "FLOW"
                           : s.type == 2 ? "OCCL"
                           : s.type == 3 ? "PCA"
                           : s.type == 5 ? "BOLUS"
                                         : "NONE";
        // mmHg limits go without decimals; every other number with two.
        std::string value;
        const char* unit = "ml/hr";
        switch (s.unit) {
        case 2:
            value = format("%ld", std::lround(s.value));
            unit = "mmHg";
            break;
        case 3:
            unit = "kPa";
            break;
        case 4:
            unit = "psi";
            break;
        case 5:
            unit = "ML";
            break;
        default:
            break;
        }
        if (value.empty()) value = format("%0.2f", s.value);
        out.push_back(format("[TMPLT,%d,%s,%0.2f,", k, word, s.rate) + value + "," + unit +
                      format(",%02d,%02d,%02d%%]\r\n", s.hours, s.minutes, s.tolerance));
    }
    out.push_back("[TMPLTEND]\r\n");
    return out;
}

void TemplateStore::addPresets(int n) {
    for (int i = 1; i <= n; ++i) {
        Template t;
        t.name = format("SimTemplate%d", i);
        t.comments = format("Preset %d", i);
        TemplateStep flow{1, 25.0, 10.0, 5, 0, 30, 5};
        TemplateStep occl{2, 25.0, 300.0, 2, 0, 20, 0};
        TemplateStep pca{3, 2.0, 20.0, 5, 1, 0, 10};
        TemplateStep bolus{5, 0.0, 0.5, 5, 0, 0, 0};
        switch (i % 3) {
        case 1:
            t.steps = {flow, occl};
            t.stepCount = 2;
            break;
        case 2:
            t.steps = {pca, bolus, flow};
            t.stepCount = 3;
            break;
        default:
            t.steps = {flow};
            t.stepCount = 1;
            break;
        }
        templates_.push_back(t);
    }
}

} // namespace pxrsim

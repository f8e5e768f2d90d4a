#pragma once
// Templates the analyzer holds: received with SETTMPLT lines, served with
// TMPLT lines.

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace pxrsim {

struct TemplateStep {
    int type = 0;     // 0 empty, 1 Flow, 2 Occlusion, 3 PCA, 5 bolus
    double rate = 0;  // ml/h
    double value = 0; // volume (ml) or pressure limit in the unit
    int unit = 1;     // 1 not set, 2 mmHg, 3 kPa, 4 psi, 5 ml
    int hours = 0, minutes = 0, tolerance = 0;
};

struct Template {
    std::string name, comments;
    int stepCount = 0;
    std::array<TemplateStep, 6> steps{};
};

class TemplateStore {
public:
    // One received SETTMPLT line, the text between '[' and ']'. Returns a
    // complete template when the line was the closing END line, and an error
    // text in `error` for a line it cannot use.
    std::optional<Template> receiveLine(const std::string& body, std::string& error);

    // Stores a template; one of the same name is replaced in place.
    void store(const Template& t);

    int count() const { return static_cast<int>(templates_.size()); }
    const Template* get(int number) const; // 1-based

    // The reply frames for one template, each with CR LF.
    static std::vector<std::string> replyLines(const Template* t);

    void addPresets(int n);

private:
    std::vector<Template> templates_;
    std::optional<Template> pending_;
};

} // namespace pxrsim

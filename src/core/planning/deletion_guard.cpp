#include "core/planning/deletion_guard.h"

#include <cctype>

namespace paritas {
namespace {

bool allDigits(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> checkSide(std::size_t deletions, const GuardSide& side,
                                     const DeletionBound& bound) {
    const bool breaks =
        bound.kind == DeletionBound::Kind::Count
            ? deletions > std::size_t(bound.value)
            : side.files >= kGuardMinimumFiles && deletions * 100 > side.files * std::size_t(bound.value);
    if (!breaks)
        return std::nullopt;
    return "the plan deletes " + std::to_string(deletions) + " of " + std::to_string(side.files) +
           " files in " + side.location + " (more than " + bound.text() + ")";
}

} // namespace

std::string DeletionBound::text() const {
    switch (kind) {
    case Kind::Share:
        return std::to_string(value) + "%";
    case Kind::Count:
        return std::to_string(value);
    case Kind::None:
        break;
    }
    return "none";
}

std::optional<DeletionBound> parseDeletionBound(const std::string& text) {
    if (text == "none")
        return DeletionBound{DeletionBound::Kind::None, 0};
    if (!text.empty() && text.back() == '%') {
        const std::string number = text.substr(0, text.size() - 1);
        if (!allDigits(number) || std::stoi(number) > 100)
            return std::nullopt;
        return DeletionBound{DeletionBound::Kind::Share, std::stoi(number)};
    }
    if (!allDigits(text))
        return std::nullopt;
    return DeletionBound{DeletionBound::Kind::Count, std::stoi(text)};
}

std::optional<std::string> massDeletionRefusal(const ActionList& actions, const GuardSide& a,
                                               const GuardSide& b, const DeletionBound& bound) {
    if (bound.kind == DeletionBound::Kind::None)
        return std::nullopt;
    std::size_t inA = 0, inB = 0;
    for (const PlanItem& item : actions) {
        if (item.kind != ActionKind::DeleteFile)
            continue;
        if (item.facts.original != ActionFacts::kNone)
            continue; // a checked duplicate: its original stays
        const std::string& path = item.path;
        // B first: with subfolders off, B may lie inside A; the longer location is the closer one.
        const bool inSideB = !b.location.empty() && startsWith(path, b.location) &&
                             (b.location.size() >= a.location.size() || !startsWith(path, a.location));
        if (inSideB)
            ++inB;
        else if (!a.location.empty() && startsWith(path, a.location))
            ++inA;
    }
    if (auto refusal = checkSide(inB, b, bound))
        return refusal;
    return checkSide(inA, a, bound);
}

} // namespace paritas

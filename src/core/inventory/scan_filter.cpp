#include "core/inventory/scan_filter.h"

namespace paritas {

ScanFilter::ScanFilter(const FilterRules& rules, std::size_t rootLength, ScanLeftOut* tally)
    : filter_(rules), tally_(tally), rootLength_(rootLength) {}

void ScanFilter::enter(const std::string& folder) {
    relative_ = std::string_view(folder).substr(std::min(rootLength_, folder.size()));
    filter_.enter(relative_);
}

bool ScanFilter::leavesOutFolder(std::string_view name) {
    if (!filter_.leftOut(name, true))
        return false;
    count(&ScanLeftOut::folders);
    return true;
}

bool ScanFilter::leavesOutFile(std::string_view name) {
    if (!filter_.leftOut(name, false))
        return false;
    count(&ScanLeftOut::files);
    return true;
}

bool ScanFilter::leavesOutUnknown(std::string_view name) {
    if (!filter_.leftOut(name, false) || !filter_.leftOut(name, true))
        return false;
    count(&ScanLeftOut::files);
    return true;
}

void ScanFilter::count(std::size_t ScanLeftOut::*counter) {
    if (tally_ == nullptr)
        return;
    ++(tally_->*counter);
    std::vector<std::string>& holding = tally_->holdingFolders;
    if (holding.empty() || holding.back() != relative_)
        holding.emplace_back(relative_);
}

} // namespace paritas

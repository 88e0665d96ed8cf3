#include "core/platform/location.h"

#include "core/platform/path_text.h"

#include <cerrno>

namespace paritas {

bool Location::holds(std::string_view path) const {
    const std::string_view stem = std::string_view(text_).substr(0, text_.size() - 1);
    if (path == text_ || path == stem)
        return true;
    return path.size() > text_.size() && path.compare(0, text_.size(), text_) == 0;
}

MetadataRead Location::readMetadata(const std::string& /*path*/, const AttributeSelection& /*selection*/) {
    MetadataRead read;
    read.error = EOPNOTSUPP;
    return read;
}

MetadataApplied Location::applyMetadata(const std::string& /*path*/, const EntryMetadata& /*source*/,
                                        const MetadataStep& /*step*/, MetadataKeeper& keeper) {
    for (const MetadataKind kind : {MetadataKind::Owners, MetadataKind::Permissions, MetadataKind::Times,
                                    MetadataKind::ExtendedAttributes, MetadataKind::AccessControlLists})
        keeper.refused(kind, 0);
    return {};
}

LinkResult Location::placeHardLink(const std::string& /*existing*/, const FileStamp* /*expected*/,
                                   const std::string& /*destination*/, const DestinationPlan& /*plan*/,
                                   const CopyOptions& /*options*/) {
    return {LinkOutcome::NotHeld, 0, {}, {}};
}

CopyResult Location::fetchFile(const std::string& /*source*/, const FileStamp* /*plannedSource*/,
                               const std::string& /*localFile*/, CopyObserver& /*observer*/) {
    CopyResult result;
    result.error = EXDEV;
    result.detail = "the source cannot be copied into a local folder from here";
    return result;
}

Locations Locations::forAnotherThread() const {
    std::vector<std::unique_ptr<Location>> copies;
    copies.reserve(locations_.size());
    for (const auto& location : locations_)
        copies.push_back(location->forAnotherThread());
    return Locations(std::move(copies));
}

Location* Locations::holding(std::string_view path) const {
    Location* best = nullptr;
    for (const auto& location : locations_)
        if (location->holds(path) && (!best || location->text().size() > best->text().size()))
            best = location.get();
    return best;
}

Location* Locations::withText(std::string_view text) const {
    for (const auto& location : locations_)
        if (location->text() == text)
            return location.get();
    return nullptr;
}

void Locations::forgetFolders() {
    for (const auto& location : locations_)
        location->forgetFolders();
}

} // namespace paritas

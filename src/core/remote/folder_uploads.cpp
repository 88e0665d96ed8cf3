#include "core/remote/folder_uploads.h"

#include "core/remote/folder_moves.h"
#include "core/remote/remote_path.h"

#include <algorithm>
#include <unordered_set>

namespace paritas {

namespace {

// The folder that holds a path ("B/a/x" and "B/a/x/" give "B/a/").
std::string parentOf(std::string_view path) {
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

// What a new folder gathers while the lines are read.
struct Candidate {
    std::size_t madeAt = 0; // the line that makes it
    std::string source;
    std::vector<std::size_t> members;
    int64_t bytes = 0;
    bool spoilt = false; // a line reads or changes something beneath it, or sources disagree
    std::vector<std::string> children; // the new folders directly in it, in list order
};

// Whether two of the copies write names that differ only in letter case: a server that folds case
// without saying so would keep one file for both, and one copy into a fresh folder replaces without
// asking. Such copies go one by one, each checking that its name is free.
bool namesFoldTogether(const std::vector<ActionAhead>& lines, const std::vector<std::size_t>& members) {
    std::unordered_set<std::string> seen;
    seen.reserve(members.size());
    for (const std::size_t k : members) {
        std::string folded = lines[k].destination;
        std::transform(folded.begin(), folded.end(), folded.begin(),
                       [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c); });
        if (!seen.insert(std::move(folded)).second)
            return true;
    }
    return false;
}

} // namespace

FolderUploadPlan::FolderUploadPlan(const std::vector<ActionAhead>& lines, const std::string& location)
    : lines_(lines) {
    std::unordered_map<std::string, Candidate> made;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ActionAhead& line = lines_[i];
        if (line.kind != ActionAhead::Kind::MakeFolder)
            continue;
        std::string folder = folderText(line.path);
        if (folder.size() <= location.size() || !textBeneath(folder, location) || made.count(folder))
            continue;
        made[folder].madeAt = i;
        order.push_back(std::move(folder));
    }
    if (made.empty())
        return;
    for (const std::string& folder : order)
        if (const auto parent = made.find(parentOf(folder)); parent != made.end())
            parent->second.children.push_back(folder);

    // Every new folder above `path` (up to the location) that `visit` is told of.
    auto newFoldersAbove = [&](const std::string& path, auto&& visit) {
        for (std::string folder = parentOf(path); folder.size() > location.size() && textBeneath(folder, location);
             folder = parentOf(folder))
            if (const auto found = made.find(folder); found != made.end())
                visit(found->second, folder);
    };
    auto spoil = [&](const std::string& path) {
        newFoldersAbove(path, [](Candidate& candidate, const std::string&) { candidate.spoilt = true; });
        if (const auto found = made.find(folderText(path)); found != made.end())
            found->second.spoilt = true;
    };

    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const ActionAhead& line = lines_[i];
        if (line.kind == ActionAhead::Kind::MakeFolder)
            continue;
        // Whatever a line reads, moves, deletes or removes beneath a new folder keeps that folder
        // (and those above it) from being filled ahead of it.
        if (textBeneath(line.path, location))
            spoil(line.path);
        if (line.kind == ActionAhead::Kind::Move && textBeneath(line.destination, location))
            spoil(line.destination);
        if (line.kind != ActionAhead::Kind::Copy || !textBeneath(line.destination, location))
            continue;
        const std::string into = parentOf(line.destination);
        if (!made.count(into))
            continue;
        // rclone reads the sources' names from a list, one a line, and JSON carries only UTF-8.
        const bool fits = line.stampKnown && !line.askedFirst && line.stamp.size >= 0 &&
                          line.stamp.size < kUploadFileLimit && !line.path.empty() && line.path.front() == '/' &&
                          isUtf8(line.path) && line.path.find_first_of("\n\r") == std::string::npos;
        if (!fits)
            continue; // copied by its own line once the folder stands
        // Each new folder above it, as far as the run makes every folder between, may carry it.
        for (std::string folder = into; made.count(folder); folder = parentOf(folder)) {
            Candidate& candidate = made[folder];
            const std::string relative = line.destination.substr(folder.size());
            if (i < candidate.madeAt || line.path.size() <= relative.size() ||
                line.path.compare(line.path.size() - relative.size(), relative.size(), relative) != 0) {
                candidate.spoilt = true;
                continue;
            }
            const std::string source = line.path.substr(0, line.path.size() - relative.size());
            if (source.empty() || source.back() != '/') {
                candidate.spoilt = true;
                continue;
            }
            if (candidate.members.empty())
                candidate.source = source;
            else if (candidate.source != source)
                candidate.spoilt = true;
            candidate.members.push_back(i);
            candidate.bytes += line.stamp.size;
        }
    }

    // From the top: a new folder that is one upload carries all beneath it; one too large leaves its
    // own files to their lines and offers its new subfolders.
    std::vector<std::string> pending;
    for (auto folder = order.rbegin(); folder != order.rend(); ++folder)
        if (!made.count(parentOf(*folder)))
            pending.push_back(*folder);
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        Candidate& candidate = made[folder];
        if (candidate.members.size() < kUploadLeastMembers)
            continue; // and none beneath it has more
        if (!candidate.spoilt && candidate.members.size() <= kUploadMostMembers &&
            candidate.bytes <= kUploadMostBytes && !namesFoldTogether(lines_, candidate.members)) {
            byFolder_.emplace(folder, uploads_.size());
            uploads_.push_back(FolderUpload{folder, candidate.source, std::move(candidate.members), candidate.bytes});
            continue;
        }
        for (auto child = candidate.children.rbegin(); child != candidate.children.rend(); ++child)
            pending.push_back(*child);
    }
}

const FolderUpload* FolderUploadPlan::at(const std::string& folder) const {
    const auto found = byFolder_.find(folder);
    return found == byFolder_.end() ? nullptr : &uploads_[found->second];
}

} // namespace paritas

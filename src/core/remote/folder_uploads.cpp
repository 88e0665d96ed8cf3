#include "core/remote/folder_uploads.h"

#include "core/remote/folder_moves.h"
#include "core/remote/remote_path.h"

#include <algorithm>
#include <functional>

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
    std::size_t members = 0; // the copies it would carry
    int64_t bytes = 0;
    bool spoilt = false; // a line reads or changes something beneath it, or sources disagree
    std::vector<std::string> children; // the new folders directly in it, in list order
};

// A destination as a server that folds letter case (A-Z) would name it.
std::size_t foldedHash(const std::string& destination) {
    std::string folded = destination;
    std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c);
    });
    return std::hash<std::string>{}(folded);
}

} // namespace

FolderUploadPlan::FolderUploadPlan(const std::vector<ActionAhead>& lines, const std::string& location)
    : FolderUploadPlan(std::make_shared<const std::vector<ActionAhead>>(lines), location) {}

FolderUploadPlan::FolderUploadPlan(std::shared_ptr<const std::vector<ActionAhead>> shared, const std::string& location)
    : lines_(std::move(shared)) {
    const std::vector<ActionAhead>& all = *lines_;
    std::unordered_map<std::string, Candidate> made;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const ActionAhead& line = all[i];
        if (line.kind != ActionAhead::Kind::MakeFolder)
            continue;
        std::string folder = folderText(line.path);
        if (folder.size() <= location.size() || !textBeneath(folder, location) || made.count(folder))
            continue;
        made[folder].madeAt = i;
        order.push_back(std::move(folder));
    }
    if (made.empty()) {
        lines_.reset();
        return;
    }
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

    // The copies that fit, each counted in every new folder that could carry it; the lists of members
    // are made only for the folders chosen (a copy belongs to one), below.
    std::vector<std::size_t> fitting;
    std::vector<std::pair<std::size_t, std::size_t>> folded; // (folded destination's hash, line)
    for (std::size_t i = 0; i < all.size(); ++i) {
        const ActionAhead& line = all[i];
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
        fitting.push_back(i);
        folded.emplace_back(foldedHash(line.destination), i);
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
            if (candidate.members == 0)
                candidate.source = source;
            else if (candidate.source != source)
                candidate.spoilt = true;
            ++candidate.members;
            candidate.bytes += line.stamp.size;
        }
    }
    // Two names that differ only in letter case (or whose folded names share a hash) keep every new
    // folder above them from being filled in one go: a server that folds case without saying so would
    // keep one file for both, and one copy into a fresh folder replaces without asking. Such copies go
    // one by one, each checking that its name is free.
    std::sort(folded.begin(), folded.end());
    for (std::size_t k = 1; k < folded.size(); ++k)
        if (folded[k].first == folded[k - 1].first) {
            spoil(all[folded[k].second].destination);
            spoil(all[folded[k - 1].second].destination);
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
        if (candidate.members < kUploadLeastMembers)
            continue; // and none beneath it has more
        if (!candidate.spoilt && candidate.members <= kUploadMostMembers && candidate.bytes <= kUploadMostBytes) {
            byFolder_.emplace(folder, uploads_.size());
            uploads_.push_back(FolderUpload{folder, candidate.source, {}, candidate.bytes});
            continue;
        }
        for (auto child = candidate.children.rbegin(); child != candidate.children.rend(); ++child)
            pending.push_back(*child);
    }
    // Each fitting copy is a member of the chosen folder above it, if any (chosen folders never nest).
    for (const std::size_t i : fitting)
        for (std::string folder = parentOf(all[i].destination); made.count(folder); folder = parentOf(folder))
            if (const auto chosen = byFolder_.find(folder); chosen != byFolder_.end()) {
                uploads_[chosen->second].members.push_back(i);
                break;
            }
    if (uploads_.empty())
        lines_.reset();
}

const FolderUpload* FolderUploadPlan::at(const std::string& folder) const {
    const auto found = byFolder_.find(folder);
    return found == byFolder_.end() ? nullptr : &uploads_[found->second];
}

const std::vector<ActionAhead>& FolderUploadPlan::lines() const {
    static const std::vector<ActionAhead> none;
    return lines_ ? *lines_ : none;
}

} // namespace paritas

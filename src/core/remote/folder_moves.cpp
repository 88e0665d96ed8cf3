#include "core/remote/folder_moves.h"

#include <algorithm>
#include <unordered_set>

namespace paritas {

namespace {

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::string joined(const std::string& location, const std::vector<std::string_view>& parts, std::size_t count) {
    std::string text = location;
    for (std::size_t i = 0; i < count; ++i)
        text.append(parts[i]).push_back('/');
    return text;
}

std::string key(const std::string& source, const std::string& destination) {
    return source + "\n" + destination;
}

} // namespace

std::vector<std::pair<std::string, std::string>> folderPairsOf(const std::string& source,
                                                                const std::string& destination,
                                                                const std::string& location) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!textBeneath(source, location) || !textBeneath(destination, location))
        return pairs;
    const auto from = components(std::string_view(source).substr(location.size()));
    const auto to = components(std::string_view(destination).substr(location.size()));
    std::size_t common = 0;
    while (common < from.size() && common < to.size() &&
           from[from.size() - 1 - common] == to[to.size() - 1 - common])
        ++common;
    for (std::size_t level = 1; level <= common; ++level) {
        if (level >= from.size() || level >= to.size())
            break; // the location itself would move, or be the target
        std::string folderFrom = joined(location, from, from.size() - level);
        std::string folderTo = joined(location, to, to.size() - level);
        if (textBeneath(folderFrom, folderTo) || textBeneath(folderTo, folderFrom))
            continue;
        pairs.emplace_back(std::move(folderFrom), std::move(folderTo));
    }
    return pairs;
}

FolderMovePlan::FolderMovePlan(const std::vector<ActionAhead>& lines, const std::string& location)
    : FolderMovePlan(std::make_shared<const std::vector<ActionAhead>>(lines), location) {}

FolderMovePlan::FolderMovePlan(std::shared_ptr<const std::vector<ActionAhead>> shared, const std::string& location)
    : lines_(std::move(shared)) {
    const std::vector<ActionAhead>& all = *lines_;
    std::unordered_set<std::string> made, removed;
    for (const ActionAhead& line : all) {
        if (line.kind == ActionAhead::Kind::MakeFolder)
            made.insert(folderText(line.path));
        else if (line.kind == ActionAhead::Kind::RemoveFolder)
            removed.insert(folderText(line.path));
    }
    if (made.empty() || removed.empty()) {
        lines_.reset();
        return;
    }

    std::unordered_map<std::string, std::size_t> byFrom, byTo;
    std::vector<std::vector<std::size_t>> candidates(all.size()); // outermost first
    for (std::size_t i = 0; i < all.size(); ++i) {
        const ActionAhead& line = all[i];
        if (line.kind != ActionAhead::Kind::Move)
            continue;
        for (auto& [from, to] : folderPairsOf(line.path, line.destination, location)) {
            if (!made.count(to) || !removed.count(from))
                continue;
            std::size_t index = 0;
            if (const auto known = byFrom.find(from); known != byFrom.end()) {
                index = known->second;
                if (moves_[index].to != to)
                    moves_[index].valid = false; // one folder's files go to two places
            } else {
                index = moves_.size();
                FolderMove move;
                move.from = from;
                move.to = to;
                moves_.push_back(std::move(move));
                byFrom.emplace(from, index);
                if (const auto [other, added] = byTo.emplace(to, index); !added) {
                    moves_[index].valid = false; // two folders would go to one place
                    moves_[other->second].valid = false;
                }
            }
            candidates[i].insert(candidates[i].begin(), index);
        }
    }
    if (moves_.empty()) {
        lines_.reset();
        return;
    }

    // Every line is checked against every folder move whose folders hold one of its paths.
    for (std::size_t k = 0; k < all.size(); ++k) {
        const ActionAhead& line = all[k];
        const bool folderLine =
            line.kind == ActionAhead::Kind::MakeFolder || line.kind == ActionAhead::Kind::RemoveFolder;
        for (const std::string* path : {&line.path, &line.destination}) {
            if (path->empty() || !textBeneath(*path, location))
                continue;
            const bool isSource = path == &line.path;
            const std::string at = folderLine ? folderText(*path) : *path;
            for (std::size_t end = at.find('/', location.size()); end != std::string::npos;
                 end = at.find('/', end + 1)) {
                const std::string folder = at.substr(0, end + 1);
                if (const auto found = byFrom.find(folder); found != byFrom.end()) {
                    FolderMove& move = moves_[found->second];
                    if (line.kind == ActionAhead::Kind::RemoveFolder) {
                        move.removed.push_back(at);
                    } else if (line.kind == ActionAhead::Kind::Move && isSource &&
                               line.destination == move.to + line.path.substr(move.from.size()) &&
                               line.stampKnown) {
                        if (move.members.empty())
                            move.firstMember = k;
                        move.members.push_back(k);
                    } else {
                        move.valid = false;
                    }
                }
                if (const auto found = byTo.find(folder); found != byTo.end()) {
                    FolderMove& move = moves_[found->second];
                    const bool beforeFirst = move.members.empty();
                    switch (line.kind) {
                    case ActionAhead::Kind::MakeFolder:
                        if (beforeFirst)
                            move.made.push_back(at);
                        else
                            move.valid = false;
                        break;
                    case ActionAhead::Kind::RemoveFolder:
                        move.valid = false;
                        break;
                    case ActionAhead::Kind::Move:
                        // A member is checked on its source's side; anything else written there first
                        // would stand in the way of the folder move.
                        if (!isSource && beforeFirst && !textBeneath(line.path, move.from))
                            move.valid = false;
                        break;
                    case ActionAhead::Kind::Copy:
                    case ActionAhead::Kind::Delete:
                        if (beforeFirst && (!isSource || line.kind == ActionAhead::Kind::Delete))
                            move.valid = false;
                        break;
                    }
                }
            }
        }
    }

    for (FolderMove& move : moves_) {
        if (move.members.empty() || std::find(move.removed.begin(), move.removed.end(), move.from) ==
                                        move.removed.end())
            move.valid = false;
        // Every folder removed beneath the old place has its counterpart made beneath the new one: the
        // folder move takes every folder along.
        for (const std::string& gone : move.removed)
            if (std::find(move.made.begin(), move.made.end(), move.to + gone.substr(move.from.size())) ==
                move.made.end())
                move.valid = false;
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        std::vector<std::size_t> valid;
        for (const std::size_t index : candidates[i]) {
            const FolderMove& move = moves_[index];
            if (move.valid && std::binary_search(move.members.begin(), move.members.end(), i))
                valid.push_back(index);
        }
        if (!valid.empty())
            carriers_.emplace(key(all[i].path, all[i].destination), std::move(valid));
    }
}

const std::vector<std::size_t>& FolderMovePlan::carriers(const std::string& source,
                                                         const std::string& destination) const {
    static const std::vector<std::size_t> none;
    const auto found = carriers_.find(key(source, destination));
    return found == carriers_.end() ? none : found->second;
}

const std::vector<ActionAhead>& FolderMovePlan::lines() const {
    static const std::vector<ActionAhead> none;
    return lines_ ? *lines_ : none;
}

} // namespace paritas

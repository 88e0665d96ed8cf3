#pragma once
// A planner host that answers from memory: folders and files of a pretend disk, optionally seen the
// way a case-insensitive file system sees them. Every question and every report is recorded in one
// trace, so two planners can be held to the same conversation with their host.

#include "core/planning/planners.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace paritas::testing {

class MemoryPlannerHost : public PlannerHost {
public:
    std::set<std::string> folders;
    std::map<std::string, FileFacts> files;
    bool caseInsensitive = false;
    bool recordQuestions = true;
    std::vector<std::string> trace;
    std::vector<std::string> logLines;

    void addFolder(const std::string& path) { folders.insert(path); }
    void addFile(const std::string& path, int64_t size, int32_t fileTime) {
        files[path] = packedFacts(size, fileTime);
    }
    // Facts known by their packed time only: the true time is taken as twice the packed value in
    // seconds, as Inventory::addFile does for such rows, so both compare alike.
    static FileFacts packedFacts(int64_t size, int32_t fileTime) {
        FileFacts facts;
        facts.size = size;
        facts.fileTime = fileTime;
        facts.modifiedTime = int64_t(fileTime) * 2;
        return facts;
    }

    void log(std::string_view line) override {
        logLines.emplace_back(line);
        trace.push_back("log " + std::string(line));
    }
    void setProgressMaximum(int64_t maximum) override { trace.push_back("max " + std::to_string(maximum)); }
    void setProgressPosition(int64_t position) override {
        trace.push_back("pos " + std::to_string(position));
    }
    void keepAlive() override { trace.push_back("keepAlive"); }

    bool folderExists(const std::string& path) override {
        note("folderExists " + path);
        return findFolder(path) != nullptr;
    }
    bool fileExists(const std::string& path) override {
        note("fileExists " + path);
        return findFile(path) != nullptr;
    }
    std::optional<FileFacts> fileFacts(const std::string& path) override {
        note("fileFacts " + path);
        const auto* found = findFile(path);
        return found ? std::optional<FileFacts>(found->second) : std::nullopt;
    }
    bool foldsLetterCase(const std::string& /*location*/) override { return caseInsensitive; }
    bool sameFile(const std::string& first, const std::string& second) override {
        note("sameFile " + first + " | " + second);
        const auto* x = findFile(first);
        const auto* y = findFile(second);
        if (x && y)
            return x == y;
        const auto* p = findFolder(first);
        const auto* q = findFolder(second);
        return p && q && p == q;
    }
    // A folder's identity is its spelling on the pretend disk; the chain climbs by text, starting at
    // the nearest folder that exists.
    FolderAncestry ancestry(const std::string& path) override {
        note("ancestry " + path);
        FolderAncestry result;
        std::string at = path;
        while (at.size() > 1 && at.back() == '/')
            at.pop_back();
        bool first = true;
        while (!at.empty()) {
            const std::string* found = at == "/" ? nullptr : findFolder(at);
            if (found || at == "/") {
                if (result.chain.empty())
                    result.exists = first;
                result.chain.push_back(ObjectId{1, std::hash<std::string>{}(found ? *found : at)});
            }
            if (at == "/")
                break;
            const std::size_t slash = at.rfind('/');
            at = slash == 0 ? std::string("/") : at.substr(0, slash);
            first = false;
        }
        return result;
    }

private:
    void note(std::string question) {
        if (recordQuestions)
            trace.push_back(std::move(question));
    }
    static std::string folded(const std::string& text) {
        std::string out = text;
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return out;
    }
    const std::pair<const std::string, FileFacts>* findFile(const std::string& path) const {
        if (const auto it = files.find(path); it != files.end())
            return &*it;
        if (!caseInsensitive)
            return nullptr;
        for (const auto& entry : files)
            if (folded(entry.first) == folded(path))
                return &entry;
        return nullptr;
    }
    const std::string* findFolder(const std::string& path) const {
        if (const auto it = folders.find(path); it != folders.end())
            return &*it;
        if (!caseInsensitive)
            return nullptr;
        for (const auto& entry : folders)
            if (folded(entry) == folded(path))
                return &entry;
        return nullptr;
    }
};

} // namespace paritas::testing

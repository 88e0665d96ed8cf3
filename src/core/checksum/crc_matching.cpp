#include "core/checksum/crc_matching.h"

#include "core/checksum/crc32.h"
#include "core/checksum/crc_display.h"

#include <functional>
#include <unordered_map>

namespace paritas {

namespace {

// The same-file key of an inventory row, holding only the ticked criteria: rows agree on every ticked
// criterion exactly when their keys are equal. With nothing ticked all keys are equal.
struct SameFileKey {
    int64_t size = 0;
    int64_t timeStep = 0; // true time in two-second steps
    std::string_view name;
    bool operator==(const SameFileKey&) const = default;
};

struct SameFileKeyHash {
    std::size_t operator()(const SameFileKey& key) const {
        std::size_t h = std::hash<std::string_view>{}(key.name);
        h ^= std::hash<int64_t>{}(key.size) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h ^= std::hash<int64_t>{}(key.timeStep) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        return h;
    }
};

SameFileKey keyOf(const Inventory& inventory, std::size_t row, const Settings& criteria) {
    SameFileKey key;
    if (criteria.CheckSize)
        key.size = inventory.size(row);
    if (criteria.CheckTimeStamp)
        key.timeStep = inventory.timeStepOf(row);
    if (criteria.CheckName)
        key.name = inventory.name(row);
    return key;
}

CrcMatchTable pairRows(const Inventory& a, const Inventory& b, const Settings& criteria, ActivityHost* host) {
    // The first row of B for each key, so that a lookup gives what a walk of B in row order finds first.
    std::unordered_map<SameFileKey, std::size_t, SameFileKeyHash> firstOfB;
    firstOfB.reserve(b.fileCount());
    for (std::size_t row = 0; row < b.fileCount(); ++row)
        firstOfB.try_emplace(keyOf(b, row, criteria), row);

    const std::size_t n = a.fileCount();
    if (host)
        host->setProgressMaximum(n >= 2 ? static_cast<int64_t>(n - 1) : 1);
    CrcMatchTable table(n);
    for (std::size_t i = 0; i < n; ++i) {
        table[i].pathA = a.fullPath(i);
        const auto partner = firstOfB.find(keyOf(a, i, criteria));
        if (partner != firstOfB.end())
            table[i].pathB = b.fullPath(partner->second);
        if (host) {
            host->setProgressPosition(static_cast<int64_t>(i));
            host->keepAlive();
        }
    }
    return table;
}

struct FileReading {
    uint32_t crc = 0;
    uint16_t error = 0;
};

FileReading readCrc(const std::string& path, CrcCompareHost& host) {
    FileReading reading;
    int64_t totalBytes = 0;
    CRC32File(path, reading.crc, totalBytes, reading.error, [&host] { host.keepAlive(); });
    return reading;
}

} // namespace

CrcMatchTable pairCrcMatches(const Inventory& a, const Inventory& b, const Settings& criteria) {
    return pairRows(a, b, criteria, nullptr);
}

CrcMatchTable pairCrcMatches(const Inventory& a, const Inventory& b, const Settings& criteria,
                             ActivityHost& host) {
    return pairRows(a, b, criteria, &host);
}

int compareCrcMatches(CrcMatchTable& table, CrcCompareHost& host) {
    int badMatches = 0;
    host.setProgressMaximum(static_cast<int64_t>(table.size()));
    // The keep-alive may run other commands; the row is looked up afresh after each one, and nothing
    // is held across it but copies.
    for (std::size_t r = 0; r < table.size(); ++r) {
        if (host.stopRequested())
            break;

        const std::string pathB = table[r].pathB;
        const FileReading a = readCrc(table[r].pathA, host);
        if (r >= table.size())
            break;
        table[r].crcA = crcDisplayText(a.crc);
        table[r].errorA = a.error;
        host.rowChanged(r);
        host.keepAlive();

        if (pathB.empty()) {
            if (r >= table.size())
                break;
            table[r].status = kCrcStatusNoFileMatch;
            table[r].errorB = 0;
        } else {
            const FileReading b = readCrc(pathB, host);
            if (r >= table.size())
                break;
            table[r].crcB = crcDisplayText(b.crc);
            table[r].errorB = b.error;
            host.rowChanged(r);
            host.keepAlive();
            if (r >= table.size())
                break;
            // Equal CRCs give equal texts; the numbers are compared too, since two different CRCs can
            // share a display text.
            const bool same =
                a.error == 0 && b.error == 0 && a.crc == b.crc && table[r].crcA == table[r].crcB;
            table[r].status = same ? kCrcStatusOk : kCrcStatusDifferent;
            if (!same)
                ++badMatches;
        }
        host.rowChanged(r);
        host.selectRow(r);
        host.setProgressPosition(static_cast<int64_t>(r + 1));
        host.keepAlive();
    }
    return badMatches;
}

std::string badCrcMatchMessage(int badMatches) {
    return std::to_string(badMatches) + " Bad CRC Match(es) Found";
}

} // namespace paritas

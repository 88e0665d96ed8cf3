#pragma once
// CRC matching of location A against location B: a diagnostic that checks a copy and changes no file.
//
//   inventories A, B ──pairCrcMatches──▶ CrcMatchTable ──compareCrcMatches──▶ statuses, bad match count
//        (same-file criteria)              (one row per A file)   (CRC display texts of both files)
//
// The table is what the CRC matching window shows, row i being grid row i + 1 below the header:
//   status ("", "OK!", "Different!!!", "NoFileMatch"), File A CRC, File B CRC, FilePath A, FilePath B.

#include "core/base/host.h"
#include "core/inventory/inventory.h"
#include "core/settings/settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace paritas {

inline constexpr std::string_view kCrcStatusOk = "OK!";
inline constexpr std::string_view kCrcStatusDifferent = "Different!!!";
inline constexpr std::string_view kCrcStatusNoFileMatch = "NoFileMatch";

struct CrcMatchRow {
    std::string status; // empty until compared
    std::string crcA;   // CRC display text of the A file, empty until computed
    std::string crcB;   // CRC display text of the B file, empty until computed or without partner
    std::string pathA;  // full path of the A file
    std::string pathB;  // full path of the paired B file; empty when no file of B matches
    // What the last compare met reading each file: the CRC32File error code (0 when read whole).
    uint16_t errorA = 0;
    uint16_t errorB = 0;
};

using CrcMatchTable = std::vector<CrcMatchRow>;

// Pairs every file of A, in inventory order, with the first row of B in inventory order that is the
// same file under the ticked criteria of settings (CheckSize, CheckName, CheckTimeStamp: size, name
// and file time equal; paths play no part). With no criterion ticked every A file pairs with the first
// file of B. Statuses and CRC columns come back empty. Matched marks are neither read nor set.
// The host variant reports one progress step per A row (maximum n - 1, at least 1) and keeps alive.
CrcMatchTable pairCrcMatches(const Inventory& a, const Inventory& b, const Settings& criteria);
CrcMatchTable pairCrcMatches(const Inventory& a, const Inventory& b, const Settings& criteria,
                             ActivityHost& host);

// What the compare needs from whoever runs it (the CRC matching window, a test).
class CrcCompareHost {
public:
    virtual ~CrcCompareHost() = default;
    // Read before each row; true ends the compare there. The row under way is always finished. The
    // caller clears its flag before starting a compare.
    virtual bool stopRequested() = 0;
    // After every block read of a file, after every file and after every row.
    virtual void keepAlive() {}
    virtual void setProgressMaximum(int64_t /*maximum*/) {}
    virtual void setProgressPosition(int64_t /*position*/) {}
    // Cells of table row `row` were written (status, crcA, crcB, errors).
    virtual void rowChanged(std::size_t /*row*/) {}
    // The compare has finished row `row`: select it and scroll it into view.
    virtual void selectRow(std::size_t /*row*/) {}
};

// Computes and compares the CRC display texts of every row, from the first, while no stop is
// requested; overwrites status, crcA, crcB and the error codes; returns the number of bad matches.
//   no B file                          -> "NoFileMatch", not counted
//   both read whole, same CRC and text -> "OK!"
//   otherwise                          -> "Different!!!", counted
// A file that could not be opened or read whole makes its row "Different!!!" even where both texts
// agree (two unreadable files, or an unreadable and an empty one, would otherwise look alike and pass).
// The CRC values are compared beside the texts because two different CRCs can share a display text.
// Progress runs from 1 to the row count. The table must keep its rows while the compare runs (the
// window does not pair again meanwhile); rows that vanish through a keep-alive are not touched.
int compareCrcMatches(CrcMatchTable& table, CrcCompareHost& host);

// The closing message of a compare, e.g. "2 Bad CRC Match(es) Found".
std::string badCrcMatchMessage(int badMatches);

} // namespace paritas

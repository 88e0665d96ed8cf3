#pragma once
// The main window's size rules as one pure function, so they are checked without a window.
//
// W and H are the window's outer width and height, M the activity log's height; W2 = W / 2. The rules
// place the middle column and the right-hand side from W (both layouts), set the job list's column
// widths, and put the progress area at fixed distances from the bottom. The normal layout keeps the
// client area at least 650 high; the compact layout pins the outer height at 430.

#include <array>
#include <optional>

namespace paritas {

enum class WindowLayout { Normal, Compact };

struct MainLayout {
    // Horizontal rules
    int treeAWidth, editAWidth;
    int label3Left, label2Left, radioGroupLeft, analyseLeft, addJobLeft;
    int label5Left, label4Left;
    int treeBLeft, treeBWidth, comboBLeft, editBLeft, editBWidth;
    int gridAWidth, gridBLeft, gridBWidth;
    // Job list
    int jobGridWidth;
    std::array<int, 5> jobColumns;
    // Progress area
    int label9Top, progressTop, bottomLabelsTop;
    // What the window must do with its own size afterwards
    std::optional<int> outerHeight;     // compact: 430
    std::optional<int> minClientHeight; // normal: 650
    bool jobAreaVisible;
};

inline constexpr int kDesignWidth = 876;
inline constexpr int kDesignHeight = 691;
inline constexpr int kMinimumWidth = 650;
inline constexpr int kMinimumHeight = 430;
inline constexpr int kCompactHeight = 430;
inline constexpr int kNormalMinClientHeight = 650;
// The job list stretches with the window; at the design width it is 850 wide.
inline constexpr int kJobGridMargin = kDesignWidth - 850;

std::array<int, 5> jobColumnWidths(int gridWidth, WindowLayout layout);
MainLayout computeMainLayout(int W, int H, int memoHeight, WindowLayout layout);

} // namespace paritas

#include "core/app/layout_rules.h"

namespace paritas {

std::array<int, 5> jobColumnWidths(int G, WindowLayout layout) {
    if (layout == WindowLayout::Compact)
        return {G / 16, G / 4, G / 4, G / 4, G / 16};
    return {G / 9, G / 3, G / 9, G / 3, G / 9};
}

MainLayout computeMainLayout(int W, int H, int M, WindowLayout layout) {
    const int W2 = W / 2;
    MainLayout l{};
    l.treeAWidth = W2 - 173;
    l.editAWidth = W2 - 173;
    l.label3Left = W2 - 145;
    l.label2Left = W2 - 137;
    l.radioGroupLeft = W2 - 152;
    l.analyseLeft = W2 - 153;
    l.addJobLeft = W2 - 153;
    l.label5Left = W2 + 55;
    l.label4Left = W2 + 72;
    l.treeBLeft = W2 + 152;
    l.treeBWidth = W2 - 175;
    l.comboBLeft = W2 + 152;
    l.editBLeft = W2 + 152;
    l.editBWidth = W2 - 175;
    l.gridAWidth = W2 - 10;
    l.gridBLeft = W2;
    l.gridBWidth = W2 - 25;
    l.jobGridWidth = W - kJobGridMargin;
    l.jobColumns = jobColumnWidths(l.jobGridWidth, layout);
    if (layout == WindowLayout::Normal) {
        l.label9Top = H - M - 146;
        l.progressTop = H - M - 130;
        l.bottomLabelsTop = H - M - 113;
        l.minClientHeight = kNormalMinClientHeight;
        l.jobAreaVisible = true;
    } else {
        l.label9Top = H - 124;
        l.progressTop = H - 110;
        l.bottomLabelsTop = H - 89;
        l.outerHeight = kCompactHeight;
        l.jobAreaVisible = false;
    }
    return l;
}

} // namespace paritas

#pragma once
// The review window's check list as a model over the action lines and one tick per line, so that a
// list of a million lines costs a vector of texts and a vector of ticks, not a million widgets.
// Create-folder and original lines are always ticked and cannot be unticked; they are drawn grey.

#include "core/planning/action_list.h"

#include <QAbstractListModel>

#include <vector>

namespace paritas::gui {

class ActionReviewModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces the lines; every line starts ticked.
    void fill(const ActionList& lines);
    const ActionList& lines() const { return lines_; }
    bool isTicked(int row) const { return ticks_[std::size_t(row)] != 0; }
    void setTicked(int row, bool ticked);
    static bool isTickable(std::string_view line);
    // Rewrites one line in place; its tick stays.
    void setLine(int row, std::string text);
    // The ticked lines, in order.
    ActionList tickedLines() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    ActionList lines_;
    std::vector<char> ticks_;
};

} // namespace paritas::gui

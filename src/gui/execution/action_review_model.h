#pragma once
// The review window's check list as a model over the run's action items and one tick per item, so that
// a list of a million lines costs a vector of ticks, not a million widgets or a second copy of the
// plan. Create-folder and original lines are always ticked and cannot be unticked; they are drawn
// grey. Lines that destroy data (file deletions, folder removals, copies over an existing file, as the
// plan's facts say) are drawn red with a sign; every line's full text is its tooltip.
//
// The model keeps the counts of the ticked lines by kind and the bytes their copies will write, so
// that the summary above the list costs nothing to keep current. The items belong to the main
// window's run; the model is filled again (or emptied) whenever that run's plan is replaced.

#include "core/planning/action_list.h"

#include <QAbstractListModel>

#include <array>
#include <vector>

namespace paritas::gui {

class ActionReviewModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Shows `items` (nullptr: nothing); every line starts ticked. The items must outlive the model's
    // use of them: the window fills the model again when they are replaced.
    void fill(const ActionList* items);
    std::size_t size() const { return items_ ? items_->size() : 0; }
    const PlanItem& item(std::size_t row) const { return (*items_)[row]; }
    // The length of the longest line, in bytes.
    std::size_t longestLine() const { return longest_; }
    bool isTicked(int row) const { return ticks_[std::size_t(row)] != 0; }
    const std::vector<char>& ticks() const;
    void setTicked(int row, bool ticked);
    // Ticks or unticks the tickable lines among rows first..last, with one change notice.
    void setTickedRange(int first, int last, bool ticked);
    static bool isTickable(const PlanItem& item);
    // The items of rows first..last were changed in place (a swapped pair); their ticks stay.
    void rowsChanged(int first, int last);
    // The rows with a path at `folder` or beneath it.
    std::vector<int> rowsUnder(const std::string& folder) const;
    // The folder an item lies in: a folder item's own folder, else the folder of the path it shows.
    static std::string folderOf(const PlanItem& item);

    // True when a ticked line deletes a file, removes a folder or copies over an existing file.
    bool ticksDestroyData() const;
    // The ticked lines of a kind, and the ticked copies over existing files.
    std::size_t ticked(ActionKind kind) const { return tickedKinds_[std::size_t(kind)]; }
    std::size_t tickedOverwrites() const { return tickedOverwrites_; }
    // "1230 of 1231 lines ticked: 2 new folders, 1203 copies (3 over existing files, 2.3 GB), 10 file
    // deletions": the kinds of the ticked lines, those without a line left out ("1 new folder, 1 copy"
    // for one).
    QString summary() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void ticksChanged();

private:
    void count(std::size_t row, int delta);
    static bool overwrites(const PlanItem& item);
    static uint64_t bytesOf(const PlanItem& item);

    const ActionList* items_ = nullptr;
    std::vector<char> ticks_;
    // Ticked lines per ActionKind, ticked overwrites, ticked bytes.
    std::array<std::size_t, kActionKindCount> tickedKinds_{};
    std::size_t tickedLines_ = 0;
    std::size_t tickedOverwrites_ = 0;
    uint64_t tickedBytes_ = 0;
    std::size_t longest_ = 0;
};

} // namespace paritas::gui

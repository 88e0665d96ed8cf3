#pragma once
// The review window's check list as a model over the action lines and one tick per line, so that a
// list of a million lines costs a vector of texts and a vector of ticks, not a million widgets.
// Create-folder and original lines are always ticked and cannot be unticked; they are drawn grey.
// Lines that destroy data (file deletions, folder removals, copies over an existing file, as the
// plan's facts say) are drawn red with a sign; every line's full text is its tooltip.
//
// The model keeps the counts of the ticked lines by kind and the bytes their copies will write, so
// that the summary above the list costs nothing to keep current.

#include "core/planning/action_facts.h"
#include "core/planning/action_list.h"

#include <QAbstractListModel>

#include <array>
#include <vector>

namespace paritas::gui {

class ActionReviewModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    // Replaces the lines; every line starts ticked. `facts` (position for position, or empty) tells
    // overwriting copies apart and gives the bytes of each copy.
    void fill(const ActionList& lines, const PlanFacts& facts = {});
    const ActionList& lines() const { return lines_; }
    // The length of the longest line, in bytes.
    std::size_t longestLine() const { return longest_; }
    bool isTicked(int row) const { return ticks_[std::size_t(row)] != 0; }
    void setTicked(int row, bool ticked);
    // Ticks or unticks the tickable lines among rows first..last, with one change notice.
    void setTickedRange(int first, int last, bool ticked);
    static bool isTickable(std::string_view line);
    // Rewrites one line in place; its tick stays.
    void setLine(int row, std::string text);
    // The ticked lines, in order.
    ActionList tickedLines() const;
    // The rows with a path at `folder` or beneath it.
    std::vector<int> rowsUnder(const std::string& folder) const;
    // The folder a line lies in: a folder line's own folder, else the folder of the path it shows.
    static std::string folderOf(std::string_view line);

    // True when a ticked line deletes a file, removes a folder or copies over an existing file.
    bool ticksDestroyData() const;
    // "1230 of 1231 lines ticked: 2 new folders, 1203 copies (3 over existing files, 2.3 GB), 10 file
    // deletions": the kinds of the ticked lines, those without a line left out.
    QString summary() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void ticksChanged();

private:
    enum class Mark : uint8_t { Plain, Destroys };
    void count(std::size_t row, int delta);

    ActionList lines_;
    std::vector<char> ticks_;
    std::vector<Mark> marks_;
    std::vector<uint8_t> overwrites_; // 1 for a copy over an existing file
    std::vector<uint64_t> bytes_;     // bytes a copy line writes
    // Ticked lines per ActionKind, ticked overwrites, ticked bytes.
    std::array<std::size_t, 6> tickedKinds_{};
    std::size_t tickedLines_ = 0;
    std::size_t tickedOverwrites_ = 0;
    uint64_t tickedBytes_ = 0;
    std::size_t longest_ = 0;
};

} // namespace paritas::gui

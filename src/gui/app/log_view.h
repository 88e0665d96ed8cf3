#pragma once
// The activity log's view: paints the lines of a LogStore that are in sight, nothing per line is
// held, so a log of a million lines costs the store alone. Read-only, with a vertical scroll bar;
// lines are selected whole (click, Shift+click, drag, Ctrl+A) and copied with Ctrl+C or the context
// menu. A view scrolled to the end follows new lines; one scrolled back stays where the user put it.

#include <QAbstractScrollArea>

#include <cstddef>

namespace paritas::gui {

class LogStore;

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(const LogStore& store, QWidget* parent = nullptr);

    // The store gained or lost lines: the scroll range follows and the view repaints.
    void storeChanged();
    void selectAll();
    // Selects lines first..last (clamped to the store) and scrolls the first of them to the top.
    void selectLines(std::size_t first, std::size_t last);
    // The selected lines, joined by line breaks; empty without a selection.
    QString selectedText() const;
    void copySelection() const;
    // The first line in sight.
    std::size_t firstVisibleLine() const;
    int visibleLineCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int lineHeight() const;
    std::size_t lineAt(int y) const;
    void updateRanges();
    bool hasSelection() const { return anchor_ != kNoLine; }

    static constexpr std::size_t kNoLine = SIZE_MAX;
    const LogStore& store_;
    std::size_t anchor_ = kNoLine; // the selection runs from anchor_ to cursor_, both included
    std::size_t cursor_ = kNoLine;
};

} // namespace paritas::gui

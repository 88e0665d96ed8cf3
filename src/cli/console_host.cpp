#include "cli/console_host.h"

#include "core/platform/file_copy.h"

namespace paritas::cli {

void ProgressLine::show(const std::string& text, bool force) {
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - last_ < std::chrono::milliseconds(200))
        return;
    last_ = now;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::clear() {
    if (!enabled_ || !drawn_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void ConsoleHost::log(std::string_view line) {
    // A log line on the terminal goes above the progress line, which is drawn again later.
    progress_.clear();
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fputc('\n', log_);
}

void ConsoleHost::showMessage(std::string_view text) {
    log(text);
}

void ConsoleHost::setPhase(std::string phase) {
    phase_ = std::move(phase);
    maximum_ = position_ = 0;
    filesSeen_ = 0;
    drawProgress(true);
}

void ConsoleHost::keepAlive() {
    ++filesSeen_;
    drawProgress(false);
}

void ConsoleHost::drawProgress(bool force) {
    if (!progress_.enabled())
        return;
    std::string text = phase_;
    if (phase_ == "Actions")
        text += " " + std::to_string(position_ + 1) + " of " + std::to_string(maximum_ + 1) + ", " +
                std::to_string((bytesCopied_ + copyDone_) >> 20) + " MB copied";
    else if (phase_.rfind("Scanning", 0) == 0)
        text += ": " + std::to_string(filesSeen_) + " files and folders";
    else
        text += ": " + std::to_string(position_) + " of " + std::to_string(maximum_);
    progress_.show(text, force);
}

namespace {

class ConsoleCopyObserver final : public CopyObserver {
public:
    explicit ConsoleCopyObserver(std::function<void(uint64_t)> onProgress)
        : onProgress_(std::move(onProgress)) {}
    void progress(uint64_t done, uint64_t) override { onProgress_(done); }

private:
    std::function<void(uint64_t)> onProgress_;
};

} // namespace

bool ConsoleHost::copyWithProgress(const std::string& source, const std::string& destination,
                                   std::string_view, StopFlags&) {
    ConsoleCopyObserver observer([this](uint64_t done) {
        copyDone_ = done;
        drawProgress(false);
    });
    const bool copied = copyFileWithProgress(source, destination, observer).ok();
    bytesCopied_ += copyDone_;
    copyDone_ = 0;
    return copied;
}

} // namespace paritas::cli

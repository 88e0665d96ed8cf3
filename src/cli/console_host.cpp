#include "cli/console_host.h"

#include "core/platform/file_copy.h"
#include "core/remote/remote_session.h"

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include <utility>

namespace paritas::cli {
namespace {

volatile std::sig_atomic_t caughtSignal = 0;

extern "C" void onInterruption(int signal) {
    caughtSignal = signal;
    std::signal(signal, SIG_DFL);
}

} // namespace

void catchInterruptions() {
    struct sigaction action {};
    action.sa_handler = onInterruption;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int interruption() {
    return caughtSignal;
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

void ProgressLine::show(const std::string& text, bool force) {
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200))
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

void LogSinks::record(std::string_view line) {
    if (kept)
        kept->emplace_back(line);
    if (!file)
        return;
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &tm);
    if (std::fputs(stamp, file) < 0 || std::fwrite(line.data(), 1, line.size(), file) != line.size() ||
        std::fputc('\n', file) == EOF || std::fflush(file) != 0)
        fileFailed = true;
}

bool tellsOfAnError(std::string_view line) {
    static constexpr std::string_view kErrorStarts[] = {
        "Failed",    "Reason: ", "Cannot ",         "Left alone: ",         "Skipped ",
        "Refused: ", "Job ",     "Interrupted by ", "The run is incomplete"};
    for (std::string_view start : kErrorStarts)
        if (line.substr(0, start.size()) == start)
            return true;
    return false;
}

ConsoleHost::ConsoleHost(std::FILE* logStream, ProgressLine& progress, const Settings& settings,
                         LogSinks* sinks)
    : log_(logStream), sinks_(sinks), logOnTerminal_(::isatty(::fileno(logStream)) == 1), progress_(progress),
      settings_(settings) {}

void ConsoleHost::log(std::string_view line) {
    if (sinks_) {
        sinks_->record(line);
        if (sinks_->quiet && !tellsOfAnError(line))
            return;
    }
    // On the terminal a log line replaces the progress line, which comes back a moment later.
    if (logOnTerminal_)
        progress_.clear();
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fputc('\n', log_);
    // What the actions did reaches the log at once (a killed run loses nothing it did); other lines
    // at least every tenth of a second.
    const auto now = std::chrono::steady_clock::now();
    if (phase_ == Phase::Actions || now - lastFlush_ >= std::chrono::milliseconds(100)) {
        std::fflush(log_);
        lastFlush_ = now;
    }
}

// A signal before the actions ends the program here, where nothing is being changed; during the
// actions it stops the run through its flags.
void ConsoleHost::noticeSignal() {
    const int signal = interruption();
    if (signal == 0)
        return;
    if (watched_) {
        watched_->action = true;
        return;
    }
    progress_.clear();
    log(std::string("Interrupted by ") + signalName(signal) +
        (actionsStarted_ ? "" : "; no action had run, nothing was changed"));
    if (beforeExit_)
        beforeExit_();
    RemoteSession::endAll(); // the rclone daemon of remote locations goes with the program, in order
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(128 + signal);
}

void ConsoleHost::setPhase(Phase phase, std::string label, int64_t total) {
    phase_ = phase;
    label_ = std::move(label);
    total_ = total;
    maximum_ = 0;
    position_ = -1;
    itemsSeen_ = 0;
    drawProgress(true);
}

void ConsoleHost::setProgressPosition(int64_t position) {
    position_ = position;
    drawProgress(false);
}

void ConsoleHost::keepAlive() {
    ++itemsSeen_;
    noticeSignal();
    drawProgress(false);
}

void ConsoleHost::drawProgress(bool force) {
    if (!progress_.enabled())
        return;
    std::string text = label_;
    switch (phase_) {
    case Phase::Scanning:
        text += ": " + std::to_string(itemsSeen_) + " files and folders";
        break;
    case Phase::Actions:
        // The executor sets the position to a line's index once the line is done.
        text += ": " + std::to_string(position_ + 1) + " of " + std::to_string(total_) + " actions, " +
                std::to_string((bytesCopied_ + copyDone_) >> 20) + " MB copied";
        break;
    case Phase::Planning:
    case Phase::Crc:
        text += ": " + std::to_string(std::max<int64_t>(position_, 0)) + " of " + std::to_string(maximum_);
        break;
    }
    progress_.show(text, force);
}

namespace {

class ConsoleCopyObserver final : public CopyObserver {
public:
    ConsoleCopyObserver(uint64_t& done, ConsoleHost& host, const StopFlags& flags)
        : done_(done), host_(host), flags_(flags) {}
    void progress(uint64_t done, uint64_t) override {
        done_ = done;
        host_.keepAlive();
    }
    bool cancelRequested() override { return flags_.action; }

private:
    uint64_t& done_;
    ConsoleHost& host_;
    const StopFlags& flags_;
};

} // namespace

CopyResult ConsoleHost::copyWithProgress(CopyTask& copy, std::string_view, StopFlags& flags) {
    ConsoleCopyObserver observer(copyDone_, *this, flags);
    const CopyResult result = copy.run(observer);
    if (result.ok())
        bytesCopied_ += copyDone_;
    copyDone_ = 0;
    return result;
}

bool ConsoleRunHost::keepWaitingForLock(const RunLockResult& taken) {
    if (!waitForLock_)
        return false;
    if (!said_)
        console_.log("Waiting: " + runLockRefusal(taken));
    said_ = true;
    console_.keepAlive(); // a signal while waiting ends the program: nothing has changed
    return true;
}

} // namespace paritas::cli

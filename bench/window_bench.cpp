// Drives the windows as a user would, on the platform Qt is given (Xvfb or offscreen), and prints
// what each command took. bench/window_bench.sh runs it beside paritas-cli on the same trees.
//
//   window_bench backup A B          "Analyse/Synchronize Now", backup mode, review off (a first
//                                    backup when B is empty); prints "seconds S"
//   window_bench crc A B             "CRC Matching A -> B" and "Start CRC Compare"; prints "seconds S"
//   window_bench analyses A B N      N no-op analyses in a row (review on); prints the resident size
//                                    after the first and after the last: "first_mb X last_mb Y"
//   window_bench log N               N typical log lines into the activity log, then an export of
//                                    them all; prints "lines N grown_mb X export_seconds Y"
//
// Every question the windows ask is answered at once (OK); the program runs in a temporary working
// folder of its own, so that no config.ini is read or written elsewhere.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/app/windows.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/settings/tform2.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <string>

using namespace paritas;
using namespace paritas::gui;

namespace {

class AnsweringDialogs final : public DialogSeam {
public:
    void message(QWidget*, const QString& text) override { last = text; }
    void warning(QWidget*, const QString& text) override { last = text; }
    void error(QWidget*, const QString& text) override { last = text; }
    using DialogSeam::confirm;
    Answer confirm(QWidget*, const QString&, bool, Answer) override { return Answer::Ok; }
    SaveAnswer askSave(QWidget*, const QString&) override { return SaveAnswer::DontSave; }
    std::optional<QString> inputText(QWidget*, const QString&, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString openFileName(QWidget*, const QString&, const QString&) override { return {}; }
    void open(const QString&) override {}
    QString last;
};

double residentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes / 1024.0;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

// A location as the choosers give it: absolute, with one trailing separator. Taken before the
// program moves to its working folder.
QString folder(const char* path) {
    QString text = QDir(QString::fromLocal8Bit(path)).absolutePath();
    return text.endsWith('/') ? text : text + '/';
}

struct Session {
    Windows windows = createWindows();
    TForm1* main = windows.form1;
    Session(const QString& a, const QString& b) {
        main->Edit1->setText(a);
        main->Edit2->setText(b);
        main->show();
        (void)QTest::qWaitForWindowExposed(main);
    }
    ~Session() { destroyWindows(windows); }
};

int backup(const QString& a, const QString& b, AnsweringDialogs& dialogs) {
    Session s(a, b);
    s.windows.form2->CheckBoxConfirm->setChecked(false);
    s.main->setModeIndex(0);
    QElapsedTimer clock;
    clock.start();
    s.main->BitBtn6Click();
    std::printf("seconds %.3f\n", double(clock.nsecsElapsed()) / 1e9);
    std::fprintf(stderr, "%s\n", qPrintable(dialogs.last));
    return 0;
}

int crc(const QString& a, const QString& b, AnsweringDialogs& dialogs) {
    Session s(a, b);
    QElapsedTimer clock;
    clock.start();
    s.main->CRCMatchingAB1Click();
    s.windows.crcMatch->BitBtn3Click();
    std::printf("seconds %.3f\n", double(clock.nsecsElapsed()) / 1e9);
    std::fprintf(stderr, "%s\n", qPrintable(dialogs.last));
    return 0;
}

int analyses(const QString& a, const QString& b, int count) {
    Session s(a, b);
    double first = 0;
    for (int i = 0; i < count; ++i) {
        s.main->BitBtn6Click();
        QCoreApplication::processEvents();
        if (i == 0)
            first = residentMegabytes();
    }
    std::printf("first_mb %.1f last_mb %.1f\n", first, residentMegabytes());
    return 0;
}

// Lines as a scan of the benchmark tree and a run write them.
int logLines(int count) {
    Session s(QStringLiteral("/nonexistent-a/"), QStringLiteral("/nonexistent-b/"));
    const double before = residentMegabytes();
    for (int i = 0; i < count; ++i) {
        const std::string folder = "/tmp/paritas-bench-tree/dir" + std::to_string(i % 20) + "/sub" +
                                   std::to_string(i / 20 % 25) + "/leaf" + std::to_string(i / 500 % 29) + "/";
        s.main->log(i % 2 ? "Scanning folder " + folder
                          : "Success Copy-File to " + folder + "file" + std::to_string(i) + ".dat");
    }
    s.main->activityLog().flush();
    QCoreApplication::processEvents();
    const double grown = residentMegabytes() - before;
    QTemporaryDir dir;
    QElapsedTimer clock;
    clock.start();
    s.main->ExportLog(dir.filePath("ActionLog.txt"));
    std::printf("lines %d grown_mb %.1f export_seconds %.3f\n", count, grown,
                double(clock.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Paritas"));
    const QString a = argc > 2 ? folder(argv[2]) : QString();
    const QString b = argc > 3 ? folder(argv[3]) : QString();
    QTemporaryDir working;
    QDir::setCurrent(working.path());
    AnsweringDialogs dialogs;
    DialogSeam::install(&dialogs);
    const std::string command = argc > 1 ? argv[1] : "";
    int result = 2;
    if (command == "backup" && argc == 4)
        result = backup(a, b, dialogs);
    else if (command == "crc" && argc == 4)
        result = crc(a, b, dialogs);
    else if (command == "analyses" && argc == 5)
        result = analyses(a, b, std::atoi(argv[4]));
    else if (command == "log" && argc == 3)
        result = logLines(std::atoi(argv[2]));
    else
        std::fprintf(stderr, "usage: window_bench backup|crc A B | analyses A B N | log N\n");
    DialogSeam::install(nullptr);
    return result;
}

// Screenshots of every window as a user meets them, for a person to look at (not a test): the main
// window at its design, minimum and maximised sizes, the secondary windows, a review of the whole
// tree, a run in progress with its counts, the CRC compare filtered to its differences, the main
// window after a job list and after a scheduled run the mass-deletion guard refused, a large copy
// with its copy window stopped half-way, and the message boxes on the way. bench/window_shots.sh runs it under Xvfb with a window manager, so
// the shots (`import -window root`) show the title bars too.
//
//   window_shots OUT_DIR POINT_SIZE TREE      POINT_SIZE 0 keeps the default font
//
// Message boxes are photographed by a watcher and then answered with their escape button (Cancel
// where there is one), so nothing runs that was not meant to.

#include "gui/app/application.h"
#include "gui/app/location_chooser.h"
#include "gui/app/tform1.h"
#include "gui/app/tform10.h"
#include "gui/app/tform5.h"
#include "gui/app/windows.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/action_review_model.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include "core/base/modes.h"
#include "core/jobs/job_list.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

using namespace paritas::gui;

namespace {

QString outDir;
int shotNumber = 0;

void shoot(const QString& name) {
    QCoreApplication::processEvents();
    const QString file =
        QStringLiteral("%1/%2-%3.png").arg(outDir).arg(++shotNumber, 2, 10, QLatin1Char('0')).arg(name);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    std::printf("%s\n", qPrintable(file));
}

void settle(int ms) {
    QTest::qWait(ms);
}

// Photographs every message box that opens and answers it with its escape button.
void watchMessageBoxes(QObject* parent) {
    auto* timer = new QTimer(parent);
    QObject::connect(timer, &QTimer::timeout, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->property("photographed").toBool())
            return;
        box->setProperty("photographed", true);
        QTimer::singleShot(300, box, [box] {
            QString words = box->text().section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), 0, 1);
            shoot(QStringLiteral("box-") +
                  words.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")), QStringLiteral("-")));
            if (QAbstractButton* escape = box->escapeButton())
                escape->click();
            else
                box->done(QMessageBox::Ok);
        });
    });
    timer->start(100);
}

void showAlone(QWidget* window, const QString& name) {
    window->show();
    window->raise();
    settle(600);
    shoot(name);
    window->hide();
}

// Gives `count` files under `folder` other bytes of the same size and time: a CRC compare pairs them
// and finds them different.
void alterFiles(const QString& folder, int count) {
    QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
    for (int altered = 0; altered < count && files.hasNext(); ++altered) {
        const QString path = files.next();
        const QDateTime modified = QFileInfo(path).lastModified();
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        const qint64 size = file.size();
        file.seek(0);
        file.write(QByteArray(int(size), 'X'));
        file.flush(); // the bytes go before the time is put back, or their write moves it again
        file.setFileTime(modified, QFileDevice::FileModificationTime);
    }
}

void writeSmallFiles(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile file(QStringLiteral("%1/note-%2.txt").arg(folder).arg(i));
        file.open(QIODevice::WriteOnly);
        file.write("a note");
    }
}

void writeBigFile(const QString& path, qint64 bytes) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray block(1 << 20, 'p');
    for (qint64 written = 0; written < bytes; written += block.size())
        file.write(block);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: window_shots OUT_DIR POINT_SIZE TREE\n");
        return 2;
    }
    outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);
    const QString tree = QDir(QString::fromLocal8Bit(argv[3])).absolutePath() + '/';
    if (const int points = std::atoi(argv[2]); points > 0) {
        QFont font = QApplication::font();
        font.setPointSize(points);
        QApplication::setFont(font);
    }
    setUpApplication(app);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    // The backup folder holds a few files the tree does not have: the review shows their deletions.
    QDir().mkpath(work.filePath("backup/old"));
    for (const char* stale : {"backup/old/notes-2019.txt", "backup/old/draft.odt", "backup/todo.txt"}) {
        QFile file(work.filePath(QLatin1String(stale)));
        file.open(QIODevice::WriteOnly);
        file.write("stale");
    }
    watchMessageBoxes(&app);

    Windows w = createWindows();
    TForm1* f = w.form1;
    f->Edit1->setText(tree);
    f->Edit2->setText(work.filePath("backup") + '/');
    f->show();
    settle(2500);
    shoot(QStringLiteral("main-window"));
    f->resize(650 - (f->frameGeometry().width() - f->width()), 430);
    settle(800);
    shoot(QStringLiteral("main-window-minimum"));
    f->showMaximized();
    settle(1200);
    shoot(QStringLiteral("main-window-maximised"));
    f->showNormal();
    f->resize(876, 691);
    settle(800);

    showAlone(w.form2, QStringLiteral("configuration"));
    showAlone(w.form5, QStringLiteral("descriptions"));
    showAlone(w.form9, QStringLiteral("favourites"));
    showAlone(w.form10, QStringLiteral("developer-info"));
    w.form11->showBesideMainWindow();
    settle(600);
    shoot(QStringLiteral("stop-window"));
    w.form11->hide();

    // A review of the whole tree into the backup folder: a run of copies selected and unticked with
    // Space, then the end of the list with its deletions.
    f->BitBtn6Click();
    TForm3* review = w.form3;
    review->resize(900, 600);
    auto* list = review->CheckListBox1;
    const int firstCopy = 15001;
    review->selectRow(firstCopy + 4);
    list->selectionModel()->select(
        QItemSelection(review->model()->index(firstCopy + 4), review->model()->index(firstCopy + 9)),
        QItemSelectionModel::Select);
    review->toggleSelectedTicks();
    list->scrollTo(review->model()->index(firstCopy), QAbstractItemView::PositionAtTop);
    settle(800);
    shoot(QStringLiteral("review"));
    const int last = review->model()->rowCount() - 1;
    review->selectRow(last - 3);
    list->scrollTo(review->model()->index(last), QAbstractItemView::PositionAtBottom);
    settle(600);
    shoot(QStringLiteral("review-end"));
    review->BitBtn3Click(); // the confirmation, photographed and cancelled
    review->hide();

    // The run itself, photographed while it copies.
    w.form2->CheckBoxConfirm->setChecked(false);
    QTimer::singleShot(4000, [] { shoot(QStringLiteral("run-in-progress")); });
    f->BitBtn6Click();
    settle(500);
    shoot(QStringLiteral("main-window-after-run"));

    // The CRC compare of the tree against its copy, three files of which were changed since, then
    // filtered to the differences.
    alterFiles(work.filePath("backup"), 3);
    f->CRCMatchingAB1Click();
    settle(800);
    shoot(QStringLiteral("crc-paired"));
    QTimer::singleShot(2500, [] { shoot(QStringLiteral("crc-running")); });
    w.crcMatch->BitBtn3Click();
    w.crcMatch->CheckDifferences->setChecked(true);
    settle(600);
    shoot(QStringLiteral("crc-differences"));
    w.crcMatch->hide();

    // A job list run by hand: a copy of a few notes, then a backup from a folder that is not there
    // (refused by the planner); the box that sums the jobs up, then the main window after it.
    writeSmallFiles(work.filePath("notes/A"), 5);
    QDir().mkpath(work.filePath("notes/B"));
    const auto job = [](const QString& a, int mode, const QString& b) {
        return paritas::Job{paritas::kJobWaiting, a.toStdString(), std::string(paritas::kModeNames[std::size_t(mode)]),
                            b.toStdString(), "Yes"};
    };
    f->ListJobs({job(work.filePath("notes/A") + '/', 2, work.filePath("notes/B") + '/'),
                 job(work.filePath("unplugged") + '/', 0, work.filePath("notes/B") + '/')});
    f->StartJoblist();
    settle(800);
    shoot(QStringLiteral("main-window-after-job-list"));

    // A scheduled run the mass-deletion guard refuses: a backup from an empty folder would delete
    // every file of its copy.
    QDir().mkpath(work.filePath("guarded/A"));
    writeSmallFiles(work.filePath("guarded/B"), 12);
    f->ListJobs({job(work.filePath("guarded/A") + '/', 0, work.filePath("guarded/B") + '/')});
    std::time_t moment = std::time(nullptr);
    w.form2->clock = [&moment] { return moment; };
    w.form2->Every->setChecked(true);
    w.form2->Edit1->setText(QString::fromStdString(paritas::timeText(moment + 2)));
    w.form2->SaveLog->setChecked(true);
    w.form2->BitBtn2Click();
    moment += 2;
    w.form2->Timer1Timer();
    settle(800);
    shoot(QStringLiteral("main-window-after-refused-scheduled-run"));
    w.form2->BitBtn1Click();
    w.form2->clock = nullptr;
    w.form2->SaveLog->setChecked(false);

    // One large file: the copy window, with speed and time left, and the main bar showing the run's
    // bytes; stopped half-way with "Stop All Actions" (its message and the ending photographed).
    QDir().mkpath(work.filePath("large/A"));
    QDir().mkpath(work.filePath("large/B"));
    writeBigFile(work.filePath("large/A/holiday-video-2026.mkv"), qint64(2) << 30);
    f->Edit1->setText(work.filePath("large/A") + '/');
    f->Edit2->setText(work.filePath("large/B") + '/');
    f->setModeIndex(2);
    QTimer::singleShot(900, [] { shoot(QStringLiteral("copy-window")); });
    QTimer::singleShot(1600, [f] { f->BitBtn5Click(); });
    f->BitBtn6Click();
    settle(800);
    shoot(QStringLiteral("main-window-after-stopped-copy"));

    // Leaving with a changed setting asks first (photographed and cancelled).
    w.form2->CheckTimeStamp->setChecked(!w.form2->CheckTimeStamp->isChecked());
    f->close();
    destroyWindows(w);
    return 0;
}

#pragma once
// Helpers for window tests: the eight windows created as at start-up, and small real folder trees.

#include "gui/app/activity_log.h"
#include "gui/app/tform1.h"

#include "gui/app/windows.h"
#include "gui/settings/tform2.h"
#include "plan_items.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

#include <ctime>
#include <sys/time.h>

namespace paritas::gui::testing {

inline void writeFile(const QString& path, const QByteArray& content, std::time_t mtime = 1700000000) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    f.close();
    const timeval times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimes(QFile::encodeName(path).constData(), times);
}

inline QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// A and B below one temporary folder, with the main window's locations set to them.
struct TwoLocations {
    QTemporaryDir root;
    QString a = root.filePath("A");
    QString b = root.filePath("B");
    TwoLocations() {
        QDir().mkpath(a);
        QDir().mkpath(b);
    }
    void setOn(TForm1* f) const {
        f->Edit1->setText(a + "/");
        f->Edit2->setText(b + "/");
    }
};

// Makes `items` (numbered as a planner numbers them) the plan of a run of the locations the window
// shows, and fills the review window from it.
inline void planByHand(TForm1* f, const ActionList& items) {
    const RunLocations where = f->chosenLocations();
    PlanResult plan;
    plan.actions = paritas::testing::numbered(items);
    plan.locations = {where.a, where.b};
    plan.written = {where.a, where.b};
    f->replaceSession(RunSession(f->runRequest(PlanKind::Backup, where)));
    f->session().setPlan(std::move(plan));
    f->PrepareActionForm();
}

// The texts of the run's plan.
inline std::vector<std::string> planLines(const TForm1* f) {
    return lineTexts(f->session().actions());
}

inline bool logHas(TForm1* f, const QString& line) {
    return f->activityLog().lines().contains(line);
}

} // namespace paritas::gui::testing

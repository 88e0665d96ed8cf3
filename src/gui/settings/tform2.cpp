#include "gui/settings/tform2.h"

#include "gui/app/font_fit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>

namespace paritas::gui {
namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 467;
constexpr int kLeftWidth = 480;
constexpr int kRemovedTop = 318; // the group of removed files, below both columns

QCheckBox* box(QWidget* parent, const char* caption, int y, bool ticked, const char* hint = nullptr) {
    auto* b = new QCheckBox(QString::fromUtf8(caption), parent);
    b->setGeometry(10, y, parent->width() - 16, 20);
    b->setChecked(ticked);
    if (hint)
        b->setToolTip(QString::fromUtf8(hint));
    return b;
}

} // namespace

TForm2::TForm2(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                              Qt::WindowMinimizeButtonHint) {
    setWindowTitle(QStringLiteral("Configuration"));
    // Sized to its captions in the desktop's font (the longest caption is the conflict rule's).
    setFixedSize(kWidth, kHeight);
    const Settings defaults;

    GroupBox1 = new QGroupBox(QStringLiteral("Confirm Actions for Synchronize Now Option"), this);
    GroupBox1->setGeometry(8, 6, kLeftWidth, 110);
    CheckDelete = box(GroupBox1, "Prompt for every Delete", 20, defaults.CheckDelete);
    CheckCreate = box(GroupBox1, "Prompt for new Folder creation", 42, defaults.CheckCreate);
    CheckCopy = box(GroupBox1, "Prompt for Copy/Move", 64, defaults.CheckCopy);
    CheckBoxConfirm = box(GroupBox1, "Confirm Action list before File changes", 86, defaults.CheckBoxConfirm);

    GroupBox2 = new QGroupBox(QStringLiteral("Identify same file criteria"), this);
    GroupBox2->setGeometry(8, 120, kLeftWidth, 88);
    CheckSize = box(GroupBox2, "Match Size", 20, defaults.CheckSize, "Fast, esential for acurate match");
    CheckName = box(GroupBox2, "Match FileName", 42, defaults.CheckName, "Slower, increases match acuracy ");
    CheckTimeStamp = box(GroupBox2, "Match Modified TimeStamp", 64, defaults.CheckTimeStamp,
                         "fast, increase acuracy, can omit valid matches if TimeStamp was edited");

    GroupBox3 = new QGroupBox(QStringLiteral("Same FileName and Location coflict resolution"), this);
    GroupBox3->setGeometry(8, 212, kLeftWidth, 74);
    CheckNewer = box(GroupBox3, "Leave file with newer modified date (Unchecked leaves older file)", 20,
                     defaults.CheckNewer);
    CheckKeepOld =
        box(GroupBox3, "Also keep other file - rename File+ModifiedDate", 44, defaults.CheckKeepOld);

    GroupBox4 = new QGroupBox(QStringLiteral("Job List Scheduler"), this);
    GroupBox4->setGeometry(kLeftWidth + 16, 6, kWidth - kLeftWidth - 24, 308);
    const char* days[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    QCheckBox** dayMembers[7] = {&Monday, &Tuesday, &Wednesday, &Thursday, &Friday, &Saturday, &Sunday};
    for (int d = 0; d < 7; ++d)
        *dayMembers[d] = box(GroupBox4, days[d], 20 + d * 22, false);
    Every = box(GroupBox4, "Every day at :", 180, defaults.Every);
    Every->resize(110, 20);
    Edit1 = new QLineEdit(QString::fromStdString(defaults.timeText), GroupBox4);
    Edit1->setGeometry(122, 180, 80, 22);
    SaveLog = box(GroupBox4, "Save log file After scheduled job finishes", 206, defaults.SaveLog);
    SaveLog->setText(QStringLiteral("Save log file After scheduled job finishes"));
    Label2 = new QLabel(GroupBox4);
    Label2->setGeometry(10, 236, 190, 30);
    // Scheduled runs run unwatched: a plan that deletes more than this is refused (deletion_guard.h).
    LabelMaxDelete = new QLabel(QStringLiteral("Largest deletion of a scheduled run:"), GroupBox4);
    LabelMaxDelete->setGeometry(10, 272, 222, 22);
    EditMaxDelete = new QLineEdit(QString::fromStdString(DeletionBound{}.text()), GroupBox4);
    EditMaxDelete->setGeometry(234, 272, 54, 22);
    EditMaxDelete->setToolTip(
        QStringLiteral("A share of the files of the side that would lose them (50%), a number of files "
                       "(200), or none"));
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);

    GroupBox5 = new QGroupBox(QStringLiteral("Files that actions delete or replace"), this);
    GroupBox5->setGeometry(8, kRemovedTop, kWidth - 16, 104);
    RadioDelete = new QRadioButton(QStringLiteral("Delete them"), GroupBox5);
    RadioDelete->setGeometry(10, 20, 150, 20);
    RadioTrash = new QRadioButton(QStringLiteral("Move them to the trash"), GroupBox5);
    RadioTrash->setGeometry(170, 20, 200, 20);
    RadioTrash->setToolTip(QStringLiteral(
        "The trash of the file's own file system; a file no trash can take stays where it is"));
    RadioVersions = new QRadioButton(QStringLiteral("Move them to a versions folder:"), GroupBox5);
    RadioVersions->setGeometry(10, 46, 230, 20);
    EditVersions = new QLineEdit(GroupBox5);
    EditVersions->setGeometry(244, 44, kWidth - 276, 22);
    EditVersions->setPlaceholderText(QStringLiteral("empty: .paritas-versions at the top of each location"));
    EditVersions->setToolTip(QStringLiteral("An absolute folder outside both locations, on their file "
                                            "system: files are moved there, never copied"));
    LabelKeepDays =
        new QLabel(QStringLiteral("Remove versions older than (days, 0 keeps them all):"), GroupBox5);
    LabelKeepDays->setGeometry(30, 72, 330, 22);
    SpinKeepDays = new QSpinBox(GroupBox5);
    SpinKeepDays->setGeometry(364, 72, 80, 22);
    SpinKeepDays->setRange(0, 36500);
    CheckVerify =
        new QCheckBox(QStringLiteral("Verify every copy (read it back, compare its CRC)"), GroupBox5);
    CheckVerify->setGeometry(420, 20, kWidth - 446, 20);
    applyRemovalChoice(defaults);

    BitBtn3 = new QPushButton(QStringLiteral("Save Configuration"), this);
    BitBtn3->setGeometry(8, kHeight - 35, 150, 27);
    ButtonClose = new QPushButton(QStringLiteral("Close"), this);
    ButtonClose->setGeometry(166, kHeight - 35, 90, 27);
    BitBtn1 = new QPushButton(QStringLiteral("Deactivate Schedule"), this);
    BitBtn1->setGeometry(kWidth - 288, kHeight - 35, 136, 27);
    BitBtn1->setEnabled(false);
    BitBtn2 = new QPushButton(QStringLiteral("Activate Schedule"), this);
    BitBtn2->setGeometry(kWidth - 144, kHeight - 35, 136, 27);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);

    connect(Every, &QCheckBox::toggled, this, &TForm2::EveryClick);
    connect(RadioVersions, &QRadioButton::toggled, this, &TForm2::RadioVersionsToggled);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm2::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm2::BitBtn3Click);
    connect(ButtonClose, &QPushButton::clicked, this, &QWidget::hide);
    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);

    // Laid out for the default font; a larger one scales the whole window to what its captions need.
    const FontScale scale = fontScaleOf(this);
    scaleControls(this, scale);
    setFixedSize(scale.sx(kWidth), scale.sy(kHeight));
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(width() / 2, height() / 2));
}

Settings TForm2::currentSettings() const {
    Settings s;
    s.CheckDelete = CheckDelete->isChecked();
    s.CheckCreate = CheckCreate->isChecked();
    s.CheckCopy = CheckCopy->isChecked();
    s.CheckBoxConfirm = CheckBoxConfirm->isChecked();
    s.CheckSize = CheckSize->isChecked();
    s.CheckName = CheckName->isChecked();
    s.CheckTimeStamp = CheckTimeStamp->isChecked();
    s.CheckNewer = CheckNewer->isChecked();
    s.CheckKeepOld = CheckKeepOld->isChecked();
    const auto boxes = dayBoxes();
    for (int d = 0; d < 7; ++d)
        s.days[d] = boxes[d]->isChecked();
    s.Every = Every->isChecked();
    s.timeText = Edit1->text().toStdString();
    s.SaveLog = SaveLog->isChecked();
    s.removedFiles = RadioTrash->isChecked()      ? RemovedFiles::Trash
                     : RadioVersions->isChecked() ? RemovedFiles::Versions
                                                  : RemovedFiles::Delete;
    s.versionsFolder = EditVersions->text().trimmed().toStdString();
    s.versionsKeepDays = SpinKeepDays->value();
    s.verifyCopies = CheckVerify->isChecked();
    return s;
}

void TForm2::applyRemovalChoice(const Settings& s) {
    RadioDelete->setChecked(s.removedFiles == RemovedFiles::Delete);
    RadioTrash->setChecked(s.removedFiles == RemovedFiles::Trash);
    RadioVersions->setChecked(s.removedFiles == RemovedFiles::Versions);
    EditVersions->setText(QString::fromStdString(s.versionsFolder));
    SpinKeepDays->setValue(s.versionsKeepDays);
    CheckVerify->setChecked(s.verifyCopies);
    RadioVersionsToggled();
}

void TForm2::RadioVersionsToggled() {
    const bool versions = RadioVersions->isChecked();
    EditVersions->setEnabled(versions);
    LabelKeepDays->setEnabled(versions);
    SpinKeepDays->setEnabled(versions);
}

void TForm2::applySettings(const Settings& s) {
    CheckDelete->setChecked(s.CheckDelete);
    CheckCreate->setChecked(s.CheckCreate);
    CheckCopy->setChecked(s.CheckCopy);
    CheckBoxConfirm->setChecked(s.CheckBoxConfirm);
    CheckSize->setChecked(s.CheckSize);
    CheckName->setChecked(s.CheckName);
    CheckTimeStamp->setChecked(s.CheckTimeStamp);
    CheckNewer->setChecked(s.CheckNewer);
    CheckKeepOld->setChecked(s.CheckKeepOld);
    const auto boxes = dayBoxes();
    for (int d = 0; d < 7; ++d)
        boxes[d]->setChecked(s.days[d]);
    // Every is applied after the days: ticking it ticks all seven.
    Every->setChecked(s.Every);
    Edit1->setText(QString::fromStdString(s.timeText));
    SaveLog->setChecked(s.SaveLog);
    applyRemovalChoice(s);
}

DeletionBound TForm2::scheduledDeletionBound() const {
    return parseDeletionBound(EditMaxDelete->text().trimmed().toStdString()).value_or(DeletionBound{});
}

// Ticking "Every day at :" ticks all seven days; unticking it unticks all seven.
void TForm2::EveryClick() {
    for (QCheckBox* day : dayBoxes())
        day->setChecked(Every->isChecked());
}

} // namespace paritas::gui

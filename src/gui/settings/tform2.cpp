#include "gui/settings/tform2.h"

#include "core/app/run_filters.h"
#include "core/jobs/job_list.h"
#include "core/settings/leave_out.h"
#include "core/settings/versions_choice.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/jobs/tform9.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace paritas::gui {
namespace {

QCheckBox* box(QWidget* parent, const char* caption, bool ticked, const char* hint = nullptr) {
    auto* b = new QCheckBox(QString::fromUtf8(caption), parent);
    b->setChecked(ticked);
    if (hint)
        b->setToolTip(QString::fromUtf8(hint));
    return b;
}

// A column of controls inside a group box. The layout keeps every control inside the group's frame
// and below its title at any font.
QVBoxLayout* column(QGroupBox* group, std::initializer_list<QWidget*> controls) {
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(2);
    for (QWidget* control : controls)
        layout->addWidget(control);
    return layout;
}

// Controls side by side, then room.
QHBoxLayout* row(std::initializer_list<QWidget*> controls, int indent = 0) {
    auto* layout = new QHBoxLayout;
    layout->setSpacing(12);
    if (indent > 0)
        layout->addSpacing(indent);
    for (QWidget* control : controls)
        layout->addWidget(control);
    layout->addStretch(1);
    return layout;
}

// A line edit as wide as `sample` in its font, with room for its frame.
void fitToText(QLineEdit* edit, const QString& sample) {
    edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(sample) + 20);
}

} // namespace

TForm2::TForm2(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint |
                              Qt::WindowMinimizeButtonHint) {
    setWindowTitle(QStringLiteral("Configuration"));
    // What a reader of the settings files assumes for an entry the files lack; the load sets the rest
    // (and the first start its own settings, firstStartSettings()).
    const Settings defaults;

    GroupBox1 = new QGroupBox(QStringLiteral("Confirm Actions for Synchronize Now Option"), this);
    CheckDelete = box(GroupBox1, "Prompt for every Delete", defaults.CheckDelete);
    CheckCreate = box(GroupBox1, "Prompt for new Folder creation", defaults.CheckCreate);
    CheckCopy = box(GroupBox1, "Prompt for Copy/Move", defaults.CheckCopy);
    CheckBoxConfirm = box(GroupBox1, "Confirm Action list before File changes", defaults.CheckBoxConfirm);
    column(GroupBox1, {CheckDelete, CheckCreate, CheckCopy, CheckBoxConfirm});

    GroupBox2 = new QGroupBox(QStringLiteral("Identify same file criteria"), this);
    CheckSize = box(GroupBox2, "Match Size", defaults.CheckSize, "Fast, esential for acurate match");
    CheckName = box(GroupBox2, "Match FileName", defaults.CheckName, "Slower, increases match acuracy ");
    CheckTimeStamp = box(GroupBox2, "Match Modified TimeStamp", defaults.CheckTimeStamp,
                         "fast, increase acuracy, can omit valid matches if TimeStamp was edited");
    column(GroupBox2, {CheckSize, CheckName, CheckTimeStamp});

    GroupBox3 = new QGroupBox(QStringLiteral("Same FileName and Location coflict resolution"), this);
    CheckNewer = box(GroupBox3, "Leave file with newer modified date (Unchecked leaves older file)",
                     defaults.CheckNewer);
    CheckKeepOld = box(GroupBox3, "Also keep other file - rename File+ModifiedDate", defaults.CheckKeepOld);
    column(GroupBox3, {CheckNewer, CheckKeepOld});

    GroupBox4 = new QGroupBox(QStringLiteral("Job List Scheduler"), this);
    const char* days[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    QCheckBox** dayMembers[7] = {&Monday, &Tuesday, &Wednesday, &Thursday, &Friday, &Saturday, &Sunday};
    for (int d = 0; d < 7; ++d)
        *dayMembers[d] = box(GroupBox4, days[d], false);
    Every = box(GroupBox4, "Every day at :", defaults.Every);
    Edit1 = new QLineEdit(QString::fromStdString(defaults.timeText), GroupBox4);
    fitToText(Edit1, QStringLiteral("00:00:00 PM"));
    SaveLog = box(GroupBox4, "Save log file After scheduled job finishes", defaults.SaveLog);
    Label2 = new QLabel(GroupBox4);
    QFont bold = Label2->font();
    bold.setBold(true);
    Label2->setFont(bold);
    Label2->setMinimumHeight(2 * Label2->fontMetrics().height());
    // Scheduled runs run unwatched: a plan that deletes more than this is refused (deletion_guard.h).
    LabelMaxDelete = new QLabel(QStringLiteral("Largest deletion of a scheduled run:"), GroupBox4);
    EditMaxDelete = new QLineEdit(QString::fromStdString(DeletionBound{}.text()), GroupBox4);
    fitToText(EditMaxDelete, QStringLiteral("10000"));
    EditMaxDelete->setToolTip(
        QStringLiteral("A share of the files of the side that would lose them (50%), a number of files "
                       "(200), or none"));
    auto* scheduler = new QVBoxLayout(GroupBox4);
    scheduler->setSpacing(2);
    for (QCheckBox* day : dayBoxes())
        scheduler->addWidget(day);
    scheduler->addLayout(row({Every, Edit1}));
    scheduler->addWidget(SaveLog);
    scheduler->addWidget(Label2);
    scheduler->addStretch(1);
    scheduler->addLayout(row({LabelMaxDelete, EditMaxDelete}));

    GroupBox5 = new QGroupBox(QStringLiteral("Files that actions delete or replace"), this);
    RadioDelete = new QRadioButton(QStringLiteral("Delete them"), GroupBox5);
    RadioTrash = new QRadioButton(QStringLiteral("Move them to the trash"), GroupBox5);
    RadioTrash->setToolTip(QStringLiteral(
        "The trash of the file's own file system; a file no trash can take stays where it is"));
    RadioVersions = new QRadioButton(QStringLiteral("Move them to a versions folder:"), GroupBox5);
    EditVersions = new QLineEdit(GroupBox5);
    EditVersions->setPlaceholderText(QStringLiteral("empty: .paritas-versions at the top of each location"));
    EditVersions->setMinimumWidth(
        EditVersions->fontMetrics().horizontalAdvance(EditVersions->placeholderText()) + 20);
    EditVersions->setToolTip(QStringLiteral("An absolute folder outside both locations, on their file "
                                            "system, empty when first chosen: files are moved there, never "
                                            "copied"));
    ButtonVersions = new QPushButton(QStringLiteral("Choose..."), GroupBox5);
    LabelKeepDays =
        new QLabel(QStringLiteral("Remove versions older than (days, 0 keeps them all):"), GroupBox5);
    SpinKeepDays = new QSpinBox(GroupBox5);
    SpinKeepDays->setRange(0, 36500);
    CheckVerify =
        new QCheckBox(QStringLiteral("Verify every copy (read it back, compare its CRC)"), GroupBox5);
    auto* removed = new QVBoxLayout(GroupBox5);
    removed->setSpacing(2);
    removed->addLayout(row({RadioDelete, RadioTrash}));
    auto* versions = new QHBoxLayout;
    versions->addWidget(RadioVersions);
    versions->addWidget(EditVersions, 1);
    versions->addWidget(ButtonVersions);
    removed->addLayout(versions);
    // The days belong to the versions choice: they stand under it, indented past its indicator.
    removed->addLayout(
        row({LabelKeepDays, SpinKeepDays},
            style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, RadioVersions) +
                style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, RadioVersions)));
    removed->addWidget(CheckVerify);
    applyRemovalChoice(defaults);

    GroupBox6 = new QGroupBox(QStringLiteral("Leave out"), this);
    MemoLeaveOut = new QPlainTextEdit(GroupBox6);
    MemoLeaveOut->setPlaceholderText(
        QStringLiteral("One pattern a line, as in .gitignore; for example:\nnode_modules/\n*.tmp"));
    MemoLeaveOut->setToolTip(QStringLiteral(
        "Files and folders that no run reads or changes, on either side, written as in .gitignore: "
        "\"*.tmp\" at any depth, \"/build/\" at the top, \"cache/\" folders only, \"!\" takes "
        "back. The last matching line decides. .paritasignore at the top of A adds its own lines."));
    MemoLeaveOut->setTabChangesFocus(true);
    MemoLeaveOut->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoLeaveOut->setFixedHeight(MemoLeaveOut->fontMetrics().lineSpacing() * 4 +
                                 2 * MemoLeaveOut->frameWidth() + 8);
    column(GroupBox6, {MemoLeaveOut});

    GroupBox7 = new QGroupBox(QStringLiteral("What a backup keeps"), this);
    CheckHardLinks = box(GroupBox7, "Keep hard links (names that share one file)", defaults.hardLinks,
                         "Names of A that share one file share one file in B too");
    CheckXattrs = box(GroupBox7, "Compare ACLs and extended attributes", defaults.compareAttributes,
                      "A change of them alone is carried; costs a read per file on both sides. Copies "
                      "carry them always");
    column(GroupBox7, {CheckHardLinks, CheckXattrs});

    BitBtn3 = new QPushButton(QStringLiteral("Save Configuration"), this);
    ButtonClose = new QPushButton(QStringLiteral("Close"), this);
    BitBtn1 = new QPushButton(QStringLiteral("Deactivate Schedule"), this);
    BitBtn1->setEnabled(false);
    BitBtn2 = new QPushButton(QStringLiteral("Activate Schedule"), this);
    const std::pair<QPushButton*, int> designWidths[] = {
        {BitBtn3, 150}, {ButtonClose, 90}, {BitBtn1, 136}, {BitBtn2, 136}};
    for (const auto& [button, width] : designWidths)
        button->setMinimumWidth(width);

    // Left column: prompts, criteria, conflict rule; right column: the scheduler; below both the
    // group of removed files, then the buttons. The window takes the size its contents need.
    auto* left = new QVBoxLayout;
    left->addWidget(GroupBox1);
    left->addWidget(GroupBox2);
    left->addWidget(GroupBox3);
    left->addWidget(GroupBox7);
    left->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn3);
    buttons->addWidget(ButtonClose);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* window = new QGridLayout(this);
    window->setContentsMargins(8, 6, 8, 8);
    window->addLayout(left, 0, 0);
    window->addWidget(GroupBox4, 0, 1);
    window->addWidget(GroupBox5, 1, 0, 1, 2);
    window->addWidget(GroupBox6, 2, 0, 1, 2);
    window->addLayout(buttons, 3, 0, 1, 2);
    window->setSizeConstraint(QLayout::SetFixedSize);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);

    connect(Every, &QCheckBox::toggled, this, &TForm2::EveryClick);
    connect(RadioVersions, &QRadioButton::toggled, this, &TForm2::RadioVersionsToggled);
    connect(EditVersions, &QLineEdit::editingFinished, this, &TForm2::EditVersionsEditingFinished);
    connect(ButtonVersions, &QPushButton::clicked, this, &TForm2::ButtonVersionsClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm2::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm2::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm2::BitBtn3Click);
    connect(ButtonClose, &QPushButton::clicked, this, &QWidget::hide);
    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer);

    window->activate();
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
    s.leaveOut = leaveOutLines(MemoLeaveOut->toPlainText().toStdString());
    s.hardLinks = CheckHardLinks->isChecked();
    s.compareAttributes = CheckXattrs->isChecked();
    return s;
}

void TForm2::applyLeaveOut(const std::vector<std::string>& lines) {
    QStringList text;
    for (const std::string& line : lines)
        text << QString::fromStdString(line);
    MemoLeaveOut->setPlainText(text.join(QLatin1Char('\n')));
}

std::string TForm2::leaveOutProblem() const {
    FilterRules rules;
    const auto error = addLeaveOutLines(currentSettings().leaveOut, rules);
    return error ? error->text() : std::string();
}

void TForm2::applyRemovalChoice(const Settings& s) {
    RadioDelete->setChecked(s.removedFiles == RemovedFiles::Delete);
    RadioTrash->setChecked(s.removedFiles == RemovedFiles::Trash);
    RadioVersions->setChecked(s.removedFiles == RemovedFiles::Versions);
    EditVersions->setText(QString::fromStdString(s.versionsFolder));
    acceptedVersions_ = QString::fromStdString(s.versionsFolder);
    SpinKeepDays->setValue(s.versionsKeepDays);
    CheckVerify->setChecked(s.verifyCopies);
    RadioVersionsToggled();
}

void TForm2::RadioVersionsToggled() {
    const bool versions = RadioVersions->isChecked();
    EditVersions->setEnabled(versions);
    ButtonVersions->setEnabled(versions);
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
    applyLeaveOut(s.leaveOut);
    CheckHardLinks->setChecked(s.hardLinks);
    CheckXattrs->setChecked(s.compareAttributes);
}

DeletionBound TForm2::scheduledDeletionBound() const {
    return parseDeletionBound(EditMaxDelete->text().trimmed().toStdString()).value_or(DeletionBound{});
}

// Ticking "Every day at :" ticks all seven days; unticking it unticks all seven.
void TForm2::EveryClick() {
    for (QCheckBox* day : dayBoxes())
        day->setChecked(Every->isChecked());
}

std::vector<std::string> TForm2::knownLocations() const {
    std::vector<std::string> locations;
    const auto add = [&locations](const std::string& location) {
        if (!location.empty())
            locations.push_back(location);
    };
    if (main_) {
        add(main_->locationA());
        add(main_->locationB());
        for (const Job& job : main_->jobRows()) {
            add(job.locationA);
            add(job.locationB);
        }
    }
    if (favourites_)
        for (const Favourite& favourite : favourites_->favourites()) {
            add(favourite.locationA);
            add(favourite.locationB);
        }
    return locations;
}

bool TForm2::takeVersionsFolder(const QString& text) {
    QString folder = text.trimmed();
    if (QDir::isAbsolutePath(folder))
        folder = QDir::cleanPath(folder);
    const std::string problem = chosenVersionsFolderProblem(folder.toStdString(), knownLocations());
    if (problem.empty()) {
        acceptedVersions_ = folder;
        EditVersions->setText(folder);
        return true;
    }
    // Back first: the box takes the focus, and the field must not offer the refused folder again.
    EditVersions->setText(acceptedVersions_);
    DialogSeam::current().error(
        this, QStringLiteral("This versions folder is refused: %1.").arg(QString::fromStdString(problem)));
    return false;
}

void TForm2::EditVersionsEditingFinished() {
    if (EditVersions->text().trimmed() != acceptedVersions_)
        takeVersionsFolder(EditVersions->text());
}

void TForm2::ButtonVersionsClick() {
    const QString start = acceptedVersions_.isEmpty() ? QDir::homePath() : acceptedVersions_;
    const QString folder = DialogSeam::current().folderName(this, QStringLiteral("Versions folder"), start);
    if (!folder.isEmpty())
        takeVersionsFolder(folder);
}

} // namespace paritas::gui

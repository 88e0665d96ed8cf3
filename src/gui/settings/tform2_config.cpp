// The settings files: loaded once at start-up (written at the first start), saved on request.
// config.ini keeps its 39 fixed lines and its favourite lines for every reader of it; what it has no
// line for (the mass-deletion bound of scheduled runs, what becomes of removed files, copy
// verification, what a backup keeps, the "Leave out" lines) goes into unattended.ini beside it.

#include "core/app/text_file.h"
#include "core/platform/datetime.h"
#include "core/platform/file_queries.h"
#include "core/platform/path_text.h"
#include "core/settings/config_file.h"
#include "core/settings/last_run.h"
#include "core/settings/leave_out.h"
#include "core/settings/metadata_settings.h"
#include "core/settings/removal_settings.h"
#include "core/settings/settings_folder.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/location_chooser.h"
#include "gui/app/tform1.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

#include <filesystem>
#include <optional>
#include <system_error>
#include <tuple>

namespace paritas::gui {

// The settings and the main window's view and size as they are now (favourites not included).
ConfigFile TForm2::stateNow() const {
    ConfigFile config;
    config.settings = currentSettings();
    if (main_) {
        config.compact = main_->layoutChoice() == WindowLayout::Compact;
        config.clientHeight = main_->height();
        config.clientWidth = main_->width();
        config.maximised = main_->isMaximized();
    }
    return config;
}
namespace {

constexpr std::size_t kProblemsShown = 10;

// The error box of a load that met entries it could not read: each of them, up to a screenful.
QString loadProblemsText(const std::string& file, const std::vector<std::string>& problems) {
    QStringList shown;
    for (std::size_t i = 0; i < problems.size() && i < kProblemsShown; ++i)
        shown << QString::fromStdString(problems[i]);
    if (problems.size() > kProblemsShown)
        shown << QStringLiteral("... and %1 more.").arg(problems.size() - kProblemsShown);
    return QStringLiteral("Some entries of the settings file %1 could not be read:\n%2\n"
                          "Each of them keeps its default; everything else was read. Favourite lines that "
                          "could not be read are written back unchanged when the configuration is saved.")
        .arg(QString::fromStdString(file), shown.join(QLatin1Char('\n')));
}

constexpr const char* kMaxDeleteKey = "max-delete-scheduled";
constexpr const char* kUnattendedHeader =
    "# Paritas settings that config.ini has no line for (see README.md)";

LastRun lastRunOf(const TForm1& main) {
    LastRun run;
    run.locationA = main.locationA();
    run.locationB = main.locationB();
    run.mode = main.modeIndex();
    run.includeSubfolders = main.CheckBox1->isChecked();
    return run;
}

std::optional<KeyValueFile> readKeyValueFile(const std::string& path) {
    const auto lines = readTextLines(path);
    if (!lines)
        return std::nullopt;
    return readKeyValues(*lines);
}

std::string currentFolder() {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    if (ec)
        return "./";
    std::string text = here.string();
    if (text.empty() || text.back() != '/')
        text += '/';
    return text;
}

} // namespace

// "Save Configuration".
void TForm2::BitBtn3Click() {
    if (Saveconfig())
        DialogSeam::current().message(this, QStringLiteral("Configuration Saved"));
}

void TForm2::LoadConfig() {
    settingsFolder_ = settingsFolderFor(currentFolder());
    const std::string file = settingsFolder_ + kConfigFileName;
    // No config.ini anywhere: a first start takes its own settings (settings.h), before unattended.ini,
    // so that an unattended.ini that is there keeps what it holds.
    const bool firstStart = !fileExists(file);
    if (firstStart)
        applySettings(firstStartSettings());
    loadUnattended();
    restoreLastRun();
    if (firstStart) {
        // The schedule time is now, and the files are written at once.
        Edit1->setText(QString::fromStdString(nowTimeText()));
        Saveconfig();
        return;
    }
    std::string readError;
    const auto lines = readTextLines(file, &readError);
    if (!lines) {
        DialogSeam::current().error(
            this, QStringLiteral("The settings file %1 could not be read: %2. "
                                 "The default settings are used.")
                      .arg(QString::fromStdString(file), QString::fromStdString(readError)));
        return;
    }

    // Start from the state as it is, so that whatever the file does not reach stays as it was.
    ConfigFile config = stateNow();
    const std::vector<std::string> problems = applyConfigLines(*lines, config);
    unreadFavouriteLines_ = config.unreadFavouriteLines;

    // Days before Every: a change of Every ticks or unticks all seven days, as in the file's reading.
    applySettings(config.settings);
    if (main_) {
        if (config.compact)
            main_->Compact1Click();
        else
            main_->Normal1Click();
        if (config.maximised)
            main_->setWindowState(main_->windowState() | Qt::WindowMaximized);
        else
            main_->resize(config.clientWidth, config.clientHeight);
    }
    if (favourites_)
        for (const Favourite& favourite : config.favourites)
            favourites_->appendFavourite(favourite);
    if (!problems.empty())
        DialogSeam::current().error(this, loadProblemsText(file, problems));
}

// unattended.ini: a file that is missing or cannot be read leaves the defaults.
void TForm2::loadUnattended() {
    const auto lines = readTextLines(settingsFolder_ + kUnattendedFileName);
    if (!lines)
        return;
    unattended_ = readKeyValues(*lines);
    const std::string bound = unattended_.get(kMaxDeleteKey);
    if (parseDeletionBound(bound))
        EditMaxDelete->setText(QString::fromStdString(bound));
    Settings removal = currentSettings();
    readRemovalSettings(unattended_, removal);
    applyRemovalChoice(removal);
    applyLeaveOut(readLeaveOut(unattended_));
    Settings kept = currentSettings();
    readMetadataSettings(unattended_, kept);
    CheckHardLinks->setChecked(kept.hardLinks);
    CheckXattrs->setChecked(kept.compareAttributes);
}

bool TForm2::Saveconfig() {
    if (settingsFolder_.empty())
        settingsFolder_ = settingsFolderFor(currentFolder());
    const std::string bound = EditMaxDelete->text().trimmed().toStdString();
    if (!parseDeletionBound(bound)) {
        DialogSeam::current().error(
            this, QStringLiteral("\"%1\" is no deletion bound: write a share such as 50%, a number of files "
                                 "such as 200, or none.")
                      .arg(QString::fromStdString(bound)));
        return false;
    }
    // Lines that no run could read are not kept: every run would be refused for them.
    if (const std::string problem = leaveOutProblem(); !problem.empty()) {
        DialogSeam::current().error(
            this,
            QStringLiteral("A line of \"Leave out\" cannot be read, and the configuration is not saved:\n%1")
                .arg(QString::fromStdString(problem)));
        return false;
    }
    // A folder typed and not yet taken (the field kept the focus) is looked at now.
    if (EditVersions->text().trimmed() != acceptedVersions_ && !takeVersionsFolder(EditVersions->text()))
        return false;
    const std::string folderError = makeSettingsFolder(settingsFolder_);
    if (!folderError.empty()) {
        DialogSeam::current().error(
            this, QStringLiteral("The settings folder %1 could not be made: %2")
                      .arg(QString::fromStdString(settingsFolder_), QString::fromStdString(folderError)));
        return false;
    }
    ConfigFile config = stateNow();
    if (favourites_)
        config.favourites = favourites_->favourites();
    config.unreadFavouriteLines = unreadFavouriteLines_;
    const std::string file = settingsFolder_ + kConfigFileName;
    const std::string error = writeTextLines(file, configLines(config));
    if (!error.empty()) {
        DialogSeam::current().error(this,
                                    QStringLiteral("The settings file %1 could not be written: %2")
                                        .arg(QString::fromStdString(file), QString::fromStdString(error)));
        return false;
    }
    if (unattended_.lines.empty())
        unattended_.lines.push_back(kUnattendedHeader);
    unattended_.set(kMaxDeleteKey, bound);
    storeRemovalSettings(config.settings, unattended_);
    storeLeaveOut(config.settings.leaveOut, unattended_);
    storeMetadataSettings(config.settings, unattended_);
    if (main_)
        storeLastRun(lastRunOf(*main_), unattended_);
    const std::string second = settingsFolder_ + kUnattendedFileName;
    const std::string secondError = writeTextLines(second, unattended_.lines);
    if (!secondError.empty()) {
        DialogSeam::current().error(
            this, QStringLiteral("The settings file %1 could not be written: %2")
                      .arg(QString::fromStdString(second), QString::fromStdString(secondError)));
        return false;
    }
    return true;
}

void TForm2::restoreLastRun() {
    if (!main_)
        return;
    LastRun last;
    readLastRun(unattended_, last);
    const std::tuple<LocationChooser*, QLineEdit*, const std::string*> sides[] = {
        {main_->chooserA, main_->Edit1, &last.locationA}, {main_->chooserB, main_->Edit2, &last.locationB}};
    for (const auto& [chooser, edit, location] : sides) {
        const QString folder = QString::fromStdString(*location);
        if (location->empty() || holdsUncarriableCharacter(*location) || !QFileInfo(folder).isDir())
            continue;
        chooser->selectFolder(QDir::cleanPath(folder));
        edit->setText(QString::fromStdString(withTrailingSeparator(*location)));
    }
    if (last.mode >= 0)
        main_->setModeIndex(last.mode);
    main_->CheckBox1->setChecked(last.includeSubfolders);
}

void TForm2::rememberLastRun() {
    if (!main_ || settingsFolder_.empty())
        return;
    const std::string path = settingsFolder_ + kUnattendedFileName;
    std::optional<KeyValueFile> file = readKeyValueFile(path);
    if (!file) {
        if (fileExists(path))
            return; // there but unreadable: never replaced by a file of four lines
        file = KeyValueFile{};
    }
    KeyValueFile updated = *file;
    if (updated.lines.empty())
        updated.lines.push_back(kUnattendedHeader);
    storeLastRun(lastRunOf(*main_), updated);
    if (updated.lines == file->lines || !makeSettingsFolder(settingsFolder_).empty())
        return;
    writeTextLines(path, updated.lines);
}

bool TForm2::changedSinceSave() const {
    if (settingsFolder_.empty())
        return false;
    ConfigFile saved;
    if (const auto lines = readTextLines(settingsFolder_ + kConfigFileName))
        applyConfigLines(*lines, saved);
    ConfigFile now = saved;
    const Settings shown = currentSettings();
    now.settings = shown;
    now.favourites = favourites_ ? favourites_->favourites() : std::vector<Favourite>{};
    if (configLines(now) != configLines(saved))
        return true;

    // unattended.ini as the next start reads it: an entry it lacks keeps the value a reader assumes.
    const KeyValueFile unattended =
        readKeyValueFile(settingsFolder_ + kUnattendedFileName).value_or(KeyValueFile{});
    Settings kept;
    readRemovalSettings(unattended, kept);
    readMetadataSettings(unattended, kept);
    if (shown.removedFiles != kept.removedFiles || shown.versionsFolder != kept.versionsFolder ||
        shown.versionsKeepDays != kept.versionsKeepDays || shown.verifyCopies != kept.verifyCopies ||
        shown.hardLinks != kept.hardLinks || shown.compareAttributes != kept.compareAttributes ||
        shown.leaveOut != readLeaveOut(unattended))
        return true;
    const DeletionBound keptBound =
        parseDeletionBound(unattended.get(kMaxDeleteKey)).value_or(DeletionBound{});
    const auto shownBound = parseDeletionBound(EditMaxDelete->text().trimmed().toStdString());
    return !shownBound || *shownBound != keptBound;
}

} // namespace paritas::gui

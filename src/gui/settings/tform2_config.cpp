// The settings files: loaded once at start-up (written at the first start), saved on request.
// config.ini keeps its 39 fixed lines and its favourite lines for every reader of it; what it has no
// line for (the mass-deletion bound of scheduled runs, what becomes of removed files, copy
// verification) goes into unattended.ini beside it.

#include "core/app/text_file.h"
#include "core/platform/datetime.h"
#include "core/platform/file_queries.h"
#include "core/settings/config_file.h"
#include "core/settings/removal_settings.h"
#include "core/settings/settings_folder.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include <QLineEdit>

#include <filesystem>
#include <system_error>

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
    loadUnattended();
    const std::string file = settingsFolder_ + kConfigFileName;
    if (!fileExists(file)) {
        // First start: the defaults stay, the schedule time is now, and the file is written at once.
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
    const std::string versions = EditVersions->text().trimmed().toStdString();
    if (!versions.empty() && versions.front() != '/') {
        DialogSeam::current().error(
            this,
            QStringLiteral("\"%1\" is no versions folder: write an absolute folder path, or nothing for "
                           ".paritas-versions at the top of each location.")
                .arg(QString::fromStdString(versions)));
        return false;
    }
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
    unattended_.set(kMaxDeleteKey, bound);
    storeRemovalSettings(config.settings, unattended_);
    const std::string second = settingsFolder_ + kUnattendedFileName;
    if (unattended_.lines.size() == 1)
        unattended_.lines.insert(unattended_.lines.begin(),
                                 "# Paritas settings that config.ini has no line for (see README.md)");
    const std::string secondError = writeTextLines(second, unattended_.lines);
    if (!secondError.empty()) {
        DialogSeam::current().error(
            this, QStringLiteral("The settings file %1 could not be written: %2")
                      .arg(QString::fromStdString(second), QString::fromStdString(secondError)));
        return false;
    }
    return true;
}

} // namespace paritas::gui

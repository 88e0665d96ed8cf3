// The window's opening of a remote location: the password of an encrypted rclone configuration is
// asked when a run needs it, not only when the list of remotes is opened.

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/inventory/window_run_host.h"

#include "core/remote/remote_failure.h"
#include "core/remote/remote_location.h"
#include "core/remote/remote_path.h"
#include "core/remote/remote_session.h"

#include <QObject>

namespace paritas::gui {

std::unique_ptr<Location> WindowRunHost::openLocation(const std::string& text) {
    if (parseLocation(text).kind != LocationKind::Remote)
        return RunHost::openLocation(text);
    RcResult failure;
    std::unique_ptr<Location> location = RemoteLocation::open(text, failure);
    if (!location && failure.error == kRcloneConfigPassword && !passwordAsked_) {
        passwordAsked_ = true;
        const std::optional<QString> password = DialogSeam::current().inputPassword(
            &f_, QObject::tr("rclone configuration"),
            QObject::tr(
                "The rclone configuration is encrypted. Its password (kept in memory only, never saved):"));
        if (!password || password->isEmpty()) {
            openProblem_ = "Location " + text +
                           " cannot be used: the rclone configuration is encrypted and no password was given";
            return nullptr;
        }
        RemoteSession::setConfigPassword(password->toStdString());
        location = RemoteLocation::open(text, failure);
    }
    if (!location)
        openProblem_ = "Location " + text + " cannot be used: " + describe(failure);
    return location;
}

} // namespace paritas::gui

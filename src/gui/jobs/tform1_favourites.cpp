// The main window's favourite command: the current selection becomes a named favourite.

#include "core/base/modes.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/jobs/tform9.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTableWidget>

namespace paritas::gui {

void TForm1::SpeedButton1Click() {
    if (windows_.form9 == nullptr)
        return;
    const std::optional<QString> name = DialogSeam::current().inputText(
        this, QStringLiteral("Input Name"), QStringLiteral("Type a name for this synchronization:"));
    if (!name || name->isEmpty())
        return;
    const int mode = modeIndex();
    windows_.form9->appendFavourite({name->toStdString(), Edit1->text().toStdString(),
                                     mode < 0 ? std::string() : std::string(kModeNames[std::size_t(mode)]),
                                     Edit2->text().toStdString(), CheckBox1->isChecked() ? "Yes" : "No"});
    // The new favourite is the selected one, so the details panel shows it.
    windows_.form9->StringGrid1->selectRow(windows_.form9->StringGrid1->rowCount() - 2);
    SpeedButton2Click();
}

} // namespace paritas::gui

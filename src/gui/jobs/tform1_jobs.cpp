// The main window's job list and favourite commands. The job list file, the job runner and the
// favourites come with the job subsystem; until then these commands do nothing.

#include "gui/app/tform1.h"

namespace paritas::gui {

void TForm1::ToolButton4Click() {}
void TForm1::ToolButton5Click() {}
void TForm1::BitBtn1Click() {}
void TForm1::BitBtn2Click() {}
void TForm1::BitBtn3Click() {}

} // namespace paritas::gui

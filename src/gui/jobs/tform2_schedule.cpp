// The weekly schedule of the job list, held by the configuration window. It comes with the job
// runner; until then these commands leave everything as it is.

#include "gui/settings/tform2.h"

namespace paritas::gui {

void TForm2::BitBtn1Click() {}
void TForm2::BitBtn2Click() {}
void TForm2::Timer1Timer() {}

} // namespace paritas::gui

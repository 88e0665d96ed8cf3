// The settings file: load at start-up and "Save Configuration". Until it is built these commands
// leave everything as it is.

#include "gui/settings/tform2.h"

namespace paritas::gui {

void TForm2::BitBtn3Click() {}
void TForm2::LoadConfig() {}
void TForm2::Saveconfig() {}

} // namespace paritas::gui

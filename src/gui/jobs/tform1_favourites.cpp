// The main window's favourite command. Favourites come with the settings file; until then it does
// nothing.

#include "gui/app/tform1.h"

namespace paritas::gui {

void TForm1::SpeedButton1Click() {}

} // namespace paritas::gui

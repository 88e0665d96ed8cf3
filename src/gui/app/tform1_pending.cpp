#include "gui/app/tform1.h"

namespace paritas::gui {

void TForm1::BitBtn6Click() {}
void TForm1::DeleteduplicateswithinA1Click() {}
void TForm1::CRCMatchingAB1Click() {}
void TForm1::BitBtn5Click() {}

} // namespace paritas::gui

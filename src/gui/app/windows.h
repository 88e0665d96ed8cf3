#pragma once
// The long-lived windows, created once at start-up in this order and alive until the program ends.

namespace paritas::gui {

class TForm1;
class TForm2;
class TForm3;
class TForm5;
class TCRCMatch;
class TForm9;
class TForm10;
class TForm11;

struct Windows {
    TForm1* form1 = nullptr;       // main window
    TForm2* form2 = nullptr;       // configuration
    TForm3* form3 = nullptr;       // action review
    TForm5* form5 = nullptr;       // mode descriptions
    TCRCMatch* crcMatch = nullptr; // CRC matching
    TForm9* form9 = nullptr;       // favourites
    TForm10* form10 = nullptr;     // developer info
    TForm11* form11 = nullptr;     // stop window
};

// Creates the eight windows in their order; the favourites window loads the settings file as it is
// created, after the main and configuration windows exist. Only the main window is shown.
Windows createWindows();
// Destroys them (tests).
void destroyWindows(Windows& windows);

} // namespace paritas::gui

// The program: its application object, constructed after the MIDI output bank (linked ahead
// of this file) and before main.
#include "app/tarn_updator_app.h"

CTarnUpdatorApp theApp;

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}

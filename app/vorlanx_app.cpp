#include "app/vorlanx_app.h"

#include "app/dialog/vorlanx_dlg.h"

CVorlanxApp theApp;

bool CVorlanxApp::InitInstance() {
    CVorlanxDlg dialog;
    dialog.exec(); // OK or cancel: either way the program ends
    return false;
}

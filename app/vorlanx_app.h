#pragma once

// The application object: shows the main dialog modally and ends the program when it closes.
class CVorlanxApp {
public:
    // Constructs the main dialog with the default settings, runs it until it closes, and returns
    // false: there is no event loop after the dialog. Needs a QApplication.
    bool InitInstance();
};

extern CVorlanxApp theApp;

#pragma once
// The desktop entry point: the application object, the desk and its window.
#include <QStringList>

class QApplication;

namespace rh {

// Runs the window until it closes; returns the application's exit code.
int runGui(int argc, char** argv);

// Application-wide look: Fusion style (it honours the button colours the desk
// sets) and a font family list that renders Korean.
void setupGuiApplication(QApplication& app);

// The program's own arguments: without the program name and the --home option.
QStringList guiCommandLine(const QStringList& arguments);

} // namespace rh

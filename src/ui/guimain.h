#pragma once
// The desktop entry point: the application object, the desk and its window.
#include <QStringList>

#include <functional>

class QApplication;

namespace rh {

// Runs the window until it closes; returns the application's exit code.
// startUp runs once the application, the program folder, the site
// configuration and the message boxes are in place, before the window loads
// (single instance, server addresses, update, login); false ends the program
// with exit code 0.
int runGui(int argc, char** argv, const std::function<bool()>& startUp = {});

// Application-wide look: Fusion style (it honours the button colours the desk
// sets) and a font family list that renders Korean.
void setupGuiApplication(QApplication& app);

// The program's own arguments: without the program name and the --home option.
QStringList guiCommandLine(const QStringList& arguments);

} // namespace rh

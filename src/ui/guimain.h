#pragma once
// The desktop entry point: the application object, the desk and its window.
#include <QStringList>

class QApplication;

namespace rh {

// Runs start-up (single instance, server addresses, update, login: frmLogin
// modally), then the window until it closes; returns the exit code (those of
// the headless runner when start-up ends the program).
int runGui(int argc, char** argv);
// The same over an application object that exists already.
int runWindowProgram(QApplication& app);

// Application-wide look: Fusion style (it honours the button colours the desk
// sets) and a font family list that renders Korean.
void setupGuiApplication(QApplication& app);

// Qt's own texts in Korean: when the system locale is Korean, or when no
// language is set and the site's code page is the Korean one (the default).
bool koreanLocale();
// Installs Qt's Korean translation (qtbase_ko); false when it is not installed.
bool installQtTranslation(QApplication& app);

// The program's own arguments: without the program name and the --home option.
QStringList guiCommandLine(const QStringList& arguments);

} // namespace rh

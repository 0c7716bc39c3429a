#pragma once
// The error box of the headless host: one line "Caption: message" where a desktop
// program would show a modal box. Texts are Windows-1250.
#include <functional>
#include <string>
#include <string_view>

namespace sv {

class TApplication;

// The application's title, which this program never sets: the program file's name up to
// its first full stop, its first letter as it is and every later letter in lower case
// ("sorvana-client" stays "sorvana-client", "SORVANA.bin" gives "Sorvana").
std::string ApplicationTitle(std::string_view programFileName);

// The box's text: the message, with a full stop appended when it is not empty and its
// last character comes after "." in the code page.
std::string ErrorBoxText(std::string_view message);

// "Caption: text" as one line for stderr (without its line end).
std::string ErrorBoxLine(std::string_view caption, std::string_view message);

// Runs the program's start (the form's StartController). A failure that leaves it is
// shown in the application's error box, and the program is then to end: false. Failures
// that are not the program's own are shown alike rather than aborting.
bool StartShowingFailures(TApplication& application, const std::function<void()>& start);

}  // namespace sv

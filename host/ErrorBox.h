#pragma once
// The error box of the headless host: one line "Caption: message" where a desktop
// program would show a modal box. Texts are Windows-1250.
#include <string>
#include <string_view>

namespace sv {

// The application's title, which this program never sets: the program file's name up to
// its first full stop, its first letter as it is and every later letter in lower case
// ("sorvana-client" stays "sorvana-client", "SORVANA.bin" gives "Sorvana").
std::string ApplicationTitle(std::string_view programFileName);

// The box's text: the message, with a full stop appended when it is not empty and its
// last character comes after "." in the code page.
std::string ErrorBoxText(std::string_view message);

// "Caption: text" as one line for stderr (without its line end).
std::string ErrorBoxLine(std::string_view caption, std::string_view message);

}  // namespace sv

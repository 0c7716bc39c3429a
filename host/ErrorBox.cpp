#include "host/ErrorBox.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "controller/Application.h"

namespace sv {

std::string ApplicationTitle(std::string_view programFileName) {
  std::string title = LowerCase(programFileName.substr(0, programFileName.find('.')));
  if (!title.empty()) title[0] = static_cast<char>(UpperCase(static_cast<unsigned char>(title[0])));
  return title;
}

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string ErrorBoxLine(std::string_view caption, std::string_view message) {
  return std::string(caption) + ": " + ErrorBoxText(message);
}

bool StartShowingFailures(TApplication& application, const std::function<void()>& start) {
  try {
    start();
    return true;
  } catch (const Exception& e) {
    application.ShowError(e.Message());
  } catch (const std::exception& e) {
    application.ShowError(e.what());
  }
  return false;
}

}  // namespace sv

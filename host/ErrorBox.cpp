#include "host/ErrorBox.h"

#include "base/Exception.h"
#include "base/Text.h"
#include "controller/Application.h"

namespace sv {

std::string ApplicationTitle(std::string_view programFileName) {
  const std::string_view name = programFileName.substr(0, programFileName.find('.'));
  if (name.empty()) return std::string();
  return name[0] + LowerCase(name.substr(1));
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

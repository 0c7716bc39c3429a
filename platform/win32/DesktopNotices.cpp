#include "platform/DesktopNotices.h"

namespace sv {

struct TDesktopNotices::State {};

TDesktopNotices::TDesktopNotices(std::function<void()>) {}
TDesktopNotices::~TDesktopNotices() = default;
bool TDesktopNotices::Show(const std::string&, const std::string&) { return false; }
void TDesktopNotices::Poll() {}

}  // namespace sv

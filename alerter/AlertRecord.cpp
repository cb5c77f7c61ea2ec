#include "AlertRecord.h"

namespace {

const wchar_t* PointerOf(const AlertRequest::Text& text) noexcept { return text ? text->c_str() : nullptr; }

}  // namespace

CAlertRecord::CAlertRecord(const AlertRequest& request) {
  for (const AlertButtonText& button : request.buttons) {
    buttons_.push_back(AlertButton{static_cast<uint32_t>(buttons_.size() + 1), button.label.c_str()});
  }
  record_.typeId = PointerOf(request.typeId);
  record_.language = PointerOf(request.language);
  record_.priority = request.priority;
  record_.status = request.status;
  record_.marker = KYALERT_RECORD_MARKER;
  record_.title = PointerOf(request.title);
  record_.appId = PointerOf(request.appId);
  const bool showDetails = request.defaultContent && request.detailsContent && !request.detailsContent->empty();
  record_.detailsContent = showDetails ? request.detailsContent->c_str() : nullptr;
  record_.defaultContent = PointerOf(request.defaultContent);
  record_.buttonCount = static_cast<uint32_t>(buttons_.size());
  record_.hasButtons = buttons_.empty() ? 0 : 1;
  record_.buttons = buttons_.empty() ? nullptr : buttons_.data();
  if (!request.doNotShowText.empty()) {
    option_ = AlertOption{KYALERT_OPTION_DO_NOT_SHOW, 0, request.doNotShowText.c_str(), 0, 0};
    record_.hasOption = 1;
    record_.option = &option_;
  }
}

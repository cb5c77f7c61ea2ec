#include "AlertRecord.h"

#include <cstring>

namespace {

const wchar_t* PointerOf(const AlertRequest::Text& text) noexcept { return text ? text->c_str() : nullptr; }

}  // namespace

CAlertRecord::CAlertRecord(const AlertRequest& request) : buttons_(request.buttons.size()) {
  // Whole records, padding included: what the library reads beyond the members is 0 too.
  std::memset(&record_, 0, sizeof(record_));
  std::memset(&option_, 0, sizeof(option_));
  if (!buttons_.empty()) std::memset(buttons_.data(), 0, buttons_.size() * sizeof(AlertButton));
  for (size_t index = 0; index < buttons_.size(); ++index) {
    buttons_[index].buttonNumber = static_cast<uint32_t>(index + 1);
    buttons_[index].label = request.buttons[index].label.c_str();
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
    option_.optionId = KYALERT_OPTION_DO_NOT_SHOW;
    option_.text = request.doNotShowText.c_str();
    record_.hasOption = 1;
    record_.option = &option_;
  }
}

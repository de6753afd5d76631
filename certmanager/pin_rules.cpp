#include "certmanager/pin_rules.h"

#include <regex>

#include "certmanager_string_ids.h"

namespace merro::certmanager {
namespace {

bool LengthInRange(std::string_view pin) {
  return pin.size() >= MIN_PIN_CHARS && pin.size() <= MAX_PIN_CHARS;
}

}  // namespace

bool IsStrongPIN(std::string_view pin) {
  // Built once: compiling a pattern costs far more than matching it.
  static const std::regex kOnlyAlnumAfterFirst("(^.[A-Za-z0-9]+$)", std::regex::ECMAScript);
  static const std::regex kLetterAndDigit("([A-Za-z].*[0-9]|[0-9].*[A-Za-z])",
                                          std::regex::ECMAScript);
  static const std::regex kSixInARow("([0-9A-Za-z])\\1{5}", std::regex::ECMAScript);
  // Matched in place: no copy of the PIN is left behind.
  const char* first = pin.data();
  const char* last = pin.data() + pin.size();
  return std::regex_match(first, last, kOnlyAlnumAfterFirst) &&
         std::regex_search(first, last, kLetterAndDigit) &&
         !std::regex_search(first, last, kSixInARow);
}

unsigned CheckNewPIN(std::string_view oldPIN, std::string_view newPIN,
                     std::string_view confirmPIN) {
  if (!LengthInRange(oldPIN)) {
    return IDS_OLD_PIN_LENGTH;
  }
  if (!LengthInRange(newPIN)) {
    return IDS_NEW_PIN_LENGTH;
  }
  if (newPIN != confirmPIN) {
    return IDS_PIN_MISMATCH;
  }
  if (newPIN == oldPIN) {
    return IDS_PIN_SAME_AS_OLD;
  }
  if (newPIN == kFactoryDefaultPIN) {
    return IDS_PIN_IS_DEFAULT;
  }
  if (!IsStrongPIN(newPIN)) {
    return IDS_PIN_WEAK;
  }
  return 0;
}

}  // namespace merro::certmanager

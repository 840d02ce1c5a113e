#include "dialogs/runtime/edit_mask.h"

namespace kem::dialogs {

namespace {

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool Fits(const MaskSlot& slot, unsigned char c) {
  switch (slot.kind) {
    case MaskSlot::Kind::Letter: return IsLetter(c);
    case MaskSlot::Kind::Alphanumeric: return IsLetter(c) || IsDigit(c);
    case MaskSlot::Kind::Any: return c >= ' ';
    case MaskSlot::Kind::Digit: return IsDigit(c);
    case MaskSlot::Kind::DigitOrSign: return IsDigit(c) || c == '+' || c == '-';
    case MaskSlot::Kind::Literal: return false;
  }
  return false;
}

char Cased(const MaskSlot& slot, char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (slot.letterCase == 1 && u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  if (slot.letterCase == 2 && u >= 'A' && u <= 'Z') return static_cast<char>(u - 'A' + 'a');
  return c;
}

}  // namespace

EditMask ParseEditMask(std::string_view text) {
  EditMask mask;
  // The fields after the mask: save literals, then the blank. A ';' escaped by '\' is
  // part of the mask.
  std::size_t end = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') ++i;
    else if (text[i] == ';') {
      end = i;
      break;
    }
  }
  std::string_view body = text.substr(0, end);
  if (end != std::string_view::npos) {
    std::string_view rest = text.substr(end + 1);
    const std::size_t second = rest.find(';');
    std::string_view save = rest.substr(0, second);
    if (!save.empty()) mask.saveLiterals = save != "0";
    if (second != std::string_view::npos && second + 1 < rest.size()) mask.blank = rest[second + 1];
  }
  int letterCase = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    MaskSlot slot;
    slot.letterCase = letterCase;
    switch (c) {
      case '!': continue;
      case '>':
        letterCase = 1;
        continue;
      case '<':
        if (i + 1 < body.size() && body[i + 1] == '>') {
          letterCase = 0;
          ++i;
        } else {
          letterCase = 2;
        }
        continue;
      case '\\':
        if (i + 1 >= body.size()) continue;
        slot.literal = body[++i];
        break;
      case 'L': slot = {MaskSlot::Kind::Letter, true, 0, letterCase}; break;
      case 'l': slot = {MaskSlot::Kind::Letter, false, 0, letterCase}; break;
      case 'A': slot = {MaskSlot::Kind::Alphanumeric, true, 0, letterCase}; break;
      case 'a': slot = {MaskSlot::Kind::Alphanumeric, false, 0, letterCase}; break;
      case 'C': slot = {MaskSlot::Kind::Any, true, 0, letterCase}; break;
      case 'c': slot = {MaskSlot::Kind::Any, false, 0, letterCase}; break;
      case '0': slot = {MaskSlot::Kind::Digit, true, 0, letterCase}; break;
      case '9': slot = {MaskSlot::Kind::Digit, false, 0, letterCase}; break;
      case '#': slot = {MaskSlot::Kind::DigitOrSign, false, 0, letterCase}; break;
      default: slot.literal = c; break;
    }
    mask.slots.push_back(slot);
  }
  return mask;
}

std::string FormatMasked(const EditMask& mask, std::string_view typed) {
  if (mask.Empty()) return std::string(typed);
  std::string out;
  std::size_t i = 0;
  for (const MaskSlot& slot : mask.slots) {
    if (slot.kind == MaskSlot::Kind::Literal) {
      out.push_back(slot.literal);
      if (i < typed.size() && typed[i] == slot.literal) ++i;
      continue;
    }
    // A blank stays an empty position; characters that fit nowhere here are dropped.
    while (i < typed.size() && typed[i] != mask.blank && !Fits(slot, static_cast<unsigned char>(typed[i]))) ++i;
    if (i < typed.size()) {
      out.push_back(typed[i] == mask.blank ? mask.blank : Cased(slot, typed[i]));
      ++i;
    } else {
      out.push_back(mask.blank);
    }
  }
  return out;
}

std::string MaskedValue(const EditMask& mask, std::string_view shown) {
  if (mask.Empty()) return std::string(shown);
  std::string value;
  for (std::size_t i = 0; i < mask.slots.size() && i < shown.size(); ++i) {
    const MaskSlot& slot = mask.slots[i];
    if (slot.kind == MaskSlot::Kind::Literal) {
      if (mask.saveLiterals) value.push_back(slot.literal);
      continue;
    }
    value.push_back(shown[i] == mask.blank ? ' ' : shown[i]);
  }
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

std::size_t MaskCaret(const EditMask& mask, std::string_view shown) {
  for (std::size_t i = 0; i < mask.slots.size() && i < shown.size(); ++i)
    if (mask.slots[i].kind != MaskSlot::Kind::Literal && shown[i] == mask.blank) return i;
  return shown.size();
}

bool CaretAfterMask(const EditMask& mask, std::size_t caret) { return !mask.Empty() && caret >= mask.slots.size(); }

}  // namespace kem::dialogs

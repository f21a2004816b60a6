#include "sheet_codes.h"

namespace orvane {

CodeCandidate::CodeCandidate(int width, int height) : width_(width), height_(height) {}

bool CodeCandidate::addRow(int, const std::uint8_t*) { return false; }

std::optional<CodeBox> CodeCandidate::finish() { return std::nullopt; }

std::optional<std::string> readSheetCode(const Picture&) { return std::nullopt; }

}  // namespace orvane

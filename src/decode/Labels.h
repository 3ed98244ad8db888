// Function and unit labels, indexed by functionCode (0..27), as UTF-16 text.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace zelvox {

inline constexpr int kFunctionCount = 28;

extern const std::array<std::u16string_view, kFunctionCount> functionLabels;
extern const std::array<std::u16string_view, kFunctionCount> unitLabels;

// UTF-16 to UTF-8, for tools that print labels.
std::string ToUtf8(std::u16string_view text);

} // namespace zelvox

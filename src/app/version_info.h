#pragma once
// The program's version record: what `--version` prints and what the application object
// announces to the desktop. The text forms are kept exactly as the record states them.

#include <cstdint>

namespace corvalink {

inline constexpr char VERSION_FILE_VERSION[] = "1, 0, 0, 0";
inline constexpr char VERSION_PRODUCT_VERSION[] = "1.0";
inline constexpr char VERSION_FILE_DESCRIPTION[] = "Corvalink firmware upgrade tools";
inline constexpr char VERSION_INTERNAL_NAME[] = "Corvalink firmware upgrade tools";
inline constexpr char VERSION_ORIGINAL_FILE_NAME[] = "Corvalink.EXE";
inline constexpr char VERSION_PRODUCT_NAME[] = "Corvalink Application";
inline constexpr char VERSION_COMPANY_NAME[] = "";
inline constexpr char VERSION_COMMENTS[] = "";
inline constexpr char VERSION_LEGAL_TRADEMARKS[] = "";
/// US English, Unicode code page, as the record's translation entry says.
inline constexpr uint16_t VERSION_LANGUAGE = 0x0409;
inline constexpr uint16_t VERSION_CODE_PAGE = 0x04B0;

}  // namespace corvalink

#pragma once
// The program's version record: what `--version` prints and what the application object
// announces to the desktop. The numbers come from the CMake project's version, through the
// generated app/version_number.h, which the Windows version record reads as well.

#include <cstdint>

#include "app/version_number.h"

namespace corvalink {

/// The version every program shows ("corvalink 1.0.0", "corvalink-cli 1.0.0").
inline constexpr char VERSION_TEXT[] = CORVALINK_VERSION_TEXT;
inline constexpr char VERSION_FILE_VERSION[] = CORVALINK_FILE_VERSION_TEXT;
inline constexpr char VERSION_PRODUCT_VERSION[] = CORVALINK_PRODUCT_VERSION_TEXT;
/// The about box's version line ("Corvalink Version 1.0").
inline constexpr char VERSION_ABOUT_TEXT[] = CORVALINK_ABOUT_VERSION_TEXT;
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

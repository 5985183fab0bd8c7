// Where the office is installed: its program directory, found when the server is built.
#pragma once

namespace vlx::calc {

inline constexpr char kProgramDir[] = VLX_LIBREOFFICE_PROGRAM;

} // namespace vlx::calc
